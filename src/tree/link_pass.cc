// Hard links and symbolic links to files of the tree.
#include "tree/link_pass.h"

#include <algorithm>

#include "platform/find_iterator.h"
#include "platform/text.h"
#include "tree/node_path.h"

namespace vellumcast {
namespace {

// UDF records a File Link Count in 16 bits: a larger group is split.
constexpr uint32_t kMaxNamesPerFile = 65535;

bool Shareable(const TreeNode& node) {
  return !node.isDirectory && node.kind == Ordinary && !node.IsSymbolicLink() &&
         !node.IsSpecialFile();
}

// The child of `directory` whose name (or source folder name) is `name`, host bytes.
TreeNode* ChildNamed(TreeNode& directory, const std::string& name) {
  const std::u16string wanted = Utf8ToUtf16(name);
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    if (EqualsUtf16(SourceName(*e), wanted.c_str())) return e;
  }
  return nullptr;
}

}  // namespace

void ShareHardLinks(SourceTree& tree, std::vector<HardLinkName>& names) {
  std::erase_if(names, [](const HardLinkName& n) { return !Shareable(*n.node); });
  std::stable_sort(names.begin(), names.end(), [](const HardLinkName& a, const HardLinkName& b) {
    return a.device != b.device ? a.device < b.device : a.inode < b.inode;
  });
  for (size_t first = 0; first < names.size();) {
    size_t end = first + 1;
    while (end < names.size() && end - first < kMaxNamesPerFile &&
           names[end].device == names[first].device && names[end].inode == names[first].inode)
      ++end;
    if (end - first > 1) {
      TreeNode* owner = names[first].node;
      for (size_t i = first; i < end; ++i) {
        TreeNode& name = *names[i].node;
        name.hardLinks = uint16_t(end - first);
        if (&name == owner) continue;
        name.sharedData = owner;
        ++tree.sharedFileEntries;
      }
    }
    first = end;
  }
  names.clear();
}

void ShareLinkTargets(SourceTree& tree, const std::string& sourceHostPath,
                      const std::vector<LinkToFile>& links) {
  for (const LinkToFile& link : links) {
    const std::string target = CanonicalHostPath(link.hostPath);
    if (target.size() <= sourceHostPath.size() || !target.starts_with(sourceHostPath)) continue;
    TreeNode* at = tree.root;
    size_t from = sourceHostPath.size();
    while (at && from <= target.size()) {
      size_t slash = target.find('/', from);
      if (slash == std::string::npos) slash = target.size();
      at = at->isDirectory ? ChildNamed(*at, target.substr(from, slash - from)) : nullptr;
      from = slash + 1;
    }
    // A stream clip's data is one run as well; an interleaved clip's is not.
    if (!at || !(Shareable(*at) || (at->kind == StreamClip && !at->isDirectory))) continue;
    TreeNode& data = at->sharedData ? *at->sharedData : *at;
    link.node->sharedData = &data;
    link.node->size = data.size;
  }
}

}  // namespace vellumcast
