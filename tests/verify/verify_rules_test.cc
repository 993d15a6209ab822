// -verify and -compare expect names and the label by their own rules: a name or a label
// field changed in a finished image is found in every tree that carries it, names the
// layout numbers, shortens or maps verify, and -compare finds Rock Ridge and Joliet itself.
#include <gtest/gtest.h>

#include "choice_text.h"
#include "reader_images.h"

namespace vellumcast {
namespace {

using test::At;
using test::Le16;

std::string AllDifferences(const CheckOutcome& c) {
  std::string all;
  for (const std::string& d : c.differences) all += d + "\n";
  return all;
}

std::unique_ptr<BuildJob> Compare(const std::string& source, const std::string& image,
                                  const char16_t* label) {
  BuildOptions options;
  options.compareImage = Utf8ToUtf16(image);
  return StartImageBuild(Utf8ToUtf16(source).c_str(), label, FileSystemChoice::OfImage, u"",
                         "Vellumcast ", "vellumcast_console 1.0", false, nullptr, nullptr, options);
}

// The tag checksum and CRC of the UDF descriptor at `d` after a change (ECMA-167 3/7.2).
void Retag(uint8_t* d) {
  const uint16_t crc = test::BitwiseCrc(d + 16, Le16(d + 10));
  d[8] = uint8_t(crc), d[9] = uint8_t(crc >> 8);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i) sum = uint8_t(sum + (i == 4 ? 0 : d[i]));
  d[4] = sum;
}

// The offset of `pattern` in a sector for which `sectorIs` holds.
size_t FindIn(const std::string& img, const std::string& pattern,
              bool (*sectorIs)(const uint8_t*)) {
  for (size_t at = img.find(pattern); at != std::string::npos; at = img.find(pattern, at + 1)) {
    if (sectorIs(reinterpret_cast<const uint8_t*>(img.data()) + at / 2048 * 2048)) return at;
  }
  ADD_FAILURE() << "not found";
  return 0;
}

bool UdfDirectory(const uint8_t* s) { return Le16(s) == 257; }
bool IsoDirectory(const uint8_t* s) { return Le16(s) != 257; }

// The File Identifier Descriptor whose identifier (compression byte first) begins at `name`.
uint8_t* FidOf(std::string& img, size_t name) {
  uint8_t* sector = At(img, name / 2048);
  for (size_t p = 0; p < name % 2048; p += 4) {
    if (Le16(sector + p) == 257 && p + 38 + Le16(sector + p + 36) == name % 2048) return sector + p;
  }
  ADD_FAILURE() << "no file identifier descriptor";
  return sector;
}

struct Mutation {
  const char* name;
  void (*change)(std::string& img);
  const char* expected;
  bool labelField = false;
};

const std::string kUcs2Side = std::string("\0s\0i\0d\0e\0.\0t\0x\0t", 16);

const Mutation kMutations[] = {
    {"IsoIdentifier", [](std::string& i) { i[i.find("side.txt;1")] = 'S'; },
     "/a/b/side.txt: missing from ISO 9660\n"},
    {"RockRidgeNm",
     [](std::string& i) {
       size_t nm = i.find("side.txt");
       while (i.compare(nm - 5, 2, "NM") != 0) nm = i.find("side.txt", nm + 1);
       i[nm + 7] = 'u';
     },
     "/a/b/side.txt: missing from Rock Ridge\n"},
    {"JolietIdentifier", [](std::string& i) { i[FindIn(i, kUcs2Side, IsoDirectory) + 1] = 'S'; },
     "/a/b/side.txt: missing from Joliet\n"},
    {"UdfIdentifier",
     [](std::string& i) {
       const size_t name = FindIn(i, "\x10" + kUcs2Side, UdfDirectory);
       i[name + 2] = 'S';
       Retag(FidOf(i, name));
     },
     "/a/b/side.txt: missing from UDF 1.02\n"},
    {"IsoLabel", [](std::string& i) { At(i, 16)[40] = 'W'; },
     "label: the ISO 9660 volume identifier is \"WERIFY\", not \"VERIFY\"\n", true},
    {"JolietLabel",
     [](std::string& i) {
       size_t s = 17;
       while (At(i, s)[0] != 2) ++s;
       At(i, s)[41] = 'W';
     },
     "label: the Joliet volume identifier is \"Werify\", not \"Verify\"\n", true},
    {"UdfLogicalVolume",
     [](std::string& i) {
       uint8_t* lvd = At(i, test::FindTag(i, 6));
       lvd[85] = 'W';
       Retag(lvd);
     },
     "label: the UDF logical volume identifier is \"Werify\", not \"Verify\"\n", true},
    {"UdfVolume",
     [](std::string& i) {
       uint8_t* pvd = At(i, test::FindTag(i, 1));
       pvd[25] = 'W';
       Retag(pvd);
     },
     "label: the UDF volume identifier is \"Werify\", not \"Verify\"\n", true},
    {"UdfFileSet",
     [](std::string& i) {
       uint8_t* fsd = At(i, test::FindTag(i, 256));
       fsd[305] = 'W';
       Retag(fsd);
     },
     "label: the UDF file set identifier is \"Werify\", not \"Verify\"\n", true},
};

// A bridge image with Rock Ridge and Joliet verifies; one byte changed in a name or a
// label field is named (the label checked against the one given, or else against the
// image's own), through -compare without -R and -J.
TEST(VerifyOwnRules, ChangedNameOrLabelIsFound) {
  test::TempDir source, out;
  test::MakeReaderTree(source.path());
  BuildOptions options;
  options.verify = options.rockRidge = options.joliet = true;
  auto job =
      StartImageBuild(Utf8ToUtf16(source.path()).c_str(), u"Verify",
                      FileSystemChoice::Iso9660Udf102, Utf8ToUtf16(out / "a.iso").c_str(),
                      "Vellumcast ", "vellumcast_console 1.0", false, nullptr, nullptr, options);
  ASSERT_TRUE(job->succeeded && job->checked) << job->errorMessage;
  EXPECT_TRUE(job->check.Matches()) << AllDifferences(job->check);
  const std::string image = test::ReadFile(out / "a.iso");
  for (const Mutation& m : kMutations) {
    SCOPED_TRACE(m.name);
    std::string img = image;
    m.change(img);
    test::WriteFile(out / "m.iso", img);
    for (const char16_t* label : {u"Verify", static_cast<const char16_t*>(nullptr)}) {
      auto check = Compare(source.path(), out / "m.iso", label);
      ASSERT_TRUE(check->succeeded) << check->errorMessage;
      EXPECT_EQ(check->check.fileSystems, "ISO 9660, Rock Ridge, Joliet and UDF 1.02");
      const std::string all = AllDifferences(check->check);
      if (label || !m.labelField)
        EXPECT_NE(all.find(m.expected), std::string::npos) << all;
      else
        EXPECT_NE(all.find("label: "), std::string::npos) << all;  // the fields disagree
    }
  }
}

// Names the layout maps, cuts, numbers or warns about are expected by the verifier's own
// rules in every kind of image: 8.3 collisions in listing and in sorted order, a name
// past the 64 Joliet and 127 UDF units, characters Joliet refuses, a character beyond the
// BMP, a host name that is not UTF-8.
TEST(VerifyOwnRules, NamesOfEveryRuleVerify) {
  test::TempDir source, out;
  for (const std::string& name : std::vector<std::string>{
           "abcdefghij.txt", "abcdefghik.txt", "abcdefgh.txt", "ABCDEFGH.TXT", "report.tar.gz",
           "x;1.txt", "a*b?c.txt", "\xf0\x9f\x98\x80 smile.txt", "bad\xff.bin",
           std::string(70, 'j') + ".txt", std::string(130, 'u') + ".dat", "VIDEO_TS.IFO"})
    test::WriteFile(source / ("d/" + name), name);
  const std::pair<FileSystemChoice, const char*> choices[] = {
      {FileSystemChoice::Iso9660, "ISO 9660, Rock Ridge and Joliet"},
      {FileSystemChoice::Iso9660Udf102, "ISO 9660, Rock Ridge, Joliet and UDF 1.02"},
      {FileSystemChoice::Udf250, "UDF 2.50"}};
  for (const auto& [choice, systems] : choices) {
    SCOPED_TRACE(systems);
    BuildOptions options;
    options.verify = true;
    options.rockRidge = options.joliet = choice != FileSystemChoice::Udf250;
    auto job = StartImageBuild(Utf8ToUtf16(source.path()).c_str(), u"Name\u00e9s \U0001F600",
                               choice, Utf8ToUtf16(out / "a.iso").c_str(), "Vellumcast ",
                               "vellumcast_console 1.0", false, nullptr, nullptr, options);
    ASSERT_TRUE(job->succeeded && job->checked) << job->errorMessage;
    EXPECT_TRUE(job->check.Matches()) << AllDifferences(job->check);
    EXPECT_EQ(job->check.fileSystems, systems);
    auto check = Compare(source.path(), out / "a.iso", nullptr);
    ASSERT_TRUE(check->succeeded) << check->errorMessage;
    EXPECT_TRUE(check->check.Matches()) << AllDifferences(check->check);
  }
}

}  // namespace
}  // namespace vellumcast
