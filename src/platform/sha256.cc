// SHA-256 (FIPS 180-4 6.2): the compression function over 64-byte blocks, in plain C++
// and, on x86-64 processors with the SHA extensions, with SHA256RNDS2/MSG1/MSG2 (four
// rounds per pair of instructions), chosen once at run time.
#include "platform/sha256.h"

#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace vellumcast {
namespace {

// FIPS 180-4 4.2.2: the first 32 bits of the fractional parts of the cube roots of the
// first 64 primes.
alignas(16) constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// FIPS 180-4 5.3.3: the initial hash value.
constexpr uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void PlainBlocks(uint32_t* state, const uint8_t* data, size_t blocks) {
  for (; blocks; --blocks, data += 64) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = Be32(data + 4 * t);
    for (int t = 16; t < 64; ++t) {
      const uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
      const uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4], f = state[5],
             g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
      const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                          kRoundConstants[t] + w[t];
      const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
    state[4] += e, state[5] += f, state[6] += g, state[7] += h;
  }
}

#if defined(__x86_64__)
// The state is kept as the instructions want it: ABEF and CDGH. Each group g of four
// rounds adds its round constants to message words W[4g..4g+3]; the schedule of the next
// words is made with MSG1 (one group behind) and MSG2 (one group ahead).
__attribute__((target("sha,sse4.1,ssse3"))) void ExtensionBlocks(uint32_t* state,
                                                                 const uint8_t* data,
                                                                 size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (; blocks; --blocks, data += 64) {
    const __m128i abefSaved = abef, cdghSaved = cdgh;
    __m128i w[4];
    for (int g = 0; g < 16; ++g) {
      if (g < 4) {
        w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g)),
                                byteSwap);
      }
      __m128i message = _mm_add_epi32(
          w[g & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * g)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      if (g >= 3 && g < 15) {
        const __m128i next =
            _mm_add_epi32(w[(g + 1) & 3], _mm_alignr_epi8(w[g & 3], w[(g - 1) & 3], 4));
        w[(g + 1) & 3] = _mm_sha256msg2_epu32(next, w[g & 3]);
      }
      message = _mm_shuffle_epi32(message, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
      if (g >= 1 && g < 13) w[(g - 1) & 3] = _mm_sha256msg1_epu32(w[(g - 1) & 3], w[g & 3]);
    }
    abef = _mm_add_epi32(abef, abefSaved);
    cdgh = _mm_add_epi32(cdgh, cdghSaved);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

bool ProcessorHasExtensions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return ssse3 && sse41 && (b & (1u << 29));
}
#else
void ExtensionBlocks(uint32_t* state, const uint8_t* data, size_t blocks) {
  PlainBlocks(state, data, blocks);
}
bool ProcessorHasExtensions() { return false; }
#endif

bool& UseExtensions() {
  static bool use = ProcessorHasExtensions();
  return use;
}

void Blocks(uint32_t* state, const uint8_t* data, size_t blocks) {
  if (UseExtensions()) {
    ExtensionBlocks(state, data, blocks);
  } else {
    PlainBlocks(state, data, blocks);
  }
}

}  // namespace

void Sha256::Reset() {
  std::memcpy(state, kInitialState, sizeof state);
  held = 0;
  total = 0;
}

void Sha256::Update(const uint8_t* bytes, size_t n) {
  total += n;
  if (held) {
    const size_t take = n < 64 - held ? n : 64 - held;
    std::memcpy(block + held, bytes, take);
    held += uint32_t(take);
    bytes += take;
    n -= take;
    if (held < 64) return;
    Blocks(state, block, 1);
    held = 0;
  }
  if (n >= 64) {
    Blocks(state, bytes, n / 64);
    bytes += n / 64 * 64;
    n %= 64;
  }
  if (n) std::memcpy(block, bytes, n);
  held = uint32_t(n);
}

Sha256Digest Sha256::Finish() {
  // FIPS 180-4 5.1.1: a one bit, zeros, and the message length in bits, big-endian.
  const uint64_t bits = total * 8;
  uint8_t pad[72] = {0x80};
  const size_t padding = (held < 56 ? 56 - held : 120 - held);
  for (int i = 0; i < 8; ++i) pad[padding + i] = uint8_t(bits >> (56 - 8 * i));
  Update(pad, padding + 8);
  Sha256Digest digest;
  for (int i = 0; i < 8; ++i) {
    for (int k = 0; k < 4; ++k) digest[size_t(4 * i + k)] = uint8_t(state[i] >> (24 - 8 * k));
  }
  Reset();
  return digest;
}

std::string Sha256Hex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(64, '0');
  for (size_t i = 0; i < 32; ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 15];
  }
  return text;
}

Sha256Digest Sha256Of(const uint8_t* bytes, size_t n) {
  Sha256 h;
  h.Update(bytes, n);
  return h.Finish();
}

bool Sha256Accelerated() { return UseExtensions(); }

void UseSha256Extensions(bool use) { UseExtensions() = use && ProcessorHasExtensions(); }

}  // namespace vellumcast
