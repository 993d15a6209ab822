// Bounded big-endian reads over the bytes of one Blu-ray control file (index.bdmv,
// movie playlists, clip information): every multi-byte number in these files is
// big-endian, and no read may go past the end of the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast {

// Text fields of the control files: a clip name is its five digits ("00001"), type
// indicators, versions and codec identifiers are four characters ("MPLS", "0200", "M2TS").
constexpr uint64_t kClipNameChars = 5;
constexpr uint64_t kFourCharacterCode = 4;

// Reads at absolute byte positions inside [0, size). A read that would pass the end
// returns 0 (or an empty text) and clears `ok`, which then stays false: a decoder reads
// on and looks at `ok` once, at the end of the record it decodes.
struct BigEndianReader {
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool ok = true;

  BigEndianReader(const uint8_t* bytes, size_t count) : data(bytes), size(count) {}

  // True when the `n` bytes from `pos` lie inside; positions are 64-bit, so sums of
  // 32-bit fields never wrap.
  bool Has(uint64_t pos, uint64_t n) const { return pos <= size && n <= size - pos; }
  // As Has, and clears `ok` when they do not.
  bool Require(uint64_t pos, uint64_t n) {
    if (!Has(pos, n)) ok = false;
    return ok;
  }

  uint8_t U8(uint64_t pos) { return Require(pos, 1) ? data[pos] : 0; }
  uint16_t U16(uint64_t pos) {
    return Require(pos, 2) ? uint16_t((data[pos] << 8) | data[pos + 1]) : 0;
  }
  uint32_t U32(uint64_t pos) {
    if (!Require(pos, 4)) return 0;
    const uint8_t* p = data + pos;
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
  }
  uint64_t U64(uint64_t pos) {
    uint64_t high = U32(pos);
    return (high << 32) | U32(pos + 4);
  }
  // `n` bytes as characters (a five-digit clip name, a four-letter identifier).
  std::string Text(uint64_t pos, size_t n) {
    return Require(pos, n) ? std::string(reinterpret_cast<const char*>(data + pos), n)
                           : std::string();
  }
};

}  // namespace vellumcast
