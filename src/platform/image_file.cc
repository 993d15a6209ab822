// POSIX implementation of the image file: open, pread, fdatasync and posix_fadvise.
#include "platform/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vellumcast {

bool ImageFile::Open(const std::string& path) {
  Close();
  // Not blocking in open: a named pipe given as an image must be refused, not waited on.
  handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (handle < 0) {
    error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(handle, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
    error = path + " is neither a regular file nor a block device";
    Close();
    return false;
  }
  const int flags = fcntl(handle, F_GETFL);
  if (flags >= 0) fcntl(handle, F_SETFL, flags & ~O_NONBLOCK);
  // A block device reports no size in st_size: its end is found by seeking.
  const off_t end = lseek(handle, 0, SEEK_END);
  if (end < 0) {
    error = std::string("cannot find the size of ") + path + ": " + std::strerror(errno);
    Close();
    return false;
  }
  size = uint64_t(end);
  device = S_ISBLK(st.st_mode);
  posix_fadvise(handle, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

void ImageFile::Close() {
  if (handle >= 0) ::close(handle);
  handle = -1;
  size = 0;
  device = false;
}

bool ImageFile::ReadAt(uint64_t offset, void* out, size_t n) {
  auto* bytes = static_cast<uint8_t*>(out);
  size_t done = 0;
  while (done < n) {
    const ssize_t got = pread(handle, bytes + done, n - done, off_t(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = got < 0 ? std::strerror(errno) : "unexpected end of the image";
      return false;
    }
    done += size_t(got);
  }
  return true;
}

void ImageFile::ReadAhead(uint64_t offset, uint64_t n) {
  if (handle >= 0) posix_fadvise(handle, off_t(offset), off_t(n), POSIX_FADV_WILLNEED);
}

bool ImageFile::FlushAndDropCache() {
  if (handle < 0) return true;
  if (fdatasync(handle) != 0 && errno != EINVAL) {
    error = std::string("cannot flush the image to the storage: ") + std::strerror(errno);
    return false;
  }
  DropCache();
  return true;
}

void ImageFile::DropCache() {
  if (handle >= 0) posix_fadvise(handle, 0, 0, POSIX_FADV_DONTNEED);
}

}  // namespace vellumcast
