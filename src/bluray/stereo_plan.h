// The stereoscopic interleaving plan of one clip pair: sizes and extents of the
// base-view and dependent-view stream files, from their clip information files, checked
// against the stream files themselves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/disc_constants.h"
#include "bluray/stereo_clip_pair.h"

namespace vellumcast {

// Bytes of one MPEG-2 transport stream source packet (a 4-byte arrival time stamp and
// a 188-byte transport packet).
constexpr uint32_t kSourcePacketBytes = 192;
// An aligned unit: 32 source packets, 6144 bytes, exactly three 2048-byte sectors. The
// extents of an interleaved clip begin on aligned units, so they fill whole sectors.
constexpr uint32_t kAlignedUnitPackets = 32;

// Whole 2048-byte sectors in `packets` source packets of 192 bytes, rounded down.
constexpr uint32_t SectorsFromPackets(uint32_t packets) {
  return uint32_t(uint64_t(packets) * kSourcePacketBytes / kSectorSize);
}

// Sectors the stream file of `packets` source packets occupies: its last sector may be
// filled only in part.
constexpr uint32_t ClipSectors(uint32_t packets) {
  return uint32_t((uint64_t(packets) * kSourcePacketBytes + kSectorSize - 1) / kSectorSize);
}

// Extent sizes in sectors from the extent start points (source packet numbers, n >= 1)
// of a clip of `packets` source packets: one extent per start point, the last running
// to the end of the clip. The extents must tile the stream file exactly, so the first
// start point is 0 and every start point is a multiple of 32 packets, below `packets`
// and above the one before it; otherwise false, with `reason` saying which rule fails.
[[nodiscard]] bool DeriveExtents(const std::vector<uint32_t>& startPoints, uint32_t packets,
                                 std::vector<uint32_t>& extents, std::string& reason);

// The record of the pair (base-view clip, dependent-view clip), read from
// BDMV/CLIPINF of `sourcePath`. False, with `reason` naming the file and what is wrong
// with it, when a clip information file cannot be read, its extents do not tile the
// stream file, the stream file BDMV/STREAM/nnnnn.m2ts is not packets x 192 bytes long,
// or the base view has more extents than the dependent view.
[[nodiscard]] bool BuildStereoClipPair(std::u16string_view sourcePath, int32_t baseClip,
                                       int32_t dependentClip, StereoClipPair& out,
                                       std::string& reason);

}  // namespace vellumcast
