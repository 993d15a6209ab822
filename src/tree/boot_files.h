// The files of El Torito in the source tree: the BIOS boot file and the UEFI FAT image
// named by the user are found among the scanned entries, and the boot catalog is added
// as a made-up file (El Torito 2.0) beside the boot file or where the user put it.
#pragma once

#include "base/diagnostics.h"
#include "base/image_settings.h"
#include "tree/source_tree.h"

namespace vellumcast {

// Finds the boot files of `settings.boot` in `tree` (paths relative to the source
// folder, or absolute paths inside it) and adds the catalog file. False, with `log`
// saying why, when a file is missing, outside the source, not a plain file, too large
// for a catalog entry, or the catalog's place is taken. Nothing to do without El Torito.
[[nodiscard]] bool AttachBootFiles(const ImageSettings& settings, SourceTree& tree,
                                   Diagnostics& log);

}  // namespace vellumcast
