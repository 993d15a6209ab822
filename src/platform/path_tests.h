// Existence and kind of a path as the front end checks them before a build.
#pragma once

namespace vellumcast {

// True when `path` names an existing directory (a symbolic link to one counts).
bool IsExistingDirectory(const char16_t* path);

// True when anything exists at `path`, whatever its kind; a symbolic link counts even
// when its target is missing, since creating the path would still replace it.
bool PathExists(const char16_t* path);

}  // namespace vellumcast
