// Links in the finished image: Rock Ridge continuation areas where a reader going forward
// meets them, hard links stored once, and with Rock Ridge symbolic links, special files
// and the UDF side's owners and permissions; read back through the program's readers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "build/build_job.h"
#include "layout/link_records.h"
#include "platform/text.h"
#include "reader/ecma167_descriptors.h"
#include "reader/iso9660_tree.h"
#include "reader/susp_entries.h"
#include "reader/udf_tree.h"
#include "test_support.h"

namespace vellumcast::test {
namespace {

struct Built {
  bool ok = false;
  std::string error, image;
};

Built Build(const TempDir& src, const TempDir& out, FileSystemChoice choice, bool rockRidge,
            bool joliet = false) {
  BuildOptions options;
  options.buildTime = 1700000000;
  options.rockRidge = rockRidge;
  options.joliet = joliet;
  options.verify = true;  // the program's own check accepts what it wrote
  auto job = StartImageBuild(Utf8ToUtf16(src.path()).c_str(), u"LINKS", choice,
                             Utf8ToUtf16(out / "img.iso").c_str(), "Vellumcast ", "test 1.0", false,
                             nullptr, nullptr, options);
  Built b{job->succeeded, job->errorMessage, {}};
  if (b.ok) b.image = ReadFile(out / "img.iso");
  return b;
}

uint32_t Le32(const std::string& s, size_t at) {
  return uint8_t(s[at]) | uint8_t(s[at + 1]) << 8 | uint8_t(s[at + 2]) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}

std::map<std::string, ImageEntry> Entries(const std::string& image, int tree) {
  TempDir dir;
  WriteFile(dir / "i.iso", image);
  ImageSource source;
  EXPECT_TRUE(source.Open(dir / "i.iso")) << source.error;
  ImageTree read;
  ReadReport report;
  const bool ok = tree < 0 ? ReadUdfTree(source, read, report)
                           : ReadIso9660Tree(source, read, report, {}, IsoNames(tree));
  EXPECT_TRUE(ok);
  for (const ReadProblem& p : report.problems) ADD_FAILURE() << p.text;
  std::map<std::string, ImageEntry> byPath;
  for (ImageEntry& e : read.entries) byPath[e.path] = std::move(e);
  return byPath;
}
constexpr int kUdfTree = -1;

// A stream reader reads the image front to back: every continuation area of a directory's
// records lies after the directory's extent and before the next directory's extent.
TEST(Links, ContinuationAreasLieBeforeTheNextDirectory) {
  TempDir src, out;
  const std::string d(150, 'd');
  WriteFile(src / ("a" + d + "/b" + d + "/c" + d + "/f" + d), "x");
  WriteFile(src / ("e" + d + "/g" + d), "y");
  for (FileSystemChoice choice : {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102}) {
    Built b = Build(src, out, choice, true, true);
    ASSERT_TRUE(b.ok) << b.error;
    // Directory extents from the type L path table (PVD: size at 132, location at 140).
    const std::string pvd = b.image.substr(16 * 2048, 2048);
    const std::string table = b.image.substr(size_t(Le32(pvd, 140)) * 2048, Le32(pvd, 132));
    std::vector<uint32_t> extents;
    for (size_t at = 0; at < table.size(); at += 8 + uint8_t(table[at]) + uint8_t(table[at]) % 2)
      extents.push_back(Le32(table, at + 2));
    std::sort(extents.begin(), extents.end());
    int areas = 0;
    for (size_t i = 0; i < extents.size(); ++i) {
      const std::string sector = b.image.substr(size_t(extents[i]) * 2048, 2048);
      for (size_t at = 0; at < 2048 && sector[at]; at += uint8_t(sector[at])) {
        const size_t use = 33 + uint8_t(sector[at + 32]) + (uint8_t(sector[at + 32]) % 2 ? 0 : 1);
        SuspFindings found;
        const char* why = nullptr;
        ASSERT_TRUE(
            DecodeSuspArea(ByteSpan(reinterpret_cast<const uint8_t*>(sector.data()) + at + use,
                                    uint8_t(sector[at]) - use),
                           found, why));
        if (!found.haveContinuation) continue;
        ++areas;
        EXPECT_GT(found.ceBlock, extents[i]);
        if (i + 1 < extents.size()) {
          EXPECT_LT(found.ceBlock, extents[i + 1]);
        }
      }
    }
    EXPECT_EQ(areas, 1 + 6);  // the root's ER, every long name
    EXPECT_TRUE(Entries(b.image, kIsoRockRidgeNames).count("a" + d + "/b" + d + "/c" + d));
  }
}

// The names of one hard-linked file share one data extent in every tree and one UDF File
// Entry with the link count; Rock Ridge PX has the count too.
TEST(Links, HardLinksStoredOnce) {
  TempDir src;
  WriteFile(src / "one.bin", PatternBytes(300000, 7));
  std::filesystem::create_directories(src / "sub");
  ASSERT_EQ(link((src / "one.bin").c_str(), (src / "two.bin").c_str()), 0);
  ASSERT_EQ(link((src / "one.bin").c_str(), (src / "sub/three.bin").c_str()), 0);
  WriteFile(src / "other.bin", PatternBytes(1000, 8));
  struct Case {
    FileSystemChoice choice;
    bool rockRidge;
    std::vector<int> trees;
  } cases[] = {
      {FileSystemChoice::Iso9660, true, {kIsoPlainNames, kIsoRockRidgeNames}},
      {FileSystemChoice::Iso9660Udf102, false, {kIsoPlainNames, kUdfTree}},
      {FileSystemChoice::Udf102, false, {kUdfTree}},
      {FileSystemChoice::Udf250, false, {kUdfTree}},
  };
  for (const Case& c : cases) {
    TempDir out;
    Built b = Build(src, out, c.choice, c.rockRidge);
    ASSERT_TRUE(b.ok) << b.error;
    for (int tree : c.trees) {
      auto entries = Entries(b.image, tree);
      const ImageEntry& one = entries["one.bin"];
      ASSERT_EQ(one.extents.size(), 1u);
      for (const char* name : {"two.bin", "sub/three.bin"}) {
        ASSERT_EQ(entries[name].extents.size(), 1u) << name;
        EXPECT_EQ(entries[name].extents[0].sector, one.extents[0].sector) << name;
        EXPECT_EQ(entries[name].links, tree == kIsoPlainNames ? 0u : 3u) << name;
      }
      EXPECT_NE(entries["other.bin"].extents[0].sector, one.extents[0].sector);
    }
  }
}

// With -R: links keep their text (dangling ones too), a link to a file of the image shows
// its bytes to readers without Rock Ridge, a FIFO keeps its type; the UDF side of the
// bridge records the same. Without -R links are followed and the FIFO left out.
TEST(Links, RockRidgeKeepsLinksAndSpecialFiles) {
  TempDir src;
  WriteFile(src / "data/file.txt", PatternBytes(5000, 3));
  ASSERT_EQ(symlink("data/file.txt", (src / "to-file").c_str()), 0);
  ASSERT_EQ(symlink("../nowhere/x", (src / "data/dangling").c_str()), 0);
  ASSERT_EQ(symlink("/data//", (src / "absolute").c_str()), 0);
  ASSERT_EQ(mkfifo((src / "fifo").c_str(), 0640), 0);
  TempDir out;
  Built b = Build(src, out, FileSystemChoice::Iso9660Udf102, true, true);
  ASSERT_TRUE(b.ok) << b.error;
  for (int tree : {int(kIsoRockRidgeNames), kUdfTree}) {
    auto entries = Entries(b.image, tree);
    const std::pair<const char*, const char*> links[] = {
        {"to-file", "data/file.txt"}, {"data/dangling", "../nowhere/x"}, {"absolute", "/data"}};
    for (const auto& [name, target] : links) {
      EXPECT_EQ(entries[name].posixType, 0120000u) << name;
      EXPECT_EQ(entries[name].linkTarget, target) << name;
    }
    EXPECT_EQ(entries["fifo"].posixType, 0010000u);
  }
  auto joliet = Entries(b.image, kIsoJolietNames);
  EXPECT_EQ(joliet["to-file"].size, 5000u);
  ASSERT_EQ(joliet["to-file"].extents.size(), 1u);
  EXPECT_EQ(joliet["to-file"].extents[0].sector, joliet["data/file.txt"].extents[0].sector);
  EXPECT_EQ(joliet["data/dangling"].size, 0u);

  Built plain = Build(src, out, FileSystemChoice::Iso9660Udf102, false);
  ASSERT_TRUE(plain.ok) << plain.error;
  auto entries = Entries(plain.image, kUdfTree);
  EXPECT_EQ(entries.count("fifo") + entries.count("data/dangling"), 0u);
  EXPECT_EQ(entries["to-file"].posixType, 0100000u);
  EXPECT_EQ(entries["to-file"].size, 5000u);
}

// The SL entries and UDF path components of link texts read back as the text a reader
// rebuilds: repeated and final slashes have no component.
TEST(Links, LinkTextRecords) {
  const std::string longName = std::string(250, 'n') + "/z";  // SL splits the component
  const std::pair<const char*, const char*> cases[] = {
      {"a/b", "a/b"},
      {"/usr/lib/", "/usr/lib"},
      {"../../x", "../../x"},
      {"./a//b", "./a/b"},
      {"/", "/"},
      {"é/ü", "é/ü"},
      {"日本/語", "日本/語"},
      {longName.c_str(), longName.c_str()},
  };
  for (const auto& [text, shown] : cases) {
    const std::string expected = shown;
    const std::string sl = RockRidgeSlEntries(text);
    SuspFindings found;
    const char* why = nullptr;
    ASSERT_TRUE(DecodeSuspArea(ByteSpan(reinterpret_cast<const uint8_t*>(sl.data()), sl.size()),
                               found, why))
        << text;
    EXPECT_FALSE(found.linkContinues);
    EXPECT_EQ(found.linkTarget, expected);
    const std::string udf = UdfPathComponents(text);
    std::string decoded;
    ASSERT_TRUE(DecodeUdfPathComponents(
        ByteSpan(reinterpret_cast<const uint8_t*>(udf.data()), udf.size()), decoded));
    EXPECT_EQ(decoded, expected);
  }
}

// The UDF side of a bridge image with -R records what Rock Ridge does: owner, group,
// rwx permissions and the set-id bit (ICB flag); without -R no owner and r-x for all.
TEST(Links, UdfSideRecordsRockRidgeOwners) {
  if (geteuid() != 0) GTEST_SKIP() << "changing a file's owner needs root";
  TempDir src;
  WriteFile(src / "tool", "#!/bin/sh\n");
  ASSERT_EQ(chown((src / "tool").c_str(), 1234, 5678), 0);
  ASSERT_EQ(chmod((src / "tool").c_str(), 04751), 0);
  for (bool rockRidge : {true, false}) {
    TempDir out;
    BuildOptions options;  // the build's own time: owners are recorded as they are
    options.rockRidge = rockRidge;
    auto job = StartImageBuild(
        Utf8ToUtf16(src.path()).c_str(), u"O", FileSystemChoice::Iso9660Udf102,
        Utf8ToUtf16(out / "img.iso").c_str(), "V ", "t", false, nullptr, nullptr, options);
    ASSERT_TRUE(job->succeeded) << job->errorMessage;
    const std::string image = ReadFile(out / "img.iso");
    // The file's File Entry (tag 261, file type 5) is the only regular one.
    size_t found = 0;
    for (size_t at = 0; at + 2048 <= image.size(); at += 2048) {
      if (Le32(image, at) % 65536 != 261 || uint8_t(image[at + 16 + 11]) != 5) continue;
      ++found;
      EXPECT_EQ(Le32(image, at + 36), rockRidge ? 1234u : 0xFFFFFFFFu);
      EXPECT_EQ(Le32(image, at + 40), rockRidge ? 5678u : 0xFFFFFFFFu);
      // 0751: owner rwx (0x1C00), group r-x (0x0280... as 0x00A0), others --x (0x01).
      EXPECT_EQ(Le32(image, at + 44), rockRidge ? 0x1C00u | 0x00A0u | 0x01u : 0x14A5u);
      const uint16_t flags = uint8_t(image[at + 16 + 18]) | uint8_t(image[at + 16 + 19]) << 8;
      EXPECT_EQ(flags & 0x40, rockRidge ? 0x40 : 0);
    }
    EXPECT_EQ(found, 1u);
  }
}

}  // namespace
}  // namespace vellumcast::test
