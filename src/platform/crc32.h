// CRC-32 of ISO 3309 / ITU-T V.42 (polynomial 0x04C11DB7, reflected, initial value and
// final XOR 0xFFFFFFFF), as the GPT header and partition array carry it (UEFI 5.3.2).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vellumcast {

inline constexpr std::array<uint32_t, 256> kCrc32Table = [] {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}();

inline uint32_t Crc32(const uint8_t* bytes, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) c = kCrc32Table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

}  // namespace vellumcast
