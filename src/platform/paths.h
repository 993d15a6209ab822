// Path helpers: canonical source folders and the host form of a UTF-16 path.
#pragma once

#include <string>
#include <string_view>

namespace vellumcast {

// An absolute path (relative paths are taken from the current directory) with "."
// and ".." segments resolved and repeated '/' folded, always ending in '/'. Symbolic
// links are not resolved. Empty when `path` is empty or the current directory is unknown.
std::u16string CanonicalizeDirectoryPath(std::u16string_view path);

// The bytes to hand to the operating system for a UTF-16 path (see platform/text.h).
std::string HostPath(std::u16string_view path);

}  // namespace vellumcast
