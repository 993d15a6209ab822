// The output pipeline through WriteImage: progress, stops, changed and missing source
// files, write failures, the temporary target, multi-extent files, interleaved runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "iso_reader.h"
#include "test_support.h"
#include "tree_test_support.h"
#include "writer/byte_order.h"

namespace vellumcast::test {
namespace {

struct ProgressLog {
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  uint32_t stopAt = 0;  // return false once done reaches this (0: never)
  bool stopAtFirst = false;
};

bool Record(uint32_t done, uint32_t total, void* context) {
  auto& log = *static_cast<ProgressLog*>(context);
  log.calls.push_back({done, total});
  if (log.stopAtFirst) return false;
  return log.stopAt == 0 || done < log.stopAt;
}

struct WarningLog {
  std::vector<std::string> texts;
};
void CollectWarning(const std::string& text, void* context) {
  static_cast<WarningLog*>(context)->texts.push_back(text);
}

bool Build(HandTree& t, const std::string& target, ProgressLog* log = nullptr) {
  return t.b.WriteImage(Utf8ToUtf16(target).c_str(), log ? Record : nullptr, log);
}

std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    if (name.find(".vellumcast-tmp-") != std::string::npos) names.push_back(name);
  }
  return names;
}

// Root with three files (2 sectors, 0 bytes, 3 sectors) and a subdirectory with one.
struct SmallTree {
  TempDir src, out;
  HandTree t{src.path() + "/"};
  TreeNode *a, *empty, *c, *d;
  SmallTree() {
    WriteFile(src / "A.BIN", PatternBytes(3000, 1));
    WriteFile(src / "E.BIN", "");
    WriteFile(src / "C.BIN", PatternBytes(5000, 3));
    WriteFile(src / "SUB/D.BIN", PatternBytes(2048, 4));
    a = t.AddFile(t.b.tree.root, "A.BIN", "A.BIN;1", 3000);
    empty = t.AddFile(t.b.tree.root, "E.BIN", "E.BIN;1", 0);
    c = t.AddFile(t.b.tree.root, "C.BIN", "C.BIN;1", 5000);
    TreeNode* sub = t.AddDir(t.b.tree.root, "SUB", "SUB");
    d = t.AddFile(sub, "D.BIN", "D.BIN;1", 2048);
    t.PlanIsoOnly();
  }
  uint32_t FirstSector(const TreeNode* n) const {
    return uint32_t(t.b.plan.dataBase + t.b.plan.fileDataOffset) + n->dataStart;
  }
};

TEST(ImageWriter, ProgressCountsEverySectorAndEndsAtTotal) {
  SmallTree s;
  ProgressLog log;
  std::string target = s.out / "img.iso";
  ASSERT_TRUE(Build(s.t, target, &log)) << s.t.b.log.error;
  const uint32_t total = uint32_t(s.t.b.plan.volumeSectors);
  ASSERT_EQ(total, 32u);
  // 16 zero sectors and the two descriptors one call each, the path tables and the
  // directories one call per run, file data and padding one call per sector.
  std::vector<std::pair<uint32_t, uint32_t>> expected;
  for (uint32_t i = 1; i <= 18; ++i) expected.push_back({i, total});
  uint32_t done = 18;
  for (uint32_t run : {1u, 1u, 1u, 1u})
    expected.push_back({done += run, total});  // L, M, root, SUB
  while (done < total) expected.push_back({++done, total});
  EXPECT_EQ(log.calls, expected);
  EXPECT_EQ(std::filesystem::file_size(target), uint64_t(total) * 2048);
  EXPECT_EQ(CompareIsoWithFolder(target, s.src.path()), "");
  // The empty file shares its position with the next file.
  EXPECT_EQ(s.empty->dataStart, s.c->dataStart);
  EXPECT_TRUE(Leftovers(s.out.path()).empty());
}

TEST(ImageWriter, StopRequestEndsTheBuildAfterTheCurrentSector) {
  for (uint32_t stopAt : {1u, 24u, 28u}) {  // system area, file data, padding
    SmallTree s;
    std::string target = s.out / "img.iso";
    WriteFile(target, "previous image");
    ProgressLog log;
    log.stopAt = stopAt;
    EXPECT_FALSE(Build(s.t, target, &log));
    EXPECT_EQ(s.t.b.log.error, "the build was stopped");
    EXPECT_EQ(log.calls.back().first, stopAt) << "no sector after the stop";
    EXPECT_EQ(ReadFile(target), "previous image");
    EXPECT_TRUE(Leftovers(s.out.path()).empty());
  }
}

TEST(ImageWriter, ChangedSourceFilesKeepTheirPlannedSectors) {
  SmallTree s;
  WarningLog warnings;
  s.t.b.log.warning = CollectWarning;
  s.t.b.log.warningContext = &warnings;
  // A.BIN shrinks to 100 bytes, C.BIN grows past its two planned sectors.
  std::string grown = PatternBytes(9000, 7);
  WriteFile(s.src / "A.BIN", PatternBytes(100, 1));
  WriteFile(s.src / "C.BIN", grown);
  std::string target = s.out / "img.iso";
  ASSERT_TRUE(Build(s.t, target)) << s.t.b.log.error;
  std::string image = ReadFile(target);
  std::string a = image.substr(size_t(s.FirstSector(s.a)) * 2048, 2 * 2048);
  EXPECT_EQ(a, PatternBytes(100, 1) + std::string(4096 - 100, '\0'));
  std::string c = image.substr(size_t(s.FirstSector(s.c)) * 2048, 3 * 2048);
  EXPECT_EQ(c, grown.substr(0, 3 * 2048));
  std::string d = image.substr(size_t(s.FirstSector(s.d)) * 2048, 2048);
  EXPECT_EQ(d, PatternBytes(2048, 4));
  ASSERT_EQ(warnings.texts.size(), 2u);
  EXPECT_EQ(warnings.texts[0], s.src / "A.BIN" + " changed size while the image was written");
  EXPECT_EQ(warnings.texts[1], s.src / "C.BIN" + " changed size while the image was written");
}

TEST(ImageWriter, MissingSourceFileFailsTheBuild) {
  SmallTree s;
  std::filesystem::remove(s.src / "SUB/D.BIN");
  std::string target = s.out / "img.iso";
  EXPECT_FALSE(Build(s.t, target));
  EXPECT_EQ(s.t.b.log.error, "cannot read " + s.src / "SUB/D.BIN" + ": No such file or directory");
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_TRUE(Leftovers(s.out.path()).empty());
}

TEST(ImageWriter, DeviceTargets) {
  {
    SmallTree s;
    EXPECT_FALSE(Build(s.t, "/dev/full"));
    EXPECT_EQ(s.t.b.log.error, "cannot write /dev/full: No space left on device");
  }
  {
    SmallTree s;
    ProgressLog log;
    EXPECT_TRUE(Build(s.t, "/dev/null", &log)) << s.t.b.log.error;
    EXPECT_EQ(log.calls.back(), std::make_pair(32u, 32u));
  }
  {
    SmallTree s;
    std::string target = s.out / "no-such-dir/img.iso";
    EXPECT_FALSE(Build(s.t, target));
    EXPECT_EQ(s.t.b.log.error, "cannot write " + target + ": No such file or directory");
  }
}

TEST(ImageWriter, ReplacesAnExistingImageOnlyWhenComplete) {
  SmallTree s;
  std::string target = s.out / "img.iso";
  WriteFile(target, "old");
  chmod(target.c_str(), 0640);
  std::string link = s.out / "link.iso";
  std::filesystem::create_symlink(target, link);
  ASSERT_TRUE(Build(s.t, link)) << s.t.b.log.error;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(std::filesystem::file_size(target), 32u * 2048);
  EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
            std::filesystem::perms(0640));
  EXPECT_TRUE(Leftovers(s.out.path()).empty());
}

// The interleaved run of a stereoscopic pair: dependent extent i, then base extent i.
// A run whose extents do not cover the two clips exactly is never cut or filled up: the
// build stops with an error.
TEST(ImageWriter, StereoscopicRunInterleavesTheTwoClips) {
  struct Case {
    std::vector<uint32_t> baseExtents, dependentExtents;
    bool ok;
  };
  const Case cases[] = {{{2, 3}, {1, 3}, true}, {{2, 2}, {1, 3}, false}, {{2, 3}, {1, 4}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.baseExtents) +
                 ::testing::PrintToString(c.dependentExtents));
    TempDir src, out;
    std::string base = PatternBytes(5 * 2048, 11), dependent = PatternBytes(4 * 2048 - 100, 12);
    WriteFile(src / "00001.m2ts", base);
    WriteFile(src / "00002.m2ts", dependent);
    HandTree t(src.path() + "/");
    StereoClipPair pair;
    pair.baseSectors = 5;
    pair.dependentSectors = 4;
    pair.baseExtents = c.baseExtents;
    pair.dependentExtents = c.dependentExtents;
    TreeNode* b = t.AddFile(t.b.tree.root, "00001.m2ts", "00001.M2TS;1", base.size());
    TreeNode* d = t.AddFile(t.b.tree.root, "00002.m2ts", "00002.M2TS;1", dependent.size());
    for (TreeNode* n : {b, d}) {
      n->stereoPair = &pair;
      n->baseNode = b;
      n->dependentNode = d;
    }
    b->kind = StereoBase;
    d->kind = StereoDependent;
    t.PlanIsoOnly();
    std::string target = out / "3d.iso";
    if (!c.ok) {
      EXPECT_FALSE(Build(t, target));
      EXPECT_EQ(t.b.log.error, "internal error: the interleaved extents of " + src.path() +
                                   "/00002.m2ts and " + src.path() +
                                   "/00001.m2ts do not cover the two clips");
      continue;
    }
    ASSERT_TRUE(Build(t, target)) << t.b.log.error;
    std::string image = ReadFile(target);
    std::string run = image.substr(
        size_t(t.b.plan.dataBase + t.b.plan.fileDataOffset + d->dataStart) * 2048, 9 * 2048);
    std::string paddedDependent = dependent + std::string(100, '\0');
    std::string expected = paddedDependent.substr(0, 2048) + base.substr(0, 2 * 2048) +
                           paddedDependent.substr(2048, 3 * 2048) + base.substr(2 * 2048, 3 * 2048);
    EXPECT_EQ(run, expected);
  }
}

}  // namespace
}  // namespace vellumcast::test
