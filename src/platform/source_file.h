// A source file whose data goes into the image: opened read-only and read sequentially
// in large blocks through a FileHandle, or handed over with its bytes already read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_handle.h"

namespace vellumcast {

// What identifies a file's state: device, inode, size and status change time (which
// every write, truncation and rename moves on).
struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t changeSeconds = 0;
  int64_t changeNanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};

struct SourceFile {
  FileHandle file;
  std::string error;  // the system's reason for the last failure

  // The file's bytes read in advance (ReadWhole, or handed over by Adopt) in a buffer
  // this record does not own: Read serves them and then reports the end of the file;
  // Size gives the size the file had then.
  const uint8_t* content = nullptr;
  size_t contentBytes = 0;
  size_t contentUsed = 0;
  uint64_t contentFileSize = 0;
  bool holdsContent = false;
  FileStamp stamp;       // the open file's state when it was opened (or read in advance)
  bool regular = false;  // the open file was a regular file when it was opened
  // Set before the first Read: that read first takes only bytes the page cache holds,
  // and `fromStorage` tells whether any had to come from the storage.
  bool watchMemory = false;
  // Bytes had to be read from the storage (or the system could not tell): set by
  // ReadWhole, by a watched Read and by InMemory.
  bool fromStorage = false;

  // Opens `hostPath` for reading; false with `error` set.
  [[nodiscard]] bool Open(const std::string& hostPath);
  // Opens the regular file `hostPath`, reads up to n bytes of it into `buffer` (which
  // becomes `content` and must outlive this record's use of it) and closes it again;
  // false with `error` set (nothing held) when it cannot be opened, is not a regular
  // file or cannot be read.
  [[nodiscard]] bool ReadWhole(const std::string& hostPath, uint8_t* buffer, size_t n);
  // Takes over what `other` holds (its descriptor or its bytes); `other` is left closed.
  void Adopt(SourceFile& other);
  bool IsRegular() const { return regular; }
  // True when `hostPath` still leads to this file in the state of `stamp`: not removed,
  // replaced, written or resized since it was opened.
  bool Unchanged(const std::string& hostPath) const;
  // The file's size in bytes: for a regular file as its status said when it was opened
  // (or was last found unchanged), else as it is now; false with `error` set when it
  // cannot be read.
  [[nodiscard]] bool Size(uint64_t& size);
  // Reads until n bytes came or the file ended, in one read call where the system
  // allows; `got` receives the count (below n only at the end of the file). False with
  // `error` set when the system reports a failure.
  [[nodiscard]] bool Read(uint8_t* buffer, size_t n, size_t& got);
  // Moves the read position to byte `offset`; false with `error` set.
  [[nodiscard]] bool SkipTo(uint64_t offset);
  // True when the byte at `offset` (or the end of the file) is in the page cache; false,
  // setting `fromStorage`, when it is not or the system cannot tell. Reads nothing.
  bool InMemory(uint64_t offset);
  // Asks the system to bring bytes [offset, offset + n) into memory without waiting.
  void RequestBytes(uint64_t offset, uint64_t n);
  int Descriptor() const { return file.handle; }
  void Close();
};

}  // namespace vellumcast
