// One Blu-ray control file (index, playlist, clip information) read whole through the
// platform file layer and released when it goes out of scope, and the sizes of its text
// fields.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/file_handle.h"

namespace vellumcast {

// Text fields of the control files: a clip name is its five digits ("00001"), type
// indicators, versions and codec identifiers are four characters ("MPLS", "0200", "M2TS").
// Every multi-byte number in these files is big-endian (read with ByteSpan's *Be getters).
constexpr uint64_t kClipNameChars = 5;
constexpr uint64_t kFourCharacterCode = 4;

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
