// POSIX implementation of the source file reader: open with a sequential-read hint,
// then size and reads through the FileHandle, or from the bytes read in advance.
#include "platform/source_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vellumcast {
namespace {

// Reads at the file's position only what the page cache holds: the count (0 at the end
// of the file, fewer than n where the cached bytes end), or -1 when nothing is cached
// or the system cannot read without waiting on this file.
ssize_t ReadCached(int fd, uint8_t* buffer, size_t n) {
#ifdef RWF_NOWAIT
  iovec part{buffer, n};
  ssize_t r;
  do {
    r = preadv2(fd, &part, 1, -1, RWF_NOWAIT);
  } while (r < 0 && errno == EINTR);
  return r;
#else
  (void)fd, (void)buffer, (void)n;
  return -1;
#endif
}

// A read that asks only for cached bytes can still start reading them in and find them
// there when the storage answers within microseconds, or when the thread was held up
// meanwhile. A whole small file from memory (open, status, read) takes a few
// microseconds; one that took longer is counted as coming from the storage.
constexpr auto kInMemoryReadTime = std::chrono::microseconds(20);

// True when a read of n bytes begun at `start` took longer than bytes from memory take
// (the fixed time above and one microsecond per KiB).
bool TookLong(std::chrono::steady_clock::time_point start, size_t n) {
  return std::chrono::steady_clock::now() - start >
         kInMemoryReadTime + std::chrono::microseconds(n >> 10);
}

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
  const auto start = std::chrono::steady_clock::now();
  // Four calls: open, fstat, read, close. Not blocking in open (a named pipe is refused
  // below), and no sequential hint: the file is read in one go. The first read takes
  // what the page cache holds; only the rest waits for the storage.
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
  fromStorage = false;
  if (wanted > 0) {
    ssize_t cached = ReadCached(fd, buffer, n);
    if (cached > 0) got = size_t(cached);
    fromStorage = got < wanted || TookLong(start, got);
  }
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
  fromStorage = other.fromStorage;
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
  if (regular) {  // from the status read at the open (or checked unchanged since)
    size = stamp.size;
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
  if (watchMemory && file.IsOpen() && n > 0) {
    // No timing here: a read held up by other processes would wake the readers for
    // nothing, while a cached read that was in fact quick storage only wakes them a
    // file later.
    watchMemory = false;
    ssize_t r = ReadCached(file.handle, buffer, n);
    if (r >= 0 && size_t(r) == n) {
      got = n;
      return true;
    }
    const size_t cached = r > 0 ? size_t(r) : 0;
    // Any byte beyond the cached ones came from the storage.
    const size_t more = file.Read(buffer + cached, n - cached, n - cached);
    if (r < 0 || more > 0) fromStorage = true;
    if (file.error) {
      error = strerror(file.error);
      got = 0;
      return false;
    }
    got = cached + more;
    return true;
  }
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

bool SourceFile::InMemory(uint64_t offset) {
#ifdef RWF_NOWAIT
  uint8_t byte;
  iovec part{&byte, 1};
  ssize_t r;
  do {
    r = preadv2(file.handle, &part, 1, off_t(offset), RWF_NOWAIT);
  } while (r < 0 && errno == EINTR);
  if (r >= 0) return true;
#else
  (void)offset;
#endif
  fromStorage = true;
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
  watchMemory = false;
  fromStorage = false;
}

}  // namespace vellumcast
