// The checksum list of an image: a made-up file SHA256SUMS at the root whose text, in
// the format of `sha256sum`, gives every other file's SHA-256 under its path in the image.
#pragma once

#include "base/diagnostics.h"
#include "base/image_settings.h"
#include "tree/source_tree.h"

namespace vellumcast {

// The list's name at the root of every tree of the image.
inline constexpr char16_t kChecksumListName[] = u"SHA256SUMS";

// Adds the list file at the end of the root's entries when the settings ask for it.
// False, with `log` saying why, when the folder's root already has an entry of that
// name in any letter case (it is never replaced, and no reader's view may show two).
[[nodiscard]] bool AttachChecksumList(const ImageSettings& settings, SourceTree& tree,
                                      Diagnostics& log);

}  // namespace vellumcast
