// POSIX implementation of the source file reader: open with a sequential-read hint,
// then size and reads through the FileHandle.
#include "platform/source_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace vellumcast {

bool SourceFile::Open(const std::string& hostPath) {
  Close();
  // Not FileHandle::Open, which refuses anything but a regular file: the entry is read
  // as whatever it has become since the scan. Not blocking in open: a file replaced by
  // a named pipe must not hang the build. Reads block as usual.
  int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = strerror(errno);
    return false;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  file.handle = fd;
  file.owned = 1;
  return true;
}

bool SourceFile::Size(uint64_t& size) {
  file.error = file.IsOpen() ? 0 : EBADF;
  uint64_t now = file.Size();
  if (file.error) {
    error = strerror(file.error);
    return false;
  }
  size = now;
  return true;
}

int64_t SourceFile::Read(uint8_t* buffer, size_t n) {
  file.error = file.IsOpen() ? 0 : EBADF;
  size_t got = file.Read(buffer, n, n);
  if (file.error) {
    error = strerror(file.error);
    return -1;
  }
  return int64_t(got);
}

bool SourceFile::SkipTo(uint64_t offset) {
  if (lseek(file.handle, off_t(offset), SEEK_SET) >= 0) return true;
  error = strerror(errno);
  return false;
}

}  // namespace vellumcast
