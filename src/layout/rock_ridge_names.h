// Rock Ridge names (RRIP NM) unique within every folder.
#pragma once

#include <cstdint>

#include "layout/layout_plan.h"
#include "tree/tree_node.h"

namespace vellumcast {

// Rock Ridge records each entry under its full name. Two entries of one folder can still
// have one name: a file of the DVD-Video root named like a folder the DVD-Video rules
// made (VIDEO_TS, AUDIO_TS), or like a folder read from another letter case. The later
// one in primary order takes the first "~N" variant that no entry of the folder holds,
// with a warning (after 20, a count). False when the arena is full.
[[nodiscard]] bool NameRockRidgeEntries(LayoutPlanner& planner, TreeNode& directory,
                                        uint32_t& changedNames);
void WarnRockRidgeNamesLeft(const LayoutPlanner& planner, uint32_t changedNames);

}  // namespace vellumcast
