// Builds source trees by hand for the layout tests: a builder with its arena, a root and
// helpers that append directories and files at the end of a directory's primary order.
#pragma once

#include <cstring>
#include <string>
#include <unordered_map>

#include "build/image_builder.h"
#include "test_tree.h"
#include "tree/tree_node.h"

namespace vellumcast::test {

struct LayoutTree {
  ImageBuilder builder;

  explicit LayoutTree(uint32_t formatFlags, uint16_t udfRevision = 0x0102, bool dvdVideo = false) {
    builder.Initialize();
    builder.formatFlags = formatFlags;
    builder.udfRevision = udfRevision;
    builder.dvdVideoMode = dvdVideo;
    MakeRoot(builder, u"/source/")->fileEntryLocation = 2;
  }

  TreeNode& root() { return *builder.root; }

  std::unordered_map<TreeNode*, TreeNode*> lastChild;  // current end of each primary order

  TreeNode* AddDir(TreeNode& parent, const std::u16string& name) {
    return AddEntry(builder, parent, lastChild[&parent], name, true);
  }

  TreeNode* AddFile(TreeNode& parent, const std::u16string& name, uint64_t size = 0) {
    return AddEntry(builder, parent, lastChild[&parent], name, false, size);
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
