// The entry of one file or directory: a File Entry with its implementation use
// extended attributes (UDF 1.02) or an Extended File Entry (UDF 2.50).
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageEmitter;
struct TreeNode;

// Builds the entry of `node` at partition block `block` into FileEntrySectors (the
// layout's count, layout/entry_extents.h) zeroed sectors. False, with nothing else to rely on in `sectors`, when the node's extents
// do not fit those blocks (the text of the failure in `why`).
bool BuildFileEntry(const ImageEmitter& emitter, const TreeNode& node, uint32_t block,
                    uint8_t* sectors, const char** why);
bool BuildExtendedFileEntry(const ImageEmitter& emitter, const TreeNode& node, uint32_t block,
                            uint8_t* sectors, const char** why);

// Emits the entry (File Entry or Extended File Entry by revision) as one run.
bool WriteEntry(ImageEmitter& emitter, const TreeNode& node, uint32_t block);

}  // namespace vellumcast
