// DVD-Video file keys, the BDMV/STREAM lookup, clip numbers, and the extent and
// descriptor counts of stereoscopic clips.
#include "tree/disc_video_rules.h"

#include <cstring>

#include "base/disc_constants.h"
#include "platform/text.h"
#include "tree/source_entry.h"

namespace vellumcast {
namespace {

constexpr size_t kDvdNameUnits = 12;  // 8.3

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ATS_tu_p.EXT and VTS_tu_p.EXT.
uint32_t TitleSetKey(const char (&t)[kDvdNameUnits], uint32_t zone) {
  if (t[2] != 'S' || t[3] != '_' || t[6] != '_' || t[8] != '.') return 0;
  if (!IsDigit(t[4]) || !IsDigit(t[5]) || !IsDigit(t[7])) return 0;
  const char* type = t + 9;
  uint32_t fileType;
  if (std::memcmp(type, "IFO", 3) == 0)
    fileType = dvd_key::kInformationFile;
  else if (std::memcmp(type, "AOB", 3) == 0 || std::memcmp(type, "VOB", 3) == 0)
    fileType = dvd_key::kObjectFile;
  else if (std::memcmp(type, "BUP", 3) == 0)
    fileType = dvd_key::kBackupFile;
  else
    return 0;
  return zone + uint32_t(t[4] - '0') * dvd_key::kTitleSetTens +
         uint32_t(t[5] - '0') * dvd_key::kTitleSetUnits + fileType + uint32_t(t[7] - '0');
}

uint32_t KeyOfText(const char (&t)[kDvdNameUnits]) {
  if (t[0] == 'A') {
    if (t[1] == 'U') {
      if (std::memcmp(t, "AUDIO_", 6) != 0) return 0;
      static const char* const kAudioNames[] = {"TS.IFO", "PP.IFO", "TS.VOB",
                                                "SV.IFO", "SV.VOB", "TS.BUP"};
      for (uint32_t i = 0; i < 6; ++i) {
        if (std::memcmp(t + 6, kAudioNames[i], 6) == 0) return dvd_key::kAudioZone + i;
      }
      return 0;
    }
    if (t[1] == 'T') return TitleSetKey(t, dvd_key::kAudioZone);
    return 0;
  }
  if (t[0] == 'V') {
    if (t[1] == 'I') {
      static const char* const kVideoNames[] = {"VIDEO_TS.IFO", "VIDEO_TS.VOB", "VIDEO_TS.BUP"};
      for (uint32_t i = 0; i < 3; ++i) {
        if (std::memcmp(t, kVideoNames[i], kDvdNameUnits) == 0) return dvd_key::kVideoZone + i;
      }
      return 0;
    }
    if (t[1] == 'T') return TitleSetKey(t, dvd_key::kVideoZone);
    return 0;
  }
  return 0;
}

}  // namespace

uint32_t DvdFileKey(SourceEntry& entry) {
  entry.dvdKey = 0;
  const char16_t* name = entry.Name();
  char text[kDvdNameUnits];
  size_t n = 0;
  for (; n < kDvdNameUnits && name[n]; ++n) {
    char16_t c = name[n];
    if (c >= 0x80) return 0;  // only ASCII letters take part in a DVD-Video name
    if (c >= 'a' && c <= 'z') c = char16_t(c - 'a' + 'A');
    text[n] = char(c);
  }
  // A longer or shorter name is not a DVD-Video file: VIDEO_TS.IFO.bak must not take
  // the place of VIDEO_TS.IFO.
  if (n != kDvdNameUnits || name[n] != 0) return 0;
  entry.dvdKey = KeyOfText(text);
  return entry.dvdKey;
}

TreeNode* FindStreamDirectory(TreeNode* root) {
  if (!root) return nullptr;
  for (TreeNode* bdmv = root->firstChild; bdmv; bdmv = bdmv->nextSibling) {
    if (!bdmv->isDirectory || !EqualsUtf16(bdmv->name, u"BDMV")) continue;
    for (TreeNode* stream = bdmv->firstChild; stream; stream = stream->nextSibling) {
      if (stream->isDirectory && EqualsUtf16(stream->name, u"STREAM")) return stream;
    }
  }
  return nullptr;
}

bool ClipNumberOf(const char16_t* name, uint16_t& number) {
  for (int i = 0; i < 5; ++i) {
    if (name[i] < u'0' || name[i] > u'9') return false;
  }
  if (!EqualsUtf16(name + 5, u".m2ts")) return false;
  uint16_t n = 0;
  for (int i = 0; i < 5; ++i) n = uint16_t(n * 10 + (name[i] - u'0'));
  number = n;
  return true;
}

uint32_t CountStereoExtents(const StereoClipPair& pair, StereoView view) {
  uint32_t count = 0;
  for (const StereoClipPair::RunPiece& piece : pair.InterleavedRun())
    count += piece.dependentView == (view == StereoView::Dependent) ? 1 : 0;
  return count;
}

}  // namespace vellumcast
