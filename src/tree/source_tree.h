// The source tree of one build: the nodes of the folder (in one arena), the counters the
// scan keeps, and the Blu-ray stereoscopic plan with what the scan derived from it. The
// scan makes it; the layout names, orders and places its nodes; the writer reads it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "base/image_settings.h"
#include "bluray/stereo_clip_pair.h"
#include "tree/node_arena.h"
#include "tree/tree_node.h"

namespace vellumcast {

struct SourceTree {
  TreeNode* root = nullptr;
  NodeArena* arena = nullptr;
  uint32_t totalDirectoryCount = 0;  // directories added, root not counted
  uint32_t totalFileCount = 0;
  // Names of hard-linked files beyond the first of each: they have no UDF File Entry and
  // no data of their own.
  uint32_t sharedFileEntries = 0;
  uint32_t fileLimit = 4294967295u;  // files the scan adds at most
  // The folder is a DVD-Video disc (found by the scan with ISO 9660 + UDF 1.02): the
  // layout and the writer then follow the DVD-Video rules.
  uint8_t dvdVideoMode = 0;

  // The image being built (or compared); the scan leaves its entry out of the tree.
  std::u16string targetPath;

  // Shell patterns (UTF-8) of entries left out: matched against an entry's name and its
  // path below the source folder. The scan records each entry it leaves out (its path
  // below the source folder; a folder's contents are not listed).
  std::vector<std::string> excludePatterns;
  std::vector<std::string> excluded;

  // Blu-ray stereoscopic plan (owned from the analysis on) and what the scan derived
  // from it: the SSIF folder holding the made-up .ssif entries, and the File Entry
  // sectors the interleaved clips need beyond one each.
  std::unique_ptr<StereoPlan> stereoPlan;
  TreeNode* ssifDirectory = nullptr;
  uint32_t extraDescriptorSectors = 0;

  // El Torito: the BIOS boot file and the UEFI FAT image found in the tree, and the
  // made-up boot catalog file (null when the catalog is hidden or there is no boot entry).
  TreeNode* biosBootFile = nullptr;
  TreeNode* efiBootFile = nullptr;
  TreeNode* bootCatalog = nullptr;
  // The made-up SHA256SUMS file at the root (--checksums); its size is the layout's.
  TreeNode* checksumList = nullptr;

  SourceTree() = default;
  SourceTree(const SourceTree&) = delete;
  SourceTree& operator=(const SourceTree&) = delete;
  ~SourceTree() { Release(); }

  // Releases the arena (every node and name) and the stereoscopic plan.
  void Release();
};

// Scans the folder `sourcePath` (canonical, ending in '/') into `tree`, with the folder
// rules of the settings' file systems. False when the build must stop (`log` says why).
[[nodiscard]] bool ScanSourceTree(SourceTree& tree, const ImageSettings& settings, Diagnostics& log,
                                  const char16_t* sourcePath);

}  // namespace vellumcast
