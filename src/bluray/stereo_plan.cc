// Derives the stereoscopic clip pair record from the two clips' information files (the
// number of source packets and the ExtentStartPoints of the ExtensionData) and checks it
// against the two stream files, so that the interleaved run holds every byte of both
// clips and nothing else.
#include "bluray/stereo_plan.h"

#include <cstdio>

#include "bluray/bdmv_paths.h"
#include "bluray/clip_information.h"
#include "bluray/control_file.h"
#include "bluray/extension_data.h"
#include "platform/file_handle.h"

namespace vellumcast {
namespace {

std::string ClipFileName(const char* folder, int32_t clip, const char* extension) {
  char name[48];
  std::snprintf(name, sizeof name, "BDMV/%s/%05d.%s", folder, int(clip), extension);
  return name;
}

std::string Number(uint64_t value) { return std::to_string(value); }

// "BDMV/..." of a file name made above, as the path below the source folder.
std::u16string BelowBdmv(const std::string& name) {
  return std::u16string(name.begin() + std::string("BDMV/").size(), name.end());  // ASCII
}

// The stream file must hold exactly the clip's source packets: the extents then cover
// it to its last byte.
bool CheckStreamFile(std::u16string_view sourcePath, int32_t clip, uint32_t packets,
                     std::string& reason) {
  const std::string name = ClipFileName("STREAM", clip, "m2ts");
  FileHandle file;
  if (!file.Open(BdmvPath(sourcePath, BelowBdmv(name)).c_str(), OpenRead)) {
    reason = name + " cannot be read";
    return false;
  }
  const uint64_t expected = uint64_t(packets) * kSourcePacketBytes;
  const uint64_t size = file.Size();
  if (size == expected) return true;
  reason = name + " holds " + Number(size) + " bytes, but its clip information gives " +
           Number(packets) + " source packets (" + Number(expected) + " bytes)";
  return false;
}

// Fills one view of the record; false (with the reason) when the clip cannot be part of
// an interleaved pair.
bool ReadClipView(std::u16string_view sourcePath, int32_t clip, uint32_t& sectors,
                  std::vector<uint32_t>& extents, std::string& reason) {
  const std::string name = ClipFileName("CLIPINF", clip, "clpi");
  if (clip < 0) {
    reason = "clip number " + std::to_string(clip) + " of a playlist is not a five-digit clip name";
    return false;
  }
  ClipInformation info;
  {
    ControlFile file;
    if (!file.Read(ClipInformationPath(sourcePath, clip))) {
      reason = name + " cannot be read";
      return false;
    }
    if (!DecodeClipInformation(file.bytes, file.length, info)) {
      reason = name + " is cut short";
      return false;
    }
  }
  ExtensionData extension;
  if (!DecodeExtensionData(info.extensionBytes.data(), info.extensionBytes.size(), extension)) {
    reason = name + ": its ExtensionData runs past its end";
    return false;
  }
  sectors = ClipSectors(info.sourcePackets);
  extents.clear();
  if (extension.extentStartPointsLength != 0 && !extension.extentStartPoints.empty()) {
    if (!DeriveExtents(extension.extentStartPoints, info.sourcePackets, extents, reason)) {
      reason = name + ": " + reason;
      return false;
    }
  } else if (sectors != 0) {
    reason =
        name + ": no extent start points for its " + Number(info.sourcePackets) + " source packets";
    return false;
  }
  return CheckStreamFile(sourcePath, clip, info.sourcePackets, reason);
}

}  // namespace

bool DeriveExtents(const std::vector<uint32_t>& s, uint32_t packets, std::vector<uint32_t>& extents,
                   std::string& reason) {
  extents.clear();
  if (s.empty()) return true;
  if (s[0] != 0) {
    reason = "the first extent start point is " + Number(s[0]) + ", not 0";
    return false;
  }
  for (size_t i = 0; i < s.size(); ++i) {
    if (i > 0 && s[i] <= s[i - 1]) {
      reason = "extent start point " + Number(s[i]) + " does not rise above " + Number(s[i - 1]);
      return false;
    }
    if (s[i] % kAlignedUnitPackets != 0) {
      reason = "extent start point " + Number(s[i]) + " is not a multiple of 32 source packets";
      return false;
    }
    if (s[i] >= packets) {
      reason = "extent start point " + Number(s[i]) + " is not below the clip's " +
               Number(packets) + " source packets";
      return false;
    }
  }
  // Whole aligned units convert to sectors without loss; the last extent takes the
  // clip's last, possibly partial, sector.
  uint64_t total = 0;
  for (size_t i = 1; i < s.size(); ++i) {
    extents.push_back(SectorsFromPackets(s[i] - s[i - 1]));
    total += extents.back();
  }
  extents.push_back(ClipSectors(packets - s.back()));
  total += extents.back();
  if (total == ClipSectors(packets)) return true;
  reason = "its extents add up to " + Number(total) + " sectors, not the clip's " +
           Number(ClipSectors(packets));
  return false;
}

bool BuildStereoClipPair(std::u16string_view sourcePath, int32_t baseClip, int32_t dependentClip,
                         StereoClipPair& out, std::string& reason) {
  out = StereoClipPair{};
  out.baseClip = uint16_t(baseClip);
  out.dependentClip = uint16_t(dependentClip);
  if (!ReadClipView(sourcePath, baseClip, out.baseSectors, out.baseExtents, reason)) return false;
  if (!ReadClipView(sourcePath, dependentClip, out.dependentSectors, out.dependentExtents,
                    reason)) {
    return false;
  }
  // The interleaved run walks the dependent-view extents; base-view extents beyond
  // them would have no place in it.
  if (out.baseExtents.size() > out.dependentExtents.size()) {
    reason = ClipFileName("CLIPINF", baseClip, "clpi") + " gives more extents (" +
             Number(out.baseExtents.size()) + ") than " +
             ClipFileName("CLIPINF", dependentClip, "clpi") + " (" +
             Number(out.dependentExtents.size()) + ")";
    return false;
  }
  // The .ssif file covers the whole run; its size in sectors is a 32-bit number.
  if (uint64_t(out.baseSectors) + out.dependentSectors > UINT32_MAX) {
    reason = ClipFileName("STREAM", baseClip, "m2ts") + " and " +
             ClipFileName("STREAM", dependentClip, "m2ts") +
             " are too large for one interleaved file";
    return false;
  }
  return true;
}

}  // namespace vellumcast
