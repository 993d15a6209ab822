// Decodes the head and AppInfoBDMV of a Blu-ray index.bdmv (BD-ROM audio-visual format,
// Index table).
#include "bluray/bdmv_index.h"

#include <cstring>

#include "bluray/control_file.h"
#include "platform/byte_span.h"

namespace vellumcast {
namespace {

namespace index_bdmv {
constexpr uint64_t kTypeIndicator = 0;  // "INDX"
constexpr uint64_t kVersion = 4;
constexpr uint64_t kIndexesStart = 8;
constexpr uint64_t kExtensionDataStart = 12;
constexpr uint64_t kAppInfoFlags = 44;  // AppInfoBDMV begins at 40 with its length
constexpr uint8_t kInitialOutputModeMask = 0x40;
constexpr uint8_t kStereoscopicContentMask = 0x20;  // SS_content_exist_flag
constexpr uint64_t kVideoFormatAndFrameRate = 45;
constexpr uint64_t kUserData = 46;
constexpr size_t kUserDataSize = 32;
constexpr uint64_t kAppInfoEnd = kUserData + kUserDataSize;  // 78
}  // namespace index_bdmv

}  // namespace

bool DecodeBdmvIndex(const uint8_t* bytes, size_t count, BdmvIndex& out) {
  namespace f = index_bdmv;
  out = BdmvIndex{};
  ByteSpan r(bytes, count);
  if (!r.Need(0, f::kAppInfoEnd)) return false;
  if (r.Text(f::kTypeIndicator, kFourCharacterCode) != "INDX") return false;
  out.version = r.Text(f::kVersion, kFourCharacterCode);
  out.indexesStart = r.U32Be(f::kIndexesStart);
  out.extensionDataStart = r.U32Be(f::kExtensionDataStart);
  if (out.indexesStart >= count || out.extensionDataStart >= count) return false;
  uint8_t flags = r.U8(f::kAppInfoFlags);
  out.initialOutputModePreference = flags & f::kInitialOutputModeMask;
  out.stereoscopicContent = flags & f::kStereoscopicContentMask;
  uint8_t format = r.U8(f::kVideoFormatAndFrameRate);
  out.videoFormat = format >> 4;
  out.frameRate = format & 0x0F;
  std::memcpy(out.userData, bytes + f::kUserData, f::kUserDataSize);
  return r.ok;
}

}  // namespace vellumcast
