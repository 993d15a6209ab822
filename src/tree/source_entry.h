// One entry handed to the source tree, and AddChild, which appends it to a directory's
// primary chain and keeps the tree's counters.
#pragma once

#include <cstdint>
#include <string>

#include "base/diagnostics.h"
#include "tree/source_tree.h"
#include "tree/tree_node.h"

namespace vellumcast {

struct FindEntry;

constexpr uint32_t kInlineNameUnits = 13;  // a DVD-Video name (8.3) and its terminator

struct SourceEntry {
  const char16_t* namePointer = nullptr;  // null: the name is held in inlineName
  int32_t nameBytes = 0;                  // 2 x units + 2 (the terminator included)
  uint64_t size = 0;                      // bytes; 0 for a directory
  uint32_t dvdKey = 0;                    // order of a DVD-Video file
  uint8_t isDirectory = 0;
  uint8_t ssifMark = 0;      // a made-up .ssif entry (StereoInterleaved)
  int64_t modifiedTime = 0;  // seconds since 1970
  int64_t accessTime = 0;
  int64_t attributeTime = 0;  // st_ctime
  uint32_t posixMode = 0;     // st_mode; 0 for an entry the scan makes up
  uint32_t uid = 0;
  uint32_t gid = 0;
  const std::string* linkTarget = nullptr;  // a symbolic link kept with Rock Ridge: its text
  uint64_t deviceNumber = 0;                // a device node kept with Rock Ridge: st_rdev
  char16_t inlineName[kInlineNameUnits] = {};

  const char16_t* Name() const { return namePointer ? namePointer : inlineName; }
};

// A SourceEntry describing a listed entry; it points at the FindEntry's name.
SourceEntry SourceEntryFrom(const FindEntry& found);
// A SourceEntry for a directory or file the scan makes up, pointing at `name`.
SourceEntry MadeUpEntry(const char16_t* name, bool isDirectory);

// A file named exactly "Thumbs.db" (a Windows thumbnail cache) never goes on the disc.
bool IsThumbsDb(const char16_t* name);

enum class AddResult : uint8_t {
  Added,
  Refused,      // the file limit is reached, or a file named "Thumbs.db"
  OutOfMemory,  // the arena could not hold the node or its name; log.Fail was called
};

// Appends a node for `entry` after `last` (the directory's current last entry, null when
// the caller knows of none) and stores the new node into `last` (and `added`).
AddResult AddChild(SourceTree& tree, Diagnostics& log, TreeNode* directory, TreeNode*& last,
                   const SourceEntry& entry, TreeNode** added = nullptr);

}  // namespace vellumcast
