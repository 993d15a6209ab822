// Adding the made-up checksum list file to the root of the source tree.
#include "tree/checksum_list.h"

#include <sys/stat.h>

#include "platform/text.h"
#include "tree/source_entry.h"

namespace vellumcast {

bool AttachChecksumList(const ImageSettings& settings, SourceTree& tree, Diagnostics& log) {
  if (!settings.checksums || !tree.root) return true;
  TreeNode* last = nullptr;
  for (TreeNode* e = tree.root->firstChild; e; e = e->nextSibling) {
    if (EqualsIgnoringAsciiCase(e->name, kChecksumListName)) {
      if (settings.checksumsFromImage) return true;
      return log.Fail("the source folder already has " + Utf16ToUtf8(e->name) +
                      " at its root; --checksums writes its own SHA256SUMS there");
    }
    last = e;
  }
  SourceEntry entry = MadeUpEntry(kChecksumListName, false);
  entry.modifiedTime = entry.accessTime = entry.attributeTime = settings.buildTime;
  entry.posixMode = S_IFREG | 0444;
  TreeNode* added = nullptr;
  if (AddChild(tree, log, tree.root, last, entry, &added) != AddResult::Added || !added) {
    return log.error.empty() ? log.Fail("the checksum list cannot be added to the tree") : false;
  }
  added->kind = ChecksumList;
  tree.checksumList = added;
  return true;
}

}  // namespace vellumcast
