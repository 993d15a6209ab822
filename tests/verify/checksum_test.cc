// The checksum list of --checksums and -check: the list's bytes are what `sha256sum`
// prints for the folder (under each choice's names), and a check of the image alone
// names a changed byte, an unreadable sector and its file, and goes on after both.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "reader/iso9660_tree.h"
#include "reader/udf_tree.h"
#include "reader_images.h"
#include "verify/checksum_check.h"

namespace vellumcast {
namespace {

struct Choice {
  const char* name;
  FileSystemChoice choice;
  bool rockRidgeJoliet;
  bool udfView;  // names as UDF shows them (else Rock Ridge's: the host's bytes)
};
const Choice kChoices[] = {
    {"CD -R -J", FileSystemChoice::Iso9660, true, false},
    {"DVD", FileSystemChoice::Iso9660Udf102, false, true},
    {"DVD -R -J", FileSystemChoice::Iso9660Udf102, true, true},
    {"UDF 1.02", FileSystemChoice::Udf102, false, true},
    {"UDF 2.50", FileSystemChoice::Default, false, true},
};

std::string Build(const std::string& source, const std::string& target, const Choice& c,
                  bool checksums = true) {
  BuildOptions options;
  options.rockRidge = options.joliet = c.rockRidgeJoliet;
  options.checksums = checksums;
  options.buildTime = 1700000000;
  auto job =
      StartImageBuild(Utf8ToUtf16(source).c_str(), u"Sums", c.choice, Utf8ToUtf16(target).c_str(),
                      "Vellumcast ", "vellumcast_console 1.0", false, nullptr, nullptr, options);
  EXPECT_TRUE(job->succeeded) << job->errorMessage;
  return job->succeeded ? test::ReadFile(target) : std::string();
}

void MakeOddTree(const std::string& root) {
  test::WriteFile(root + "/with space.txt", "space");
  test::WriteFile(root + "/back\\slash.txt", "backslash");
  test::WriteFile(root + "/new\nline.txt", "newline");
  test::WriteFile(root +
                      "/bad\xff"
                      "byte.bin",
                  test::PatternBytes(5000, 3));
  test::WriteFile(root + "/sub/\xf0\x9f\x92\xbf disc.txt", "emoji");
  test::WriteFile(root + "/sub/big.bin", test::PatternBytes(300000, 7));
  test::WriteFile(root + "/empty.txt", "");
}

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The list as the image holds it, read through the UDF tree or the Rock Ridge tree.
std::string ListOf(const std::string& img, bool udf) {
  ImageSource image;
  image.OpenMemory(reinterpret_cast<const uint8_t*>(img.data()), img.size());
  ImageTree tree;
  ReadReport report;
  if (!(udf ? ReadUdfTree(image, tree, report)
            : ReadIso9660Tree(image, tree, report, {}, kIsoRockRidgeNames)))
    return {};
  for (const ImageEntry& e : tree.entries) {
    if (e.path != "SHA256SUMS") continue;
    std::string text(size_t(e.size), '\0');
    if (!ReadEntryBytes(image, e, 0, reinterpret_cast<uint8_t*>(text.data()), text.size()))
      return {};
    return text;
  }
  return {};
}

CheckOutcome CheckByItself(const std::string& img, std::vector<uint64_t> unreadable = {}) {
  ImageSource image;
  image.OpenMemory(reinterpret_cast<const uint8_t*>(img.data()), img.size());
  image.unreadable = unreadable;
  CheckOutcome outcome;
  SumCheck sums;
  EXPECT_TRUE(CheckImageChecksums(image, outcome, sums));
  EXPECT_TRUE(sums.listFound);
  return outcome;
}

TEST(ChecksumList, IsWhatSha256sumPrintsForTheFolder) {
  test::TempDir source, out;
  MakeOddTree(source.path());
  const test::CommandResult sums =
      test::RunCommand("cd '" + source.path() + "' && find . -type f -print0 | xargs -0 sha256sum");
  ASSERT_EQ(sums.exitCode, 0);
  for (const Choice& c : kChoices) {
    SCOPED_TRACE(c.name);
    const std::string img = Build(source.path(), out / "a.iso", c);
    ASSERT_FALSE(img.empty());
    std::string expected = sums.out;
    // UDF records a byte that is no UTF-8 as U+FFFD; Rock Ridge keeps the host's bytes.
    if (c.udfView) expected.replace(expected.find("\xff"), 1, "\xef\xbf\xbd");
    EXPECT_EQ(SortedLines(ListOf(img, c.udfView)), SortedLines(expected));
    const CheckOutcome checked = CheckByItself(img);
    EXPECT_TRUE(checked.Matches()) << (checked.differences.empty() ? "" : checked.differences[0]);
    EXPECT_EQ(checked.files, 7u);
  }
}

// Where a file's data begins in the image (the UDF tree of an ISO 9660 + UDF image).
uint64_t DataSector(const std::string& img, const std::string& path) {
  ImageSource image;
  image.OpenMemory(reinterpret_cast<const uint8_t*>(img.data()), img.size());
  ImageTree tree;
  ReadReport report;
  EXPECT_TRUE(ReadUdfTree(image, tree, report));
  for (const ImageEntry& e : tree.entries)
    if (e.path == path && !e.extents.empty()) return e.extents[0].sector;
  ADD_FAILURE() << "no data of " << path;
  return 0;
}

TEST(CheckByItself, NamesChangedBytesAndUnreadableSectorsAndGoesOn) {
  test::TempDir source, out;
  MakeOddTree(source.path());
  std::string img = Build(source.path(), out / "a.iso", kChoices[1]);
  ASSERT_FALSE(img.empty());
  const uint64_t big = DataSector(img, "sub/big.bin");
  const uint64_t bad = DataSector(img,
                                  "bad\xef\xbf\xbd"
                                  "byte.bin");
  img[size_t(big) * 2048 + 70000] ^= 0x20;
  const CheckOutcome outcome = CheckByItself(img, {bad + 1});
  ASSERT_EQ(outcome.differences.size(), 2u);
  EXPECT_EQ(outcome.differences[0],
            "/bad\xef\xbf\xbd"
            "byte.bin: unreadable sector " +
                std::to_string(bad + 1));
  EXPECT_EQ(outcome.differences[1],
            "/sub/big.bin: its bytes differ from its SHA-256 in SHA256SUMS");
  EXPECT_EQ(outcome.files, 7u);  // every listed file was still looked at
}

TEST(ChecksumList, FolderNameIsRefusedAndComparisonFindsTheList) {
  test::TempDir source, out;
  MakeOddTree(source.path());
  const std::string img = Build(source.path(), out / "a.iso", kChoices[2]);
  // -compare is not told: it finds the list in the image and checks it too.
  BuildOptions options;
  options.compareImage = Utf8ToUtf16(out / "a.iso");
  auto job =
      StartImageBuild(Utf8ToUtf16(source.path()).c_str(), u"", FileSystemChoice::OfImage, u"",
                      "Vellumcast ", "vellumcast_console 1.0", false, nullptr, nullptr, options);
  ASSERT_TRUE(job->checked) << job->errorMessage;
  EXPECT_TRUE(job->check.Matches()) << job->check.differences[0];
  test::WriteFile(source / "sha256sums", "mine");
  BuildOptions asked;
  asked.checksums = true;
  auto refused = StartImageBuild(Utf8ToUtf16(source.path()).c_str(), u"", FileSystemChoice::Default,
                                 Utf8ToUtf16(out / "b.iso").c_str(), "Vellumcast ",
                                 "vellumcast_console 1.0", false, nullptr, nullptr, asked);
  EXPECT_FALSE(refused->succeeded);
  EXPECT_NE(refused->errorMessage.find("already has sha256sums"), std::string::npos);
}

}  // namespace
}  // namespace vellumcast
