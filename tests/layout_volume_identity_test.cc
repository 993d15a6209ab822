// Time encodings under fixed time zones, the label dstring and the identifiers made from it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "build/image_builder.h"
#include "layout/volume_label.h"
#include "layout/volume_time.h"

namespace vellumcast {
namespace {

// Sets TZ for one scope and restores the previous value.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (hadOld_) setenv("TZ", old_.c_str(), 1); else unsetenv("TZ");
    tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) { return std::vector<uint8_t>(p, p + n); }

TEST(VolumeTime, EncodingsFollowTheLocalZone) {
  struct Case {
    const char* tz;  // POSIX rules, so no zone database is needed
    int64_t time;
    uint16_t typeAndZone;
    int month, day, hour, minute, second;
    int8_t quarters;
    const char* digits;
  };
  const int64_t november = 1700000000;  // 2023-11-14 22:13:20 UTC
  const int64_t july = 1690000000;      // 2023-07-22 04:26:40 UTC
  const Case cases[] = {
      {"UTC0", november, 0x1000, 11, 14, 22, 13, 20, 0, "2023111422132000"},
      {"<-05>5", november, 0x1ED4, 11, 14, 17, 13, 20, -20, "2023111417132000"},  // -300 as 12 bits
      {"CET-1CEST,M3.5.0,M10.5.0/3", november, 0x103C, 11, 14, 23, 13, 20, 4, "2023111423132000"},
      // Summer time: the offset (+120) matches the summer-time fields.
      {"CET-1CEST,M3.5.0,M10.5.0/3", july, 0x1078, 7, 22, 6, 26, 40, 8, "2023072206264000"},
      {"IST-5:30", november, 0x114A, 11, 15, 3, 43, 20, 22, "2023111503432000"},
      {"<-0520>5:20", november, 0x1EC0, 11, 14, 16, 53, 20, -21, "2023111416532000"},  // -21.3 truncated
  };
  for (const Case& c : cases) {
    ScopedTimeZone zone(c.tz);
    uint8_t udf[12], record[7], volume[17];
    MakeUdfTimestamp(c.time, udf);
    MakeIsoRecordDate(c.time, record);
    MakeIsoVolumeDate(c.time, true, volume);
    // 2023 = 0x07E7, little-endian.
    EXPECT_EQ(Bytes(udf, 12), (std::vector<uint8_t>{uint8_t(c.typeAndZone), uint8_t(c.typeAndZone >> 8), 0xE7, 0x07,
                                                    uint8_t(c.month), uint8_t(c.day), uint8_t(c.hour),
                                                    uint8_t(c.minute), uint8_t(c.second), 0, 0, 0}))
        << c.tz;
    EXPECT_EQ(Bytes(record, 7), (std::vector<uint8_t>{123, uint8_t(c.month), uint8_t(c.day), uint8_t(c.hour),
                                                      uint8_t(c.minute), uint8_t(c.second), uint8_t(c.quarters)}))
        << c.tz;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(volume), 16), c.digits) << c.tz;
    EXPECT_EQ(int8_t(volume[16]), c.quarters) << c.tz;
  }
}

TEST(VolumeTime, UnconvertibleAndAbsentTimes) {
  ScopedTimeZone zone("UTC0");
  uint8_t udf[12], record[7], volume[17];
  MakeUdfTimestamp(INT64_MAX, udf);
  MakeIsoRecordDate(INT64_MAX, record);
  MakeIsoVolumeDate(INT64_MAX, true, volume);
  EXPECT_EQ(Bytes(udf, 12), (std::vector<uint8_t>{0xFF, 0x1F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(record, 7), std::vector<uint8_t>(7, 0));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(volume), 16), std::string(16, '0'));
  EXPECT_EQ(volume[16], 0);
  MakeIsoVolumeDate(1700000000, false, volume);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(volume), 16), std::string(16, '0'));
  // Before 1900 the record date has no year byte: left unrecorded.
  MakeIsoRecordDate(-2300000000, record);
  EXPECT_EQ(Bytes(record, 7), std::vector<uint8_t>(7, 0));
}

struct LabelCase {
  std::u16string label;  // empty: the default
  uint8_t compression;
  std::string content;   // bytes after the compression identifier in the 128-byte form
  std::string fitted;    // in a 32-byte field
  std::string iso;       // ISO 9660 volume identifier without its blanks
};

TEST(VolumeLabel, FormsAndFittedFields) {
  std::u16string latin200;
  std::string latin200Bytes;
  for (int i = 0; i < 200; ++i) {
    char16_t c = i % 2 ? u'\u00e9' : char16_t('a' + i % 26);
    latin200.push_back(c);
    latin200Bytes.push_back(char(c));
  }
  std::string upper31 = latin200Bytes.substr(0, 31);
  for (char& c : upper31) if (c >= 'a' && c <= 'z') c = char(c - 32);
  const LabelCase cases[] = {
      {u"", 8, "UNTITLED", "UNTITLED", "UNTITLED"},
      {u"Film", 8, "Film", "Film", "FILM"},
      {latin200, 8, latin200Bytes.substr(0, 126), latin200Bytes.substr(0, 30), upper31},
      {u"Disc \u0100", 16, std::string("\0D\0i\0s\0c\0 \x01\x00", 12), std::string("\0D\0i\0s\0c\0 \x01\x00", 12),
       "NONE"},
      {u"x\xDC80", 16, std::string("\0x\xFF\xFD", 4), std::string("\0x\xFF\xFD", 4), "NONE"},  // not UTF-8
  };
  for (const LabelCase& c : cases) {
    ImageBuilder builder;
    builder.Initialize();
    builder.SetVolumeLabel(c.label.c_str());
    builder.SetVolumeLabel(u"");  // an empty label keeps the current one
    std::string expected(128, '\0');
    expected[0] = char(c.compression);
    expected.replace(1, c.content.size(), c.content);
    expected[127] = char(c.content.size() + 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(builder.volumeLabel), 128), expected);

    uint8_t field[32];
    builder.FitDString(field, 32);
    std::string fitted(32, '\0');
    fitted[0] = char(c.compression);
    fitted.replace(1, c.fitted.size(), c.fitted);
    fitted[31] = char(c.fitted.size() + 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(field), 32), fitted);

    uint8_t iso[32];
    IsoVolumeIdentifier(builder, iso);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(iso), 32), c.iso + std::string(32 - c.iso.size(), ' '));
  }
}

TEST(VolumeLabel, SixteenBitLabelKeepsWholeCharacters) {
  ImageBuilder builder;
  builder.Initialize();
  std::u16string label = std::u16string(62, u'\u0100') + u"\U0001F600";  // pair at units 63-64
  builder.SetVolumeLabel(label.c_str());
  EXPECT_EQ(builder.volumeLabel[127], 125);  // 62 units and the compression identifier
  EXPECT_EQ(builder.volumeLabel[125], 0);
}

TEST(VolumeLabel, VolumeSetIdentifiers) {
  ImageBuilder builder;
  builder.buildTime = 0x12345678ABCDEF01;
  builder.volumeSectors = 448;
  uint8_t udf[128], iso[128];
  UdfVolumeSetIdentifier(builder, udf);
  std::string expected(128, '\0');
  expected.replace(0, 17, "\x08" "ABCDEF01000001C0");
  expected[127] = 17;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(udf), 128), expected);
  IsoVolumeSetIdentifier(iso);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(iso), 128), "UNDEFINED" + std::string(119, ' '));
}

}  // namespace
}  // namespace vellumcast
