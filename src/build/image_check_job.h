// The check phase of a build job: an image (just written, or given for comparison)
// read back and checked against the job's plan.
#pragma once

#include <string>

#include "build/build_job.h"

namespace vellumcast {

// The choice whose image has the file systems `image` carries: ISO 9660 only,
// ISO 9660 and UDF, UDF 1.02, or for any other UDF revision the default choice (whose
// stereoscopic Blu-ray layout a 3D image may have). False with `error`
// set when the image cannot be opened or carries neither file system.
[[nodiscard]] bool ChoiceOfImage(const std::u16string& image, FileSystemChoice& choice,
                                 std::string& error);

// Sets `settings.rockRidge` and `settings.joliet` when the image carries Rock Ridge or a
// Joliet tree (reader/iso_extensions.h); what is already set stays.
void PlanIsoExtensionsOf(const std::u16string& image, ImageSettings& settings);

// Checks `image` against the plan of `builder` (scanned, named and laid out) into
// job->check. `fromStorage`: flush the image and drop its cached pages first, so the
// check reads what reached the storage. False (with builder.Fail) when the image cannot
// be opened or flushed, or the check is stopped.
[[nodiscard]] bool CheckPlannedImage(BuildJob* job, ImageBuilder& builder,
                                     const std::u16string& image, bool fromStorage);

}  // namespace vellumcast
