// The interleaving rule of a stereoscopic clip pair. The tree counts its pieces for the
// File Entries the layout plans, the UDF file structures record them as extents, and the
// output pipeline copies the two stream files into the run piece by piece.
#include "bluray/stereo_clip_pair.h"

#include <algorithm>

#include "base/disc_constants.h"

namespace vellumcast {
namespace {

// `sectors` of one view at `offset`, cut at the longest recorded extent.
void AppendPieces(std::vector<StereoClipPair::RunPiece>& run, bool dependentView, uint32_t offset,
                  uint32_t sectors) {
  while (sectors > 0) {
    const uint32_t piece = std::min(sectors, kMaxExtentSectors);
    run.push_back(StereoClipPair::RunPiece{dependentView, offset, piece});
    offset += piece;
    sectors -= piece;
  }
}

}  // namespace

std::vector<StereoClipPair::RunPiece> StereoClipPair::InterleavedRun() const {
  std::vector<RunPiece> run;
  run.reserve(dependentExtents.size() + baseExtents.size());
  uint32_t offset = 0;
  for (std::size_t i = 0; i < dependentExtents.size(); ++i) {
    AppendPieces(run, true, offset, dependentExtents[i]);
    offset += dependentExtents[i];
    if (i < baseExtents.size()) {
      AppendPieces(run, false, offset, baseExtents[i]);
      offset += baseExtents[i];
    }
  }
  return run;
}

}  // namespace vellumcast
