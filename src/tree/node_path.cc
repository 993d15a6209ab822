// The path of a tree node in the source folder.
#include "tree/node_path.h"

#include <vector>

#include "platform/text.h"

namespace vellumcast {

const char16_t* SourceName(const TreeNode& node) {
  return node.isDirectory && node.sourceName ? node.sourceName : node.name;
}

std::u16string SourcePath(const TreeNode& node, PathFrom from) {
  std::vector<const TreeNode*> chain;  // `node` and its parents below the root
  const TreeNode* at = &node;
  for (; !at->IsRoot(); at = at->parent) chain.push_back(at);
  std::u16string path = from == PathFrom::SourceFolder ? at->name : u"";
  for (size_t i = chain.size(); i-- > 0;) {
    path += SourceName(*chain[i]);
    if (i > 0) path += u'/';
  }
  return path;
}

std::string SourcePathText(const TreeNode& node, PathFrom from) {
  return Utf16ToUtf8(SourcePath(node, from));
}

}  // namespace vellumcast
