// The check of the volume identifiers the user gave (--publisher, --volume-set, ...)
// against those an image records.
#pragma once

#include "base/image_settings.h"
#include "reader/image_source.h"
#include "verify/image_check.h"

namespace vellumcast {

// Compares each identifier given in settings.identity with the fields of the file
// systems the settings name: the ISO 9660 Primary Volume Descriptor, the Joliet
// Supplementary Volume Descriptor (with settings.joliet) and the text after the unique
// characters of the UDF volume set identifier. Every field that differs, or a descriptor
// that cannot be found, is added to `outcome`.
void CheckVolumeIdentity(ImageSource& image, const ImageSettings& settings, CheckOutcome& outcome);

}  // namespace vellumcast
