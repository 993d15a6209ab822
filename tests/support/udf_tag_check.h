// Independent checks of UDF descriptor tags for the tests: a bitwise CRC-ITU-T (not
// the writer's table) and the tag checksum, identifier, version and location; readers
// of little-endian fields and of identifier bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast::test {

inline uint16_t BitwiseCrc(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint16_t(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
  }
  return crc;
}

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) { return uint32_t(Le16(p)) | uint32_t(Le16(p + 2)) << 16; }
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | uint64_t(Le32(p + 4)) << 32; }
inline std::string Text(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

// The tag at `d` has identifier `id`, a correct checksum, serial number 1, a CRC length
// within `available` bytes with a matching CRC, and location `location`.
inline ::testing::AssertionResult ValidTag(const uint8_t* d, uint16_t id, uint32_t location,
                                           uint16_t version, size_t available = 2048) {
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = uint8_t(sum + d[i]);
  const uint16_t crcLength = Le16(d + 10);
  if (Le16(d) != id) return ::testing::AssertionFailure() << "identifier " << Le16(d) << " not " << id;
  if (Le16(d + 2) != version) return ::testing::AssertionFailure() << "version " << Le16(d + 2);
  if (d[4] != sum) return ::testing::AssertionFailure() << "tag checksum of " << id;
  if (Le16(d + 6) != 1) return ::testing::AssertionFailure() << "serial number";
  if (16u + crcLength > available) return ::testing::AssertionFailure() << "CRC length " << crcLength;
  if (Le16(d + 8) != BitwiseCrc(d + 16, crcLength))
    return ::testing::AssertionFailure() << "CRC of descriptor " << id;
  if (Le32(d + 12) != location)
    return ::testing::AssertionFailure() << "location " << Le32(d + 12) << " not " << location;
  return ::testing::AssertionSuccess();
}

}  // namespace vellumcast::test
