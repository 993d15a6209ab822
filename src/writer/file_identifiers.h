// The File Identifier Descriptors of a UDF directory (ECMA-167 4/14.4, OSTA UDF 2.3.4).
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageEmitter;
struct TreeNode;

// The File Identifier Descriptors of `directory` (parent entry first, then its entries
// in primary order) into ceil(udfDirLength / 2048) zeroed sectors that begin at
// partition block `block`. False, with the log saying why, when the descriptors do not
// add up to the planned udfDirLength or a name is too long to record.
[[nodiscard]] bool BuildDirectoryIdentifiers(const ImageEmitter& emitter, const TreeNode& directory,
                                             uint32_t block, uint8_t* sectors);

}  // namespace vellumcast
