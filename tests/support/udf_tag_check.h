// Independent checks of UDF descriptor tags for the tests: a bitwise CRC-ITU-T (not
// the writer's table) and the tag checksum, identifier, version and location; readers
// of little-endian fields and of identifier bytes, through the program's bounded
// ByteSpan (platform/byte_span.h).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/byte_span.h"

namespace vellumcast::test {

inline uint16_t BitwiseCrc(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint16_t(p[i] << 8);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
  }
  return crc;
}

// Fields at a position the test has already placed inside its sector.
inline uint16_t Le16(const uint8_t* p) { return ByteSpan(p, 2).U16Le(0); }
inline uint32_t Le32(const uint8_t* p) { return ByteSpan(p, 4).U32Le(0); }
inline uint64_t Le64(const uint8_t* p) { return ByteSpan(p, 8).U64Le(0); }
inline std::string Text(const uint8_t* p, size_t n) { return ByteSpan(p, n).Text(0, n); }

// The tag at the start of `d` has identifier `id`, a correct checksum, serial number 1,
// a CRC length within the span with a matching CRC, and location `location`.
inline ::testing::AssertionResult ValidTag(ByteSpan d, uint16_t id, uint32_t location,
                                           uint16_t version) {
  if (!d.Has(0, 16))
    return ::testing::AssertionFailure() << "tag of " << id << " outside the bytes";
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = uint8_t(sum + d.U8(i));
  const uint16_t crcLength = d.U16Le(10);
  if (d.U16Le(0) != id)
    return ::testing::AssertionFailure() << "identifier " << d.U16Le(0) << " not " << id;
  if (d.U16Le(2) != version) return ::testing::AssertionFailure() << "version " << d.U16Le(2);
  if (d.U8(4) != sum) return ::testing::AssertionFailure() << "tag checksum of " << id;
  if (d.U16Le(6) != 1) return ::testing::AssertionFailure() << "serial number";
  if (!d.Has(16, crcLength)) return ::testing::AssertionFailure() << "CRC length " << crcLength;
  if (d.U16Le(8) != BitwiseCrc(d.data + 16, crcLength))
    return ::testing::AssertionFailure() << "CRC of descriptor " << id;
  if (d.U32Le(12) != location)
    return ::testing::AssertionFailure() << "location " << d.U32Le(12) << " not " << location;
  return ::testing::AssertionSuccess();
}
// The same over the `available` bytes from `d`.
inline ::testing::AssertionResult ValidTag(const uint8_t* d, uint16_t id, uint32_t location,
                                           uint16_t version, size_t available = 2048) {
  return ValidTag(ByteSpan(d, available), id, location, version);
}

}  // namespace vellumcast::test
