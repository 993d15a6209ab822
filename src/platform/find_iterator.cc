// FindIterator over opendir/readdir, with each entry's status from fstatat relative to
// the listed directory.
#include "platform/find_iterator.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/paths.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

void ConvertName(const char* hostName, char16_t (&name)[kFindNameUnits]) {
  size_t n = 0;
  const auto* s = reinterpret_cast<const unsigned char*>(hostName);
  bool ascii = true;
  for (; s[n]; ++n) {
    if (s[n] >= 0x80) ascii = false;
  }
  if (ascii && n < kFindNameUnits) {
    for (size_t i = 0; i <= n; ++i) name[i] = s[i];
    return;
  }
  std::u16string wide = Utf8ToUtf16(std::string_view(hostName, n));
  size_t units = wide.size() < kFindNameUnits - 1 ? wide.size() : kFindNameUnits - 1;
  std::memcpy(name, wide.data(), units * sizeof(char16_t));
  name[units] = 0;
}

void FillFromStatus(const struct stat& st, FindEntry& out) {
  out.device = uint64_t(st.st_dev);
  out.inode = uint64_t(st.st_ino);
  out.lastWriteTime = int64_t(st.st_mtim.tv_sec);
  out.lastAccessTime = int64_t(st.st_atim.tv_sec);
  out.creationTime = int64_t(st.st_ctim.tv_sec);
  out.mode = uint32_t(st.st_mode);
  out.links = uint32_t(st.st_nlink);
  out.deviceNumber = uint64_t(st.st_rdev);
  out.uid = uint32_t(st.st_uid);
  out.gid = uint32_t(st.st_gid);
  if (S_ISDIR(st.st_mode)) {
    out.type = FindEntryType::Directory;
    out.isDirectory = 1;
  } else if (S_ISREG(st.st_mode)) {
    out.type = FindEntryType::File;
    out.size = st.st_size < 0 ? 0 : uint64_t(st.st_size);
  } else {
    out.type = FindEntryType::Special;
  }
}

void Describe(int dirFd, const char* hostName, unsigned char type, FindEntry& out) {
  out.size = 0;
  out.links = 0;
  out.deviceNumber = 0;
  out.isSymbolicLink = type == DT_LNK;
  out.creationTime = out.lastAccessTime = out.lastWriteTime = 0;
  out.isDirectory = 0;
  out.mode = out.uid = out.gid = 0;
  out.statError = 0;
  out.device = out.inode = 0;
  out.hostName = hostName;
  ConvertName(hostName, out.name);
  struct stat st;
  if (type == DT_UNKNOWN && ::fstatat(dirFd, hostName, &st, AT_SYMLINK_NOFOLLOW) == 0)
    out.isSymbolicLink = S_ISLNK(st.st_mode);
  if (::fstatat(dirFd, hostName, &st, 0) == 0) {
    FillFromStatus(st, out);
    return;
  }
  out.statError = errno;
  out.type = FindEntryType::Unreadable;
  struct stat link;
  if (out.statError == ENOENT && ::fstatat(dirFd, hostName, &link, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(link.st_mode)) {
    out.type = FindEntryType::DanglingLink;
    out.isSymbolicLink = 1;
    out.lastWriteTime = int64_t(link.st_mtim.tv_sec);
  }
}

}  // namespace

bool FindIterator::Start(int fd, FindEntry& out) {
  if (fd < 0) {
    error = errno;
    return false;
  }
  dir = ::fdopendir(fd);
  if (!dir) {
    error = errno;
    ::close(fd);
    return false;
  }
  return Next(out);
}

bool FindIterator::First(const char16_t* directoryPath, FindEntry& out) {
  Close();
  error = 0;
  if (!directoryPath || !*directoryPath) return false;
  return FirstHost(HostPath(directoryPath).c_str(), out);
}

bool FindIterator::FirstHost(const char* hostPath, FindEntry& out) {
  Close();
  error = 0;
  if (!hostPath || !*hostPath) return false;
  return Start(::open(hostPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC), out);
}

bool FindIterator::FirstIn(const FindIterator& parent, const char* hostName, FindEntry& out) {
  Close();
  error = 0;
  if (!parent.dir || !hostName || !*hostName) {
    error = EBADF;
    return false;
  }
  return Start(::openat(::dirfd(parent.dir), hostName, O_RDONLY | O_DIRECTORY | O_CLOEXEC), out);
}

bool FindIterator::Next(FindEntry& out) {
  if (!dir) return false;
  errno = 0;
  struct dirent* d = ::readdir(dir);
  if (!d) {
    error = errno;
    return false;
  }
  Describe(::dirfd(dir), d->d_name, d->d_type, out);
  return true;
}

void FindIterator::Close() {
  if (dir) ::closedir(dir);
  dir = nullptr;
}

bool FindIterator::Identity(FileIdentity& out) const {
  struct stat st;
  if (!dir || ::fstat(::dirfd(dir), &st) != 0) return false;
  out.device = uint64_t(st.st_dev);
  out.inode = uint64_t(st.st_ino);
  return true;
}

bool FindIterator::ReadLink(const char* hostName, LinkStatus& out, int& error) const {
  struct stat st;
  if (!dir || ::fstatat(::dirfd(dir), hostName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    error = dir ? errno : EBADF;
    return false;
  }
  out.modifiedTime = int64_t(st.st_mtim.tv_sec);
  out.accessTime = int64_t(st.st_atim.tv_sec);
  out.changeTime = int64_t(st.st_ctim.tv_sec);
  out.mode = uint32_t(st.st_mode);
  out.uid = uint32_t(st.st_uid);
  out.gid = uint32_t(st.st_gid);
  char text[PATH_MAX];
  const ssize_t n = ::readlinkat(::dirfd(dir), hostName, text, sizeof text);
  if (n < 0 || size_t(n) >= sizeof text) {
    error = n < 0 ? errno : ENAMETOOLONG;
    return false;
  }
  out.target.assign(text, size_t(n));
  return true;
}

std::string CanonicalHostPath(const std::string& hostPath) {
  char* resolved = ::realpath(hostPath.c_str(), nullptr);
  if (!resolved) return {};
  std::string path(resolved);
  std::free(resolved);
  return path;
}

bool PathIdentity(const char16_t* path, FileIdentity& out) {
  if (!path || !*path) return false;
  struct stat st;
  if (::stat(HostPath(path).c_str(), &st) != 0) return false;
  out.device = uint64_t(st.st_dev);
  out.inode = uint64_t(st.st_ino);
  return true;
}

}  // namespace vellumcast
