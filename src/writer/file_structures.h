// Builders of the UDF file-system area's descriptors other than the entries: the File
// Set Descriptor and the File Identifier Descriptors of a directory.
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageEmitter;
struct TreeNode;

// File Set Descriptor at block 0 (tag location 0) into one zeroed sector.
void BuildFileSetDescriptor(const ImageEmitter& emitter, uint8_t* sector);

// The File Identifier Descriptors of `directory` (parent entry first, then its entries
// in primary order) into ceil(udfDirLength / 2048) zeroed sectors that begin at
// partition block `block`. False when the descriptors do not add up to the planned
// udfDirLength or a name is too long to record (the text in `why`).
bool BuildDirectoryIdentifiers(const ImageEmitter& emitter, const TreeNode& directory,
                               uint32_t block, uint8_t* sectors, const char** why);

}  // namespace vellumcast
