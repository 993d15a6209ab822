// The boot information table that isolinux (and other no-emulation loaders) find in
// their own first sector: where the Primary Volume Descriptor and the file lie, the file's
// length and a checksum. It is patched into the image's copy of the boot file only; the
// source file is never changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast {

struct OutputContext;
struct SourceFile;
struct TreeNode;

// Puts the table into `file[8, 64)` (`size` >= 64 bytes of the file): the PVD's sector,
// the file's sector, its length and the checksum of its bytes from offset 64 on.
void PutBootInfoTable(uint8_t* file, size_t size, uint32_t pvdSector, uint32_t fileSector);

// Emits the planned sectors of the boot file `file` (open as `source`) with the table
// in its copy. False when the build fails.
[[nodiscard]] bool EmitPatchedBootFile(OutputContext& out, SourceFile& source, const TreeNode& file,
                                       const std::u16string& path);

}  // namespace vellumcast
