// stat()-based queries of what a path names: a directory, something else, nothing.
#include "platform/path_kinds.h"

#include <sys/stat.h>

#include <string>

#include "platform/paths.h"
#include "platform/text.h"

namespace vellumcast {

namespace {

// The kind of what `path` names after "." and ".." are resolved as text: -1 nothing,
// 1 a directory, 0 anything else.
int ResolvedKind(const char16_t* path) {
  if (!path || !*path) return -1;
  // Without a working directory the path stays as typed; the build then reports that
  // it cannot make it absolute.
  std::u16string canonical = CanonicalizeDirectoryPath(path);
  std::string host = HostPath(canonical.empty() ? std::u16string(path) : canonical);
  if (host.size() > 1 && host.back() == '/') host.pop_back();  // a file is no "file/"
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

}  // namespace

bool IsExistingDirectory(const char16_t* path) { return ResolvedKind(path) == 1; }

bool IsExistingNonDirectory(const char16_t* path) { return ResolvedKind(path) == 0; }

bool PathExists(const char16_t* path) {
  if (!path) return false;
  std::string host = HostPath(path);
  struct stat st;
  return stat(host.c_str(), &st) == 0;
}

bool IsCharacterDeviceOrPipe(const char16_t* path) {
  if (!path) return false;
  std::string host = HostPath(path);
  struct stat st;
  return stat(host.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode));
}

}  // namespace vellumcast
