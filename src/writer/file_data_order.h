// The order in which the file-data walk opens source files, handed out one file at a
// time so that reader threads can work ahead of the writer along it. It writes nothing;
// the order is that of the file data extents (ECMA-119 9.1, ECMA-167 4/14.14).
#pragma once

#include <vector>

#include "platform/read_ahead.h"

namespace vellumcast {

struct TreeNode;

struct FileDataOrder {
  // The walk over the tree below `root`, which must not change while the order is used.
  explicit FileDataOrder(const TreeNode* root);

  // The next source file EmitFileData opens: a file with data sectors, a stereoscopic
  // dependent-view clip and then its base-view clip. False after the last one.
  [[nodiscard]] bool Next(ReadAheadRequest& request);
  // Next as a ReadAheadNextFn over a FileDataOrder.
  static bool NextOf(void* order, ReadAheadRequest& request);
  // Goes on after `file` (an entry WriteFileData copies, below the root), as if Next had
  // just handed it out, and its base-view clip after it for a dependent-view clip.
  void ContinueAfter(const TreeNode& file);
  // ContinueAfter as a ReadAheadSeekFn; `after` is the TreeNode.
  static void ContinueAfterOf(void* order, const void* after);

 private:
  struct Level {
    const TreeNode* directory;
    const TreeNode* cursor;  // next entry to look at
    bool inSubdirectories;   // its files are done; now its subdirectories
  };
  void Enter(const TreeNode& directory);

  const TreeNode* root = nullptr;
  std::vector<Level> stack;
  const TreeNode* baseClip = nullptr;  // the base-view clip that follows its dependent
};

}  // namespace vellumcast
