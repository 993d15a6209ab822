// A bounded view of bytes: a sector read from an image, a Blu-ray control file, a test's
// image in memory. Every getter takes a position and checks it against the view's size;
// a read outside the view gives 0 (or an empty text) and clears `ok`, which stays
// cleared (sticky), so a decoder reads all its fields and checks `ok` once. Positions
// are 64-bit, so sums of 32-bit fields never wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast {

struct ByteSpan {
  const uint8_t* data = nullptr;
  size_t size = 0;
  mutable bool ok = true;  // false once any read fell outside [0, size)

  ByteSpan() = default;
  ByteSpan(const uint8_t* d, size_t n) : data(d), size(n) {}

  // True when [pos, pos + n) lies inside the view; n may be 0.
  bool Has(size_t pos, size_t n) const { return pos <= size && n <= size - pos; }
  // Marks the span failed unless [pos, pos + n) lies inside; returns the check.
  bool Need(size_t pos, size_t n) const {
    if (!Has(pos, n)) ok = false;
    return Has(pos, n);
  }

  uint8_t U8(size_t pos) const { return Need(pos, 1) ? data[pos] : 0; }
  uint16_t U16Le(size_t pos) const {
    return Need(pos, 2) ? uint16_t(data[pos] | (data[pos + 1] << 8)) : 0;
  }
  uint32_t U32Le(size_t pos) const {
    if (!Need(pos, 4)) return 0;
    return uint32_t(data[pos]) | (uint32_t(data[pos + 1]) << 8) | (uint32_t(data[pos + 2]) << 16) |
           (uint32_t(data[pos + 3]) << 24);
  }
  uint64_t U64Le(size_t pos) const {
    if (!Need(pos, 8)) return 0;
    return U32Le(pos) | (uint64_t(U32Le(pos + 4)) << 32);
  }
  uint16_t U16Be(size_t pos) const {
    return Need(pos, 2) ? uint16_t((data[pos] << 8) | data[pos + 1]) : 0;
  }
  uint32_t U32Be(size_t pos) const {
    if (!Need(pos, 4)) return 0;
    return (uint32_t(data[pos]) << 24) | (uint32_t(data[pos + 1]) << 16) |
           (uint32_t(data[pos + 2]) << 8) | uint32_t(data[pos + 3]);
  }
  uint64_t U64Be(size_t pos) const {
    uint64_t high = U32Be(pos);
    return (high << 32) | U32Be(pos + 4);
  }
  // ECMA-119 7.2.3 / 7.3.3: a little-endian copy then a big-endian copy. `agree` is
  // cleared when the two copies differ; the little-endian value is returned.
  uint16_t Both16(size_t pos, bool& agree) const {
    uint16_t le = U16Le(pos), be = U16Be(pos + 2);
    if (le != be) agree = false;
    return le;
  }
  uint32_t Both32(size_t pos, bool& agree) const {
    uint32_t le = U32Le(pos), be = U32Be(pos + 4);
    if (le != be) agree = false;
    return le;
  }
  // The view [pos, pos + n); an empty failed view (and this one failed) when it does
  // not lie inside.
  ByteSpan Sub(size_t pos, size_t n) const {
    if (!Need(pos, n)) {
      ByteSpan empty;
      empty.ok = false;
      return empty;
    }
    return ByteSpan(data + pos, n);
  }
  // `n` bytes from `pos` as characters (a five-digit clip name, a four-letter code).
  std::string Text(size_t pos, size_t n) const {
    return Need(pos, n) ? std::string(reinterpret_cast<const char*>(data + pos), n) : std::string();
  }
  // True when the n bytes at pos equal `text` (n bytes, not terminated).
  bool Equals(size_t pos, const char* text, size_t n) const {
    if (!Need(pos, n)) return false;
    for (size_t i = 0; i < n; ++i)
      if (data[pos + i] != uint8_t(text[i])) return false;
    return true;
  }
};

}  // namespace vellumcast
