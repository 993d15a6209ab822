// Sector reads of an image through a window of large reads.
#include "reader/image_source.h"

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
  if (!file.Open(path)) {
    error = file.error;
    return false;
  }
  size = file.size;
  return true;
}

void ImageSource::OpenMemory(const uint8_t* bytes, uint64_t length) {
  Close();
  memory = bytes;
  size = length;
}

void ImageSource::LimitTo(uint64_t bytes) {
  if (bytes >= size) return;
  size = bytes;
  window.clear();
  windowStart = 0;
}

void ImageSource::Close() {
  file.Close();
  memory = nullptr;
  size = 0;
  window.clear();
  windowStart = 0;
}

bool ImageSource::FlushAndDropCache() {
  window.clear();
  if (file.FlushAndDropCache()) return true;
  error = file.error;
  return false;
}

bool ImageSource::Failed(uint64_t sector, const std::string& why) {
  error = why;
  failed = true;
  failedSector = sector;
  return false;
}

bool ImageSource::ReadDirect(uint64_t offset, uint8_t* out, size_t n) {
  for (uint64_t sector : unreadable) {
    const uint64_t start = sector * kImageSectorSize;
    if (start < offset + n && offset < start + kImageSectorSize) {
      error = "Input/output error";
      return false;
    }
  }
  if (memory) {
    std::memcpy(out, memory + offset, n);
    return true;
  }
  if (file.ReadAt(offset, out, n)) return true;
  return Failed(offset / kImageSectorSize, file.error);
}

bool ImageSource::ReadBytes(uint64_t offset, uint8_t* out, size_t n) {
  if (offset > size || n > size - offset)
    return Failed(offset / kImageSectorSize, "past the end of the image");
  if (n == 0) return true;
  if (memory || n >= kWindowBytes / 2) return ReadDirect(offset, out, n);
  if (offset < windowStart || offset + n > windowStart + window.size()) {
    // Refill the window from the sector holding `offset`.
    windowStart = offset - offset % kImageSectorSize;
    const uint64_t length = std::min<uint64_t>(kWindowBytes, size - windowStart);
    window.resize(size_t(length));
    const bool failedBefore = failed;
    if (!ReadDirect(windowStart, window.data(), window.size())) {
      // A sector of the window that cannot be read need not be one of these: they are
      // read on their own, so that a failure names their own sector.
      window.clear();
      failed = failedBefore;
      return ReadDirect(offset, out, n);
    }
    if (offset + n > windowStart + window.size()) return ReadDirect(offset, out, n);
  }
  std::memcpy(out, window.data() + (offset - windowStart), n);
  return true;
}

bool ImageSource::ReadSectors(uint64_t sector, uint32_t count, uint8_t* out) {
  if (sector > Sectors() || count > Sectors() - sector)
    return Failed(sector, "past the end of the image");
  return ReadBytes(sector * kImageSectorSize, out, size_t(count) * kImageSectorSize);
}

}  // namespace vellumcast
