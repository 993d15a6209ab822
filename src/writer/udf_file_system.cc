// Writes the UDF file-system area (ECMA-167 part 4): File Set Descriptor, its
// Terminating Descriptor, the root's entry, then for each directory breadth-first its
// File Identifier Descriptors followed by the entries of its children.
#include <deque>

#include "writer/image_writer.h"
#include "base/disc_constants.h"
#include "layout/entry_extents.h"
#include "layout/layout_rules.h"
#include "tree/tree_node.h"
#include "writer/file_entries.h"
#include "writer/file_structures.h"
#include "writer/sector_emit.h"
#include "writer/udf_structures.h"
#include "writer/volume_descriptors.h"

namespace vellumcast {
namespace {

constexpr uint32_t kFileSetTerminatorBlock = 1;
// Returned when the area cannot be written as planned: larger than any plan, so the
// image writer's comparison with metadataBlocks abandons the image.
constexpr uint32_t kAreaFailed = 0xFFFFFFFF;

uint32_t Mismatch(ImageEmitter& emitter) {
  emitter.log.Fail("The UDF file-system area does not match the layout plan");
  return kAreaFailed;
}

bool WriteDirectory(ImageEmitter& emitter, const TreeNode& directory, uint32_t block,
                    uint32_t blocks) {
  const char* why = nullptr;
  const bool written = EmitFilledSectors(emitter, blocks, [&](uint8_t* s) {
    return BuildDirectoryIdentifiers(emitter, directory, block, s, &why);
  });
  return why ? emitter.log.Fail(why) : written;
}

}  // namespace

uint32_t WriteUdfFileSystemArea(ImageEmitter& emitter) {
  TreeNode* root = emitter.tree.root;
  if (!root || root->fileEntryLocation != kRootFileEntryBlock) return Mismatch(emitter);
  if (!EmitFilledSectors(emitter, 1, [&](uint8_t* s) { BuildFileSetDescriptor(emitter, s); }) ||
      !EmitFilledSectors(emitter, 1, [&](uint8_t* s) {
        BuildTerminatingDescriptor(emitter, s, kFileSetTerminatorBlock);
      }) ||
      !WriteEntry(emitter, *root, kRootFileEntryBlock))
    return kAreaFailed;
  uint32_t n = kFixedFileSystemBlocks;

  std::deque<const TreeNode*> queue{root};
  while (!queue.empty()) {
    const TreeNode* directory = queue.front();
    queue.pop_front();
    if (directory->udfDirLocation != n) return Mismatch(emitter);
    const uint32_t blocks = UdfDirectorySectors(*directory);
    if (!WriteDirectory(emitter, *directory, n, blocks)) return kAreaFailed;
    n += blocks;
    for (const TreeNode* child = directory->firstChild; child; child = child->nextSibling) {
      if (child->fileEntryLocation != n) return Mismatch(emitter);
      if (!WriteEntry(emitter, *child, n)) return kAreaFailed;
      n += FileEntrySectors(emitter.settings, *child);
      if (child->isDirectory) queue.push_back(child);
    }
  }
  return n;
}

}  // namespace vellumcast
