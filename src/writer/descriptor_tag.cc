// Puts the UDF descriptor tag and computes its CRC (ECMA-167 3/7.2 and 1/7.2.6).
#include "writer/descriptor_tag.h"

#include <array>

#include "writer/byte_order.h"

namespace vellumcast {
namespace {

constexpr uint16_t kCrcPolynomial = 0x1021;  // x^16 + x^12 + x^5 + 1
constexpr size_t kEaHeaderBytes = 48;        // type, subtype, reserved, lengths, regid

// Table k, entry i: the CRC of byte i followed by k zero bytes, bits taken most
// significant first. Table 0 is the usual bytewise table (entry 1 = 0x1021, entry 255 =
// 0x1EF0); the eight tables together let the CRC take eight bytes per step ("slicing by
// eight"), which gives the same value as the bytewise form.
constexpr int kSlices = 8;
using CrcTables = std::array<std::array<uint16_t, 256>, kSlices>;

constexpr CrcTables MakeCrcTables() {
  CrcTables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint16_t crc = uint16_t(i << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ kCrcPolynomial) : uint16_t(crc << 1);
    tables[0][i] = crc;
  }
  for (int k = 1; k < kSlices; ++k)
    for (uint32_t i = 0; i < 256; ++i) {
      uint16_t previous = tables[k - 1][i];
      tables[k][i] = uint16_t((previous << 8) ^ tables[0][previous >> 8]);
    }
  return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();
static_assert(kCrcTables[0][1] == 0x1021 && kCrcTables[0][255] == 0x1EF0);

}  // namespace

uint16_t DescriptorCrc(const uint8_t* bytes, int64_t length) {
  const auto& t = kCrcTables;
  uint16_t crc = 0;
  int64_t i = 0;
  // Eight bytes per step: the register's two bytes are folded into the first two bytes
  // of the step, and each byte's contribution is shifted by the bytes after it.
  for (; i + kSlices <= length; i += kSlices) {
    const uint8_t* b = bytes + i;
    crc = uint16_t(t[7][b[0] ^ (crc >> 8)] ^ t[6][b[1] ^ (crc & 0xFF)] ^ t[5][b[2]] ^ t[4][b[3]] ^
                   t[3][b[4]] ^ t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]]);
  }
  for (; i < length; ++i) crc = uint16_t((crc << 8) ^ t[0][((crc >> 8) ^ bytes[i]) & 0xFF]);
  return crc;
}

uint8_t* PutDescriptorTag(uint8_t* descriptor, uint16_t identifier, uint16_t crcLength,
                          uint32_t location, uint16_t udfRevision) {
  uint8_t* t = descriptor;
  PutLe16(t + tag::kTagIdentifier, identifier);
  PutLe16(t + tag::kDescriptorVersion, udfRevision >= 0x0250 ? 3 : 2);
  t[tag::kTagChecksum] = 0;
  t[tag::kReserved] = 0;
  PutLe16(t + tag::kTagSerialNumber, 1);
  PutLe16(t + tag::kDescriptorCrc, DescriptorCrc(t + tag::kSize, crcLength));
  PutLe16(t + tag::kDescriptorCrcLength, crcLength);
  PutLe32(t + tag::kTagLocation, location);
  uint8_t sum = 0;
  for (size_t i = 0; i < tag::kSize; ++i)
    if (i != tag::kTagChecksum) sum = uint8_t(sum + t[i]);
  t[tag::kTagChecksum] = sum;
  return t + tag::kSize;
}

uint16_t EaHeaderChecksum(const uint8_t* bytes) {
  uint16_t sum = 0;
  for (size_t i = 0; i < kEaHeaderBytes; ++i) sum = uint16_t(sum + bytes[i]);
  return sum;
}

}  // namespace vellumcast
