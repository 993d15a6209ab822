// Reads the UDF file system of an image (the file structure of ECMA-167, OSTA UDF 1.02
// and 2.50): the volume, the File Set Descriptor, then every directory's File
// Identifier Descriptors and every File Entry from the root, with the integrity
// descriptor's file and directory counts checked against the tree.
#pragma once

#include "reader/image_source.h"
#include "reader/image_tree.h"

namespace vellumcast {

// Fills `tree` (volume identifier from the Logical Volume Descriptor, UDF revision from
// its domain) and adds every problem met to `report`. False when there is no usable
// UDF volume or its root cannot be read; damage further down gives a partial tree.
[[nodiscard]] bool ReadUdfTree(ImageSource& image, ImageTree& tree, ReadReport& report,
                               const ReadLimits& limits = {});

// The same walk handing each folder to `visit` as soon as its identifiers and entries
// are read, so that only the folders on the way down are held; `tree` gets the volume
// identifier, the revision and the counts, no entries.
[[nodiscard]] bool WalkUdfTree(ImageSource& image, ImageTree& tree, ReadReport& report,
                               ImageFolderFn visit, void* context, const ReadLimits& limits = {});

}  // namespace vellumcast
