// Writes the UDF descriptor tag and computes its CRC (ECMA-167 3/7.2 and 1/7.2.6).
#include "writer/descriptor_tag.h"

#include <array>

#include "writer/byte_order.h"

namespace vellumcast {
namespace {

constexpr uint16_t kCrcPolynomial = 0x1021;  // x^16 + x^12 + x^5 + 1
constexpr size_t kEaHeaderBytes = 48;        // type, subtype, reserved, lengths, regid

// Entry i is the CRC of the single byte i, bits taken most significant first.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint16_t crc = uint16_t(i << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ kCrcPolynomial) : uint16_t(crc << 1);
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x1021 && kCrcTable[255] == 0x1EF0);

}  // namespace

uint16_t DescriptorCrc(const uint8_t* bytes, int64_t length) {
  uint16_t crc = 0;
  for (int64_t i = 0; i < length; ++i)
    crc = uint16_t((crc << 8) ^ kCrcTable[((crc >> 8) ^ bytes[i]) & 0xFF]);
  return crc;
}

uint8_t* FillTag(uint8_t* descriptor, uint16_t identifier, uint16_t crcLength,
                 uint32_t location, uint16_t udfRevision) {
  uint8_t* t = descriptor;
  le16(t + tag::kTagIdentifier, identifier);
  le16(t + tag::kDescriptorVersion, udfRevision >= 0x0250 ? 3 : 2);
  t[tag::kTagChecksum] = 0;
  t[tag::kReserved] = 0;
  le16(t + tag::kTagSerialNumber, 1);
  le16(t + tag::kDescriptorCrc, DescriptorCrc(t + tag::kSize, crcLength));
  le16(t + tag::kDescriptorCrcLength, crcLength);
  le32(t + tag::kTagLocation, location);
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
