// SHA-256 of FIPS 180-4, as `sha256sum` prints it: the digests of a checksum list are
// computed while the file data is written and again while an image is checked. The
// processor's SHA extensions are used where it has them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast {

using Sha256Digest = std::array<uint8_t, 32>;

struct Sha256 {
  uint32_t state[8];
  uint8_t block[64];
  uint32_t held = 0;  // bytes waiting in `block`
  uint64_t total = 0;

  Sha256() { Reset(); }
  void Reset();
  void Update(const uint8_t* bytes, size_t n);
  Sha256Digest Finish();
};

// The 64 lower-case hexadecimal digits of `digest`.
std::string Sha256Hex(const Sha256Digest& digest);

// The digest of `n` bytes.
Sha256Digest Sha256Of(const uint8_t* bytes, size_t n);

// Whether the SHA extensions are used (tests turn them off to check the plain rounds).
bool Sha256Accelerated();
void UseSha256Extensions(bool use);

}  // namespace vellumcast
