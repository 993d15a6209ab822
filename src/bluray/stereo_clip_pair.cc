// The interleaving rule shared by the scanner, the layout, the output pipeline and the
// UDF file structures.
#include "bluray/stereo_clip_pair.h"

namespace vellumcast {

std::vector<StereoClipPair::RunPiece> StereoClipPair::InterleavedRun() const {
  std::vector<RunPiece> run;
  run.reserve(dependentExtents.size() + baseExtents.size());
  for (std::size_t i = 0; i < dependentExtents.size(); ++i) {
    run.push_back(RunPiece{true, dependentExtents[i]});
    if (i < baseExtents.size()) run.push_back(RunPiece{false, baseExtents[i]});
  }
  return run;
}

}  // namespace vellumcast
