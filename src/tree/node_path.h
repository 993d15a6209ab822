// The path of a tree node in the source folder: the one statement of it, used to open a
// file's source, to read it again for a check, and to name an entry in messages.
#pragma once

#include <cstdint>
#include <string>

#include "tree/tree_node.h"

namespace vellumcast {

// Where a node's path starts.
enum class PathFrom : uint8_t {
  SourceFolder,  // the root's name, the source folder's own path ending in '/', comes first
  BelowSource,   // only the names below the source folder ("" for the root)
};

// The node's name as the source folder holds it: a directory read from a folder of
// another name (sourceName: a DVD-Video folder listed as video_ts) has that name.
const char16_t* SourceName(const TreeNode& node);

// The source names (SourceName) from the root down to `node`, joined by '/'. The root
// itself is its own name, or "" below the source folder.
std::u16string SourcePath(const TreeNode& node, PathFrom from = PathFrom::SourceFolder);

// SourcePath as UTF-8, for messages.
std::string SourcePathText(const TreeNode& node, PathFrom from = PathFrom::SourceFolder);

}  // namespace vellumcast
