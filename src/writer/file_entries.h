// The entry of one file or directory: a File Entry with its implementation use
// extended attributes (UDF 1.02) or an Extended File Entry (UDF 2.50), and the header
// block that every entry of the image, the metadata files' included, shares.
#pragma once

#include <cstdint>

#include "writer/file_entry_fields.h"

namespace vellumcast {

struct ImageEmitter;
struct ImageSettings;
struct TreeNode;

// What the header of a File Entry (ECMA-167 4/14.9) or an Extended File Entry (4/14.17)
// records, from the ICB tag to the length of the allocation descriptors.
struct EntryHeader {
  uint8_t fileType = 0;
  uint16_t icbFlags = 0;
  uint16_t linkCount = 0;
  uint32_t uid = kNoId;
  uint32_t gid = kNoId;
  uint32_t permissions = kPermissionsReadExecute;
  uint64_t informationLength = 0;  // also the Extended File Entry's object size
  uint64_t blocksRecorded = 0;
  const uint8_t* time = nullptr;  // a 12-byte timestamp for every time field
  uint64_t uniqueId = 0;
  uint32_t extendedAttributesLength = 0;
  uint32_t allocationDescriptorsLength = 0;
};

// Puts `header` into the entry at `entry`: an Extended File Entry when `extended`, else
// a File Entry. The tag, the extended attributes and the allocation descriptors are the
// caller's.
void PutEntryHeader(const ImageSettings& settings, uint8_t* entry, bool extended,
                    const EntryHeader& header);

// Builds the entry of `node` at partition block `block` into FileEntrySectors (the
// layout's count, layout/entry_extents.h) zeroed sectors. False, with the log saying
// why and nothing else to rely on in `sectors`, when the node's extents do not fit
// those blocks.
[[nodiscard]] bool BuildFileEntry(const ImageEmitter& emitter, const TreeNode& node, uint32_t block,
                                  uint8_t* sectors);
[[nodiscard]] bool BuildExtendedFileEntry(const ImageEmitter& emitter, const TreeNode& node,
                                          uint32_t block, uint8_t* sectors);

// Emits the entry (File Entry or Extended File Entry by revision) as one run.
[[nodiscard]] bool EmitEntry(ImageEmitter& emitter, const TreeNode& node, uint32_t block);

}  // namespace vellumcast
