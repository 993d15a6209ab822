// Helpers for tests of the source tree: a scan through the real builder with its
// warnings collected, and lookups of nodes by name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "build/image_builder.h"
#include "platform/text.h"
#include "tree/tree_node.h"

namespace vellumcast::test {

struct ScanResult {
  ImageBuilder builder;
  std::vector<std::string> warnings;
  bool ok = false;

  TreeNode* root() const { return builder.root; }
  bool Warned(const std::string& part) const {
    for (const std::string& w : warnings) {
      if (w.find(part) != std::string::npos) return true;
    }
    return false;
  }
};

struct ScanOptions {
  uint32_t formatFlags = FormatUdf;
  uint16_t udfRevision = 0x0250;
  std::unique_ptr<StereoPlan> stereoPlan;
  std::string targetPath;
  uint32_t fileLimit = 4294967295u;
};

inline std::unique_ptr<ScanResult> Scan(const std::string& source, ScanOptions options = {}) {
  auto result = std::make_unique<ScanResult>();
  ImageBuilder& b = result->builder;
  b.Initialize();
  b.formatFlags = options.formatFlags;
  b.udfRevision = options.udfRevision;
  b.stereoPlan = std::move(options.stereoPlan);
  b.targetPath = Utf8ToUtf16(options.targetPath);
  b.fileLimit = options.fileLimit;
  b.warning = [](const std::string& text, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(text);
  };
  b.warningContext = &result->warnings;
  std::string path = source;
  if (path.empty() || path.back() != '/') path += '/';
  result->ok = b.ScanSourceTree(Utf8ToUtf16(path).c_str());
  return result;
}

inline std::string NameOf(const TreeNode* node) { return Utf16ToUtf8(node->name); }

// Names of a directory's entries in primary order.
inline std::vector<std::string> ChildNames(const TreeNode* directory) {
  std::vector<std::string> names;
  for (const TreeNode* n = directory ? directory->firstChild : nullptr; n; n = n->nextSibling) {
    names.push_back(NameOf(n));
  }
  return names;
}

// The node at a '/'-separated path below `directory`, or null.
inline TreeNode* Find(TreeNode* directory, const std::string& path) {
  size_t start = 0;
  TreeNode* node = directory;
  while (node && start <= path.size()) {
    size_t slash = path.find('/', start);
    std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    TreeNode* next = nullptr;
    for (TreeNode* c = node->firstChild; c; c = c->nextSibling) {
      if (NameOf(c) == part) next = c;
    }
    node = next;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return node;
}

}  // namespace vellumcast::test
