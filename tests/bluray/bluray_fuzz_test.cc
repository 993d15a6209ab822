// Bounded random-mutation test of the Blu-ray control-file readers and the analysis:
// generated files are damaged in many ways (deterministic seed) and read under the
// sanitizers; every result must keep the plan's invariants.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <random>

#include "bdmv_fixture.h"
#include "bluray/bdmv_analysis.h"
#include "bluray/bdmv_index.h"
#include "bluray/clip_information.h"
#include "bluray/extension_data.h"
#include "bluray/movie_playlist.h"
#include "bluray/stereo_plan.h"
#include "build/build_job.h"
#include "choice_text.h"
#include "platform/text.h"
#include "test_support.h"
#include "udf_descriptor_walker.h"
#include "udf_reader.h"

namespace vellumcast {
namespace {

std::string Mutate(std::string s, std::mt19937& rng) {
  auto pick = [&](size_t n) { return n ? size_t(rng() % n) : size_t(0); };
  static const uint32_t kValues[] = {0,      1,       2,          0x7F,        0x80,       0xFF,
                                     0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
  int steps = 1 + int(rng() % 3);
  for (int i = 0; i < steps; ++i) {
    switch (rng() % 6) {
      case 0:
        if (!s.empty()) s[pick(s.size())] ^= char(1 << (rng() % 8));
        break;
      case 1:
        if (!s.empty()) s[pick(s.size())] = char(rng());
        break;
      case 2: {  // a count, length or address field set to a telling value
        if (s.size() < 4) break;
        uint32_t v =
            rng() % 4 ? kValues[rng() % std::size(kValues)] : uint32_t(s.size() + rng() % 9 - 4);
        size_t at = pick(s.size() - 3);
        int width = rng() % 2 ? 4 : 2;
        for (int k = 0; k < width; ++k) s[at + k] = char(v >> (8 * (width - 1 - k)));
        break;
      }
      case 3: s.resize(pick(s.size() + 1)); break;
      case 4:
        for (size_t n = 1 + pick(16); n; --n) s += char(rng());
        break;
      case 5: {
        size_t at = pick(s.size() + 1);
        s.erase(at, pick(s.size() - at + 1));
        break;
      }
    }
  }
  return s;
}

// The bytes in an allocation of exactly their size, so that any read past them is seen.
struct ExactBytes {
  std::unique_ptr<uint8_t[]> data;
  size_t size;
  explicit ExactBytes(const std::string& s)
      : data(new uint8_t[s.size() ? s.size() : 1]), size(s.size()) {
    std::copy(s.begin(), s.end(), data.get());
  }
};

void ReadAsEveryKind(const std::string& s) {
  ExactBytes b(s);
  // Whether each decoder accepts the bytes is free; it must stay inside them.
  BdmvIndex index;
  static_cast<void>(DecodeBdmvIndex(b.data.get(), b.size, index));
  MoviePlaylist playlist;
  if (DecodeMoviePlaylist(b.data.get(), b.size, playlist)) {
    ASSERT_LE(playlist.extensionBytes.size(), b.size);
    ExactBytes e(std::string(playlist.extensionBytes.begin(), playlist.extensionBytes.end()));
    ExtensionData ext;
    static_cast<void>(DecodeExtensionData(e.data.get(), e.size, ext));
  }
  ClipInformation clip;
  if (DecodeClipInformation(b.data.get(), b.size, clip)) {
    ExactBytes e(std::string(clip.extensionBytes.begin(), clip.extensionBytes.end()));
    ExtensionData ext;
    if (DecodeExtensionData(e.data.get(), e.size, ext) && !ext.extentStartPoints.empty()) {
      std::vector<uint32_t> extents;
      std::string reason;
      if (DeriveExtents(ext.extentStartPoints, clip.sourcePackets, extents, reason)) {
        uint64_t sum = std::accumulate(extents.begin(), extents.end(), uint64_t(0));
        ASSERT_EQ(sum, ClipSectors(clip.sourcePackets));
      }
    }
  }
  ExtensionData ext;
  static_cast<void>(DecodeExtensionData(b.data.get(), b.size, ext));
}

TEST(BlurayFuzz, MutatedControlFiles) {
  auto f = test::StereoscopicFixture();
  test::FixturePlaylist padded = f.playlists[0];
  padded.layout = {5, true};
  padded.moreSubPaths = {test::ClipNames({6, 7})};
  const std::string seeds[] = {
      test::IndexBytes(true),
      test::PlaylistBytes(f.playlists[0]),
      test::PlaylistBytes(padded),
      test::ClipInformationBytes(*f.Clip(1)),
      test::ClipInformationBytes(*f.Clip(3), {3, true}),
      test::ExtensionDataBytes({{2, 4, std::string("\0\0\0\x0c\0\0\0\x02\0\0\0\0\0\0\0\x60", 16)}}),
  };
  std::mt19937 rng(20261207);
  for (int i = 0; i < 4000; ++i) {
    const std::string& seed = seeds[i % std::size(seeds)];
    ReadAsEveryKind(Mutate(seed, rng));
    if (HasFatalFailure()) return;
  }
}

// Damaged files in a whole folder: any plan that comes out can be laid out.
TEST(BlurayFuzz, MutatedFolders) {
  test::TempDir dir;
  auto f = test::StereoscopicFixture();
  f.writeSsif = false;
  f.Write(dir.path());
  const std::string bdmv = dir.path() + "/BDMV/";
  const std::string files[] = {"index.bdmv",         "PLAYLIST/00000.mpls", "CLIPINF/00001.clpi",
                               "CLIPINF/00002.clpi", "CLIPINF/00003.clpi",  "CLIPINF/00004.clpi"};
  std::string original[std::size(files)];
  for (size_t i = 0; i < std::size(files); ++i) original[i] = test::ReadFile(bdmv + files[i]);
  std::mt19937 rng(7);
  int succeeded = 0;
  for (int i = 0; i < 60; ++i) {
    size_t k = i % std::size(files);
    test::WriteFile(bdmv + files[k], Mutate(original[k], rng));
    StereoPlan plan;
    std::string reason;
    if (AnalyzeBdmvFolder(Utf8ToUtf16(dir.path() + "/").c_str(), plan, reason)) {
      ++succeeded;
      for (size_t p = 0; p < plan.size(); ++p) {
        if (p) {
          EXPECT_LT(plan[p - 1].baseClip, plan[p].baseClip);
        }
        EXPECT_LE(plan[p].baseExtents.size(), plan[p].dependentExtents.size());
        auto sum = [](const std::vector<uint32_t>& v) {
          return std::accumulate(v.begin(), v.end(), uint64_t(0));
        };
        EXPECT_EQ(sum(plan[p].baseExtents), plan[p].baseSectors);
        EXPECT_EQ(sum(plan[p].dependentExtents), plan[p].dependentSectors);
      }
    }
    test::WriteFile(bdmv + files[k], original[k]);
  }
  EXPECT_GT(succeeded, 0);  // some damage leaves the analysis working
}

// Random damage to the clip information and the playlists of a 3D folder (start points
// off the grid or out of order, packet counts that differ from the stream file or wrap
// at 2^32 bytes, clips in several pairs, damaged bytes), each folder built into an
// image in-process: the build succeeds, with at most one warning about the plan, and
// every file but the .ssif interleaves reads back as its source, with sound descriptors.
void MutateClip(test::FixtureClip& clip, std::mt19937& rng) {
  static const uint32_t kPackets[] = {0,   1,   31,  32,  33,          100,
                                      192, 288, 300, 320, 0x40000001u, 0xFFFFFFFFu};
  switch (rng() % 6) {
    case 0: clip.packets = kPackets[rng() % std::size(kPackets)]; break;
    case 1: {  // start points on or off the 32-packet grid, possibly not from 0 or not rising
      clip.startPoints.clear();
      for (uint32_t n = rng() % 4, at = rng() % 3 ? 0 : uint32_t(rng() % 64); n; --n) {
        clip.startPoints.push_back(at);
        at += rng() % 3 ? 32 * (rng() % 4) : uint32_t(rng() % 100);
      }
      break;
    }
    case 2: clip.streamBytes = int64_t(clip.packets) * 192 + int64_t(rng() % 4097) - 2048; break;
    case 3: clip.writeInformation = rng() % 2; break;
    default: break;
  }
  if (clip.packets > 4096 && (clip.streamBytes < 0 || clip.streamBytes > 65536))
    clip.streamBytes = rng() % 65536;
  if (clip.streamBytes < 0 && clip.streamBytes != -1) clip.streamBytes = 0;
}

TEST(BlurayFuzz, MutatedFoldersImageEveryFile) {
  std::mt19937 rng(20261208);
  int applied = 0, givenUp = 0;
  for (int i = 0; i < 200; ++i) {
    SCOPED_TRACE(i);
    test::BdmvFixture f = test::StereoscopicFixture();
    for (auto& clip : f.clips) {
      if (rng() % 3 == 0) MutateClip(clip, rng);
    }
    if (rng() % 4 == 0) {  // pairs drawn at random: reused, chained or self-paired clips
      auto& p = f.playlists[0];
      for (size_t k = 0; k < p.playItems.size(); ++k) {
        p.playItems[k] = test::ClipNames({int32_t(1 + rng() % 5)})[0];
        p.subPlayItems[k] = test::ClipNames({int32_t(1 + rng() % 5)})[0];
      }
    }
    f.writeSsif = rng() % 2;
    test::TempDir dir;
    f.Write(dir / "src");
    if (rng() % 3 == 0) {
      const char* files[] = {"PLAYLIST/00000.mpls", "CLIPINF/00001.clpi", "CLIPINF/00002.clpi",
                             "CLIPINF/00003.clpi", "CLIPINF/00004.clpi"};
      const std::string path = dir / "src/BDMV/" + files[rng() % std::size(files)];
      if (std::filesystem::exists(path)) test::WriteFile(path, Mutate(test::ReadFile(path), rng));
    }
    BuildOptions options;
    options.buildTime = 1700000000;
    const std::u16string source = Utf8ToUtf16(dir / "src"), target = Utf8ToUtf16(dir / "3d.iso");
    static std::vector<std::string> warnings;  // the build calls back with a null context
    warnings.clear();
    auto job = StartImageBuild(
        source.c_str(), nullptr, FileSystemChoice::Default, target.c_str(), nullptr, nullptr, false,
        nullptr, [](const std::string& text, void*) { warnings.push_back(text); }, options);
    ASSERT_TRUE(job->succeeded) << job->errorMessage;
    int planWarnings = 0;
    for (const std::string& w : warnings)
      planWarnings += w.find("stereoscopic (3D)") != std::string::npos;
    EXPECT_LE(planWarnings, 1);
    givenUp += planWarnings;

    test::TreeListing image, folder = test::ListSourceFolder(dir / "src");
    std::string error;
    ASSERT_TRUE(test::ListUdfImage(dir / "3d.iso", image, error)) << error;
    for (const auto& [path, entry] : folder) {
      auto at = image.find(path);
      ASSERT_NE(at, image.end()) << path;
      if (path.size() < 5 || path.compare(path.size() - 5, 5, ".ssif") != 0) {
        EXPECT_TRUE(at->second.bytes == entry.bytes) << path;
      }
    }
    StereoPlan plan;
    std::string reason;
    applied +=
        AnalyzeBdmvFolder(Utf8ToUtf16(dir / "src/").c_str(), plan, reason) && planWarnings == 0;
    test::UdfWalkReport walk = test::WalkUdfDescriptors(test::ReadFile(dir / "3d.iso"));
    ASSERT_TRUE(walk.problems.empty()) << walk.problems.front();
    EXPECT_EQ(walk.lvidFiles, walk.files);
    EXPECT_EQ(walk.lvidDirectories, walk.directories);
  }
  EXPECT_GT(givenUp, 20);
  EXPECT_GT(applied, 20);
}

}  // namespace
}  // namespace vellumcast
