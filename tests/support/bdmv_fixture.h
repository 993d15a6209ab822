// Test fixtures: small Blu-ray BDMV folders written byte for byte (index.bdmv,
// MovieObject.bdmv, movie playlists with PlayItems and ExtensionData, clip information
// files with ExtentStartPoints, stamped stream files and the SSIF interleaves).
//
// Every 2048-byte sector of a generated stream file begins with its clip number and its
// sector index (big-endian, 4 bytes each), so a misplaced sector is seen at once.
//
//   BdmvFixture f = StereoscopicFixture();  // 3D pairs 1+2 and 3+4, a 2D clip 5
//   f.Write(dir);                            // dir/BDMV/...
//   std::string ssif = f.Interleave(1, 2);   // the bytes BDMV/STREAM/SSIF/00001.ssif holds
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vellumcast::test {

// One clip: BDMV/STREAM/nnnnn.m2ts and BDMV/CLIPINF/nnnnn.clpi.
struct FixtureClip {
  int32_t number = 0;
  uint32_t packets = 0;  // 192-byte source packets; the stream has packets × 192 bytes
  std::vector<uint32_t> startPoints;  // ExtentStartPoints; empty: no (2, 4) block
  bool writeInformation = true;       // write the .clpi
  bool writeStream = true;            // write the .m2ts
  int64_t streamBytes = -1;           // length of the .m2ts; -1: packets × 192
};

// Layout of one ExtensionData: `padding` zero bytes before every data block; blocks
// stored in the order of the entry table, or in reverse when `reverseStorage`.
struct ExtensionLayout {
  uint32_t padding = 0;
  bool reverseStorage = false;
};

// One data block of an ExtensionData.
struct ExtensionBlock {
  uint16_t id1 = 0;
  uint16_t id2 = 0;
  std::string content;
};

// One movie playlist BDMV/PLAYLIST/<name>.
struct FixturePlaylist {
  std::string name = "00000.mpls";
  std::vector<std::string> playItems;     // five-character clip names of the PlayItems
  std::vector<std::string> subPlayItems;  // of the first SubPath of the SubPath entries block
  bool extensionData = true;              // false: no ExtensionData at all (a 2D playlist)
  bool stnTableSs = true;                 // the (2, 1) block, one table per PlayItem
  bool subPathEntries = true;             // the (2, 2) block
  std::vector<std::vector<std::string>> moreSubPaths;  // further SubPaths in that block
  ExtensionLayout layout;
};

// A whole folder.
struct BdmvFixture {
  bool writeIndex = true;
  bool stereoscopic = true;  // the index's SS_content_exist_flag
  bool writeSsif = true;     // BDMV/STREAM/SSIF/<base>.ssif for each pair of `pairs`
  std::vector<FixtureClip> clips;
  std::vector<FixturePlaylist> playlists;
  std::vector<std::pair<int32_t, int32_t>> pairs;  // (base, dependent) for the SSIF files

  // Writes BDMV/ under `root` (created when missing).
  void Write(const std::string& root) const;
  const FixtureClip* Clip(int32_t number) const;
  // The bytes of the SSIF file of the pair: dependent extent 1, base extent 1, ...
  // (start points must be multiples of 32 packets, so extents are whole sectors).
  // `padded`: each extent filled up with zeros to whole 2048-byte sectors, as in an
  // image whose clips end inside a sector.
  std::string Interleave(int32_t base, int32_t dependent, bool padded = false) const;
};

// Stereoscopic: playlist 00000.mpls pairs base 1 with dependent 2 and base 3 with
// dependent 4 (three and two extents); 00001.mpls is a 2D playlist of clip 5.
BdmvFixture StereoscopicFixture();
// The same folder without the stereoscopic flag, ExtensionData, extent start points or
// SSIF folder.
BdmvFixture FlatFixture();

// "00001" for 1: the five-character clip names of PlayItems and SubPlayItems.
std::vector<std::string> ClipNames(std::initializer_list<int32_t> numbers);

// Bytes of the single files.
std::string IndexBytes(bool stereoscopic);
std::string MovieObjectBytes();
std::string PlaylistBytes(const FixturePlaylist& playlist);
std::string ClipInformationBytes(const FixtureClip& clip, const ExtensionLayout& layout = {},
                                 bool extraBlocks = true);
std::string StreamBytes(int32_t clip, uint32_t packets);
// The stamped stream bytes of `clip`, `bytes` long.
std::string StreamBytesOfLength(int32_t clip, uint64_t bytes);
// An ExtensionData: its length field, the entry table and the blocks.
std::string ExtensionDataBytes(const std::vector<ExtensionBlock>& blocks,
                               const ExtensionLayout& layout = {});

}  // namespace vellumcast::test
