// The bytes of an image: a regular file, a block device (/dev/sr0) or a buffer in
// memory, read by range-checked sector reads. Small reads (descriptors, directories)
// go through one window of large sequential reads; large reads (file data) go to the
// system directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/image_file.h"

namespace vellumcast {

// Every file system of an optical disc counts 2048-byte sectors (ECMA-119 6.1.2 and
// the logical sector size of ECMA-167 on CD, DVD and BD media).
constexpr uint32_t kImageSectorSize = 2048;

// One source serves one thread at a time (the window is shared state); a reader on
// another thread opens its own.
struct ImageSource {
  ImageFile file;                   // the file or device; closed for a memory image
  const uint8_t* memory = nullptr;  // the bytes of a memory image (not owned)
  uint64_t size = 0;                // bytes in the image
  std::string error;                // the system's text for the last failed Open or read
  // Where the last failed read began, and whether one failed since `failed` was cleared:
  // a caller that clears it before a read tells a failed read from a range its own
  // structures do not cover.
  bool failed = false;
  uint64_t failedSector = 0;

  // Sectors whose every read fails as a damaged disc's would (tests make them up).
  std::vector<uint64_t> unreadable;

  std::vector<uint8_t> window;  // cached bytes [windowStart, windowStart + window.size())
  uint64_t windowStart = 0;

  ImageSource() = default;
  ImageSource(const ImageSource&) = delete;
  ImageSource& operator=(const ImageSource&) = delete;
  ~ImageSource() { Close(); }

  // Opens a regular file or a block device for reading; false with `error` set.
  [[nodiscard]] bool Open(const std::string& path);
  // Reads from `bytes`, which must stay alive while the source is used.
  void OpenMemory(const uint8_t* bytes, uint64_t length);
  void Close();

  // A block device holds the image in its first sectors and may go on past it (a disc
  // written track-at-once, a partition larger than the image written to it).
  bool IsDevice() const { return file.device; }
  // Takes the image to end at byte `bytes` (when that is before its current end).
  void LimitTo(uint64_t bytes);
  // Whole sectors in the image (a partial last sector is not counted).
  uint64_t Sectors() const { return size / kImageSectorSize; }
  // Reads `count` sectors from `sector` into `out`; false when any of them lies past
  // the image's end or the system fails (then `error` says why).
  [[nodiscard]] bool ReadSectors(uint64_t sector, uint32_t count, uint8_t* out);
  // Reads bytes [offset, offset + n); false when the range passes the image's end or
  // the system fails.
  [[nodiscard]] bool ReadBytes(uint64_t offset, uint8_t* out, size_t n);
  // Flushes what the system still holds of the image to the storage and drops its
  // cached pages (after writing, so that a check reads from the storage rather than
  // from memory); false with `error` set when the flush fails.
  [[nodiscard]] bool FlushAndDropCache();
  // Asks the system to start reading the bytes [offset, offset + n) ahead of use.
  void ReadAhead(uint64_t offset, uint64_t n) { file.ReadAhead(offset, n); }

 private:
  // Records a read from `sector` that failed with `why`; returns false.
  bool Failed(uint64_t sector, const std::string& why);
  [[nodiscard]] bool ReadDirect(uint64_t offset, uint8_t* out, size_t n);
};

}  // namespace vellumcast
