// Existence and kind of a path (directory, other, device or pipe) as the front end asks
// about them before a build.
#pragma once

namespace vellumcast {

// True when `path` names an existing directory (a symbolic link to one counts), with
// its "." and ".." segments resolved as text the way the build resolves the source
// folder (CanonicalizeDirectoryPath): "nox/../src" is "src" even when nox is missing.
bool IsExistingDirectory(const char16_t* path);

// True when `path`, resolved as IsExistingDirectory resolves it, names something that
// exists and is not a directory (a file given as the source folder).
bool IsExistingNonDirectory(const char16_t* path);

// True when a file, directory or other object exists at `path`, links followed. A
// symbolic link whose file is missing does not count: the image is written through
// it and creates that file, replacing nothing.
bool PathExists(const char16_t* path);

// True when `path` (links followed) is a character device or a pipe: the image is written
// into it, not in place of it.
bool IsCharacterDeviceOrPipe(const char16_t* path);

}  // namespace vellumcast
