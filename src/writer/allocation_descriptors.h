// Where a UDF file's data lies, as allocation descriptors (ECMA-167 4/14.14) and, for
// files with many extents, chains of Allocation Extent Descriptors (4/14.5).
#pragma once

#include <cstdint>
#include <vector>

#include "base/disc_constants.h"

namespace vellumcast {

struct ImageEmitter;
struct StereoClipPair;
struct TreeNode;

// One piece of a stereoscopic clip inside its pair's interleaved run.
struct StereoExtent {
  uint32_t offset;  // sectors from the start of the run
  uint32_t length;  // bytes
};

// The extents of one view of `pair` at their places in the interleaved run (dependent
// extent 1, base extent 1, dependent extent 2, ...), each cut into pieces of at most
// 524286 sectors; zero-length extents give nothing.
std::vector<StereoExtent> StereoExtents(const StereoClipPair& pair, bool dependentView);

// One extent of file data: partition-relative block and byte length.
struct DataExtent {
  uint32_t block;
  uint32_t length;
};

// A file's data extents in order: a stereoscopic clip's pieces of the interleaved run,
// or its contiguous data cut into extents of at most 1073737728 bytes. An empty file
// (or a clip without extents) has one extent of length 0 at block 0.
std::vector<DataExtent> FileDataExtents(const ImageEmitter& emitter, const TreeNode& file);

// Puts `extents` as long_ads (physical partition) into the allocation descriptor
// area `ads` of an Extended File Entry at `entryBlock` and, when they do not fit, into
// Allocation Extent Descriptors in the blocks that follow the entry (`entry` is the
// start of the entry's run of blocks, ExtendedFileEntrySectors(extents.size()) long,
// the layout's count). Returns the entry's L_AD.
uint32_t PutLongAdChain(const ImageEmitter& emitter, uint8_t* entry, uint8_t* ads,
                        uint32_t entryBlock, const std::vector<DataExtent>& extents);

}  // namespace vellumcast
