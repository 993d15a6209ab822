// How many records and descriptor blocks a file's data needs; shared by the layout
// plan (which reserves the space) and the writers (which fill it).
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageSettings;
struct TreeNode;

// ISO 9660 directory records of one file: a file of 4 GiB or more is recorded as a
// multi-extent file (ECMA-119 level 3) of extents of at most 0xFFFFF800 bytes each;
// 1 for any smaller file, including an empty one.
uint32_t IsoExtentCount(uint64_t size);

// Sectors taken by an entry's UDF File Entry together with its Allocation Extent
// Descriptors: descriptorSectors for a stereoscopic clip, else enough for the entry's
// extents (1 for every directory and for every file that fits one entry).
uint32_t FileEntrySectors(const ImageSettings& settings, const TreeNode& node);

// Allocation descriptors a plain file's data needs in UDF: ceil(size / 1073737728),
// each extent at most kMaxExtentBytes; 0 for an empty file.
uint64_t UdfExtentCount(uint64_t size);

}  // namespace vellumcast
