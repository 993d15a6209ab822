// Joliet identifiers of every entry (UCS-2 big-endian, at most 64 units) and the Joliet
// order of every directory (jolietFirstChild / jolietNextSibling).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "layout/layout_plan.h"
#include "tree/tree_node.h"

namespace vellumcast {

// Joliet holds UCS-2, which has no surrogates: every character beyond U+FFFF of `text`
// (disc text, see DiscText) becomes '_', and `beyondUcs2` is set when one did.
std::u16string Ucs2Units(std::u16string_view text, bool& beyondUcs2);

// Gives every entry of `directory` its Joliet identifier (unique within the directory;
// a warning for each name recorded differently, only the first 20 on their own) and
// builds the Joliet order (ascending identifiers). False when the arena is full.
[[nodiscard]] bool NameJolietEntries(LayoutPlanner& planner, TreeNode& directory,
                                     uint32_t& changedNames);
void WarnJolietNamesLeft(const LayoutPlanner& planner, uint32_t changedNames);

}  // namespace vellumcast
