// The reader's decoders on bytes made by hand: one case per boundary.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/byte_span.h"
#include "platform/text.h"
#include "reader/ecma119_records.h"
#include "reader/ecma167_descriptors.h"
#include "reader/susp_entries.h"

namespace vellumcast {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// A descriptor of `size` bytes with a sound tag: identifier, location, CRC over the rest.
std::vector<uint8_t> Tagged(uint16_t id, uint32_t location, size_t size) {
  std::vector<uint8_t> b(size, 0);
  Put16(b, 0, id);
  Put16(b, 10, uint16_t(size - 16));
  Put32(b, 12, location);
  Put16(b, 8, UdfCrc(b.data() + 16, size - 16));
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i) sum = uint8_t(sum + (i == 4 ? 0 : b[i]));
  b[4] = sum;
  return b;
}

TEST(ReaderDecoders, ByteSpanRefusesReadsOutsideAndStaysFailed) {
  const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
  ByteSpan s(bytes, sizeof bytes);
  EXPECT_EQ(s.U32Le(2), 0x06050403u);
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.U32Le(3), 0u);
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.U16Le(0), 0x0201);  // reads in range still work; the failure stays
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(ByteSpan(bytes, 6).Sub(5, 2).size, 0u);
  EXPECT_FALSE(ByteSpan(bytes, 6).Has(size_t(-1), 2));
}

TEST(ReaderDecoders, UdfTagChecks) {
  struct Case {
    const char* name;
    size_t byte;  // changed byte, or none
    uint8_t value;
    uint16_t expected;
    const char* why;
  };
  const Case cases[] = {
      {"sound", 64, 0, 257, nullptr},
      {"identifier", 64, 0, 261, "tag identifier wrong"},
      {"checksum", 4, 0x55, 257, "tag checksum wrong"},
      {"crc", 40, 1, 257, "tag crc wrong"},
      {"crc length", 11, 0x20, 257, "tag crc length passes the descriptor"},
      {"location", 12, 8, 257, "tag location wrong"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = Tagged(257, 7, 64);
    if (c.byte < b.size()) b[c.byte] = c.value;
    if (c.byte < 16 && c.byte != 4) {  // a changed tag field under a sound checksum
      b[4] = 0;
      for (int i = 0; i < 16; ++i) b[4] = uint8_t(b[4] + (i == 4 ? 0 : b[i]));
    }
    UdfTag tag;
    const char* why = nullptr;
    EXPECT_EQ(DecodeUdfTag(ByteSpan(b.data(), b.size()), c.expected, 7, tag, why), c.why == nullptr)
        << c.name;
    if (c.why) {
      EXPECT_STREQ(why, c.why) << c.name;
    }
  }
  std::vector<uint8_t> b = Tagged(257, 7, 64);
  UdfTag tag;
  const char* why = nullptr;
  EXPECT_FALSE(DecodeUdfTag(ByteSpan(b.data(), 15), 257, 7, tag, why));
}

TEST(ReaderDecoders, FileIdentifierAndEntryLengthsStayInsideTheirBytes) {
  std::vector<uint8_t> fid(48, 0);
  fid[19] = 5;  // L_FI
  fid[38] = 8;
  std::memcpy(fid.data() + 39, "name", 4);
  UdfFileIdentifier out;
  const char* why = nullptr;
  ASSERT_TRUE(DecodeUdfFileIdentifier(ByteSpan(fid.data(), fid.size()), 0, out, why));
  std::string name;
  ASSERT_TRUE(DecodeCs0(out.identifier, name));
  EXPECT_EQ(name, "name");
  EXPECT_EQ(out.length, 44u);
  EXPECT_FALSE(DecodeUdfFileIdentifier(ByteSpan(fid.data(), 42), 0, out, why));
  EXPECT_FALSE(DecodeUdfFileIdentifier(ByteSpan(fid.data(), fid.size()), 20, out, why));
  Put16(fid, 36, 0xFFFF);  // L_IU past the directory
  EXPECT_FALSE(DecodeUdfFileIdentifier(ByteSpan(fid.data(), fid.size()), 0, out, why));

  std::vector<uint8_t> fe(2048, 0);
  Put16(fe, 0, 261);
  Put32(fe, 168, 1000);
  Put32(fe, 172, 872);  // 176 + 1000 + 872 = 2048: fits exactly
  UdfFileEntry entry;
  ASSERT_TRUE(DecodeUdfFileEntry(ByteSpan(fe.data(), fe.size()), entry, why));
  EXPECT_EQ(entry.ads.size, 872u);
  Put32(fe, 172, 873);
  EXPECT_FALSE(DecodeUdfFileEntry(ByteSpan(fe.data(), fe.size()), entry, why));
  Put32(fe, 168, 0xFFFFFFFF);
  EXPECT_FALSE(DecodeUdfFileEntry(ByteSpan(fe.data(), fe.size()), entry, why));
}

TEST(ReaderDecoders, CompressedUnicodeAndTime) {
  std::string s;
  const uint8_t latin[] = {8, 'G', 'r', 0xFC};
  EXPECT_TRUE(DecodeCs0(ByteSpan(latin, 4), s));
  EXPECT_EQ(s, "Gr\xC3\xBC");
  const uint8_t wide[] = {16, 0x65, 0xE5, 0xD8, 0x3D, 0xDE, 0x00};
  EXPECT_TRUE(DecodeCs0(ByteSpan(wide, 7), s));
  EXPECT_EQ(s, "\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_FALSE(DecodeCs0(ByteSpan(wide, 6), s));  // an odd unit
  const uint8_t unknown[] = {9, 'x'};
  EXPECT_FALSE(DecodeCs0(ByteSpan(unknown, 2), s));
  // A Joliet identifier as printed: U+1F4BF whole, a lone surrogate as U+FFFD, always UTF-8.
  const uint8_t joliet[] = {0xD8, 0x3D, 0xDC, 0xBF, 0xDC, 0xBF, 0, 'x', 0xD8};
  EXPECT_EQ(Ucs2BeToUtf8(joliet, 9), "\xF0\x9F\x92\xBF\xEF\xBF\xBDx");
  // 2001-09-09 03:46:40 at UTC+02:00 (type 1, offset 120 minutes) is 1000000000.
  const uint8_t time[] = {120, 0x10, 0xD1, 0x07, 9, 9, 3, 46, 40, 0, 0, 0};
  EXPECT_EQ(DecodeUdfTime(ByteSpan(time, 12), 0), 1000000000);
}

TEST(ReaderDecoders, IsoDirectoryRecordBounds) {
  std::vector<uint8_t> r(40, 0);
  r[0] = 34;
  r[32] = 1;
  r[33] = 'A';
  IsoDirectoryRecord out;
  const char* why = nullptr;
  EXPECT_TRUE(DecodeIsoDirectoryRecord(ByteSpan(r.data(), r.size()), out, why));
  EXPECT_FALSE(DecodeIsoDirectoryRecord(ByteSpan(r.data(), 33), out, why));
  EXPECT_STREQ(why, "record crosses the end of its sector");
  r[32] = 2;
  EXPECT_FALSE(DecodeIsoDirectoryRecord(ByteSpan(r.data(), r.size()), out, why));
  EXPECT_STREQ(why, "identifier length does not fit the record");
  r[32] = 1;
  r[2] = 5;  // extent: little-endian 5, big-endian 0
  EXPECT_FALSE(DecodeIsoDirectoryRecord(ByteSpan(r.data(), r.size()), out, why));
  EXPECT_STREQ(why, "both-byte-order fields disagree");
}

// SUSP areas: an entry's length must fit its area; SP needs BE EF; NM pieces join while
// CONTINUE is set; CE's both-byte-order fields must agree.
TEST(ReaderDecoders, SuspEntryBounds) {
  auto bytes = [](std::string text) { return std::vector<uint8_t>(text.begin(), text.end()); };
  struct Case {
    std::string area;
    const char* why;  // null: decodes
    const char* name;
  };
  const std::string ce = std::string("CE\x1c\x01", 4) + std::string("\x05\0\0\0\0\0\0\x05", 8) +
                         std::string(8, '\0') + std::string("\x10\0\0\0\0\0\0\x10", 8);
  const Case cases[] = {
      {std::string("SP\x07\x01\xbe\xef\x00", 7) +
           std::string("NM\x08\x01\x01"
                       "abc",
                       8) +
           std::string("NM\x07\x01\x00"
                       "de",
                       7),
       nullptr, "abcde"},
      {std::string("NM\x05\x01\x02", 5), nullptr, "."},
      {std::string("NM\x09\x01\x00"
                   "ab",
                   7),
       "system use entry length does not fit its area", ""},
      {std::string("NM\x03\x01", 4), "system use entry length does not fit its area", ""},
      {std::string("SP\x07\x01\xbe\xee\x00", 7), "sp entry wrong", ""},
      {std::string("NM\x06\x01\x00"
                   "a",
                   6) +
           std::string("NM\x06\x01\x00"
                       "b",
                       6),
       "nm entry follows a name without its continue flag", "a"},
      {ce, nullptr, ""},
      {ce.substr(0, 27) + "\x11", "ce entry wrong", ""},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> area = bytes(c.area);
    SuspFindings found;
    const char* why = nullptr;
    EXPECT_EQ(DecodeSuspArea(ByteSpan(area.data(), area.size()), found, why), c.why == nullptr)
        << c.area;
    if (c.why) {
      EXPECT_STREQ(why, c.why);
    }
    EXPECT_EQ(found.name, c.name);
  }
  SuspFindings found;
  const char* why = nullptr;
  const std::vector<uint8_t> area = bytes(ce);
  ASSERT_TRUE(DecodeSuspArea(ByteSpan(area.data(), area.size()), found, why));
  EXPECT_TRUE(found.haveContinuation);
  EXPECT_EQ(found.ceBlock, 5u);
  EXPECT_EQ(found.ceLength, 16u);
}

}  // namespace
}  // namespace vellumcast
