// Byte-order helpers over a sector buffer: little-endian (ECMA-167), big-endian, and
// ECMA-119's both-byte-order fields (7.2.3 and 7.3.3), plus padded character fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vellumcast {

inline void le16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void le64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void be16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void be32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * (3 - i)));
}
// ECMA-119 7.2.3: little-endian then big-endian, 4 bytes.
inline void both16(uint8_t* p, uint16_t v) {
  le16(p, v);
  be16(p + 2, v);
}
// ECMA-119 7.3.3: little-endian then big-endian, 8 bytes.
inline void both32(uint8_t* p, uint32_t v) {
  le32(p, v);
  be32(p + 4, v);
}

// A character field of `size` bytes: `text` (at most `size` bytes of it), then `pad`.
inline void padded(uint8_t* p, size_t size, const char* text, uint8_t pad = ' ') {
  size_t n = text ? std::strlen(text) : 0;
  if (n > size) n = size;
  std::memcpy(p, text, n);
  std::memset(p + n, pad, size - n);
}

}  // namespace vellumcast
