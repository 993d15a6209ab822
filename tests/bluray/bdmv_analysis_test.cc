// AnalyzeBdmvFolder over generated BDMV folders: qualification of playlists, the pair
// map, the clip information files and their failures.
#include "bluray/bdmv_analysis.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "bdmv_fixture.h"
#include "platform/text.h"
#include "test_support.h"

namespace vellumcast {
namespace {

using test::BdmvFixture;
using test::ClipNames;
using test::FixtureClip;
using test::FixturePlaylist;

struct Expected {
  uint16_t baseClip, dependentClip;
  uint32_t baseSectors, dependentSectors;
  std::vector<uint32_t> baseExtents, dependentExtents;
};

const Expected kPair12{1, 2, 27, 18, {9, 9, 9}, {6, 6, 6}};
const Expected kPair34{3, 4, 30, 12, {15, 15}, {3, 9}};

bool Analyze(const std::string& root, StereoPlan& plan, std::string* reason = nullptr) {
  std::string text;
  bool ok = AnalyzeBdmvFolder(Utf8ToUtf16(root + "/").c_str(), plan, text);
  if (reason) *reason = text;
  return ok;
}

void ExpectPlan(const StereoPlan& plan, const std::vector<Expected>& expected) {
  ASSERT_EQ(plan.size(), expected.size());
  for (size_t i = 0; i < plan.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(plan[i].baseClip, expected[i].baseClip);
    EXPECT_EQ(plan[i].dependentClip, expected[i].dependentClip);
    EXPECT_EQ(plan[i].baseSectors, expected[i].baseSectors);
    EXPECT_EQ(plan[i].dependentSectors, expected[i].dependentSectors);
    EXPECT_EQ(plan[i].baseExtents, expected[i].baseExtents);
    EXPECT_EQ(plan[i].dependentExtents, expected[i].dependentExtents);
  }
}

FixtureClip& ClipOf(BdmvFixture& f, int32_t number) {
  for (auto& c : f.clips) {
    if (c.number == number) return c;
  }
  f.clips.push_back({number, 0, {}});
  return f.clips.back();
}

struct FolderCase {
  const char* name;
  std::function<void(BdmvFixture&)> change;                 // before writing
  std::function<void(const std::string& bdmv)> afterWrite;  // files changed on disk
  bool result;
  std::vector<Expected> plan;  // when result is true
  const char* reason = "";     // when result is false: part of the reason; "": no 3D content
};

void Replace(const std::string& path, size_t keep, const std::string& tail = "") {
  std::string bytes = test::ReadFile(path);
  test::WriteFile(path, bytes.substr(0, keep) + tail);
}

TEST(BdmvAnalysis, FolderCases) {
  const std::vector<FolderCase> cases = {
      {"stereoscopic folder", nullptr, nullptr, true, {kPair12, kPair34}},
      {"two-dimensional folder",
       [](BdmvFixture& f) { f = test::FlatFixture(); },
       nullptr,
       false,
       {}},
      {"no index", [](BdmvFixture& f) { f.writeIndex = false; }, nullptr, false, {}},
      {"index without stereoscopic flag",
       [](BdmvFixture& f) { f.stereoscopic = false; },
       nullptr,
       false,
       {}},
      {"empty PLAYLIST folder", [](BdmvFixture& f) { f.playlists.clear(); }, nullptr, false, {}},
      {"no PLAYLIST folder",
       nullptr,
       [](const std::string& b) { std::filesystem::remove_all(b + "/PLAYLIST"); },
       false,
       {}},
      {"playlist without ExtensionData",
       [](BdmvFixture& f) { f.playlists[0].extensionData = false; },
       nullptr,
       false,
       {}},
      {"playlist without STN_table_SS",
       [](BdmvFixture& f) { f.playlists[0].stnTableSs = false; },
       nullptr,
       false,
       {}},
      {"playlist without SubPath entries",
       [](BdmvFixture& f) { f.playlists[0].subPathEntries = false; },
       nullptr,
       false,
       {}},
      {"first SubPath one SubPlayItem short, a later one matching",
       [](BdmvFixture& f) {
         f.playlists[0].subPlayItems = ClipNames({2});
         f.playlists[0].moreSubPaths = {ClipNames({2, 4})};
       },
       nullptr,
       false,
       {}},
      {"first SubPath one SubPlayItem too many",
       [](BdmvFixture& f) {
         f.playlists[0].subPlayItems = ClipNames({2, 4, 4});
       },
       nullptr,
       false,
       {}},
      {"playlist with no PlayItems",
       [](BdmvFixture& f) {
         f.playlists[0].playItems.clear();
         f.playlists[0].subPlayItems.clear();
       },
       nullptr,
       false,
       {}},
      {"a base clip paired with two dependent clips",
       [](BdmvFixture& f) {
         f.playlists[0].playItems = ClipNames({1, 3, 1});
         f.playlists[0].subPlayItems = ClipNames({4, 2, 2});
       },
       nullptr,
       false,
       {},
       "clip 00001 belongs to two pairs (00001+00002 in BDMV/PLAYLIST/00000.mpls, 00001+00004 in "},
      {"one dependent clip for two base clips",
       [](BdmvFixture& f) {
         f.playlists[0].subPlayItems = ClipNames({2, 2});
       },
       nullptr,
       false,
       {},
       "clip 00002 belongs to two pairs (00001+00002"},
      {"chained pairs",
       [](BdmvFixture& f) {
         f.playlists[0].playItems = ClipNames({1, 2});
         f.playlists[0].subPlayItems = ClipNames({2, 3});
       },
       nullptr,
       false,
       {},
       "clip 00002 belongs to two pairs"},
      {"a clip paired with itself",
       [](BdmvFixture& f) {
         f.playlists[0].subPlayItems = ClipNames({1, 4});
       },
       nullptr,
       false,
       {},
       "clip 00001 is paired with itself"},
      {"clip numbers equal modulo 65536",
       [](BdmvFixture& f) {
         f.playlists[0].playItems = {"00001", "70000"};
         f.playlists[0].subPlayItems = {"04464", "00004"};
       },
       nullptr,
       false,
       {},
       "clip 70000 belongs to two pairs (00001+04464"},
      {"the same pair in two PlayItems yields one record",
       [](BdmvFixture& f) {
         f.playlists[0].playItems = ClipNames({1, 3, 1});
         f.playlists[0].subPlayItems = ClipNames({2, 4, 2});
       },
       nullptr,
       true,
       {kPair12, kPair34}},
      {"records ascend by base clip",
       [](BdmvFixture& f) {
         f.playlists[0].playItems = ClipNames({3, 1});
         f.playlists[0].subPlayItems = ClipNames({4, 2});
       },
       nullptr,
       true,
       {kPair12, kPair34}},
      {"a base clip in two playlists yields one record",
       [](BdmvFixture& f) {
         FixturePlaylist again = f.playlists[0];
         again.name = "00002.mpls";
         f.playlists.push_back(again);
       },
       nullptr,
       true,
       {kPair12, kPair34}},
      {"upper-case extension is not a playlist",
       [](BdmvFixture& f) { f.playlists[0].name = "00000.MPLS"; },
       nullptr,
       false,
       {}},
      {"extension after .mpls is not a playlist",
       [](BdmvFixture& f) { f.playlists[0].name = "00000.mpls.bak"; },
       nullptr,
       false,
       {}},
      {"folder named like a playlist",
       [](BdmvFixture& f) { f.playlists.erase(f.playlists.begin()); },
       [](const std::string& b) {
         std::filesystem::create_directories(b + "/PLAYLIST/x.mpls");
         test::WriteFile(b + "/PLAYLIST/x.mpls/00000.mpls",
                         test::PlaylistBytes(test::StereoscopicFixture().playlists[0]));
       },
       false,
       {}},
      {"name without a dot",
       [](BdmvFixture& f) { f.playlists[0].name = "mpls"; },
       nullptr,
       false,
       {}},
      {"blocks padded and stored in reverse",
       [](BdmvFixture& f) {
         f.playlists[0].layout = {13, true};
       },
       nullptr,
       true,
       {kPair12, kPair34}},
      {"dependent clip information missing, base without extents",
       [](BdmvFixture& f) {
         ClipOf(f, 2).writeInformation = false;
         ClipOf(f, 1).startPoints.clear();
       },
       nullptr,
       false,
       {},
       "BDMV/CLIPINF/00001.clpi: no extent start points for its 288 source packets"},
      {"dependent clip information missing, base with extents",
       [](BdmvFixture& f) { ClipOf(f, 2).writeInformation = false; },
       nullptr,
       false,
       {},
       "BDMV/CLIPINF/00002.clpi cannot be read"},
      {"base clip information missing",
       [](BdmvFixture& f) { ClipOf(f, 3).writeInformation = false; },
       nullptr,
       false,
       {},
       "BDMV/CLIPINF/00003.clpi cannot be read"},
      {"clips ending inside a sector",
       [](BdmvFixture& f) {
         ClipOf(f, 1).packets = 300;
         ClipOf(f, 2).packets = 200;
       },
       nullptr,
       true,
       {{1, 2, 29, 19, {9, 9, 11}, {6, 6, 7}}, kPair34}},
      {"start point off the 32-packet grid",
       [](BdmvFixture& f) {
         ClipOf(f, 1).startPoints = {0, 100, 192};
       },
       nullptr,
       false,
       {},
       "BDMV/CLIPINF/00001.clpi: extent start point 100 is not a multiple of 32 source packets"},
      {"first start point not 0",
       [](BdmvFixture& f) {
         ClipOf(f, 3).startPoints = {32, 160};
       },
       nullptr,
       false,
       {},
       "BDMV/CLIPINF/00003.clpi: the first extent start point is 32, not 0"},
      {"stream file shorter than its packets",
       [](BdmvFixture& f) { ClipOf(f, 4).streamBytes = 128 * 192 - 100; },
       nullptr,
       false,
       {},
       "BDMV/STREAM/00004.m2ts holds 24476 bytes, but its clip information gives 128 source "
       "packets "
       "(24576 bytes)"},
      {"packet count whose byte size wraps at 2^32",
       [](BdmvFixture& f) {
         f.writeSsif = false;
         ClipOf(f, 2).packets = 0x40000001;
         ClipOf(f, 2).startPoints = {0};
         ClipOf(f, 2).streamBytes = 192;
       },
       nullptr,
       false,
       {},
       "BDMV/STREAM/00002.m2ts holds 192 bytes, but its clip information gives 1073741825"},
      {"packet count 0xFFFFFFFF",
       [](BdmvFixture& f) {
         f.writeSsif = false;
         ClipOf(f, 4).packets = 0xFFFFFFFF;
         ClipOf(f, 4).startPoints = {0};
         ClipOf(f, 4).streamBytes = 4294967104 % 6144;
       },
       nullptr,
       false,
       {},
       "BDMV/STREAM/00004.m2ts holds"},
      {"stream file missing",
       [](BdmvFixture& f) { ClipOf(f, 2).writeStream = false; },
       nullptr,
       false,
       {},
       "BDMV/STREAM/00002.m2ts cannot be read"},
      {"clip numbers above 65535",
       [](BdmvFixture& f) {
         f.playlists[0].playItems = {"70000"};
         f.playlists[0].subPlayItems = {"99999"};
         f.clips.push_back({70000, 288, {0, 96, 192}});
         f.clips.push_back({99999, 192, {0, 64, 128}});
       },
       nullptr,
       true,
       {{70000 - 65536, 99999 - 65536, 27, 18, {9, 9, 9}, {6, 6, 6}}}},
      {"clip names read as decimal numbers",
       [](BdmvFixture& f) {
         f.playlists[0].playItems = {" +1xy", "00003"};
         f.playlists[0].subPlayItems = {"2abcd", "004.5"};
       },
       nullptr,
       true,
       {kPair12, kPair34}},
      {"start points not strictly increasing",
       [](BdmvFixture& f) {
         ClipOf(f, 4).startPoints = {0, 32, 32};
       },
       nullptr,
       false,
       {},
       "BDMV/CLIPINF/00004.clpi: extent start point 32 does not rise above 32"},
      {"start point at the clip's end",
       [](BdmvFixture& f) {
         ClipOf(f, 4).startPoints = {0, 128};
       },
       nullptr,
       false,
       {},
       "00004.clpi: extent start point 128 is not below the clip's 128 source packets"},
      {"single start point beyond the clip",
       [](BdmvFixture& f) {
         ClipOf(f, 1).startPoints = {0};
         ClipOf(f, 2).startPoints = {193};
       },
       nullptr,
       false,
       {},
       "00002.clpi: the first extent start point is 193, not 0"},
      {"base view with more extents than the dependent view",
       [](BdmvFixture& f) {
         ClipOf(f, 2).startPoints = {0, 96};
       },
       nullptr,
       false,
       {},
       "BDMV/CLIPINF/00001.clpi gives more extents (3) than BDMV/CLIPINF/00002.clpi (2)"},
      {"index truncated inside AppInfoBDMV",
       nullptr,
       [](const std::string& b) { Replace(b + "/index.bdmv", 60); },
       false,
       {}},
      {"index with another type indicator",
       nullptr,
       [](const std::string& b) {
         Replace(b + "/index.bdmv", 0, "INDY" + test::ReadFile(b + "/index.bdmv").substr(4));
       },
       false,
       {}},
      {"index start address at the file size",
       nullptr,
       [](const std::string& b) { Replace(b + "/index.bdmv", 78); },
       false,
       {}},
      {"stereoscopic playlist truncated",
       nullptr,
       [](const std::string& b) { Replace(b + "/PLAYLIST/00000.mpls", 200); },
       false,
       {}},
      {"base clip information truncated",
       nullptr,
       [](const std::string& b) { Replace(b + "/CLIPINF/00003.clpi", 230); },
       false,
       {},
       "BDMV/CLIPINF/00003.clpi"},
      {"dependent clip information truncated in its ExtensionData",
       nullptr,
       [](const std::string& b) {
         std::string bytes = test::ReadFile(b + "/CLIPINF/00002.clpi");
         Replace(b + "/CLIPINF/00002.clpi", bytes.size() - 3);
       },
       false,
       {},
       "BDMV/CLIPINF/00002.clpi"},
      {"empty clip information file",
       [](BdmvFixture& f) { ClipOf(f, 1).startPoints.clear(); },
       [](const std::string& b) { test::WriteFile(b + "/CLIPINF/00001.clpi", ""); },
       false,
       {},
       "BDMV/CLIPINF/00001.clpi cannot be read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    BdmvFixture f = test::StereoscopicFixture();
    if (c.change) c.change(f);
    f.Write(dir.path());
    if (c.afterWrite) c.afterWrite(dir.path() + "/BDMV");
    StereoPlan plan;
    std::string reason;
    bool result = Analyze(dir.path(), plan, &reason);
    EXPECT_EQ(result, c.result) << reason;
    if (result && c.result) ExpectPlan(plan, c.plan);
    if (!result) {
      EXPECT_EQ(reason.empty(), !*c.reason) << reason;
      EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
  }
}

// Two playlists that pair one base-view clip differently cannot both be served by one
// interleaved file: the plan is given up, naming both.
TEST(BdmvAnalysis, PlaylistsPairingOneClipDifferentlyGiveUp) {
  test::TempDir dir;
  BdmvFixture f = test::StereoscopicFixture();
  FixturePlaylist a = f.playlists[0], b = f.playlists[0];
  a.name = "00011.mpls";
  a.playItems = ClipNames({3});
  a.subPlayItems = ClipNames({2});
  b.name = "00010.mpls";
  b.playItems = ClipNames({3});
  b.subPlayItems = ClipNames({4});
  f.playlists = {a, b};
  f.Write(dir.path());
  StereoPlan plan;
  std::string reason;
  ASSERT_FALSE(Analyze(dir.path(), plan, &reason));
  EXPECT_EQ(
      reason,
      "clip 00003 belongs to two pairs (00003+00002 in BDMV/PLAYLIST/00011.mpls, 00003+00004 in "
      "BDMV/PLAYLIST/00010.mpls)");
}

TEST(BdmvAnalysis, GeneratedInterleaveFollowsThePlan) {
  test::TempDir dir;
  BdmvFixture f = test::StereoscopicFixture();
  f.Write(dir.path());
  StereoPlan plan;
  ASSERT_TRUE(Analyze(dir.path(), plan));
  for (const auto& pair : plan) {
    std::string base =
        test::ReadFile(dir.path() + "/BDMV/STREAM/0000" + std::to_string(pair.baseClip) + ".m2ts");
    std::string dependent = test::ReadFile(dir.path() + "/BDMV/STREAM/0000" +
                                           std::to_string(pair.dependentClip) + ".m2ts");
    std::string run;
    size_t b = 0, d = 0;
    for (const auto& piece : pair.InterleavedRun()) {
      size_t& at = piece.dependentView ? d : b;
      run += (piece.dependentView ? dependent : base).substr(at, piece.sectors * 2048);
      at += piece.sectors * 2048;
    }
    EXPECT_EQ(run.size(), size_t(pair.RunSectors()) * 2048);
    EXPECT_TRUE(run == test::ReadFile(dir.path() + "/BDMV/STREAM/SSIF/0000" +
                                      std::to_string(pair.baseClip) + ".ssif"));
  }
}

// The interleaving rule through its one operation: the pieces in run order with their
// offsets, long extents cut at the longest recorded extent, empty extents left out.
TEST(StereoClipPair, InterleavedRunPieces) {
  using Piece = std::tuple<bool, uint32_t, uint32_t>;  // dependent view, offset, sectors
  struct Case {
    std::vector<uint32_t> base, dependent;
    std::vector<Piece> run;
  };
  const Case cases[] = {
      {{9, 9, 9},
       {9, 9, 9},
       {{true, 0, 9}, {false, 9, 9}, {true, 18, 9}, {false, 27, 9}, {true, 36, 9}, {false, 45, 9}}},
      {{0, 3},
       {524287, 0, 4},
       {{true, 0, 524286}, {true, 524286, 1}, {false, 524287, 3}, {true, 524290, 4}}},
      {{}, {524287, 0, 4}, {{true, 0, 524286}, {true, 524286, 1}, {true, 524287, 4}}},
  };
  for (const Case& c : cases) {
    StereoClipPair pair;
    pair.baseExtents = c.base;
    pair.dependentExtents = c.dependent;
    std::vector<Piece> run;
    for (const auto& piece : pair.InterleavedRun())
      run.emplace_back(piece.dependentView, piece.offset, piece.sectors);
    EXPECT_EQ(run, c.run) << ::testing::PrintToString(c.dependent);
  }
}

}  // namespace
}  // namespace vellumcast
