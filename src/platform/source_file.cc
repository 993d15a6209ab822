// POSIX implementation of the source file reader: open with a sequential-read hint,
// then size and reads through the FileHandle, or from the bytes read in advance.
#include "platform/source_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace vellumcast {
namespace {

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.device = uint64_t(st.st_dev);
  s.inode = uint64_t(st.st_ino);
  s.size = uint64_t(st.st_size);
  s.changeSeconds = int64_t(st.st_ctim.tv_sec);
  s.changeNanoseconds = int64_t(st.st_ctim.tv_nsec);
  return s;
}

}  // namespace

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
  struct stat st;
  bool known = fstat(fd, &st) == 0;
  stamp = known ? StampOf(st) : FileStamp{};
  regular = known && S_ISREG(st.st_mode);
  return true;
}

bool SourceFile::ReadWhole(const std::string& hostPath, uint8_t* buffer, size_t n) {
  Close();
  // Four calls: open, fstat, read, close. Not blocking in open (a named pipe is refused
  // below), and no sequential hint: the file is read in one go.
  int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = strerror(errno);
    return false;
  }
  struct stat st;
  int statError = fstat(fd, &st) == 0 ? 0 : errno;
  if (statError || !S_ISREG(st.st_mode)) {
    error = statError ? strerror(statError) : "not a regular file";
    close(fd);
    return false;
  }
  // Up to n bytes; a file that reaches its size in fewer has ended (one that grows in
  // the meantime changes its stamp, and the caller reads it afresh).
  const size_t wanted = std::min<uint64_t>(n, uint64_t(st.st_size));
  size_t got = 0;
  int failure = 0;
  while (got < wanted) {
    ssize_t r = read(fd, buffer + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) failure = errno;
    if (r <= 0) break;
    got += size_t(r);
  }
  close(fd);
  if (failure) {
    error = strerror(failure);
    return false;
  }
  stamp = StampOf(st);
  content = buffer;
  contentBytes = got;
  contentFileSize = stamp.size;
  holdsContent = true;
  return true;
}

void SourceFile::Adopt(SourceFile& other) {
  Close();
  file.handle = other.file.handle;
  other.file.handle = -1;
  content = other.content;
  contentBytes = other.contentBytes;
  contentUsed = other.contentUsed;
  contentFileSize = other.contentFileSize;
  holdsContent = other.holdsContent;
  stamp = other.stamp;
  regular = other.regular;
  other.Close();
}

bool SourceFile::Unchanged(const std::string& hostPath) const {
  struct stat st;
  return stat(hostPath.c_str(), &st) == 0 && StampOf(st) == stamp;
}

bool SourceFile::Size(uint64_t& size) {
  if (holdsContent) {
    size = contentFileSize;
    return true;
  }
  file.error = file.IsOpen() ? 0 : EBADF;
  uint64_t now = file.Size();
  if (file.error) {
    error = strerror(file.error);
    return false;
  }
  size = now;
  return true;
}

bool SourceFile::Read(uint8_t* buffer, size_t n, size_t& got) {
  if (holdsContent) {
    got = std::min(n, contentBytes - contentUsed);
    if (got) std::memcpy(buffer, content + contentUsed, got);
    contentUsed += got;
    return true;
  }
  file.error = file.IsOpen() ? 0 : EBADF;
  got = file.Read(buffer, n, n);
  if (file.error) {
    error = strerror(file.error);
    got = 0;
    return false;
  }
  return true;
}

bool SourceFile::SkipTo(uint64_t offset) {
  if (holdsContent) {  // bytes read ahead: the position is within them
    contentUsed = size_t(std::min<uint64_t>(offset, contentBytes));
    return true;
  }
  if (lseek(file.handle, off_t(offset), SEEK_SET) >= 0) return true;
  error = strerror(errno);
  return false;
}

void SourceFile::RequestBytes(uint64_t offset, uint64_t n) {
#ifdef POSIX_FADV_WILLNEED
  if (file.IsOpen()) posix_fadvise(file.handle, off_t(offset), off_t(n), POSIX_FADV_WILLNEED);
#endif
}

void SourceFile::Close() {
  file.Close();
  content = nullptr;
  contentBytes = contentUsed = 0;
  contentFileSize = 0;
  holdsContent = false;
  regular = false;
}

}  // namespace vellumcast
