// Byte-order writers over a sector buffer (Put*): little-endian (ECMA-167), big-endian, and
// ECMA-119's both-byte-order fields (7.2.3 and 7.3.3), plus padded character fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vellumcast {

inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * (3 - i)));
}
// ECMA-119 7.2.3: little-endian then big-endian, 4 bytes.
inline void PutBoth16(uint8_t* p, uint16_t v) {
  PutLe16(p, v);
  PutBe16(p + 2, v);
}
// ECMA-119 7.3.3: little-endian then big-endian, 8 bytes.
inline void PutBoth32(uint8_t* p, uint32_t v) {
  PutLe32(p, v);
  PutBe32(p + 4, v);
}

// A character field of `size` bytes: `text` (at most `size` bytes of it), then `pad`.
inline void PutPadded(uint8_t* p, size_t size, const char* text, uint8_t pad = ' ') {
  size_t n = text ? std::strlen(text) : 0;
  if (n > size) n = size;
  std::memcpy(p, text, n);
  std::memset(p + n, pad, size - n);
}

}  // namespace vellumcast
