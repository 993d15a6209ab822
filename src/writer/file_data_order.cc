// The file-data order as an explicit depth-first walk that can stop after any file:
// a directory's files in primary order, then its subdirectories in primary order. It
// writes nothing; it follows the order of the file data extents (ECMA-119 9.1).
#include "writer/file_data_order.h"

#include "base/disc_constants.h"
#include "platform/paths.h"
#include "tree/node_path.h"
#include "tree/tree_node.h"
#include "writer/file_data.h"

namespace vellumcast {
namespace {

void Describe(const TreeNode& file, ReadAheadRequest& request) {
  request.hostPath = HostPath(SourcePath(file));
  request.plannedBytes = uint64_t(file.sectorCount) * kSectorSize;
  // Read whole exactly the files the writer copies through its staging area; the others
  // are opened for the kernel copy (stereoscopic clips are read piece by piece).
  request.readWhole = file.kind != StereoDependent && file.kind != StereoBase &&
                      file.sectorCount < kKernelCopyMinimumSectors;
}

}  // namespace

FileDataOrder::FileDataOrder(const TreeNode* treeRoot) : root(treeRoot) {
  if (root) Enter(*root);
}

void FileDataOrder::Enter(const TreeNode& directory) {
  stack.push_back(Level{&directory, directory.firstChild, false});
}

bool FileDataOrder::Next(ReadAheadRequest& request) {
  if (baseClip) {
    Describe(*baseClip, request);
    baseClip = nullptr;
    return true;
  }
  while (!stack.empty()) {
    Level& level = stack.back();
    while (!level.inSubdirectories && level.cursor) {
      const TreeNode& e = *level.cursor;
      level.cursor = e.nextSibling;
      // The same choice as EmitFileData: what it opens, in the order it opens it.
      if (e.isDirectory || e.kind == StereoBase || e.kind == StereoInterleaved) continue;
      if ((e.sectorCount == 0 && e.kind != StereoDependent) || e.sharedData) continue;
      if (e.bootRole == kBootCatalogFile || e.kind == ChecksumList) continue;  // made up here
      Describe(e, request);
      if (e.kind == StereoDependent && e.stereoPair && e.baseNode) baseClip = e.baseNode;
      return true;
    }
    if (!level.inSubdirectories) {
      level.inSubdirectories = true;
      level.cursor = level.directory->firstChild;
    }
    while (level.cursor && !level.cursor->isDirectory) level.cursor = level.cursor->nextSibling;
    if (!level.cursor) {
      stack.pop_back();
      continue;
    }
    const TreeNode& subdirectory = *level.cursor;
    level.cursor = subdirectory.nextSibling;
    Enter(subdirectory);
  }
  return false;
}

void FileDataOrder::ContinueAfter(const TreeNode& file) {
  stack.clear();
  baseClip = nullptr;
  // The file's directory and its ancestors up to the root, innermost first.
  std::vector<const TreeNode*> chain;
  for (const TreeNode* d = file.parent; d; d = d->parent) {
    chain.push_back(d);
    if (d == root || d->IsRoot()) break;
  }
  // Each ancestor is in its subdirectories, just past the one leading down; the file's
  // own directory is in its files, just past the file.
  for (size_t i = chain.size(); i-- > 0;) {
    Enter(*chain[i]);
    Level& level = stack.back();
    level.inSubdirectories = i > 0;
    level.cursor = i > 0 ? chain[i - 1]->nextSibling : file.nextSibling;
  }
}

void FileDataOrder::ContinueAfterOf(void* order, const void* after) {
  static_cast<FileDataOrder*>(order)->ContinueAfter(*static_cast<const TreeNode*>(after));
}

bool FileDataOrder::NextOf(void* order, ReadAheadRequest& request) {
  return static_cast<FileDataOrder*>(order)->Next(request);
}

}  // namespace vellumcast
