// SHA-256 against the FIPS 180-2 example vectors, with the processor's SHA extensions and
// with the plain rounds, fed in uneven pieces across block boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/sha256.h"

namespace vellumcast {
namespace {

TEST(Sha256, StandardVectorsWithAndWithoutTheExtensions) {
  const std::string million(1000000, 'a');
  const struct {
    std::string text;
    const char* digest;
  } kVectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  const bool had = Sha256Accelerated();
  for (bool extensions : {true, false}) {
    UseSha256Extensions(extensions);
    for (const auto& v : kVectors) {
      Sha256 h;  // fed in uneven pieces, across block boundaries
      for (size_t at = 0, step = 1; at < v.text.size(); at += step, step = step * 7 % 127 + 1)
        h.Update(reinterpret_cast<const uint8_t*>(v.text.data()) + at,
                 std::min(step, v.text.size() - at));
      EXPECT_EQ(Sha256Hex(h.Finish()), v.digest) << extensions;
    }
  }
  UseSha256Extensions(had);
}

}  // namespace
}  // namespace vellumcast
