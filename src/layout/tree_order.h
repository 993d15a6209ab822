// The two orders of every directory and the one pass that names and sorts the tree: the
// primary order (firstChild / nextSibling, sorted by UDF identifier for UDF images) and
// the ISO 9660 order of ECMA-119 9.3 (isoFirstChild / isoNextSibling).
#pragma once

#include "layout/layout_plan.h"
#include "tree/tree_node.h"

namespace vellumcast {

// Names every entry below `root` and puts every directory into its two orders: the
// primary order (firstChild / nextSibling, sorted for UDF) and the ISO 9660 order
// (isoFirstChild / isoNextSibling). False (with planner.log.Fail) when the arena is full.
[[nodiscard]] bool NameAndSortTree(LayoutPlanner& planner, TreeNode& root);

// Sorts the primary order by UDF identifier (stable; in DVD-Video mode the root and its
// VIDEO_TS and AUDIO_TS keep the order the scan gave them).
void SortUdfOrder(const LayoutPlanner& planner, TreeNode& directory);
// Builds the ISO 9660 order: ascending by identifier; among equal identifiers an entry
// later in the primary order comes first.
void SortIsoOrder(TreeNode& directory);

}  // namespace vellumcast
