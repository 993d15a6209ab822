// Decodes SubPath and SubPlayItem of a Blu-ray movie playlist (BD-ROM audio-visual format,
// PlayList / SubPath), with every length and count checked against the bytes.
#include "bluray/sub_path.h"

#include "bluray/control_file.h"

namespace vellumcast {
namespace {

namespace sub_path {
constexpr uint64_t kLength = 0;     // 32 bits: length of the rest
constexpr uint64_t kType = 5;       // SubPath_type
constexpr uint64_t kFlags = 6;      // 16 bits, bit 0: is_repeat_SubPath
constexpr uint64_t kItemCount = 9;  // number_of_SubPlayItems
constexpr uint64_t kFirstItem = 10;
constexpr uint64_t kLengthFieldSize = 4;
}  // namespace sub_path

namespace sub_play_item {
constexpr uint64_t kLength = 0;    // 16 bits: length of the rest
constexpr uint64_t kClipName = 2;  // Clip_Information_file_name
constexpr uint64_t kFlags = 11;    // 32 bits: SP_connection_condition, is_multi_Clip_entries
constexpr uint64_t kStcId = 15;
constexpr uint64_t kInTime = 16;
constexpr uint64_t kOutTime = 20;
constexpr uint64_t kSyncPlayItemId = 24;
constexpr uint64_t kSyncStartPts = 26;
constexpr uint64_t kClipEntryCount = 30;  // number_of_multi_Clip_entries
constexpr uint64_t kFirstClipEntry = 32;
constexpr uint64_t kClipEntrySize = 10;  // clip name 5, codec identifier 4, STC id 1
constexpr uint64_t kLengthFieldSize = 2;
}  // namespace sub_play_item

void DecodeSubPlayItem(ByteSpan& r, uint64_t pos, SubPlayItem& item, uint64_t& next) {
  namespace f = sub_play_item;
  uint16_t length = r.U16Be(pos + f::kLength);
  r.Need(pos, f::kLengthFieldSize + length);
  next = pos + f::kLengthFieldSize + length;
  item.clipName = r.Text(pos + f::kClipName, kClipNameChars);
  uint32_t flags = r.U32Be(pos + f::kFlags);
  item.connectionCondition = uint8_t((flags >> 1) & 0xF);
  item.multiClipEntries = flags & 1;
  item.stcId = r.U8(pos + f::kStcId);
  item.inTime = r.U32Be(pos + f::kInTime);
  item.outTime = r.U32Be(pos + f::kOutTime);
  item.syncPlayItemId = r.U16Be(pos + f::kSyncPlayItemId);
  item.syncStartPts = r.U32Be(pos + f::kSyncStartPts);
  if (item.multiClipEntries && r.ok) {
    uint8_t count = r.U8(pos + f::kClipEntryCount);
    for (uint8_t i = 1; i < count && r.ok; ++i) {
      item.furtherClipNames.push_back(
          r.Text(pos + f::kFirstClipEntry + (i - 1) * f::kClipEntrySize, kClipNameChars));
    }
  }
}

}  // namespace

void DecodeSubPath(ByteSpan& r, uint64_t pos, SubPath& out, uint64_t& next) {
  namespace f = sub_path;
  uint32_t length = r.U32Be(pos + f::kLength);
  r.Need(pos, f::kLengthFieldSize + length);
  next = pos + f::kLengthFieldSize + length;
  out.type = r.U8(pos + f::kType);
  out.repeat = r.U16Be(pos + f::kFlags) & 1;
  uint8_t count = r.U8(pos + f::kItemCount);
  uint64_t itemPos = pos + f::kFirstItem;
  out.items.clear();
  for (uint8_t i = 0; i < count && r.ok; ++i) {
    SubPlayItem item;
    DecodeSubPlayItem(r, itemPos, item, itemPos);
    out.items.push_back(std::move(item));
  }
}

}  // namespace vellumcast
