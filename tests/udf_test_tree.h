// A hand-built, hand-planned source tree for tests of the UDF file structures.
#pragma once

#include <cstring>
#include <deque>
#include <string>

#include "tree/tree_node.h"

namespace vellumcast::test {

struct TestTree {
  std::deque<TreeNode> nodes;
  std::deque<std::u16string> names;

  TreeNode* Root() {
    if (nodes.empty()) {
      TreeNode& root = nodes.emplace_back();
      std::memset(&root, 0, sizeof root);
      root.parent = &root;
      root.isDirectory = 1;
      root.fileEntryLocation = 2;
      root.isoNameLength = 2;
    }
    return &nodes.front();
  }

  // Appends an entry named `name` (its UDF identifier: the UTF-16 units as stored by
  // the layout, or the 8-bit bytes when `eightBit`) at the end of `dir`.
  TreeNode* Add(TreeNode* dir, const std::u16string& name, bool isDirectory, uint64_t size = 0,
                bool eightBit = false) {
    TreeNode& n = nodes.emplace_back();
    std::memset(&n, 0, sizeof n);
    const std::u16string& stored = names.emplace_back(name);
    n.name = stored.c_str();
    if (eightBit) {
      std::u16string& bytes = names.emplace_back();
      bytes.resize(name.size());
      auto* p = reinterpret_cast<uint8_t*>(bytes.data());
      for (size_t i = 0; i < name.size(); ++i) p[i] = uint8_t(name[i]);
      n.udfName = p;
      n.udfNameLength = uint8_t(name.size());
    } else {
      n.udfName = reinterpret_cast<const uint8_t*>(stored.c_str());
      n.udfNameLength = uint8_t(2 * name.size());
    }
    n.parent = dir;
    n.isDirectory = isDirectory;
    n.size = isDirectory ? 0 : size;
    if (!isDirectory) n.sectorCount = uint32_t((size + 2047) / 2048);
    TreeNode** link = &dir->firstChild;
    while (*link) link = &(*link)->nextSibling;
    *link = &n;
    if (isDirectory) ++dir->subdirCount; else ++dir->fileCount;
    return &n;
  }
};

}  // namespace vellumcast::test
