// Hand-made source trees for tests that skip the scan: the root and every entry carved
// from the builder's arena the way the scan carves them, entries appended through the
// real AddChild (primary chain, counters, sector counts).
#pragma once

#include <cstring>
#include <string>

#include "build/image_builder.h"
#include "tree/node_arena.h"
#include "tree/source_entry.h"
#include "tree/tree_node.h"

namespace vellumcast::test {

// Creates the builder's arena and its root directory named `name` (the source path,
// ending in '/'), its own parent, as the scan leaves it.
inline TreeNode* MakeRoot(ImageBuilder& b, const std::u16string& name) {
  b.arena = CreateArena(8192);
  auto* root = static_cast<TreeNode*>(ArenaAllocAligned(b.arena, sizeof(TreeNode), alignof(TreeNode)));
  uint32_t bytes = uint32_t(2 * name.size() + 2);
  auto* copy = static_cast<char16_t*>(ArenaAllocAligned(b.arena, bytes, alignof(char16_t)));
  std::memcpy(copy, name.c_str(), bytes);
  root->name = copy;
  root->parent = root;
  root->isDirectory = 1;
  root->isoNameLength = 2;
  b.root = root;
  return root;
}

// Appends an entry after `last` (the parent's last entry, null for none) and moves
// `last` to it.
inline TreeNode* AddEntry(ImageBuilder& b, TreeNode& parent, TreeNode*& last, const std::u16string& name,
                          bool directory, uint64_t size = 0) {
  SourceEntry entry = MadeUpEntry(name.c_str(), directory);
  entry.size = directory ? 0 : size;
  TreeNode* node = nullptr;
  AddChild(b, &parent, last, entry, &node);
  return node;
}

}  // namespace vellumcast::test
