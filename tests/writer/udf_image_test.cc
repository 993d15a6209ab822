// Whole UDF images (1.02, 2.50 and the ISO 9660 + UDF 1.02 bridge) read back in-process
// with libudfread and walked descriptor by descriptor from the anchors.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bdmv_fixture.h"
#include "build/build_job.h"
#include "build/image_builder.h"
#include "choice_text.h"
#include "platform/text.h"
#include "test_support.h"
#include "udf_descriptor_walker.h"
#include "udf_reader.h"
#include "udf_tag_check.h"

namespace vellumcast {
namespace {

using test::Le16;
using test::Le32;
using test::Le64;

// A tree with nested directories, a directory whose identifiers span several blocks,
// an empty file, files around one sector and Unicode names.
void MakeTree(const test::TempDir& dir) {
  test::WriteFile(dir / "empty.bin", "");
  test::WriteFile(dir / "s2047.bin", test::PatternBytes(2047, 1));
  test::WriteFile(dir / "s2048.bin", test::PatternBytes(2048, 2));
  test::WriteFile(dir / "s2049.bin", test::PatternBytes(2049, 3));
  test::WriteFile(dir / "a/b/c/deep.txt", "deep\n");
  test::WriteFile(dir / "a/b/side.txt", test::PatternBytes(5000, 4));
  test::WriteFile(dir / "Grüße/日本語のファイル.txt", "unicode\n");
  std::filesystem::create_directories(dir / "a/emptydir");
  for (int i = 0; i < 90; ++i)
    test::WriteFile(
        dir / ("many/file-with-a-rather-long-name-number-" + std::to_string(i) + ".dat"),
        std::string(size_t(i), char('a' + i % 26)));
}

struct Built {
  bool ok = false;
  bool written = false;
  std::string image;
};

// The warning callback has no context: a build's warnings are collected here.
std::vector<std::string> warnings;
void CollectWarning(const std::string& text, void*) { warnings.push_back(text); }

Built Build(const std::string& source, const std::string& target, FileSystemChoice choice) {
  Built b;
  std::u16string src = Utf8ToUtf16(source), dst = Utf8ToUtf16(target);
  warnings.clear();
  auto job = StartImageBuild(src.c_str(), u"Test Label", choice, dst.c_str(), "Vellumcast ",
                             "vellumcast_console 1.0", false, nullptr, CollectWarning);
  b.ok = job && job->succeeded;
  b.written = std::filesystem::exists(target) && std::filesystem::file_size(target) > 0;
  if (b.written) b.image = test::ReadFile(target);
  return b;
}

class UdfImage : public ::testing::TestWithParam<FileSystemChoice> {};

TEST_P(UdfImage, ReadsBackAndEveryTagChecks) {
  test::TempDir source, out;
  MakeTree(source);
  const std::string target = out / "image.iso";
  Built built = Build(source.path(), target, GetParam());
  ASSERT_TRUE(built.ok && built.written);
  ASSERT_EQ(built.image.size() % (32 * 2048), 0u);

  test::TreeListing expected = test::ListSourceFolder(source.path());
  test::TreeListing listed;
  std::string error, volumeId;
  ASSERT_TRUE(test::ListUdfImage(target, listed, error, &volumeId)) << error;
  EXPECT_EQ(volumeId, "Test Label");
  ASSERT_EQ(listed.size(), expected.size());
  for (const auto& [path, entry] : expected) {
    auto it = listed.find(path);
    ASSERT_NE(it, listed.end()) << path;
    EXPECT_EQ(it->second.directory, entry.directory) << path;
    EXPECT_EQ(it->second.bytes.size(), entry.bytes.size()) << path;
    EXPECT_TRUE(it->second.bytes == entry.bytes) << path;
  }

  test::UdfWalkReport report = test::WalkUdfDescriptors(built.image);
  for (const std::string& p : report.problems) ADD_FAILURE() << p;
  uint32_t files = 0, directories = 1;
  for (const auto& [path, entry] : expected) (entry.directory ? directories : files)++;
  EXPECT_EQ(report.files, files);
  EXPECT_EQ(report.directories, directories);
  EXPECT_EQ(report.lvidFiles, files);
  EXPECT_EQ(report.lvidDirectories, directories);
  EXPECT_EQ(report.revision,
            GetParam() == FileSystemChoice::Iso9660Udf102 || GetParam() == FileSystemChoice::Udf102
                ? 0x0102
                : 0x0250);
}

std::string ChoiceName(const ::testing::TestParamInfo<FileSystemChoice>& info) {
  switch (info.param) {
    case FileSystemChoice::Iso9660Udf102: return "IsoUdf102";
    case FileSystemChoice::Default: return "Default";
    case FileSystemChoice::Udf102: return "Udf102";
    default: return "Udf250";
  }
}

INSTANTIATE_TEST_SUITE_P(Choices, UdfImage,
                         ::testing::Values(FileSystemChoice::Iso9660Udf102,
                                           FileSystemChoice::Default, FileSystemChoice::Udf102,
                                           FileSystemChoice::Udf250),
                         ChoiceName);

// An empty folder in UDF 1.02: partition at 257 with a 4-block area (File Set
// Descriptor, terminator, root entry of 40 bytes, one block with the parent entry).
TEST(UdfImageLayout, EmptyFolderUdf102) {
  test::TempDir source, out;
  const std::string target = out / "empty.img";
  Built built = Build(source.path(), target, FileSystemChoice::Udf102);
  ASSERT_TRUE(built.ok && built.written);
  ASSERT_EQ(built.image.size(), 288u * 2048);
  auto sector = [&](size_t s) {
    return reinterpret_cast<const uint8_t*>(built.image.data()) + s * 2048;
  };
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sector(16) + 1), 5), "BEA01");
  EXPECT_EQ(Le16(sector(257)), 256);
  EXPECT_EQ(Le16(sector(258)), 8);
  const uint8_t* root = sector(259);
  EXPECT_TRUE(test::ValidTag(root, 261, 2, 2));
  EXPECT_EQ(Le64(root + 56), 40u);
  EXPECT_EQ(Le16(root + 48), 1);
  const uint8_t* fid = sector(260);
  EXPECT_TRUE(test::ValidTag(fid, 257, 3, 2));
  EXPECT_EQ(fid[18], 0x0A);
  EXPECT_EQ(Le32(fid + 24), 2u);
  EXPECT_EQ(std::count(fid + 40, fid + 2048, 0), 2048 - 40);
  for (size_t s = 261; s < 287; ++s) EXPECT_EQ(std::count(sector(s), sector(s + 1), 0), 2048) << s;
  EXPECT_TRUE(test::ValidTag(sector(287), 2, 287, 2));
}

// Stereoscopic clips of 240 and 115 extents: their entries continue in Allocation
// Extent Descriptors, and the clips and their .ssif views read back byte for byte.
TEST(UdfImageLayout, StereoscopicClipsWithContinuedExtents) {
  test::BdmvFixture f;
  auto clip = [](int32_t number, uint32_t extents) {
    test::FixtureClip c{number, extents * 32, {}};
    for (uint32_t i = 0; i < extents; ++i) c.startPoints.push_back(i * 32);
    return c;
  };
  f.clips = {clip(1, 240), clip(2, 240), clip(3, 115), clip(4, 115)};
  test::FixturePlaylist playlist;
  playlist.playItems = test::ClipNames({1, 3});
  playlist.subPlayItems = test::ClipNames({2, 4});
  f.playlists = {playlist};
  f.pairs = {{1, 2}, {3, 4}};
  test::TempDir source, out;
  f.Write(source.path());
  const std::string target = out / "bd.iso";
  Built built = Build(source.path(), target, FileSystemChoice::Default);
  ASSERT_TRUE(built.ok && built.written);

  test::UdfWalkReport report = test::WalkUdfDescriptors(built.image);
  for (const std::string& p : report.problems) ADD_FAILURE() << p;
  // Reached from the two clips and the two .ssif entries: 2 + 1 for each clip of 240
  // extents, 1 for each of 115; an .ssif file is one contiguous extent.
  EXPECT_EQ(report.allocationExtents, 2u * 2 + 2 * 1);
  test::TreeListing listed;
  std::string error;
  ASSERT_TRUE(test::ListUdfImage(target, listed, error)) << error;
  for (int32_t n : {1, 2, 3, 4}) {
    char name[32];
    std::snprintf(name, sizeof name, "BDMV/STREAM/%05d.m2ts", n);
    EXPECT_TRUE(listed[name].bytes == test::StreamBytes(n, f.Clip(n)->packets)) << name;
  }
  EXPECT_TRUE(listed["BDMV/STREAM/SSIF/00001.ssif"].bytes == f.Interleave(1, 2));
  EXPECT_TRUE(listed["BDMV/STREAM/SSIF/00003.ssif"].bytes == f.Interleave(3, 4));
  // The data is stored once: the image holds each stream's sectors a single time.
  EXPECT_LT(built.image.size(), 2 * 2048 * (240 * 3 * 2 + 115 * 3 * 2) + 2048 * 1024);
}

// A stereoscopic plan set by hand, as the Blu-ray analysis would leave it: extents of
// any length, a dependent view with more extents than its base, an unpaired clip and a
// source SSIF folder whose 00001.ssif (of the interleave's size) the made-up entry
// replaces. A plan that names a missing clip or a clip of another size is given up: the
// clips are recorded as they are, the source's SSIF folder with them.
TEST(UdfImageLayout, StereoscopicPlanSetByHand) {
  struct Clip {
    uint16_t number;
    uint32_t sectors;
  };
  const Clip clips[] = {{1, 6}, {2, 5}, {3, 4}, {4, 2}, {5, 3}};
  auto pair = [](uint16_t base, uint16_t dependent, std::vector<uint32_t> b,
                 std::vector<uint32_t> d) {
    StereoClipPair p;
    p.baseClip = base;
    p.dependentClip = dependent;
    for (uint32_t e : b) p.baseSectors += e;
    for (uint32_t e : d) p.dependentSectors += e;
    p.baseExtents = b;
    p.dependentExtents = d;
    return p;
  };
  const StereoClipPair first = pair(1, 2, {2, 3, 1}, {1, 2, 2}), second = pair(3, 4, {4}, {1, 1});
  struct Case {
    const char* name;
    StereoPlan plan;
    bool applied;
  };
  const Case cases[] = {
      {"applied", {first, second}, true},
      {"clip missing", {first, pair(3, 6, {4}, {1, 1})}, false},
      {"size differs", {pair(1, 2, {2, 3, 2}, {1, 2, 2}), second}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir source, out;
    // Each sector of a clip starts with the clip number and the sector index.
    std::map<uint16_t, std::string> stream;
    uint32_t dataSectors = 1;  // index.bdmv
    for (const Clip& clip : clips) {
      stream[clip.number] =
          test::StreamBytes(clip.number, clip.sectors * 11).substr(0, clip.sectors * 2048);
      char name[32];
      std::snprintf(name, sizeof name, "BDMV/STREAM/%05u.m2ts", clip.number);
      test::WriteFile(source / name, stream[clip.number]);
      dataSectors += clip.sectors;
    }
    test::WriteFile(source / "BDMV/index.bdmv", "INDX0200");
    test::WriteFile(source / "BDMV/STREAM/SSIF/00001.ssif", std::string(11 * 2048, 's'));

    ImageBuilder b;
    b.Initialize();
    b.settings.formatFlags = FormatUdf;
    b.settings.udfRevision = 0x0250;
    b.tree.stereoPlan = std::make_unique<StereoPlan>(c.plan);
    const std::string target = out / "bd.iso";
    ASSERT_TRUE(b.ScanSourceTree(Utf8ToUtf16(source.path() + "/").c_str())) << b.log.error;
    ASSERT_TRUE(b.PlanLayout()) << b.log.error;
    ASSERT_TRUE(b.WriteImage(Utf8ToUtf16(target).c_str(), nullptr, nullptr)) << b.log.error;

    test::UdfWalkReport report = test::WalkUdfDescriptors(test::ReadFile(target));
    for (const std::string& p : report.problems) ADD_FAILURE() << p;
    test::TreeListing listed, expected = test::ListSourceFolder(source.path());
    std::string error;
    ASSERT_TRUE(test::ListUdfImage(target, listed, error)) << error;
    if (c.applied) {
      // .ssif: dependent extent 1, base extent 1, dependent extent 2, ...
      for (const StereoClipPair* p : {&first, &second}) {
        std::string run;
        uint32_t d = 0, bs = 0;
        for (size_t i = 0; i < p->dependentExtents.size(); ++i) {
          run += stream[p->dependentClip].substr(d * 2048, p->dependentExtents[i] * 2048);
          d += p->dependentExtents[i];
          if (i >= p->baseExtents.size()) continue;
          run += stream[p->baseClip].substr(bs * 2048, p->baseExtents[i] * 2048);
          bs += p->baseExtents[i];
        }
        char name[40];
        std::snprintf(name, sizeof name, "BDMV/STREAM/SSIF/%05u.ssif", p->baseClip);
        expected[name].bytes = run;
      }
    }
    EXPECT_EQ(listed.size(), expected.size());
    for (const auto& [path, entry] : expected) {
      auto found = listed.find(path);
      ASSERT_NE(found, listed.end()) << path;
      EXPECT_EQ(found->second.directory, entry.directory) << path;
      EXPECT_TRUE(found->second.bytes == entry.bytes) << path;
    }
    // Every stream sector is stored once: the .ssif files add no data.
    EXPECT_EQ(uint32_t(b.plan.fileDataSectors), dataSectors + (c.applied ? 0 : 11));
    EXPECT_EQ(std::filesystem::file_size(target), uint64_t(b.plan.volumeSectors) * 2048);
  }
}

// A full name that UDF records shortened (longer than 127 UTF-16 units) or numbered (equal
// to another after conversion) draws a warning naming the source path and the name on the
// disc; after 20 of them one line counts the rest. ISO 9660 identifiers draw none.
TEST(UdfImageNames, ChangedFullNamesAreNamedOnce) {
  test::TempDir source;
  test::WriteFile(source / "a\xFE", "first");
  test::WriteFile(source / "a\xFF", "second");  // both a\uFFFD in UDF
  const std::string longName(200, 'L');
  for (int i = 0; i < 23; ++i)
    test::WriteFile(source / ("long/" + longName + std::to_string(i) + ".txt"), "x");
  for (FileSystemChoice choice : {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102,
                                  FileSystemChoice::Udf102, FileSystemChoice::Udf250}) {
    test::TempDir out;
    ASSERT_TRUE(Build(source.path(), out / "image.iso", choice).ok);
    if (choice == FileSystemChoice::Iso9660) {
      EXPECT_TRUE(warnings.empty()) << warnings[0];
      continue;
    }
    ASSERT_EQ(warnings.size(), 21u) << choice;
    EXPECT_EQ(
        warnings[0],
        source / "a\xFF" +
            " is named \"a\uFFFD~1\" in UDF: another name of its folder has the same UDF form");
    test::TreeListing listed;
    std::string error;
    ASSERT_TRUE(test::ListUdfImage(out / "image.iso", listed, error)) << error;
    for (size_t i = 1; i < 20; ++i) {
      const std::string& w = warnings[i];
      EXPECT_TRUE(w.starts_with(source / "long/" + longName)) << w;
      EXPECT_TRUE(w.ends_with("\" in UDF: the name is longer than a UDF file identifier can hold"))
          << w;
      size_t open = w.find(" is named \"") + 11;
      EXPECT_EQ(listed.count("long/" + w.substr(open, w.find('"', open) - open)), 1u) << w;
    }
    EXPECT_EQ(warnings[20], "4 more names are shortened or numbered in UDF (24 in all)");
  }
}

}  // namespace
}  // namespace vellumcast
