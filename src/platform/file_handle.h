// Files of the host system: a handle with open modes, size, stepped reads and writes,
// and the whole-file reader used for the small Blu-ray control files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellumcast {

// Open modes, a bit set. Mode 1 reads an existing file; mode 6 writes, creating the
// file or emptying an existing one.
enum FileOpenMode : uint32_t {
  OpenRead = 1,
  OpenWrite = 2,
  OpenCreate = 4,
};

// Bytes moved by one read call of FileHandle::Read.
constexpr size_t kReadStepBytes = 1024;

struct FileHandle {
  int handle = -1;    // file descriptor; -1 when none is open
  uint8_t owned = 1;  // Close (and destruction) closes the descriptor
  int error = 0;      // errno of the last failed operation, 0 when none failed

  FileHandle() = default;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { Close(); }

  // Opens `path` with a FileOpenMode set. A handle already open is closed first.
  // Opening only for reading refuses anything but a regular file (a directory, a FIFO,
  // a device), and never blocks on a FIFO.
  [[nodiscard]] bool Open(const char16_t* path, uint32_t mode);
  bool IsOpen() const { return handle >= 0; }
  // Size in bytes, 0 when it cannot be found.
  uint64_t Size();
  // Reads up to n bytes in steps of at most `step` bytes; stops at the end of the file
  // or on a failure (then `error` says why). Returns the bytes read.
  size_t Read(void* buffer, size_t n, size_t step = kReadStepBytes);
  // Writes n bytes; a write the system cuts short is continued. Returns the bytes
  // written, fewer than n only on a failure (then `error` says why).
  size_t Write(const void* buffer, size_t n);
  // Closes the descriptor; false (with `error` set) when the system reports a failure,
  // which for a file just written can mean its data did not reach the disk.
  bool Close();
};

// The whole file in a heap buffer of length + 2 bytes whose last two bytes are zero, so
// the content is terminated as bytes and as UTF-16 text; release it with std::free.
// Null (and length 0) when the file cannot be opened, is empty, is too large for a
// 32-bit length, or cannot be read completely.
uint8_t* ReadWholeFile(const char16_t* path, uint32_t* length);

}  // namespace vellumcast
