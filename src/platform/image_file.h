// An image opened for reading: a regular file or a block device (/dev/sr0), read at any
// offset, with the page-cache operations a check of freshly written bytes needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast {

struct ImageFile {
  int handle = -1;      // file descriptor; -1 when none is open
  uint64_t size = 0;    // bytes in the file or on the device
  bool device = false;  // a block device, whose end need not be the image's end
  std::string error;    // the reason for the last failure

  ImageFile() = default;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile() { Close(); }

  // Opens `path` read-only; anything but a regular file or a block device is refused.
  // The reads that follow are announced as sequential. False with `error` set.
  [[nodiscard]] bool Open(const std::string& path);
  bool IsOpen() const { return handle >= 0; }
  void Close();

  // Reads exactly n bytes at `offset`; false with `error` set when the system fails or
  // the file ends first.
  [[nodiscard]] bool ReadAt(uint64_t offset, void* out, size_t n);
  // Asks the system to start reading [offset, offset + n) ahead of a read.
  void ReadAhead(uint64_t offset, uint64_t n);
  // Writes what the system still holds of the file to the storage (fdatasync) and
  // drops its cached pages, so that the next reads come from the storage, not from
  // memory. False with `error` set when the flush fails.
  [[nodiscard]] bool FlushAndDropCache();
  // Drops the cached pages only (pages not yet written stay).
  void DropCache();
};

}  // namespace vellumcast
