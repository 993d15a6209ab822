// Emits the UDF file-system area (ECMA-167 part 4, OSTA UDF 2.3): File Set Descriptor,
// its Terminating Descriptor, the root's entry, then for each directory breadth-first
// its File Identifier Descriptors followed by the entries of its children.
#include "writer/udf_file_system.h"

#include "base/disc_constants.h"
#include "layout/entry_extents.h"
#include "layout/layout_rules.h"
#include "tree/tree_node.h"
#include "tree/tree_walk.h"
#include "writer/file_entries.h"
#include "writer/file_identifiers.h"
#include "writer/file_set.h"
#include "writer/image_writer.h"
#include "writer/sector_emit.h"
#include "writer/volume_descriptors.h"

namespace vellumcast {
namespace {

constexpr uint32_t kFileSetTerminatorBlock = 1;
constexpr char kArea[] = "the UDF file-system area";

bool EmitDirectoryIdentifiers(ImageEmitter& emitter, const TreeNode& directory, uint32_t block,
                              uint32_t blocks) {
  return EmitFilledSectors(emitter, blocks, [&](uint8_t* s) {
    return BuildDirectoryIdentifiers(emitter, directory, block, s);
  });
}

}  // namespace

bool EmitUdfFileSystemArea(ImageEmitter& emitter, uint32_t& blocks) {
  blocks = 0;
  TreeNode* root = emitter.tree.root;
  if (!root || root->fileEntryLocation != kRootFileEntryBlock) return Mismatch(emitter, kArea);
  if (!EmitDescriptor(emitter, BuildFileSetDescriptor) ||
      !EmitDescriptor(emitter, BuildTerminatingDescriptor, kFileSetTerminatorBlock) ||
      !EmitEntry(emitter, *root, kRootFileEntryBlock))
    return false;
  uint32_t n = kFixedFileSystemBlocks;

  // Each directory's identifiers, then its entries' File Entries, directories breadth
  // first: the blocks the layout handed out in the same walk.
  const bool ok =
      WalkBreadthFirst(*static_cast<const TreeNode*>(root), [&](const TreeNode& directory) {
        if (directory.udfDirLocation != n) return Mismatch(emitter, kArea);
        const uint32_t directoryBlocks = UdfDirectorySectors(directory);
        if (!EmitDirectoryIdentifiers(emitter, directory, n, directoryBlocks)) return false;
        n += directoryBlocks;
        for (const TreeNode* child = directory.firstChild; child; child = child->nextSibling) {
          // The names of a hard-linked file share one entry, placed at the first of them.
          const TreeNode& entry = child->EntryOwner();
          if (child->hardLinks && entry.fileEntryLocation < n) continue;
          if (entry.fileEntryLocation != n) return Mismatch(emitter, kArea);
          if (!EmitEntry(emitter, entry, n)) return false;
          n += FileEntrySectors(emitter.settings, entry);
        }
        return true;
      });
  if (!ok) return false;
  blocks = n;
  return true;
}

}  // namespace vellumcast
