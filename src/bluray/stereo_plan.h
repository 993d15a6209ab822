// The stereoscopic interleaving plan of one clip pair: sizes and extents of the
// base-view and dependent-view stream files, from their clip information files.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "bluray/stereo_clip_pair.h"

namespace vellumcast {

// Whole 2048-byte sectors in `packets` source packets of 192 bytes, rounded down.
constexpr uint32_t SectorsFromPackets(uint32_t packets) {
  return uint32_t(uint64_t(packets) * 192 / 2048);
}

// Extent sizes in sectors from the extent start points (source packet numbers, n >= 1)
// of a clip of `packets` source packets: one extent per start point, each converted
// from its own packet difference, the last running to the end of the clip. False when
// the start points do not rise strictly, when one after the first lies at or beyond the
// clip's last whole sector, or when the last lies beyond the clip's end.
bool DeriveExtents(const std::vector<uint32_t>& startPoints, uint32_t packets,
                   std::vector<uint32_t>& extents);

// The record of the pair (base-view clip, dependent-view clip), read from
// BDMV/CLIPINF of `sourcePath`. A clip information file that cannot be read or is not
// usable leaves that clip with size 0 and no extents. False when a clip's start points
// fail their checks or the base view has more extents than the dependent view.
bool BuildStereoClipPair(std::u16string_view sourcePath, int32_t baseClip, int32_t dependentClip,
                         StereoClipPair& out);

}  // namespace vellumcast
