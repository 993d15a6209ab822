// The check phase of a build job: an image (just written, or given for comparison)
// read back and checked against the job's plan.
#pragma once

#include <string>

#include "build/build_job.h"
#include "build/image_builder.h"
#include "reader/recorded_build.h"

namespace vellumcast {

// The choice whose image has the file systems `image` carries: ISO 9660 only,
// ISO 9660 and UDF, UDF 1.02, or for any other UDF revision the default choice (whose
// stereoscopic Blu-ray layout a 3D image may have). False with `error`
// set when the image cannot be opened or carries neither file system.
[[nodiscard]] bool ChoiceOfImage(const std::u16string& image, FileSystemChoice& choice,
                                 std::string& error);

// What the image of a comparison records of its build (time, extensions); nothing when
// it cannot be opened (the check names that).
RecordedBuild RecordedBuildOf(const std::u16string& image);

// A comparison takes the build time the image records, so that no -time or
// SOURCE_DATE_EPOCH need be repeated. Recorded with a local offset, it was the clock's;
// recorded in UTC, it was a fixed build time or the clock's on a machine in UTC: then
// `ambiguous` is set and the image's Rock Ridge attributes decide.
void AdoptRecordedBuildTime(ImageBuilder& builder, const RecordedBuild& recorded,
                            bool& ambiguous);

// Checks `image` against the plan of `builder` (scanned, named and laid out) into
// job->check. `fromStorage`: flush the image and drop its cached pages first, so the
// check reads what reached the storage. False (with builder.Fail) when the image cannot
// be opened or flushed, or the check is stopped.
[[nodiscard]] bool CheckPlannedImage(BuildJob* job, ImageBuilder& builder,
                                     const std::u16string& image, bool fromStorage);

}  // namespace vellumcast
