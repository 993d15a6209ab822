// Where a UDF file's data lies, as allocation descriptors (ECMA-167 4/14.14) and, for
// files with many extents, chains of Allocation Extent Descriptors (4/14.5).
#pragma once

#include <cstdint>
#include <vector>

#include "base/disc_constants.h"

namespace vellumcast {

struct ImageEmitter;
struct TreeNode;

// One extent of file data: partition-relative block and byte length.
struct DataExtent {
  uint32_t block;
  uint32_t length;
};

// A file's data extents in order: a stereoscopic clip's pieces of its pair's interleaved
// run (StereoClipPair::InterleavedRun), or its contiguous data cut into extents of at most
// 1073737728 bytes. An empty file (or a clip without extents) has one extent of length 0 at block
// 0.
std::vector<DataExtent> FileDataExtents(const ImageEmitter& emitter, const TreeNode& file);

// Puts `extents` as long_ads (physical partition) into the allocation descriptor
// area `ads` of an Extended File Entry at `entryBlock` and, when they do not fit, into
// Allocation Extent Descriptors in the blocks that follow the entry (`entry` is the
// start of the entry's run of blocks, ExtendedFileEntrySectors(extents.size()) long,
// the layout's count). Returns the entry's L_AD.
uint32_t PutLongAdChain(const ImageEmitter& emitter, uint8_t* entry, uint8_t* ads,
                        uint32_t entryBlock, const std::vector<DataExtent>& extents);

}  // namespace vellumcast
