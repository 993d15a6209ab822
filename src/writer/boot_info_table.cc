// The boot information table in the image's copy of the BIOS boot file.
#include "writer/boot_info_table.h"

#include <cstring>
#include <vector>

#include "base/boot_settings.h"
#include "base/disc_constants.h"
#include "layout/layout_rules.h"
#include "platform/source_file.h"
#include "platform/text.h"
#include "writer/byte_order.h"
#include "writer/output_pipeline.h"
#include "writer/sector_emit.h"

namespace vellumcast {
namespace {

// Fields of the table, from the file's start.
constexpr size_t kPvdSector = 8;
constexpr size_t kFileSector = 12;
constexpr size_t kFileLength = 16;
constexpr size_t kChecksum = 20;

}  // namespace

void PutBootInfoTable(uint8_t* file, size_t size, uint32_t pvdSector, uint32_t fileSector) {
  if (size < kBootInfoChecksumStart) return;
  std::memset(file + kBootInfoTableOffset, 0, kBootInfoTableBytes);
  PutLe32(file + kPvdSector, pvdSector);
  PutLe32(file + kFileSector, fileSector);
  PutLe32(file + kFileLength, uint32_t(size));
  PutLe32(file + kChecksum, BootInfoChecksum(file, size));
}

bool EmitPatchedBootFile(OutputContext& out, SourceFile& source, const TreeNode& file,
                         const std::u16string& path) {
  ImageEmitter& emitter = *out.emitter;
  // The layout keeps boot files below 32 MiB: the copy is made in memory.
  std::vector<uint8_t> bytes(size_t(file.sectorCount) * kSectorSize, 0);
  size_t have = 0;
  while (have < file.size) {
    size_t got = 0;
    if (!source.Read(bytes.data() + have, size_t(file.size) - have, got)) {
      out.aborted = true;
      emitter.sink.failed = true;
      return emitter.log.Fail("cannot read " + Utf16ToUtf8(path) + ": " + source.error);
    }
    if (got == 0) break;
    have += got;
  }
  if (have < file.size) {
    emitter.log.Warn(Utf16ToUtf8(path) + " changed size while the image was written");
  }
  PutBootInfoTable(bytes.data(), size_t(file.size), kPrimaryVolumeDescriptorSector,
                   FileDataSector(emitter.plan, file));
  return EmitFilledSectors(emitter, file.sectorCount, [&](uint8_t* sectors) {
    std::memcpy(sectors, bytes.data(), bytes.size());
  });
}

}  // namespace vellumcast
