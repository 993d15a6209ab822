// Discovery and analysis of a Blu-ray BDMV folder: index.bdmv, the movie playlists and
// the clip information files yield the stereoscopic clip pairs.
#pragma once

#include <string>

#include "bluray/stereo_clip_pair.h"

namespace vellumcast {

// `sourcePath` is the canonical source folder, ending in '/'. Fills `plan` with one
// record per stereoscopic clip pair, in ascending order of the base-view clip, and
// returns true when every pair can be interleaved exactly. False otherwise: with
// `giveUpReason` empty when the folder declares no 3D content or no playlist pairs any
// clips; with the reason (naming the clip and what is wrong) when the declared pairs
// cannot be interleaved, so the folder must be imaged as it is.
[[nodiscard]] bool AnalyzeBdmvFolder(const char16_t* sourcePath, StereoPlan& plan,
                                     std::string& giveUpReason);

// The one warning of a build that gives up its stereoscopic plan for `reason`.
inline std::string StereoLayoutNotApplied(const std::string& reason) {
  return "stereoscopic (3D) layout not applied: " + reason + "; every file is copied as it is";
}

}  // namespace vellumcast
