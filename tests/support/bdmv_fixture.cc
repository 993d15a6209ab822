// Writes small Blu-ray BDMV folders for the tests, byte for byte as the BD-ROM format
// lays out index.bdmv, MovieObject.bdmv, movie playlists and clip information files.
#include "bdmv_fixture.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace vellumcast::test {
namespace {

// Big-endian appender.
struct Bytes {
  std::string s;
  size_t size() const { return s.size(); }
  void U8(uint32_t v) { s += char(v & 0xFF); }
  void U16(uint32_t v) {
    U8(v >> 8);
    U8(v);
  }
  void U32(uint32_t v) {
    U16(v >> 16);
    U16(v);
  }
  void U64(uint64_t v) {
    U32(uint32_t(v >> 32));
    U32(uint32_t(v));
  }
  void Text(const std::string& t, size_t n) {
    std::string f = t.substr(0, n);
    f.resize(n, '0');
    s += f;
  }
  void Zeros(size_t n) { s.append(n, '\0'); }
  void Put32(size_t pos, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[pos + i] = char(v >> (8 * (3 - i)));
  }
  void Put16(size_t pos, uint32_t v) {
    s[pos] = char(v >> 8);
    s[pos + 1] = char(v);
  }
};

std::string ClipName(int32_t number) {
  char name[16];
  std::snprintf(name, sizeof name, "%05d", int(number));
  return name;
}

// PlayItem with an STN_table of no streams.
void AppendPlayItem(Bytes& b, const std::string& clip, uint32_t index) {
  size_t start = b.size();
  b.U16(0);  // length, patched below
  b.Text(clip, 5);
  b.Text("M2TS", 4);
  b.U8(0);              // reserved
  b.U8(index ? 1 : 0);  // is_multi_angle 0, connection_condition
  b.U8(0);              // ref_to_STC_id
  b.U32(0x0000EA60);    // IN_time
  b.U32(0x0001D4C0);    // OUT_time
  b.U64(0);             // UO_mask_table
  b.U32(0);             // random access flag, still mode, still time
  b.U16(14);            // STN_table length
  b.Zeros(14);          // reserved, stream entry counts 0, reserved
  b.Put16(start, uint32_t(b.size() - start - 2));
}

void AppendSubPath(Bytes& b, const std::vector<std::string>& clips, uint8_t type) {
  size_t start = b.size();
  b.U32(0);  // length, patched below
  b.U8(0);
  b.U8(type);  // SubPath_type (8: stereoscopic dependent view)
  b.U16(0);    // is_repeat_SubPath 0
  b.U8(0);
  b.U8(uint32_t(clips.size()));
  for (size_t i = 0; i < clips.size(); ++i) {
    size_t item = b.size();
    b.U16(0);
    b.Text(clips[i], 5);
    b.Text("M2TS", 4);
    b.U32(i ? 1u << 1 : 0);  // SP_connection_condition, is_multi_Clip_entries 0
    b.U8(0);                 // ref_to_STC_id
    b.U32(0x0000EA60);       // IN_time
    b.U32(0x0001D4C0);       // OUT_time
    b.U16(uint32_t(i));      // sync_PlayItem_id
    b.U32(0x0000EA60);       // sync_start_PTS_of_PlayItem
    b.Put16(item, uint32_t(b.size() - item - 2));
  }
  b.Put32(start, uint32_t(b.size() - start - 4));
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The stream's bytes of each extent of `clip`, in file order.
std::string ClipStream(const FixtureClip& clip) {
  return clip.streamBytes < 0 ? StreamBytes(clip.number, clip.packets)
                              : StreamBytesOfLength(clip.number, uint64_t(clip.streamBytes));
}

std::vector<std::string> ExtentBytes(const FixtureClip& clip) {
  std::string stream = ClipStream(clip);
  std::vector<std::string> extents;
  for (size_t i = 0; i < clip.startPoints.size(); ++i) {
    uint64_t from = std::min<uint64_t>(uint64_t(clip.startPoints[i]) * 192, stream.size());
    uint64_t to =
        i + 1 < clip.startPoints.size() ? uint64_t(clip.startPoints[i + 1]) * 192 : stream.size();
    to = std::max(from, std::min<uint64_t>(to, stream.size()));  // start points of a bad case
    extents.push_back(stream.substr(from, to - from));
  }
  return extents;
}

}  // namespace

std::vector<std::string> ClipNames(std::initializer_list<int32_t> numbers) {
  std::vector<std::string> names;
  for (int32_t n : numbers) names.push_back(ClipName(n));
  return names;
}

std::string IndexBytes(bool stereoscopic) {
  Bytes b;
  b.Text("INDX", 4);
  b.Text("0200", 4);
  b.U32(78);  // Indexes start address, after AppInfoBDMV
  b.U32(0);   // ExtensionData start address: none
  b.Zeros(24);
  // AppInfoBDMV at 40.
  b.U32(34);
  b.U8(stereoscopic ? 0x20 : 0x00);  // SS_content_exist_flag
  b.U8(0x61);                        // video format 1080p, frame rate 23.976
  b.Zeros(32);                       // content provider user data
  // Indexes at 78: First Playback, Top Menu (HDMV objects 0 and 1) and one title.
  size_t indexes = b.size();
  b.U32(0);
  b.U8(0x40);
  b.Zeros(3);
  b.U16(0);
  b.U16(0);
  b.Zeros(4);  // First Playback: HDMV, object 0
  b.U8(0x40);
  b.Zeros(3);
  b.U16(0);
  b.U16(1);
  b.Zeros(4);  // Top Menu: HDMV, object 1
  b.U16(1);    // number_of_Titles
  b.U8(0x40);
  b.Zeros(3);
  b.U8(0);
  b.U8(0);
  b.U16(0);
  b.Zeros(4);  // title 1: HDMV, object 0
  b.Put32(indexes, uint32_t(b.size() - indexes - 4));
  return b.s;
}

std::string MovieObjectBytes() {
  Bytes b;
  b.Text("MOBJ", 4);
  b.Text("0200", 4);
  b.U32(0);  // ExtensionData start address
  b.Zeros(28);
  // MovieObjects at 40: two objects without navigation commands.
  size_t start = b.size();
  b.U32(0);
  b.U32(0);
  b.U16(2);
  for (int i = 0; i < 2; ++i) {
    b.U16(0x8000);  // resume_intention_flag
    b.U16(0);       // number_of_navigation_commands
  }
  b.Put32(start, uint32_t(b.size() - start - 4));
  return b.s;
}

std::string ExtensionDataBytes(const std::vector<ExtensionBlock>& blocks,
                               const ExtensionLayout& layout) {
  Bytes b;
  b.U32(0);  // length, patched below
  b.U32(0);  // data_block_start_address, patched below
  b.Zeros(3);
  b.U8(uint32_t(blocks.size()));
  size_t table = b.size();
  b.Zeros(12 * blocks.size());
  b.Put32(4, uint32_t(b.size()));
  for (size_t k = 0; k < blocks.size(); ++k) {
    size_t i = layout.reverseStorage ? blocks.size() - 1 - k : k;
    b.Zeros(layout.padding);
    size_t entry = table + 12 * i;
    b.Put16(entry, blocks[i].id1);
    b.Put16(entry + 2, blocks[i].id2);
    b.Put32(entry + 4, uint32_t(b.size()));  // from the length field
    b.Put32(entry + 8, uint32_t(blocks[i].content.size()));
    b.s += blocks[i].content;
  }
  b.Put32(0, uint32_t(b.size() - 4));
  return b.s;
}

std::string PlaylistBytes(const FixturePlaylist& p) {
  Bytes b;
  b.Text("MPLS", 4);
  b.Text("0200", 4);
  b.Zeros(12);  // the three start addresses, patched below
  b.Zeros(20);
  // AppInfoPlayList at 40.
  b.U32(14);
  b.U8(0);
  b.U8(1);  // playback_type: sequential
  b.U16(0);
  b.U64(0);
  b.U16(0x4000);  // random_access_flag 0, audio_mix_app_flag 1
  // PlayList.
  b.Put32(8, uint32_t(b.size()));
  size_t playList = b.size();
  b.U32(0);
  b.U16(0);
  b.U16(uint32_t(p.playItems.size()));
  b.U16(0);  // no SubPaths in the PlayList itself
  for (size_t i = 0; i < p.playItems.size(); ++i) AppendPlayItem(b, p.playItems[i], uint32_t(i));
  b.Put32(playList, uint32_t(b.size() - playList - 4));
  // PlayListMark: one entry mark.
  b.Put32(12, uint32_t(b.size()));
  b.U32(16);
  b.U16(1);
  b.U8(0);
  b.U8(1);
  b.U16(0);
  b.U32(0x0000EA60);
  b.U16(0xFFFF);
  b.U32(0);
  if (!p.extensionData) return b.s;

  std::vector<ExtensionBlock> blocks;
  if (p.stnTableSs) {
    Bytes t;
    for (size_t i = 0; i < p.playItems.size(); ++i) {
      t.U16(2);  // STN_table_SS of this PlayItem: flags only
      t.U16(0);
    }
    blocks.push_back({2, 1, t.s});
  }
  if (p.subPathEntries) {
    Bytes s;
    s.U32(0);
    s.U16(uint32_t(1 + p.moreSubPaths.size()));
    AppendSubPath(s, p.subPlayItems, 8);
    for (const auto& more : p.moreSubPaths) AppendSubPath(s, more, 8);
    s.Put32(0, uint32_t(s.size() - 4));
    blocks.push_back({2, 2, s.s});
  }
  b.Put32(16, uint32_t(b.size()));
  b.s += ExtensionDataBytes(blocks, p.layout);
  return b.s;
}

std::string ClipInformationBytes(const FixtureClip& clip, const ExtensionLayout& layout,
                                 bool extraBlocks) {
  Bytes b;
  b.Text("HDMV", 4);
  b.Text("0200", 4);
  b.Zeros(20);  // five start addresses, patched below
  b.Zeros(12);
  // ClipInfo at 40.
  b.U32(176);
  b.U16(0);
  b.U8(1);         // clip_stream_type
  b.U8(1);         // application_type: main TS for a movie
  b.U32(0);        // is_ATC_delta 0
  b.U32(6000000);  // TS_recording_rate
  b.U32(clip.packets);
  b.Zeros(190 - b.size());
  b.U8(0x80);
  b.Text("HDMV", 4);
  b.Zeros(9);
  b.Zeros(16);
  // SequenceInfo: one ATC sequence with one STC sequence.
  b.Put32(8, uint32_t(b.size()));
  b.U32(22);
  b.U8(0);
  b.U8(1);
  b.U32(0);
  b.U8(1);
  b.U8(0);
  b.U16(0x1001);
  b.U32(0);
  b.U32(0x0000EA60);
  b.U32(0x0001D4C0);
  // ProgramInfo: no programs. CPI: empty. ClipMark: empty.
  b.Put32(12, uint32_t(b.size()));
  b.U32(2);
  b.U8(0);
  b.U8(0);
  b.Put32(16, uint32_t(b.size()));
  b.U32(0);
  b.Put32(20, uint32_t(b.size()));
  b.U32(0);

  std::vector<ExtensionBlock> blocks;
  if (!clip.startPoints.empty()) {
    Bytes e;
    e.U32(4 + 4 * uint32_t(clip.startPoints.size()));
    e.U32(uint32_t(clip.startPoints.size()));
    for (uint32_t s : clip.startPoints) e.U32(s);
    blocks.push_back({2, 4, e.s});
  }
  if (extraBlocks) {
    std::string empty(4, '\0');  // ProgramInfo_SS and CPI_SS of length 0
    blocks.push_back({2, 5, empty});
    blocks.push_back({2, 6, empty});
  }
  if (blocks.empty()) return b.s;
  b.Put32(24, uint32_t(b.size()));
  b.s += ExtensionDataBytes(blocks, layout);
  return b.s;
}

std::string StreamBytes(int32_t clip, uint32_t packets) {
  return StreamBytesOfLength(clip, uint64_t(packets) * 192);
}

std::string StreamBytesOfLength(int32_t clip, uint64_t bytes) {
  std::string s(size_t(bytes), '\0');
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t sector = uint32_t(i / 2048), offset = uint32_t(i % 2048);
    if (offset < 8) {
      uint32_t v = offset < 4 ? uint32_t(clip) : sector;
      s[i] = char(v >> (8 * (3 - offset % 4)));
    } else {
      s[i] = char(uint32_t(clip) * 31 + sector * 7 + offset);
    }
  }
  return s;
}

const FixtureClip* BdmvFixture::Clip(int32_t number) const {
  for (const auto& c : clips) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

std::string BdmvFixture::Interleave(int32_t base, int32_t dependent, bool padded) const {
  std::vector<std::string> b = ExtentBytes(*Clip(base)), d = ExtentBytes(*Clip(dependent));
  for (auto* view : {&b, &d}) {
    for (std::string& extent : *view) {
      if (padded) extent.resize((extent.size() + 2047) / 2048 * 2048, '\0');
    }
  }
  std::string run;
  for (size_t i = 0; i < d.size(); ++i) {
    run += d[i];
    if (i < b.size()) run += b[i];
  }
  return run;
}

void BdmvFixture::Write(const std::string& root) const {
  std::filesystem::path bdmv = std::filesystem::path(root) / "BDMV";
  std::filesystem::create_directories(bdmv / "PLAYLIST");
  std::filesystem::create_directories(bdmv / "CLIPINF");
  std::filesystem::create_directories(bdmv / "STREAM");
  if (writeIndex) WriteBytes(bdmv / "index.bdmv", IndexBytes(stereoscopic));
  WriteBytes(bdmv / "MovieObject.bdmv", MovieObjectBytes());
  for (const auto& p : playlists) WriteBytes(bdmv / "PLAYLIST" / p.name, PlaylistBytes(p));
  for (const auto& c : clips) {
    std::string name = ClipName(c.number);
    if (c.writeInformation) {
      WriteBytes(bdmv / "CLIPINF" / (name + ".clpi"), ClipInformationBytes(c));
    }
    if (c.writeStream) {
      WriteBytes(bdmv / "STREAM" / (name + ".m2ts"), ClipStream(c));
    }
  }
  if (writeSsif) {
    for (const auto& [base, dependent] : pairs) {
      WriteBytes(bdmv / "STREAM" / "SSIF" / (ClipName(base) + ".ssif"),
                 Interleave(base, dependent));
    }
  }
}

BdmvFixture StereoscopicFixture() {
  BdmvFixture f;
  f.clips = {
      {1, 288, {0, 96, 192}},  // base view: 27 sectors in extents 9, 9, 9
      {2, 192, {0, 64, 128}},  // dependent view: 18 sectors in extents 6, 6, 6
      {3, 320, {0, 160}},      // base view: 30 sectors in extents 15, 15
      {4, 128, {0, 32}},       // dependent view: 12 sectors in extents 3, 9
      {5, 64, {}},             // a 2D clip: 6 sectors
  };
  FixturePlaylist stereo;
  stereo.name = "00000.mpls";
  stereo.playItems = ClipNames({1, 3});
  stereo.subPlayItems = ClipNames({2, 4});
  FixturePlaylist flat;
  flat.name = "00001.mpls";
  flat.playItems = ClipNames({5});
  flat.extensionData = false;
  f.playlists = {stereo, flat};
  f.pairs = {{1, 2}, {3, 4}};
  return f;
}

BdmvFixture FlatFixture() {
  BdmvFixture f = StereoscopicFixture();
  f.stereoscopic = false;
  f.writeSsif = false;
  f.pairs.clear();
  for (auto& p : f.playlists) p.extensionData = false;
  for (auto& c : f.clips) c.startPoints.clear();
  return f;
}

}  // namespace vellumcast::test
