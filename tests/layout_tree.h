// Builds source trees by hand for the layout tests: a builder with its arena, a root and
// helpers that append directories and files at the end of a directory's primary order.
#pragma once

#include <cstring>
#include <string>

#include "build/image_builder.h"
#include "tree/node_arena.h"
#include "tree/tree_node.h"

namespace vellumcast::test {

struct LayoutTree {
  ImageBuilder builder;

  explicit LayoutTree(uint32_t formatFlags, uint16_t udfRevision = 0x0102, bool dvdVideo = false) {
    builder.Initialize();
    builder.formatFlags = formatFlags;
    builder.udfRevision = udfRevision;
    builder.dvdVideoMode = dvdVideo;
    builder.arena = CreateArena(8192);
    TreeNode* root = NewNode(u"/source/", true);
    root->parent = root;
    root->isoNameLength = 2;
    root->fileEntryLocation = 2;
    builder.root = root;
  }

  TreeNode& root() { return *builder.root; }

  TreeNode* NewNode(const std::u16string& name, bool directory) {
    // The arena does not align: nodes and names are carved in multiples of 8 bytes so
    // that every node stays aligned.
    auto* node = static_cast<TreeNode*>(ArenaAlloc(builder.arena, sizeof(TreeNode)));
    uint32_t bytes = uint32_t(2 * name.size() + 2);
    auto* copy = static_cast<char16_t*>(ArenaAlloc(builder.arena, (bytes + 7) / 8 * 8));
    std::memcpy(copy, name.c_str(), bytes);
    node->name = copy;
    node->isDirectory = directory;
    return node;
  }

  TreeNode* Append(TreeNode& parent, TreeNode* node) {
    node->parent = &parent;
    TreeNode** link = &parent.firstChild;
    while (*link) link = &(*link)->nextSibling;
    *link = node;
    return node;
  }

  TreeNode* AddDir(TreeNode& parent, const std::u16string& name) {
    ++builder.totalDirectoryCount;
    ++parent.subdirCount;
    return Append(parent, NewNode(name, true));
  }

  TreeNode* AddFile(TreeNode& parent, const std::u16string& name, uint64_t size = 0) {
    ++builder.totalFileCount;
    ++parent.fileCount;
    TreeNode* node = Append(parent, NewNode(name, false));
    node->size = size;
    node->sectorCount = uint32_t((size + 2047) / 2048);
    return node;
  }
};

inline std::string IsoName(const TreeNode* node) {
  return std::string(reinterpret_cast<const char*>(node->isoName), node->isoNameLength);
}

// The UDF identifier as UTF-16 (16-bit form) or as its bytes widened (8-bit form).
inline std::u16string UdfName(const TreeNode* node, bool eightBit = false) {
  std::u16string out;
  if (eightBit) {
    for (uint32_t i = 0; i < node->udfNameLength; ++i) out.push_back(node->udfName[i]);
  } else {
    for (uint32_t i = 0; i < node->udfNameLength / 2u; ++i) {
      char16_t c;
      std::memcpy(&c, node->udfName + 2 * i, 2);
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace vellumcast::test
