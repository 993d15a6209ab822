// Decodes Blu-ray movie playlists (BD-ROM audio-visual format, xxxxx.mpls): the head,
// AppInfoPlayList, the PlayList with its PlayItems and SubPaths, the PlayListMark and the
// ExtensionData bytes, with every length, count and start address checked against the file.
#include "bluray/movie_playlist.h"

#include "bluray/control_file.h"
#include "bluray/extension_data.h"
#include "platform/byte_span.h"

namespace vellumcast {
namespace {

namespace mpls {
constexpr uint64_t kTypeIndicator = 0;
constexpr uint64_t kVersion = 4;
constexpr uint64_t kPlayListStart = 8;
constexpr uint64_t kPlayListMarkStart = 12;
constexpr uint64_t kExtensionDataStart = 16;
constexpr uint64_t kPlaybackType = 45;  // AppInfoPlayList
constexpr uint64_t kPlaybackCount = 46;
constexpr uint64_t kUserOperationMask = 48;
constexpr uint64_t kFlags = 56;  // 16 bits, the flags in bits 15 to 12
}  // namespace mpls

namespace play_list {
constexpr uint64_t kPlayItemCount = 6;
constexpr uint64_t kSubPathCount = 8;
constexpr uint64_t kFirstPlayItem = 10;
}  // namespace play_list

namespace play_item {
constexpr uint64_t kLength = 0;  // 16 bits: length of the rest
constexpr uint64_t kClipName = 2;
constexpr uint64_t kCodecId = 7;
constexpr uint64_t kFlags = 12;  // bit 4: is_multi_angle; bits 3-0: connection_condition
constexpr uint64_t kStcId = 13;
constexpr uint64_t kInTime = 14;
constexpr uint64_t kOutTime = 18;
constexpr uint64_t kUserOperationMask = 22;
constexpr uint64_t kRandomAccessAndStill = 30;
constexpr uint64_t kAngleCount = 34;  // when is_multi_angle
constexpr uint64_t kFirstAngle = 36;
constexpr uint64_t kAngleSize = 10;  // clip name 5, codec identifier 4, STC id 1
constexpr uint64_t kLengthFieldSize = 2;
}  // namespace play_item

namespace play_list_mark {
constexpr uint64_t kMarkCount = 4;
constexpr uint64_t kFirstMark = 6;
constexpr uint64_t kMarkSize = 14;
}  // namespace play_list_mark

void DecodePlayItem(ByteSpan& r, uint64_t pos, PlayItem& item, uint64_t& next) {
  namespace f = play_item;
  uint16_t length = r.U16Be(pos + f::kLength);
  r.Need(pos, f::kLengthFieldSize + length);
  next = pos + f::kLengthFieldSize + length;
  item.clipName = r.Text(pos + f::kClipName, kClipNameChars);
  item.codecId = r.Text(pos + f::kCodecId, kFourCharacterCode);
  uint8_t flags = r.U8(pos + f::kFlags);
  item.multiAngle = flags & 0x10;
  item.connectionCondition = flags & 0x0F;
  item.stcId = r.U8(pos + f::kStcId);
  item.inTime = r.U32Be(pos + f::kInTime);
  item.outTime = r.U32Be(pos + f::kOutTime);
  item.userOperationMask = r.U64Be(pos + f::kUserOperationMask);
  item.randomAccessAndStill = r.U32Be(pos + f::kRandomAccessAndStill);
  if (item.multiAngle && r.ok) {
    uint8_t angles = r.U8(pos + f::kAngleCount);
    for (uint8_t i = 1; i < angles && r.ok; ++i) {
      item.angleClipNames.push_back(
          r.Text(pos + f::kFirstAngle + (i - 1) * f::kAngleSize, kClipNameChars));
    }
  }
  // The STN_table that follows is of no use to this program and is stepped over with
  // the PlayItem's length.
}

}  // namespace

bool DecodeMoviePlaylist(const uint8_t* bytes, size_t count, MoviePlaylist& out) {
  out = MoviePlaylist{};
  ByteSpan r(bytes, count);
  out.typeIndicator = r.Text(mpls::kTypeIndicator, kFourCharacterCode);
  out.version = r.Text(mpls::kVersion, kFourCharacterCode);
  uint32_t playListStart = r.U32Be(mpls::kPlayListStart);
  uint32_t markStart = r.U32Be(mpls::kPlayListMarkStart);
  uint32_t extensionStart = r.U32Be(mpls::kExtensionDataStart);
  out.playbackType = r.U8(mpls::kPlaybackType);
  out.playbackCount = r.U16Be(mpls::kPlaybackCount);
  out.userOperationMask = r.U64Be(mpls::kUserOperationMask);
  out.flags = uint8_t(r.U16Be(mpls::kFlags) >> 12);
  if (!r.ok) return false;

  uint16_t playItemCount = r.U16Be(uint64_t(playListStart) + play_list::kPlayItemCount);
  uint16_t subPathCount = r.U16Be(uint64_t(playListStart) + play_list::kSubPathCount);
  uint64_t pos = uint64_t(playListStart) + play_list::kFirstPlayItem;
  for (uint16_t i = 0; i < playItemCount && r.ok; ++i) {
    PlayItem item;
    DecodePlayItem(r, pos, item, pos);
    out.playItems.push_back(std::move(item));
  }
  for (uint16_t i = 0; i < subPathCount && r.ok; ++i) {
    SubPath subPath;
    DecodeSubPath(r, pos, subPath, pos);
    out.subPaths.push_back(std::move(subPath));
  }

  uint16_t markCount = r.U16Be(uint64_t(markStart) + play_list_mark::kMarkCount);
  uint64_t first = uint64_t(markStart) + play_list_mark::kFirstMark;
  if (r.ok && r.Need(first, uint64_t(markCount) * play_list_mark::kMarkSize)) {
    for (uint16_t i = 0; i < markCount; ++i) {
      uint64_t m = first + uint64_t(i) * play_list_mark::kMarkSize;
      out.marks.push_back(
          {r.U8(m + 1), r.U16Be(m + 2), r.U32Be(m + 4), r.U16Be(m + 8), r.U32Be(m + 10)});
    }
  }
  if (!r.ok) return false;
  return CopyExtensionBytes(bytes, count, extensionStart, out.extensionBytes);
}

}  // namespace vellumcast
