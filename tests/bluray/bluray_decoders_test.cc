// The control-file decoders and the extent derivation on generated and hand-made bytes.
#include <gtest/gtest.h>

#include "bdmv_fixture.h"
#include "bluray/bdmv_index.h"
#include "bluray/clip_information.h"
#include "bluray/extension_data.h"
#include "bluray/movie_playlist.h"
#include "bluray/stereo_plan.h"

namespace vellumcast {
namespace {

const uint8_t* Data(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string Be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string Be16(uint32_t v) { return {char(v >> 8), char(v)}; }

TEST(StereoPlan, SectorsFromPackets) {
  EXPECT_EQ(SectorsFromPackets(0), 0u);
  EXPECT_EQ(SectorsFromPackets(31), 2u);
  EXPECT_EQ(SectorsFromPackets(32), 3u);
  EXPECT_EQ(SectorsFromPackets(0xFFFFFFFFu), 402653183u);  // formed in 64 bits
  EXPECT_EQ(ClipSectors(0), 0u);
  EXPECT_EQ(ClipSectors(1), 1u);
  EXPECT_EQ(ClipSectors(32), 3u);
  EXPECT_EQ(ClipSectors(33), 4u);
  EXPECT_EQ(ClipSectors(0xFFFFFFFFu), 402653184u);
}

// The extents must tile the stream file: first start point 0, every start point on the
// 32-packet grid, below the packet count and rising.
TEST(StereoPlan, DeriveExtents) {
  struct Case {
    std::vector<uint32_t> startPoints;
    uint32_t packets;
    const char* failure;  // part of the reason; null: derived
    std::vector<uint32_t> extents;
  };
  const Case cases[] = {
      {{0, 96, 192}, 288, nullptr, {9, 9, 9}},
      {{0}, 288, nullptr, {27}},
      {{0, 96}, 300, nullptr, {9, 20}},  // the last extent ends inside its last sector
      {{0, 0x40000000u}, 0x40000001u, nullptr, {100663296, 1}},
      {{0, 100}, 300, "100 is not a multiple of 32", {}},
      {{0, 96, 200}, 288, "200 is not a multiple of 32", {}},
      {{32, 96}, 288, "first extent start point is 32, not 0", {}},
      {{288}, 288, "not 0", {}},
      {{0, 96, 96}, 288, "96 does not rise above 96", {}},
      {{0, 96, 64}, 288, "64 does not rise above 96", {}},
      {{0, 288}, 288, "288 is not below the clip's 288", {}},
      {{0}, 0, "0 is not below the clip's 0", {}},
      {{0, 0x80000000u}, 288, "not below", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.startPoints));
    std::vector<uint32_t> extents;
    std::string reason;
    bool ok = DeriveExtents(c.startPoints, c.packets, extents, reason);
    EXPECT_EQ(ok, c.failure == nullptr) << reason;
    if (ok) {
      EXPECT_EQ(extents, c.extents);
    } else if (c.failure) {
      EXPECT_NE(reason.find(c.failure), std::string::npos) << reason;
    }
  }
}

// Every reader on every shortened copy of a generated file: a file cut anywhere before
// its last byte is not usable, and nothing is read past the cut (ASan watches).
TEST(BlurayReaders, EveryTruncationIsRejected) {
  auto f = test::StereoscopicFixture();
  struct Kind {
    const char* name;
    std::string bytes;
    size_t usableFrom;  // shortest usable length
    bool (*read)(const std::string&);
  };
  auto readIndex = [](const std::string& s) {
    BdmvIndex index;
    return DecodeBdmvIndex(Data(s), s.size(), index);
  };
  auto readPlaylist = [](const std::string& s) {
    MoviePlaylist p;
    return DecodeMoviePlaylist(Data(s), s.size(), p);
  };
  auto readClip = [](const std::string& s) {
    ClipInformation c;
    return DecodeClipInformation(Data(s), s.size(), c);
  };
  const Kind kinds[] = {
      {"index", test::IndexBytes(true), 79, readIndex},
      {"playlist", test::PlaylistBytes(f.playlists[0]), 0, readPlaylist},
      {"2D playlist", test::PlaylistBytes(f.playlists[1]), 0, readPlaylist},
      {"clip information", test::ClipInformationBytes(*f.Clip(1)), 0, readClip},
      {"clip information, no ExtensionData", test::ClipInformationBytes(*f.Clip(5), {}, false), 0,
       readClip},
  };
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.name);
    size_t usable = k.usableFrom ? k.usableFrom : k.bytes.size();
    for (size_t n = 0; n <= k.bytes.size(); ++n) {
      std::string prefix = k.bytes.substr(0, n);
      prefix.shrink_to_fit();
      EXPECT_EQ(k.read(prefix), n >= usable) << n;
    }
  }
}

TEST(BlurayReaders, PlaylistFields) {
  test::FixturePlaylist p;
  p.playItems = test::ClipNames({7, 12345});
  p.subPlayItems = test::ClipNames({8, 54321});
  std::string bytes = test::PlaylistBytes(p);
  MoviePlaylist playlist;
  ASSERT_TRUE(DecodeMoviePlaylist(Data(bytes), bytes.size(), playlist));
  ASSERT_EQ(playlist.playItems.size(), 2u);  // the STN_table is stepped over by the length
  EXPECT_EQ(playlist.playItems[0].clipName, "00007");
  EXPECT_EQ(playlist.playItems[1].clipName, "12345");
  EXPECT_EQ(playlist.playItems[1].codecId, "M2TS");
  EXPECT_EQ(playlist.marks.size(), 1u);
  ExtensionData ext;
  ASSERT_TRUE(
      DecodeExtensionData(playlist.extensionBytes.data(), playlist.extensionBytes.size(), ext));
  EXPECT_EQ(ext.stnTableSsLengths, (std::vector<uint16_t>{2, 2}));
  ASSERT_EQ(ext.subPaths.size(), 1u);
  EXPECT_EQ(ext.subPaths[0].type, 8);
  ASSERT_EQ(ext.subPaths[0].items.size(), 2u);
  EXPECT_EQ(ext.subPaths[0].items[1].clipName, "54321");
  EXPECT_EQ(ext.subPaths[0].items[1].syncPlayItemId, 1);

  p.extensionData = false;
  bytes = test::PlaylistBytes(p);
  ASSERT_TRUE(DecodeMoviePlaylist(Data(bytes), bytes.size(), playlist));
  EXPECT_TRUE(playlist.extensionBytes.empty());
}

// The data blocks are found by their start addresses: padding between them and any
// storage order give the same record as blocks stored back to back.
TEST(ExtensionDataReader, BlocksAreFoundByTheirStartAddress) {
  test::FixtureClip clip{1, 288, {0, 96, 192}};
  for (test::ExtensionLayout layout :
       {test::ExtensionLayout{0, false}, {0, true}, {7, false}, {64, true}}) {
    SCOPED_TRACE(layout.padding * 2 + layout.reverseStorage);
    std::string bytes = test::ClipInformationBytes(clip, layout);
    ClipInformation info;
    ASSERT_TRUE(DecodeClipInformation(Data(bytes), bytes.size(), info));
    EXPECT_EQ(info.sourcePackets, 288u);
    ExtensionData ext;
    ASSERT_TRUE(DecodeExtensionData(info.extensionBytes.data(), info.extensionBytes.size(), ext));
    EXPECT_EQ(ext.entries.size(), 3u);
    EXPECT_EQ(ext.extentStartPointsLength, 16u);
    EXPECT_EQ(ext.extentStartPoints, (std::vector<uint32_t>{0, 96, 192}));
  }
}

// Hand-made ExtensionData: length, entry table, blocks.
std::string Extension(const std::vector<std::string>& entries, const std::string& blocks,
                      uint32_t lengthAdjust = 0) {
  std::string body = Be32(0) + std::string(3, '\0') + char(entries.size());
  for (const auto& e : entries) body += e;
  body += blocks;
  return Be32(uint32_t(body.size()) + lengthAdjust) + body;
}
std::string Entry(uint16_t id1, uint16_t id2, uint32_t start, uint32_t length) {
  return Be16(id1) + Be16(id2) + Be32(start) + Be32(length);
}

TEST(ExtensionDataReader, Cases) {
  // Entry tables of one or two entries end at 24 or 36; blocks follow.
  const std::string points = Be32(12) + Be32(2) + Be32(0) + Be32(96);
  struct Case {
    const char* name;
    std::string bytes;
    bool ok;
    size_t stnTables;
    std::vector<uint32_t> startPoints;
  };
  const Case cases[] = {
      {"length 0 with entries after it", Be32(0) + Entry(2, 4, 16, 16) + points, true, 0, {}},
      {"no bytes", "", true, 0, {}},
      {"STN_table_SS of data length 0",
       Extension({Entry(2, 1, 24, 0)}, Be16(2) + "ab"),
       true,
       0,
       {}},
      {"two STN_table_SS in one block",
       Extension({Entry(2, 1, 24, 7)}, Be16(2) + "ab" + Be16(1) + "c"),
       true,
       2,
       {}},
      {"STN_table_SS running past its data length",
       Extension({Entry(2, 1, 24, 5)}, Be16(2) + "ab" + Be16(1) + "c"),
       true,
       0,
       {}},
      {"ExtentStartPoints with count 0",
       Extension({Entry(2, 4, 24, 8)}, Be32(4) + Be32(0)),
       true,
       0,
       {}},
      {"ExtentStartPoints", Extension({Entry(2, 4, 24, 16)}, points), true, 0, {0, 96}},
      {"block at its start address after padding",
       Extension({Entry(2, 4, 29, 16)}, "xxxxx" + points),
       true,
       0,
       {0, 96}},
      {"unknown block before the known one",
       Extension({Entry(9, 9, 36, 3), Entry(2, 4, 39, 16)}, "zzz" + points),
       true,
       0,
       {0, 96}},
      {"start address outside the ExtensionData",
       Extension({Entry(2, 4, 0xFFFFFFF0u, 16)}, points),
       true,
       0,
       {}},
      {"data length outside the ExtensionData",
       Extension({Entry(2, 4, 24, 17)}, points),
       true,
       0,
       {}},
      {"count of points outside the block",
       Extension({Entry(2, 4, 24, 16)}, Be32(12) + Be32(3) + Be32(0) + Be32(96)),
       true,
       0,
       {}},
      {"huge count of points",
       Extension({Entry(2, 4, 24, 16)}, Be32(12) + Be32(0xFFFFFFFFu) + Be32(0) + Be32(96)),
       true,
       0,
       {}},
      {"entry table past the end",
       Extension({Entry(2, 4, 24, 16)}, "", 0).substr(0, 20),
       false,
       0,
       {}},
      {"length past the end", Extension({Entry(2, 4, 24, 16)}, points, 1), false, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExtensionData ext;
    EXPECT_EQ(DecodeExtensionData(Data(c.bytes), c.bytes.size(), ext), c.ok);
    EXPECT_EQ(ext.stnTableSsLengths.size(), c.stnTables);
    EXPECT_EQ(ext.extentStartPoints, c.startPoints);
  }
}

TEST(BlurayReaders, IndexFlags) {
  for (bool stereo : {false, true}) {
    std::string bytes = test::IndexBytes(stereo);
    BdmvIndex index;
    ASSERT_TRUE(DecodeBdmvIndex(Data(bytes), bytes.size(), index));
    EXPECT_EQ(index.stereoscopicContent, stereo);
    EXPECT_EQ(index.videoFormat, 6);
    bytes[44] = char(stereo ? 0xFF : 0xDF);  // other bits play no part
    ASSERT_TRUE(DecodeBdmvIndex(Data(bytes), bytes.size(), index));
    EXPECT_EQ(index.stereoscopicContent, stereo);
  }
}

}  // namespace
}  // namespace vellumcast
