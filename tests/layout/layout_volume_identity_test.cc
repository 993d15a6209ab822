// Time encodings under fixed time zones, the label dstring and the identifiers made from it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "build/build_job.h"
#include "build/image_builder.h"
#include "choice_text.h"
#include "layout/volume_label.h"
#include "layout/volume_time.h"
#include "platform/text.h"
#include "test_support.h"
#include "udf_tag_check.h"

namespace vellumcast {
namespace {

using test::Le16;
using test::Le32;

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
    if (hadOld_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
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
      // Offsets the field cannot hold exactly: the same instant in UTC with offset 0
      // (-5:20 is whole minutes for UDF but not whole quarter hours for ISO 9660).
      {"<-0520>5:20", november, 0x1EC0, 11, 14, 16, 53, 20, 0, "2023111422132000"},
      {"<-004430>0:44:30", november, 0x1000, 11, 14, 22, 13, 20, 0, "2023111422132000"},
      // The ISO 9660 limits, -12:00 and +13:00, are still local time.
      {"<-12>12", november, 0x1D30, 11, 14, 10, 13, 20, -48, "2023111410132000"},
      {"<+13>-13", november, 0x130C, 11, 15, 11, 13, 20, 52, "2023111511132000"},
  };
  for (const Case& c : cases) {
    ScopedTimeZone zone(c.tz);
    uint8_t udf[12], record[7], volume[17];
    MakeUdfTimestamp(c.time, udf);
    MakeIsoRecordDate(c.time, record);
    MakeIsoVolumeDate(c.time, true, volume);
    // 2023 = 0x07E7, little-endian.
    EXPECT_EQ(Bytes(udf, 12),
              (std::vector<uint8_t>{uint8_t(c.typeAndZone), uint8_t(c.typeAndZone >> 8), 0xE7, 0x07,
                                    uint8_t(c.month), uint8_t(c.day), uint8_t(c.hour),
                                    uint8_t(c.minute), uint8_t(c.second), 0, 0, 0}))
        << c.tz;
    // The record date carries the same fields as the volume date's digits.
    auto digit2 = [&](int at) {
      return uint8_t((c.digits[at] - '0') * 10 + (c.digits[at + 1] - '0'));
    };
    EXPECT_EQ(Bytes(record, 7), (std::vector<uint8_t>{123, digit2(4), digit2(6), digit2(8),
                                                      digit2(10), digit2(12), uint8_t(c.quarters)}))
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
  EXPECT_EQ(Bytes(record, 7), (std::vector<uint8_t>{255, 12, 31, 23, 59, 59, 0}));  // nearest
  EXPECT_EQ(std::string(reinterpret_cast<char*>(volume), 16), std::string(16, '0'));
  EXPECT_EQ(volume[16], 0);
  MakeIsoVolumeDate(1700000000, false, volume);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(volume), 16), std::string(16, '0'));
  // Before 1900 and after 2155 the record date has no year byte: the nearest it holds.
  MakeIsoRecordDate(-2300000000, record);
  EXPECT_EQ(Bytes(record, 7), (std::vector<uint8_t>{0, 1, 1, 0, 0, 0, 0}));
  MakeIsoRecordDate(7258118400, record);  // 2200-01-01
  EXPECT_EQ(Bytes(record, 7), (std::vector<uint8_t>{255, 12, 31, 23, 59, 59, 0}));
}

// A date read back from an image: the instant it names and its offset from UTC.
struct Date {
  int64_t time;
  int offsetMinutes;
};

int64_t Utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return timegm(&tm);
}

Date UdfDate(const uint8_t* p) {  // ECMA-167 1/7.3
  int offset = Le16(p) & 0xFFF;
  if (offset & 0x800) offset -= 0x1000;
  return {Utc(Le16(p + 2), p[4], p[5], p[6], p[7], p[8]) - offset * 60, offset};
}

Date IsoRecordDate(const uint8_t* p) {  // ECMA-119 9.1.5
  const int offset = int8_t(p[6]) * 15;
  return {Utc(1900 + p[0], p[1], p[2], p[3], p[4], p[5]) - offset * 60, offset};
}

Date IsoVolumeDate(const uint8_t* p) {  // ECMA-119 8.4.26.1
  int f[6] = {};
  std::sscanf(reinterpret_cast<const char*>(p), "%4d%2d%2d%2d%2d%2d", &f[0], &f[1], &f[2], &f[3],
              &f[4], &f[5]);
  const int offset = int8_t(p[16]) * 15;
  return {Utc(f[0], f[1], f[2], f[3], f[4], f[5]) - offset * 60, offset};
}

// Whole images built in zones beyond the ISO 9660 offset range and at its edges: every
// UDF date names the right instant with the local offset, every ISO 9660 date the right
// instant with the local offset where it fits and offset 0 (UTC) where it does not; a
// file carries its own time, in UDF 1.02 File Entries too, everything else the build's.
TEST(VolumeTime, ImageDatesReadBackInEveryZone) {
  struct Case {
    const char* tz;
    int udfMinutes, isoMinutes;
  };
  const Case cases[] = {
      {"<+14>-14", 840, 0},   {"<+1345>-13:45", 825, 0}, {"<-13>13", -780, 0},
      {"<+13>-13", 780, 780}, {"<-05>5", -300, -300},
  };
  const int64_t fileTime = 1700000000;
  test::TempDir src, out;
  test::WriteFile(src / "file.txt", "dated\n");
  const struct timespec times[2] = {{fileTime, 0}, {fileTime, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (src / "file.txt").c_str(), times, 0), 0);
  for (const Case& c : cases) {
    for (FileSystemChoice choice : {FileSystemChoice::Iso9660Udf102,
                                    FileSystemChoice::Udf250}) {  // ISO 9660 + UDF 1.02, UDF 2.50
      SCOPED_TRACE(std::string(c.tz) + ", choice " + ChoiceText(choice));
      ScopedTimeZone zone(c.tz);
      const std::string target = out / "dated.iso";
      const int64_t before = std::time(nullptr);
      auto job = StartImageBuild(Utf8ToUtf16(src.path()).c_str(), u"", choice,
                                 Utf8ToUtf16(target).c_str(), nullptr, nullptr, false, nullptr);
      const int64_t after = std::time(nullptr);
      ASSERT_TRUE(job && job->succeeded);
      const std::string image = test::ReadFile(target);
      const auto* bytes = reinterpret_cast<const uint8_t*>(image.data());
      int fileDates = 0, buildDates = 0;
      auto check = [&](Date d, bool ofFile, int offset) {
        EXPECT_EQ(d.offsetMinutes, offset);
        if (ofFile) {
          EXPECT_EQ(d.time, fileTime);
          ++fileDates;
        } else {
          EXPECT_TRUE(d.time >= before && d.time <= after) << d.time;
          ++buildDates;
        }
      };
      // UDF: every descriptor with a date, found by its tag.
      for (size_t at = 0; at + 2048 <= image.size(); at += 2048) {
        const uint8_t* d = bytes + at;
        const uint16_t id = Le16(d);
        if (id != 1 && id != 9 && id != 256 && id != 261 && id != 266) continue;
        if (!test::ValidTag(d, id, Le32(d + 12), Le16(d + 2))) continue;
        const bool file = (id == 261 || id == 266) && d[27] == 5;  // ICB file type: a file
        std::vector<size_t> fields = {id == 1 ? size_t(376) : size_t(16)};
        if (id == 261) fields = {72, 84, 96};
        if (id == 266) fields = {80, 92, 104, 116};
        for (size_t field : fields) check(UdfDate(d + field), file, c.udfMinutes);
      }
      EXPECT_EQ(fileDates, choice == FileSystemChoice::Iso9660Udf102
                               ? 3
                               : 8);  // a 2.50 entry is in the metadata file and its mirror
      if (choice != FileSystemChoice::Iso9660Udf102) continue;
      // ISO 9660: the volume's creation and modification dates, the root's record and
      // the records of its directory extent.
      const uint8_t* pvd = bytes + 16 * 2048;
      check(IsoVolumeDate(pvd + 813), false, c.isoMinutes);
      check(IsoVolumeDate(pvd + 830), false, c.isoMinutes);
      check(IsoRecordDate(pvd + 156 + 18), false, c.isoMinutes);
      const uint8_t* record = bytes + size_t(Le32(pvd + 156 + 2)) * 2048;
      for (; record[0] != 0; record += record[0]) {
        std::string name = test::Text(record + 33, record[32]);
        for (char& ch : name) ch = char(std::toupper(static_cast<unsigned char>(ch)));
        check(IsoRecordDate(record + 18), name == "FILE.TXT;1", c.isoMinutes);
      }
      EXPECT_EQ(fileDates, 3 + 1);
    }
  }
}

struct LabelCase {
  std::u16string label;  // empty: the default
  uint8_t compression;
  std::string content;  // bytes after the compression identifier in the 128-byte form
  std::string fitted;   // in a 32-byte field
  std::string iso;      // ISO 9660 volume identifier without its blanks
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
  for (char& c : upper31)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  const LabelCase cases[] = {
      {u"", 8, "UNTITLED", "UNTITLED", "UNTITLED"},
      {u"Film", 8, "Film", "Film", "FILM"},
      {latin200, 8, latin200Bytes.substr(0, 126), latin200Bytes.substr(0, 30), upper31},
      {u"Disc \u0100", 16, std::string("\0D\0i\0s\0c\0 \x01\x00", 12),
       std::string("\0D\0i\0s\0c\0 \x01\x00", 12), "NONE"},
      {u"x\xDC80", 16, std::string("\0x\xFF\xFD", 4), std::string("\0x\xFF\xFD", 4),
       "NONE"},  // not UTF-8
      {u"x\U0001F4BF", 16, std::string("\0x\xD8\x3D\xDC\xBF", 6),
       std::string("\0x\xD8\x3D\xDC\xBF", 6), "NONE"},  // a whole pair
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
    EXPECT_EQ(std::string(reinterpret_cast<char*>(builder.settings.volumeLabel), 128), expected);

    uint8_t field[32];
    FitDString(builder.settings, field, 32);
    std::string fitted(32, '\0');
    fitted[0] = char(c.compression);
    fitted.replace(1, c.fitted.size(), c.fitted);
    fitted[31] = char(c.fitted.size() + 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(field), 32), fitted);

    uint8_t iso[32];
    IsoVolumeIdentifier(builder.settings, iso);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(iso), 32),
              c.iso + std::string(32 - c.iso.size(), ' '));
  }
}

TEST(VolumeLabel, SixteenBitLabelKeepsWholeCharacters) {
  ImageBuilder builder;
  builder.Initialize();
  std::u16string label = std::u16string(62, u'\u0100') + u"\U0001F600";  // pair at units 63-64
  builder.SetVolumeLabel(label.c_str());
  EXPECT_EQ(builder.settings.volumeLabel[127], 125);  // 62 units and the compression identifier
  EXPECT_EQ(builder.settings.volumeLabel[125], 0);
}

TEST(VolumeLabel, VolumeSetIdentifiers) {
  ImageBuilder builder;
  builder.settings.buildTime = 0x12345678ABCDEF01;
  builder.plan.volumeSectors = 448;
  uint8_t udf[128], iso[128];
  UdfVolumeSetIdentifier(builder.settings, builder.plan.volumeSectors, udf);
  std::string expected(128, '\0');
  expected.replace(0, 17,
                   "\x08"
                   "ABCDEF01000001C0");
  expected[127] = 17;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(udf), 128), expected);
  IsoVolumeSetIdentifier(iso);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(iso), 128), "UNDEFINED" + std::string(119, ' '));
}

}  // namespace
}  // namespace vellumcast
