// One Blu-ray control file (index, playlist, clip information) read whole through the
// platform file layer and released when it goes out of scope.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/file_handle.h"

namespace vellumcast {

struct ControlFile {
  uint8_t* bytes = nullptr;
  uint32_t length = 0;

  ControlFile() = default;
  ControlFile(const ControlFile&) = delete;
  ControlFile& operator=(const ControlFile&) = delete;
  ~ControlFile() { Release(); }

  // False when the file is missing, cannot be opened or read, or is empty.
  bool Read(const std::u16string& path) {
    Release();
    bytes = ReadWholeFile(path.c_str(), &length);
    return bytes != nullptr;
  }
  void Release() {
    std::free(bytes);
    bytes = nullptr;
    length = 0;
  }
};

}  // namespace vellumcast
