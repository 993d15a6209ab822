// A source file whose data goes into the image: opened read-only and read sequentially
// in large blocks through a FileHandle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_handle.h"

namespace vellumcast {

struct SourceFile {
  FileHandle file;
  std::string error;  // the system's reason for the last failure

  // Opens `hostPath` for reading; false with `error` set.
  bool Open(const std::string& hostPath);
  // The file's current size in bytes; false with `error` set when it cannot be read.
  bool Size(uint64_t& size);
  // Reads until n bytes came or the file ended, in one read call where the system
  // allows; returns the count, or -1 with `error` set when the system reports a failure.
  int64_t Read(uint8_t* buffer, size_t n);
  // Moves the read position to byte `offset`; false with `error` set.
  bool SkipTo(uint64_t offset);
  int Descriptor() const { return file.handle; }
  void Close() { file.Close(); }
};

}  // namespace vellumcast
