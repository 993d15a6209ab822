// Discovery and analysis of a Blu-ray BDMV folder: index.bdmv, the movie playlists and
// the clip information files yield the stereoscopic clip pairs.
#pragma once

#include "bluray/stereo_clip_pair.h"

namespace vellumcast {

// `sourcePath` is the canonical source folder, ending in '/'. Fills `plan` with one
// record per stereoscopic clip pair; false when the folder holds no usable 3D content.
bool AnalyzeBdmvFolder(const char16_t* sourcePath, StereoPlan& plan);

}  // namespace vellumcast
