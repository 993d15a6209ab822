// Derives the stereoscopic clip pair record from the two clips' information files:
// the number of source packets and the ExtentStartPoints of the ExtensionData.
#include "bluray/stereo_plan.h"

#include "bluray/bdmv_paths.h"
#include "bluray/clip_information.h"
#include "bluray/control_file.h"
#include "bluray/extension_data.h"

namespace vellumcast {
namespace {

// Fills one view of the record; false when its start points fail their checks.
bool ReadClipView(std::u16string_view sourcePath, int32_t clip, uint32_t& sectors,
                  std::vector<uint32_t>& extents) {
  ClipInformation info;
  {
    ControlFile file;
    if (!file.Read(ClipInformationPath(sourcePath, clip))) return true;
    if (!ReadClipInformation(file.bytes, file.length, info)) return true;
  }
  ExtensionData extension;
  if (!ReadExtensionData(info.extensionBytes.data(), info.extensionBytes.size(), extension)) {
    return true;  // an ExtensionData that runs past its own end makes the file not usable
  }
  sectors = SectorsFromPackets(info.sourcePackets);
  if (extension.extentStartPointsLength == 0 || extension.extentStartPoints.empty()) return true;
  return DeriveExtents(extension.extentStartPoints, info.sourcePackets, extents);
}

}  // namespace

bool DeriveExtents(const std::vector<uint32_t>& s, uint32_t packets,
                   std::vector<uint32_t>& extents) {
  extents.clear();
  if (s.empty()) return true;
  const uint32_t clipSectors = SectorsFromPackets(packets);
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] <= s[i - 1]) return false;
    extents.push_back(SectorsFromPackets(s[i] - s[i - 1]));
    if (SectorsFromPackets(s[i]) >= clipSectors) return false;
  }
  // The last extent runs to the end of the clip; a start point beyond it would wrap.
  if (s.back() > packets) return false;
  extents.push_back(SectorsFromPackets(packets - s.back()));
  return true;
}

bool BuildStereoClipPair(std::u16string_view sourcePath, int32_t baseClip, int32_t dependentClip,
                         StereoClipPair& out) {
  out = StereoClipPair{};
  out.baseClip = uint16_t(baseClip);
  out.dependentClip = uint16_t(dependentClip);
  if (!ReadClipView(sourcePath, baseClip, out.baseSectors, out.baseExtents)) return false;
  if (!ReadClipView(sourcePath, dependentClip, out.dependentSectors, out.dependentExtents)) {
    return false;
  }
  // The interleaved run walks the dependent-view extents; base-view extents beyond
  // them would have no place in it.
  return out.baseExtents.size() <= out.dependentExtents.size();
}

}  // namespace vellumcast
