// POSIX implementation of the source file reader: open, fstat, read.
#include "platform/source_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellumcast {

bool SourceFile::Open(const std::string& hostPath) {
  Close();
  // Not blocking in open: a file replaced by a named pipe since the scan must not hang
  // the build. Reads block as usual.
  fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = strerror(errno);
    return false;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return true;
}

bool SourceFile::Size(uint64_t& size) {
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    error = strerror(fd < 0 ? EBADF : errno);
    return false;
  }
  size = uint64_t(st.st_size);
  return true;
}

int64_t SourceFile::Read(uint8_t* buffer, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = read(fd, buffer + got, n - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      error = strerror(errno);
      return -1;
    }
    if (r == 0) break;
    got += size_t(r);
  }
  return int64_t(got);
}

void SourceFile::Close() {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

}  // namespace vellumcast
