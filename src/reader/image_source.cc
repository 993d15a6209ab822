// Sector reads of an image through a window of large reads.
#include "reader/image_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

namespace vellumcast {
namespace {

// Descriptors and directories are read through a window of this many bytes, so that a
// walk of neighbouring structures costs one system read per megabyte, not per sector.
constexpr size_t kWindowBytes = 1u << 20;

}  // namespace

bool ImageSource::Open(const std::string& path) {
  Close();
  handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
  const off_t end = lseek(handle, 0, SEEK_END);
  if (end < 0) {
    error = std::string("cannot find the size of ") + path + ": " + std::strerror(errno);
    Close();
    return false;
  }
  size = uint64_t(end);
  posix_fadvise(handle, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

void ImageSource::OpenMemory(const uint8_t* bytes, uint64_t length) {
  Close();
  memory = bytes;
  size = length;
}

void ImageSource::Close() {
  if (handle >= 0) ::close(handle);
  handle = -1;
  memory = nullptr;
  size = 0;
  window.clear();
  windowStart = 0;
}

void ImageSource::DropCache() {
  window.clear();
  if (handle >= 0) posix_fadvise(handle, 0, 0, POSIX_FADV_DONTNEED);
}

bool ImageSource::ReadDirect(uint64_t offset, uint8_t* out, size_t n) {
  if (memory) {
    std::memcpy(out, memory + offset, n);
    return true;
  }
  size_t done = 0;
  while (done < n) {
    const ssize_t got = pread(handle, out + done, n - done, off_t(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = got < 0 ? std::strerror(errno) : "unexpected end of the image";
      return false;
    }
    done += size_t(got);
  }
  return true;
}

bool ImageSource::ReadBytes(uint64_t offset, uint8_t* out, size_t n) {
  if (offset > size || n > size - offset) {
    error = "past the end of the image";
    return false;
  }
  if (n == 0) return true;
  if (memory || n >= kWindowBytes / 2) return ReadDirect(offset, out, n);
  if (offset < windowStart || offset + n > windowStart + window.size()) {
    // Refill the window from the sector holding `offset`.
    windowStart = offset - offset % kImageSectorSize;
    const uint64_t length = std::min<uint64_t>(kWindowBytes, size - windowStart);
    window.resize(size_t(length));
    if (!ReadDirect(windowStart, window.data(), window.size())) {
      window.clear();
      return false;
    }
    if (offset + n > windowStart + window.size()) return ReadDirect(offset, out, n);
  }
  std::memcpy(out, window.data() + (offset - windowStart), n);
  return true;
}

bool ImageSource::ReadSectors(uint64_t sector, uint32_t count, uint8_t* out) {
  if (sector > Sectors() || count > Sectors() - sector) {
    error = "past the end of the image";
    return false;
  }
  return ReadBytes(sector * kImageSectorSize, out, size_t(count) * kImageSectorSize);
}

}  // namespace vellumcast
