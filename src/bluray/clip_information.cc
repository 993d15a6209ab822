// Decodes Blu-ray clip information files (BD-ROM audio-visual format, zzzzz.clpi): the
// head, ClipInfo, SequenceInfo, the heads of ProgramInfo and CPI, ClipMark and the
// ExtensionData bytes, with every length, count and start address checked against the file.
#include "bluray/clip_information.h"

#include "bluray/control_file.h"
#include "bluray/extension_data.h"
#include "platform/byte_span.h"

namespace vellumcast {
namespace {

namespace clpi {
constexpr uint64_t kTypeIndicator = 0;
constexpr uint64_t kVersion = 4;
constexpr uint64_t kSequenceInfoStart = 8;
constexpr uint64_t kProgramInfoStart = 12;
constexpr uint64_t kCpiStart = 16;
constexpr uint64_t kClipMarkStart = 20;
constexpr uint64_t kExtensionDataStart = 24;
}  // namespace clpi

namespace clip_info {  // ClipInfo begins at the fixed offset 40
constexpr uint64_t kClipStreamType = 46;
constexpr uint64_t kApplicationType = 47;
constexpr uint64_t kFlags = 48;  // 32 bits, bit 0: is_ATC_delta
constexpr uint64_t kTsRecordingRate = 52;
constexpr uint64_t kSourcePackets = 56;
constexpr uint64_t kValidityFlags = 190;
constexpr uint64_t kFormatIdentifier = 191;
constexpr uint64_t kNetworkInformation = 195;
constexpr uint64_t kStreamFormatName = 204;
constexpr uint64_t kEnd = 220;
constexpr uint64_t kAtcDeltaCount = 221;
constexpr uint64_t kFirstAtcDelta = 222;
constexpr uint64_t kAtcDeltaSize = 14;  // delta 4, following clip name 5, codec 4, reserved 1
constexpr uint64_t kAtcDeltaFollowingClipName = 4;
constexpr uint64_t kAtcDeltaFollowingCodec = 9;
constexpr uint64_t kFontCountAfterLists = 1;  // a reserved byte, then the font count
constexpr uint64_t kFirstFontAfterLists = 2;
constexpr uint64_t kFontEntrySize = 6;  // font file name 5, reserved 1
constexpr uint8_t kApplicationTypeWithFonts = 6;
}  // namespace clip_info

namespace sequence_info {
constexpr uint64_t kAtcCount = 5;
constexpr uint64_t kFirstAtc = 6;
constexpr uint64_t kAtcHeadSize = 6;  // start packet 4, STC count 1, STC id offset 1
constexpr uint64_t kStcSize = 14;     // PCR PID 2, start packet 4, start 4, end 4
}  // namespace sequence_info

namespace cpi {
constexpr uint64_t kType = 4;         // low 4 bits of a 16-bit word
constexpr uint64_t kStreamCount = 7;  // EP map: number_of_stream_PID_entries
constexpr uint64_t kFirstStream = 8;
constexpr uint64_t kStreamEntrySize = 12;
}  // namespace cpi

void DecodeClipInfoLists(ByteSpan& r, ClipInformation& out) {
  namespace f = clip_info;
  uint64_t pos = f::kEnd;
  if (out.atcDelta) {
    uint8_t count = r.U8(f::kAtcDeltaCount);
    for (uint8_t i = 0; i < count && r.ok; ++i) {
      uint64_t e = f::kFirstAtcDelta + i * f::kAtcDeltaSize;
      out.atcDeltas.push_back({r.U32Be(e),
                               r.Text(e + f::kAtcDeltaFollowingClipName, kClipNameChars),
                               r.Text(e + f::kAtcDeltaFollowingCodec, kFourCharacterCode)});
    }
    pos = f::kFirstAtcDelta + count * f::kAtcDeltaSize;
  }
  if (out.applicationType == f::kApplicationTypeWithFonts) {
    uint8_t count = r.U8(pos + f::kFontCountAfterLists);
    for (uint8_t i = 0; i < count && r.ok; ++i) {
      out.fontFileNames.push_back(
          r.Text(pos + f::kFirstFontAfterLists + i * f::kFontEntrySize, kClipNameChars));
    }
  }
}

void DecodeSequenceInfo(ByteSpan& r, uint64_t start, ClipInformation& out) {
  namespace f = sequence_info;
  uint8_t atcCount = r.U8(start + f::kAtcCount);
  uint64_t pos = start + f::kFirstAtc;
  for (uint8_t i = 0; i < atcCount && r.ok; ++i) {
    ClipInformation::AtcSequence atc;
    atc.startPacket = r.U32Be(pos);
    uint8_t stcCount = r.U8(pos + 4);
    atc.stcIdOffset = r.U8(pos + 5);
    pos += f::kAtcHeadSize;
    for (uint8_t j = 0; j < stcCount && r.ok; ++j, pos += f::kStcSize) {
      atc.stcSequences.push_back(
          {r.U16Be(pos), r.U32Be(pos + 2), r.U32Be(pos + 6), r.U32Be(pos + 10)});
    }
    out.atcSequences.push_back(std::move(atc));
  }
}

}  // namespace

bool DecodeClipInformation(const uint8_t* bytes, size_t count, ClipInformation& out) {
  out = ClipInformation{};
  ByteSpan r(bytes, count);
  if (!r.Need(0, clip_info::kEnd)) return false;
  out.typeIndicator = r.Text(clpi::kTypeIndicator, kFourCharacterCode);
  out.version = r.Text(clpi::kVersion, kFourCharacterCode);
  out.sequenceInfoStart = r.U32Be(clpi::kSequenceInfoStart);
  out.programInfoStart = r.U32Be(clpi::kProgramInfoStart);
  out.cpiStart = r.U32Be(clpi::kCpiStart);
  out.clipMarkStart = r.U32Be(clpi::kClipMarkStart);
  out.extensionDataStart = r.U32Be(clpi::kExtensionDataStart);

  out.clipStreamType = r.U8(clip_info::kClipStreamType);
  out.applicationType = r.U8(clip_info::kApplicationType);
  out.atcDelta = r.U32Be(clip_info::kFlags) & 1;
  out.tsRecordingRate = r.U32Be(clip_info::kTsRecordingRate);
  out.sourcePackets = r.U32Be(clip_info::kSourcePackets);
  out.validityFlags = r.U8(clip_info::kValidityFlags);
  out.formatIdentifier = r.Text(clip_info::kFormatIdentifier, kFourCharacterCode);
  out.networkInformation = r.Text(clip_info::kNetworkInformation, 9);
  out.streamFormatName = r.Text(clip_info::kStreamFormatName, 16);
  DecodeClipInfoLists(r, out);

  if (out.sequenceInfoStart) DecodeSequenceInfo(r, out.sequenceInfoStart, out);
  if (out.programInfoStart) {
    // The programs and their stream coding are of no use to this program; the block
    // must lie inside the file.
    uint32_t length = r.U32Be(out.programInfoStart);
    r.Need(out.programInfoStart, 4 + uint64_t(length));
    out.programCount = r.U8(uint64_t(out.programInfoStart) + 5);
  }
  if (out.cpiStart) {
    uint32_t length = r.U32Be(out.cpiStart);
    if (length != 0 && r.Need(out.cpiStart, 4 + uint64_t(length))) {
      // The EP map's coarse and fine tables are not needed; its stream entries must
      // lie inside the file.
      out.cpiType = r.U16Be(uint64_t(out.cpiStart) + cpi::kType) & 0x0F;
      out.epMapStreamCount = r.U8(uint64_t(out.cpiStart) + cpi::kStreamCount);
      r.Need(uint64_t(out.cpiStart) + cpi::kFirstStream,
             uint64_t(out.epMapStreamCount) * cpi::kStreamEntrySize);
    }
  }
  if (out.clipMarkStart) {
    uint32_t length = r.U32Be(out.clipMarkStart);
    if (length != 0 && r.Need(uint64_t(out.clipMarkStart) + 4, length)) {
      out.clipMark.assign(bytes + out.clipMarkStart + 4, bytes + out.clipMarkStart + 4 + length);
    }
  }
  if (!r.ok) return false;
  return CopyExtensionBytes(bytes, count, out.extensionDataStart, out.extensionBytes);
}

}  // namespace vellumcast
