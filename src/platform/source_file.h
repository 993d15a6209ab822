// A source file whose data goes into the image: opened read-only and read sequentially
// in large blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast {

struct SourceFile {
  int fd = -1;
  std::string error;  // the system's reason for the last failure

  SourceFile() = default;
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
  ~SourceFile() { Close(); }

  // Opens `hostPath` for reading; false with `error` set.
  bool Open(const std::string& hostPath);
  // The file's current size in bytes; false with `error` set when it cannot be read.
  bool Size(uint64_t& size);
  // Reads until n bytes came or the file ended; returns the count, or -1 with `error`
  // set when the system reports a read failure.
  int64_t Read(uint8_t* buffer, size_t n);
  void Close();
};

}  // namespace vellumcast
