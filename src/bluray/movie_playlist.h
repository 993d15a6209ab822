// A Blu-ray movie playlist (.mpls of BDMV/PLAYLIST) and its decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bluray/sub_path.h"

namespace vellumcast {

struct PlayItem {
  std::string clipName;     // Clip_Information_file_name, five characters
  std::string codecId;      // Clip_codec_identifier, four characters
  bool multiAngle = false;  // is_multi_angle
  uint8_t connectionCondition = 0;
  uint8_t stcId = 0;  // ref_to_STC_id
  uint32_t inTime = 0;
  uint32_t outTime = 0;
  uint64_t userOperationMask = 0;
  uint32_t randomAccessAndStill = 0;        // random access flag, still mode, still time
  std::vector<std::string> angleClipNames;  // the angles after the first
};

struct PlaylistMark {
  uint8_t type = 0;
  uint16_t playItem = 0;
  uint32_t timeStamp = 0;
  uint16_t pid = 0;
  uint32_t duration = 0;
};

struct MoviePlaylist {
  std::string typeIndicator;  // "MPLS"; not compared
  std::string version;        // not compared
  uint8_t playbackType = 0;
  uint16_t playbackCount = 0;
  uint64_t userOperationMask = 0;
  uint8_t flags = 0;  // bits 15 to 12 of the AppInfoPlayList flag word
  std::vector<PlayItem> playItems;
  std::vector<SubPath> subPaths;
  std::vector<PlaylistMark> marks;
  // The whole ExtensionData: its 4-byte length field and the bytes it counts; empty
  // when the playlist has none.
  std::vector<uint8_t> extensionBytes;
};

// Decodes a playlist file. False when a field, count, length or start address points
// past the end of the bytes: the playlist is then not usable.
[[nodiscard]] bool DecodeMoviePlaylist(const uint8_t* bytes, size_t count, MoviePlaylist& out);

}  // namespace vellumcast
