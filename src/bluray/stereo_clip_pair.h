// One stereoscopic (3D) clip of a Blu-ray BDMV folder: its base-view and dependent-view
// stream files and how their extents interleave into one run of sectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vellumcast {

// A plain value; copying it copies both extent lists.
struct StereoClipPair {
  uint16_t baseClip = 0;       // five-digit number of the base-view clip, modulo 65536
  uint16_t dependentClip = 0;  // five-digit number of the dependent-view clip, modulo 65536
  uint32_t baseSectors = 0;    // base-view clip size in 2048-byte sectors
  uint32_t dependentSectors = 0;
  std::vector<uint32_t> baseExtents;  // extent sizes in sectors, in file order
  std::vector<uint32_t> dependentExtents;

  // One piece of the interleaved run: `sectors` sectors of one view's stream file,
  // `offset` sectors from the start of the run.
  struct RunPiece {
    bool dependentView;
    uint32_t offset;
    uint32_t sectors;  // 1 to kMaxExtentSectors
  };

  // The interleaving rule, the build's one statement of it (the verifier states it again
  // on its own, InterleavedPieces): dependent extent i, then base extent i when there is
  // one, for i over the dependent extents; the run is the content of the .ssif file. Each
  // extent is cut into pieces of at most kMaxExtentSectors, the longest extent one UDF
  // allocation descriptor records, so that every piece is one extent of its file; an
  // extent of 0 sectors gives no piece. The pieces of one view, in run order, are that
  // view's stream file.
  std::vector<RunPiece> InterleavedRun() const;

  // Sectors of the whole run: baseSectors + dependentSectors, summed in 32 bits.
  uint32_t RunSectors() const { return baseSectors + dependentSectors; }
};

using StereoPlan = std::vector<StereoClipPair>;

}  // namespace vellumcast
