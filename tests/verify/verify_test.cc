// -verify and -compare: every kind of build verifies; damaged copies, missing and extra
// entries are each named; the refused combinations write nothing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "choice_text.h"
#include "reader/ecma167_descriptors.h"
#include "reader_images.h"

namespace vellumcast {
namespace {

using test::At;
using test::FindTag;
using test::Le32;

std::string AllDifferences(const CheckOutcome& c) {
  std::string all;
  for (const std::string& d : c.differences) all += d + "\n";
  return all;
}

// A build of `source` to `target` with -verify, or (with `compare`) a comparison of
// `target` with `source`; choice 0 compares through the image's own file systems.
std::unique_ptr<BuildJob> Check(const std::string& source, const std::string& target,
                                FileSystemChoice choice, bool compare,
                                bool rockRidgeJoliet = false) {
  BuildOptions options;
  options.verify = !compare;
  options.rockRidge = options.joliet = rockRidgeJoliet;
  if (compare) options.compareImage = Utf8ToUtf16(target);
  // A comparison is given no label, as on the command line: it takes the image's.
  return StartImageBuild(Utf8ToUtf16(source).c_str(), compare ? nullptr : u"Verify", choice,
                         compare ? u"" : Utf8ToUtf16(target).c_str(), "Vellumcast ",
                         "vellumcast_console 1.0", false, nullptr, nullptr, options);
}

// Every entry below `root` gets modification time `t`, so that a folder made again after
// a build has the times the image records.
void SetTimes(const std::string& root, time_t t) {
  const timespec times[2] = {{t, 0}, {t, 0}};
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    ASSERT_EQ(utimensat(AT_FDCWD, e.path().c_str(), times, 0), 0);
}

struct VerifyCase {
  const char* name;
  void (*make)(const std::string&);
  FileSystemChoice choice;
  const char* fileSystems;
};

const VerifyCase kVerifyCases[] = {
    {"Iso9660", test::MakeReaderTree, FileSystemChoice::Iso9660, "ISO 9660"},
    {"Bridge", test::MakeReaderTree, FileSystemChoice::Iso9660Udf102, "ISO 9660 and UDF 1.02"},
    {"Udf102", test::MakeReaderTree, FileSystemChoice::Udf102, "UDF 1.02"},
    {"Udf250", test::MakeReaderTree, FileSystemChoice::Udf250, "UDF 2.50"},
    {"DvdVideo", test::MakeDvdVideoFolder, FileSystemChoice::Iso9660Udf102,
     "ISO 9660 and UDF 1.02"},
    {"Stereoscopic", test::MakeStereoFolder, FileSystemChoice::Default, "UDF 2.50"},
    {"ContinuedExtents", test::MakeContinuedExtentsFolder, FileSystemChoice::Default, "UDF 2.50"},
};

void PrintTo(const VerifyCase& c, std::ostream* os) { *os << c.name; }

class VerifyBuild : public ::testing::TestWithParam<VerifyCase> {};

// The build verifies, and a comparison through the image's own file systems agrees.
TEST_P(VerifyBuild, PassesAndComparesAlike) {
  const VerifyCase& c = GetParam();
  test::TempDir source, out;
  c.make(source.path());
  for (bool compare : {false, true}) {
    auto job = Check(source.path(), out / "a.iso", compare ? FileSystemChoice::OfImage : c.choice,
                     compare);
    ASSERT_TRUE(job->succeeded) << job->errorMessage;
    ASSERT_TRUE(job->checked);
    EXPECT_TRUE(job->check.Matches()) << AllDifferences(job->check);
    EXPECT_EQ(job->check.fileSystems, c.fileSystems);
    EXPECT_GT(job->check.files, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Choices, VerifyBuild, ::testing::ValuesIn(kVerifyCases),
                         [](const ::testing::TestParamInfo<VerifyCase>& info) {
                           return std::string(info.param.name);
                         });

struct DamageCase {
  const char* name;
  int base;  // 0: ISO 9660 + UDF 1.02, 1: UDF 2.50
  std::function<void(std::string&)> damage;
  const char* expected;  // a difference holds this text
};

// The first byte of the image where the bytes of a file of the reader tree begin.
size_t DataOf(const std::string& img, const std::string& bytes) {
  return img.find(bytes.substr(0, 64));
}

const DamageCase kDamageCases[] = {
    {"FileData", 0, [](std::string& i) { i[DataOf(i, test::PatternBytes(70000, 4)) + 5000] ^= 1; },
     "/a/b/side.txt: byte 5000 differs from the source (ISO 9660)\n/a/b/side.txt: byte 5000 "
     "differs from the source (UDF 1.02)"},
    {"FileEntry", 0, [](std::string& i) { At(i, FindTag(i, 261, 257, 5))[60] ^= 1; },
     "tag crc wrong"},
    {"FileIdentifier", 0, [](std::string& i) { At(i, FindTag(i, 257, 257))[18] ^= 0x10; },
     "udf: file identifier at block"},
    {"DirectoryRecord", 0,
     [](std::string& i) {
       uint8_t* root = At(i, Le32(At(i, 16) + 158));
       root[root[0] + root[root[0]]] = 33;
     },
     "record length too small"},
    {"PathTable", 0, [](std::string& i) { At(i, Le32(At(i, 16) + 140))[10 + 3] ^= 0x40; },
     "path table"},
    {"WrongCrc", 0, [](std::string& i) { At(i, FindTag(i, 6))[8] ^= 1; },
     "main volume descriptor sequence"},
    {"Truncated", 0, [](std::string& i) { i.resize(i.size() - 64 * 2048); },
     "passes the end of the image"},
    {"MetadataMirror", 1,
     [](std::string& i) {
       const uint8_t* mirror = At(i, FindTag(i, 266, 257, 251));
       const uint32_t block = Le32(mirror + 216 + Le32(mirror + 208) + 4);
       At(i, Le32(At(i, FindTag(i, 5)) + 188) + block)[300] ^= 1;
     },
     "differs from the metadata file at byte 300"},
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class CompareDamaged : public ::testing::TestWithParam<DamageCase> {
 public:
  static void SetUpTestSuite() {
    test::MakeReaderTree(source.path());
    images[0] =
        test::BuildReaderImage(source.path(), out / "a.iso", FileSystemChoice::Iso9660Udf102);
    images[1] = test::BuildReaderImage(source.path(), out / "b.iso", FileSystemChoice::Udf250);
  }
  static test::TempDir source, out;
  static std::string images[2];
};
test::TempDir CompareDamaged::source, CompareDamaged::out;
std::string CompareDamaged::images[2];

TEST_P(CompareDamaged, DiffersNamingWhat) {
  const DamageCase& c = GetParam();
  ASSERT_FALSE(images[c.base].empty());
  std::string img = images[c.base];
  c.damage(img);
  test::WriteFile(out / "damaged.iso", img);
  auto job = Check(source.path(), out / "damaged.iso", FileSystemChoice::OfImage, true);
  ASSERT_TRUE(job->succeeded) << job->errorMessage;
  EXPECT_FALSE(job->check.Matches());
  EXPECT_NE(AllDifferences(job->check).find(c.expected), std::string::npos)
      << AllDifferences(job->check);
}

INSTANTIATE_TEST_SUITE_P(Copies, CompareDamaged, ::testing::ValuesIn(kDamageCases),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                           return std::string(info.param.name);
                         });

// An entry only in the folder and one only in the image are each named, in every file
// system of the image; a folder missing as a whole is named once.
TEST(CompareEntries, ExtraInFolderAndInImage) {
  test::TempDir source, out;
  test::MakeReaderTree(source.path());
  ASSERT_FALSE(test::BuildReaderImage(source.path(), out / "a.iso", FileSystemChoice::Iso9660Udf102)
                   .empty());
  test::WriteFile(source / "added.txt", "new\n");
  test::WriteFile(source / "new/inner.txt", "new\n");
  std::filesystem::remove(source / "s2047.bin");
  auto job = Check(source.path(), out / "a.iso", FileSystemChoice::OfImage, true);
  ASSERT_TRUE(job->succeeded) << job->errorMessage;
  EXPECT_EQ(AllDifferences(job->check),
            "/added.txt: missing from ISO 9660\n"
            "/new: missing from ISO 9660\n"
            "/s2047.bin: a file in ISO 9660 that the folder does not have\n"
            "/added.txt: missing from UDF 1.02\n"
            "/new: missing from UDF 1.02\n"
            "/s2047.bin: a file in UDF 1.02 that the folder does not have\n"
            "/: link count 4, expected 5 (UDF 1.02)\n");
}

// Each kind of difference with a UDF image of the folder is named: a size, a file where
// the folder has a folder (whose entries are not looked for) and the reverse (whose
// entries are then extra), a folder the folder no longer has (named alone, without its
// entries); each change of the number of folders at the root changes its link count.
TEST(CompareEntries, EachKindOfDifference) {
  namespace fs = std::filesystem;
  test::TempDir built, out;
  test::MakeReaderTree(built.path());
  SetTimes(built.path(), 1700000000);
  ASSERT_FALSE(
      test::BuildReaderImage(built.path(), out / "a.iso", FileSystemChoice::Udf102).empty());
  const std::pair<void (*)(const std::string&), const char*> changes[] = {
      {[](const std::string& s) { test::WriteFile(s + "/s2049.bin", "short"); },
       "/s2049.bin: 2049 bytes in UDF 1.02, 5 in the source\n"},
      {[](const std::string& s) {
         fs::remove(s + "/s2047.bin"), test::WriteFile(s + "/s2047.bin/inner", "x");
       },
       "/s2047.bin: a file in UDF 1.02, a folder in the source\n"
       "/: link count 4, expected 5 (UDF 1.02)\n"},
      {[](const std::string& s) {
         fs::remove_all(s + "/Grüße"), test::WriteFile(s + "/Grüße", "x");
       },
       "/Grüße: a folder in UDF 1.02, a file in the source\n"
       "/Grüße/日本語のファイル.txt: a file in UDF 1.02 that the folder does not have\n"
       "/: link count 4, expected 3 (UDF 1.02)\n"},
      {[](const std::string& s) { fs::remove_all(s + "/a"); },
       "/a: a folder in UDF 1.02 that the folder does not have\n"
       "/: link count 4, expected 3 (UDF 1.02)\n"},
  };
  for (const auto& [change, expected] : changes) {
    test::TempDir source;
    test::MakeReaderTree(source.path());
    change(source.path());
    SetTimes(source.path(), 1700000000);
    auto job = Check(source.path(), out / "a.iso", FileSystemChoice::OfImage, true);
    ASSERT_TRUE(job->succeeded) << job->errorMessage;
    EXPECT_EQ(AllDifferences(job->check), expected);
  }
}

// -R -J: the Rock Ridge names and the Joliet tree verify beside ISO 9660 (and UDF); a
// flipped byte in an NM entry or a Joliet directory record is named.
TEST(VerifyRockRidgeJoliet, PassesAndNamesDamage) {
  test::TempDir source, out;
  test::MakeReaderTree(source.path());
  test::WriteFile(
      source /
          "a long name with spaces, \xc3\xa9t\xc3\xa9 and more than the ISO 9660 level allows.txt",
      "x\n");
  const std::pair<FileSystemChoice, const char*> builds[] = {
      {FileSystemChoice::Iso9660, "ISO 9660, Rock Ridge and Joliet"},
      {FileSystemChoice::Iso9660Udf102, "ISO 9660, Rock Ridge, Joliet and UDF 1.02"}};
  for (const auto& [choice, systems] : builds) {
    for (bool compare : {false, true}) {
      auto job = Check(source.path(), out / "a.iso", compare ? FileSystemChoice::OfImage : choice,
                       compare, true);
      ASSERT_TRUE(job->succeeded) << job->errorMessage;
      ASSERT_TRUE(job->checked);
      EXPECT_TRUE(job->check.Matches()) << AllDifferences(job->check);
      EXPECT_EQ(job->check.fileSystems, systems);
    }
  }
  const std::string image = test::ReadFile(out / "a.iso");
  const std::string rrName = "NM", jolietName = std::string("\0s\0i\0d\0e", 8);
  size_t nm = image.find("side.txt");
  while (nm != std::string::npos && image.compare(nm - 5, 2, rrName) != 0)
    nm = image.find("side.txt", nm + 1);
  const size_t joliet = image.find(jolietName);
  ASSERT_NE(nm, std::string::npos);
  ASSERT_NE(joliet, std::string::npos);
  const std::pair<size_t, const char*> damages[] = {
      {nm - 3, "rock ridge: directory record at sector "},
      {joliet - 1, "joliet: directory record at sector "}};
  for (const auto& [at, expected] : damages) {
    std::string img = image;
    img[at] = char(0xF0);
    test::WriteFile(out / "damaged.iso", img);
    auto job = Check(source.path(), out / "damaged.iso", FileSystemChoice::OfImage, true, true);
    ASSERT_TRUE(job->succeeded) << job->errorMessage;
    EXPECT_NE(AllDifferences(job->check).find(expected), std::string::npos)
        << AllDifferences(job->check);
  }
}

// The console: "Verified" after "Done"; differences as errors with the rest counted;
// -verify with "-o -" or -size and -compare with a target are refused before anything
// is written.
TEST(VerifyConsole, OutcomeAndRefusals) {
  test::TempDir source, out;
  for (int i = 0; i < 25; ++i) test::WriteFile(source / ("f" + std::to_string(i)), "x");
  const std::string bin = test::Binary() + " " + test::Quote(source.path()) + " ";
  test::CommandResult r =
      test::RunCommand(bin + test::Quote(out / "a.iso") + " -verify -filesystem DVD");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Done\n"), std::string::npos);
  EXPECT_NE(r.out.find("Verified: 25 files, 25 bytes in ISO 9660 and UDF 1.02\n"),
            std::string::npos)
      << r.out;

  test::TempDir empty;
  r = test::RunCommand(test::Binary() + " " + test::Quote(empty.path()) + " -compare " +
                       test::Quote(out / "a.iso"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Error: /f0: a file in ISO 9660 that the folder does not have\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Error: ... and 30 more differences\nError: " + (out / "a.iso") +
                       " does not match the folder\n"),
            std::string::npos)
      << r.err;

  for (const char* refused : {" -o - -verify", " b.iso -size -verify", " b.iso -compare a.iso",
                              " -compare a.iso -verify"}) {
    r = test::RunCommand("cd " + test::Quote(out.path()) + " && " + bin + refused);
    EXPECT_EQ(r.exitCode, 1) << refused;
    EXPECT_TRUE(r.out.empty()) << refused;
    EXPECT_NE(r.err.find("Error: -"), std::string::npos) << refused << r.err;
    EXPECT_FALSE(std::filesystem::exists(out / "b.iso")) << refused;
  }
}

}  // namespace
}  // namespace vellumcast
