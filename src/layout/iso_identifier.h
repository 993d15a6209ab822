// ISO 9660 identifiers of every entry (ECMA-119 7.5, 7.6, 9.1.11; DVD-Video restricts
// them to A-Z, 0-9 and '_'), unique within each directory.
//
// Storage on each TreeNode (carved from the tree's arena): isoName holds isoNameLength
// bytes and a terminating zero.
#pragma once

#include <cstdint>
#include <string>

#include "layout/layout_plan.h"
#include "tree/tree_node.h"

namespace vellumcast {

// Gives every entry of `directory` its ISO 9660 identifier, unique within the directory.
// False when the arena is full.
[[nodiscard]] bool NameIsoEntries(LayoutPlanner& planner, TreeNode& directory);

// One 8-bit character of an ISO 9660 identifier: unchanged outside DVD-Video mode; in
// it 'a'-'z' are raised and everything but 'A'-'Z' and '0'-'9' becomes '_'.
uint8_t MapIsoCharacter(uint8_t c, bool dvdVideoMode);

// The 8-bit (ISO-8859-1) form of a name: a unit above U+00FF, a surrogate pair and a
// byte of a host name that was not UTF-8 each become one '?'. The whole name is
// converted (a host name has at most 255 bytes), so its last '.' is found.
std::string EightBitName(const char16_t* name);

}  // namespace vellumcast
