// stat()-based path tests.
#include "platform/path_tests.h"

#include <sys/stat.h>

#include <string>

#include "platform/paths.h"
#include "platform/text.h"

namespace vellumcast {

bool IsExistingDirectory(const char16_t* path) {
  if (!path || !*path) return false;
  // Without a working directory the path stays as typed; the build then reports that
  // it cannot make it absolute.
  std::u16string canonical = CanonicalizeDirectoryPath(path);
  std::string host = HostPath(canonical.empty() ? std::u16string(path) : canonical);
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const char16_t* path) {
  if (!path) return false;
  std::string host = HostPath(path);
  struct stat st;
  return stat(host.c_str(), &st) == 0;
}

}  // namespace vellumcast
