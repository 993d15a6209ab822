// What the scan does with links after the walk: the names of one hard-linked file share
// its data (and its one UDF File Entry), and a symbolic link kept with Rock Ridge that
// leads to a file of the image shares that file's data in the ISO 9660 and Joliet trees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tree/source_tree.h"
#include "tree/tree_node.h"

namespace vellumcast {

// A file the walk met whose identity has more than one name on the host.
struct HardLinkName {
  uint64_t device = 0;
  uint64_t inode = 0;
  TreeNode* node = nullptr;
};

// A symbolic link kept with Rock Ridge that leads to a regular file.
struct LinkToFile {
  TreeNode* node = nullptr;
  std::string hostPath;  // the link's own path
};

// Groups the names by identity in walk order: the first name keeps the data, the others
// share it (sharedData), every name records the count (hardLinks). Only plain files are
// shared: a clip the stereoscopic plan interleaves or a BDMV stream clip keeps its own.
void ShareHardLinks(SourceTree& tree, std::vector<HardLinkName>& names);

// Points each link at the file of the tree it leads to, when that lies inside the source
// folder `sourceHostPath` (canonical, ending in '/') and is a plain file of the tree.
void ShareLinkTargets(SourceTree& tree, const std::string& sourceHostPath,
                      const std::vector<LinkToFile>& links);

}  // namespace vellumcast
