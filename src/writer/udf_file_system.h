// The UDF file-system area (ECMA-167 part 4): File Set Descriptor, its Terminating
// Descriptor, then every directory's File Identifier Descriptors and entries.
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageEmitter;

// Emits the UDF file-system area and sets `blocks` to the blocks emitted. False, with
// the log saying why unless the sink failed, when the area cannot be emitted as planned.
[[nodiscard]] bool EmitUdfFileSystemArea(ImageEmitter& emitter, uint32_t& blocks);

}  // namespace vellumcast
