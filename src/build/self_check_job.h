// -check: an image or a disc checked by itself, against the checksum list it carries,
// with no folder and no build.
#pragma once

#include <string>

#include "verify/checksum_check.h"

namespace vellumcast {

// Opens `image` (a block device ends where its own descriptors say) and checks it into
// `outcome` and `sums`. False with `error` set when it cannot be opened, or when the
// check was stopped by `progress` or ran out of memory.
[[nodiscard]] bool CheckImageByItself(const std::u16string& image, CheckOutcome& outcome,
                                      SumCheck& sums, std::string& error,
                                      CheckProgressFn progress = nullptr, void* context = nullptr);

// Whether the tree a checksum list is named in has one at its root (a comparison then
// expects the list of --checksums without being told).
bool ImageHasChecksumList(const std::u16string& image);

}  // namespace vellumcast
