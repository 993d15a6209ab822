// UDF file identifiers of every entry (ECMA-167 4/14.4, OSTA UDF 2.1.1 and 2.3.4), unique
// within each directory, and the source path of an entry for the warnings about names.
//
// Storage on each TreeNode (carved from the tree's arena, which does not align; read
// 16-bit units with memcpy or UdfNameUnit): udfName holds udfNameLength bytes, no
// terminator. In DVD-Video mode 8-bit characters (ISO-8859-1); otherwise UTF-16 units in
// host byte order, two bytes each, which the UDF writer records high byte first after
// the compression identifier 16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "layout/layout_plan.h"
#include "tree/tree_node.h"

namespace vellumcast {

// Gives every entry of `directory` its UDF identifier, unique within the directory.
// False when the arena is full. Warns about each full name it records shortened or
// numbered, counting them in `changedNames`; only the first 20 draw their own warning,
// WarnChangedNamesLeft sums up the rest.
[[nodiscard]] bool NameUdfEntries(LayoutPlanner& planner, TreeNode& directory,
                                  uint32_t& changedNames);
void WarnChangedNamesLeft(const LayoutPlanner& planner, uint32_t changedNames);

// `name` in at most `limit` units: stem, "~N" for variant N >= 1, and the extension (the
// text from the last '.', not a leading one, when at most `keptExtension` units), the
// stem cut to fit; a surrogate pair is never split.
std::u16string ShortenedName(const std::u16string& name, size_t limit, uint32_t variant,
                             size_t keptExtension);

// Unit `i` of a 16-bit UDF identifier as stored in udfName.
char16_t UdfNameUnit(const TreeNode& node, uint32_t i);

}  // namespace vellumcast
