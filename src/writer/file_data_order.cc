// The file-data order as an explicit depth-first walk that can stop after any file:
// a directory's files in primary order, then its subdirectories in primary order. It
// writes nothing; it follows the order of the file data extents (ECMA-119 9.1).
#include "writer/file_data_order.h"

#include "base/disc_constants.h"
#include "platform/paths.h"
#include "tree/tree_node.h"
#include "writer/file_data.h"

namespace vellumcast {
namespace {

void Describe(const TreeNode& file, const std::u16string& directoryPath, ReadAheadRequest& request) {
  request.hostPath = HostPath(BuildSourcePath(file, directoryPath));
  request.plannedBytes = uint64_t(file.sectorCount) * kSectorSize;
  // Read whole exactly the files the writer copies through its staging area; the others
  // are opened for the kernel copy (stereoscopic clips are read piece by piece).
  request.readWhole = file.kind != StereoDependent && file.kind != StereoBase &&
                      file.sectorCount < kKernelCopyMinimumSectors;
}

}  // namespace

FileDataOrder::FileDataOrder(const TreeNode* root) {
  if (root) Enter(*root, std::u16string());
}

void FileDataOrder::Enter(const TreeNode& directory, const std::u16string& parentPath) {
  stack.push_back(Level{&directory, FileDataDirectoryPath(directory, parentPath), directory.firstChild, false});
}

bool FileDataOrder::Next(ReadAheadRequest& request) {
  if (baseClip) {
    Describe(*baseClip, baseClipPath, request);
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
      if (e.sectorCount == 0 && e.kind != StereoDependent) continue;
      Describe(e, level.path, request);
      if (e.kind == StereoDependent && e.stereoPair && e.baseNode) {
        baseClip = e.baseNode;
        baseClipPath = level.path;
      }
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
    std::u16string parentPath = level.path;  // `level` moves when the stack grows
    Enter(subdirectory, parentPath);
  }
  return false;
}

bool FileDataOrder::NextOf(void* order, ReadAheadRequest& request) {
  return static_cast<FileDataOrder*>(order)->Next(request);
}

}  // namespace vellumcast
