// The source tree's lifetime and its one entry point: the scan fills it, Release empties it.
#include "tree/source_tree.h"

#include "tree/source_scanner.h"

namespace vellumcast {

void SourceTree::Release() {
  if (arena) {
    DestroyArena(arena);
    arena = nullptr;
    root = nullptr;
    ssifDirectory = nullptr;
    biosBootFile = efiBootFile = bootCatalog = nullptr;
  }
  stereoPlan.reset();
}

bool ScanSourceTree(SourceTree& tree, const ImageSettings& settings, Diagnostics& log,
                    const char16_t* sourcePath) {
  SourceScanner scanner(tree, settings, log);
  return scanner.Run(sourcePath);
}

}  // namespace vellumcast
