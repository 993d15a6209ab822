// Appending entries to the source tree: node and name from the arena, the primary
// chain, the per-directory and whole-tree counters and the file's sector count.
#include "tree/source_entry.h"

#include <cstring>

#include "base/disc_constants.h"
#include "platform/find_iterator.h"
#include "platform/text.h"

namespace vellumcast {

bool IsThumbsDb(const char16_t* name) { return EqualsUtf16(name, u"Thumbs.db"); }

SourceEntry SourceEntryFrom(const FindEntry& found) {
  SourceEntry e;
  e.namePointer = found.name;
  e.nameBytes = int32_t(2 * Utf16Length(found.name) + 2);
  e.size = found.isDirectory ? 0 : found.size;
  e.isDirectory = found.isDirectory;
  e.modifiedTime = found.lastWriteTime;
  e.accessTime = found.lastAccessTime;
  e.attributeTime = found.creationTime;
  e.posixMode = found.mode;
  e.uid = found.uid;
  e.gid = found.gid;
  return e;
}

SourceEntry MadeUpEntry(const char16_t* name, bool isDirectory) {
  SourceEntry e;
  e.namePointer = name;
  e.nameBytes = int32_t(2 * Utf16Length(name) + 2);
  e.isDirectory = isDirectory ? 1 : 0;
  return e;
}

AddResult AddChild(SourceTree& tree, Diagnostics& log, TreeNode* directory, TreeNode*& last,
                   const SourceEntry& entry, TreeNode** added) {
  if (added) *added = nullptr;
  if (tree.totalFileCount >= tree.fileLimit) return AddResult::Refused;
  if (!entry.isDirectory && IsThumbsDb(entry.Name())) return AddResult::Refused;

  auto* node =
      static_cast<TreeNode*>(ArenaAllocAligned(tree.arena, sizeof(TreeNode), alignof(TreeNode)));
  auto* name = node ? static_cast<char16_t*>(ArenaAllocAligned(
                          tree.arena, uint32_t(entry.nameBytes), alignof(char16_t)))
                    : nullptr;
  if (!name) {
    log.Fail("out of memory while reading the source folder");
    return AddResult::OutOfMemory;
  }
  std::memcpy(name, entry.Name(), size_t(entry.nameBytes));
  if (entry.linkTarget) {
    const uint32_t bytes = uint32_t(entry.linkTarget->size() + 1);
    void* text = bytes < tree.arena->blockSize
                     ? ArenaCopy(tree.arena, entry.linkTarget->c_str(), bytes)
                     : nullptr;
    if (!text) {
      log.Fail("out of memory while reading the source folder");
      return AddResult::OutOfMemory;
    }
    node->linkTarget = static_cast<const char*>(text);
  } else if (entry.deviceNumber) {
    node->deviceNumber = entry.deviceNumber;
  }
  node->kind = Ordinary;
  node->isDirectory = entry.isDirectory;
  node->name = name;
  node->modifiedTime = entry.modifiedTime;
  node->accessTime = entry.accessTime;
  node->attributeTime = entry.attributeTime;
  node->posixMode = entry.posixMode;
  node->uid = entry.uid;
  node->gid = entry.gid;
  node->parent = directory;

  if (!directory->firstChild) directory->firstChild = node;
  if (last) last->nextSibling = node;
  last = node;
  if (entry.ssifMark == 1) node->kind = StereoInterleaved;

  if (entry.isDirectory) {
    ++directory->subdirCount;
    ++tree.totalDirectoryCount;
  } else {
    ++directory->fileCount;
    ++tree.totalFileCount;
    node->size = entry.size;
    node->sectorCount = uint32_t((entry.size + kSectorSize - 1) / kSectorSize);
  }
  if (added) *added = node;
  return AddResult::Added;
}

}  // namespace vellumcast
