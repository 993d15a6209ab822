// The image writer: opens the target, emits every sector of the image in order for
// the four sector maps (ISO 9660; UDF 1.02 alone or with ISO 9660; UDF 2.50) and
// completes or abandons the target file.
#include <string>

#include "build/image_builder.h"
#include "layout/disc_constants.h"
#include "platform/output_file.h"
#include "platform/read_ahead.h"
#include "platform/text.h"
#include "writer/file_data.h"
#include "writer/file_data_order.h"
#include "writer/iso9660_structures.h"
#include "writer/output_pipeline.h"
#include "writer/udf_structures.h"

namespace vellumcast {
namespace {

constexpr uint32_t kInitialBufferSectors = 4;
// Emitted sectors go to the target in writes of up to 2 MiB.
constexpr uint32_t kStagingSectors = 1024;

// Zero sectors up to the next multiple of 32 sectors past `sectorsWritten` + `reserve`.
bool PadToMultipleOf32(ImageBuilder& b, uint32_t reserve) {
  uint32_t d = (uint32_t(b.sectorsWritten) + reserve) % kMetadataAlignment;
  return d == 0 || b.WriteZeroSectors(kMetadataAlignment - d);
}

bool AtPlannedSector(ImageBuilder& b, int64_t planned, const char* what) {
  if (b.sectorsWritten == planned) return true;
  return b.Fail(std::string("the ") + what + " does not start at its planned sector (" +
                std::to_string(b.sectorsWritten) + " instead of " + std::to_string(planned) + ")");
}

bool EmitFileData(OutputContext& out) {
  ImageBuilder& b = *out.builder;
  if (!AtPlannedSector(b, int64_t(b.dataBase) + b.fileDataOffset, "file data")) return false;
  if (b.root) WriteFileData(out, *b.root, std::u16string());
  return !out.Failed() && !b.writeFailed;
}

bool EmitIsoOnly(OutputContext& out) {
  ImageBuilder& b = *out.builder;
  return b.WriteZeroSectors(kSystemAreaSectors) && WriteIsoPrimaryVolumeDescriptor(b) &&
         WriteIsoSupplementaryVolumeDescriptor(b) && WriteIsoSetTerminator(b) &&
         AtPlannedSector(b, b.pathTableStart, "path table") && WriteIsoPathTablesAndDirectories(b) &&
         EmitFileData(out) &&
         PadToMultipleOf32(b, 0);
}

bool EmitWithUdf(OutputContext& out) {
  ImageBuilder& b = *out.builder;
  const bool udf250 = b.IsUdf250();
  const bool iso = b.WritesIso9660() && !udf250;
  if (!b.WriteZeroSectors(kSystemAreaSectors)) return false;
  if (iso && !(WriteIsoPrimaryVolumeDescriptor(b) && WriteIsoSupplementaryVolumeDescriptor(b) &&
               WriteIsoSetTerminator(b))) {
    return false;
  }
  if (!WriteVolumeRecognitionSequence(b)) return false;
  if (!b.WriteZeroSectors(kMainVdsSector - uint32_t(b.sectorsWritten))) return false;
  if (!WriteVolumeDescriptorSequence(b, kMainVdsSector)) return false;
  if (!udf250) {
    if (!b.WriteZeroSectors(kReserveVdsSector - kMainVdsSector - kVdsSectors) ||
        !WriteVolumeDescriptorSequence(b, kReserveVdsSector) ||
        !b.WriteZeroSectors(kIntegritySequenceSector - kReserveVdsSector - kVdsSectors)) {
      return false;
    }
  } else if (!b.WriteZeroSectors(kIntegritySequenceSector - uint32_t(b.sectorsWritten))) {
    return false;
  }
  if (!AtPlannedSector(b, kIntegritySequenceSector, "integrity sequence") ||
      !WriteLogicalVolumeIntegrityDescriptor(b, kIntegritySequenceSector) ||
      !WriteTerminatingDescriptor(b, kIntegritySequenceSector + 1) ||
      !b.WriteZeroSectors(kAnchorSector - kIntegritySequenceSector - 2) ||
      !WriteAnchorVolumeDescriptorPointer(b, kAnchorSector)) {
    return false;
  }
  if (iso && !(AtPlannedSector(b, b.pathTableStart, "path table") && WriteIsoPathTablesAndDirectories(b))) {
    return false;
  }
  if (udf250) {
    if (!b.WriteZeroSectors(uint32_t(b.dataBase) - kAfterAnchorSector) ||
        !WriteMetadataFileEntry(b, false, uint32_t(b.dataBase)) ||
        !b.WriteZeroSectors(kMetadataContentOffset - 1)) {
      return false;
    }
  }
  const int32_t areaStart = b.sectorsWritten;
  uint32_t blocks = WriteUdfFileSystemArea(b);
  if (b.writeFailed) return false;
  if (blocks > b.metadataBlocks || b.sectorsWritten - areaStart != int32_t(blocks)) {
    return b.Fail("the UDF file system area does not match the layout");
  }
  if (udf250) {
    if ((blocks ^ uint32_t(b.sectorsWritten)) % kMetadataAlignment != 0) {
      return b.Fail("the UDF metadata area is not aligned as planned");
    }
    if (!b.WriteZeroSectors(b.metadataBlocks - blocks)) return false;
  }
  if (!EmitFileData(out)) return false;
  if (udf250) {
    if (!AtPlannedSector(b, b.mirrorEntrySector, "metadata mirror") ||
        !WriteMetadataFileEntry(b, true, uint32_t(b.mirrorEntrySector)) || !PadToMultipleOf32(b, 0)) {
      return false;
    }
    if (WriteUdfFileSystemArea(b) != blocks || b.writeFailed ||
        !b.WriteZeroSectors(b.metadataBlocks - blocks) ||
        !WriteVolumeDescriptorSequence(b, uint32_t(b.mirrorStart) + b.metadataBlocks)) {
      return false;
    }
  }
  return PadToMultipleOf32(b, 1) &&
         WriteAnchorVolumeDescriptorPointer(b, uint32_t(b.volumeSectors) - 1);
}

}  // namespace

bool EmitImage(ImageBuilder& b, OutputContext& out) {
  b.requestSectors = AcquireSectorBuffer;
  b.emitSectors = WriteToTarget;
  b.writerContext = &out;
  b.writeFailed = 0;
  b.sectorsWritten = 0;
  bool ok = true;
  if (b.formatFlags == FormatIso9660) {
    ok = EmitIsoOnly(out);
  } else if (b.WritesUdf()) {
    ok = EmitWithUdf(out);
  }
  ok = ok && !out.Failed() && out.Flush();
  if (ok && b.sectorsWritten != b.volumeSectors) {
    ok = b.Fail("the image has " + std::to_string(b.sectorsWritten) + " sectors instead of the planned " +
                std::to_string(b.volumeSectors));
  }
  b.requestSectors = nullptr;
  b.emitSectors = nullptr;
  b.writerContext = nullptr;
  return ok;
}

bool ImageBuilder::WriteImage(const char16_t* targetPathText, WriterProgressFn progress,
                              void* progressContext) {
  const std::u16string target = targetPathText ? targetPathText : u"";
  const std::string shown = IsStandardOutputTarget(target) ? "standard output" : Utf16ToUtf8(target);
  OutputFile file;
  if (!file.Open(target)) return Fail("cannot write " + shown + ": " + file.error);
  if (file.writtenInPlace) {
    Warn("no temporary file can be made beside " + shown + " (" + file.noTemporaryReason +
         "): writing it in place; a failure would leave it incomplete");
  }
  OutputContext out;
  out.builder = this;
  out.target = &file;
  out.progress = progress;
  out.progressContext = progressContext;
  if (!out.Allocate(kInitialBufferSectors, kStagingSectors)) {
    file.Abandon();
    return Fail("out of memory for the output buffers");
  }
  // The readers start with the image: they open and read the first files while the
  // file-system structures are written, and end the moment the build does.
  FileDataOrder order(root);
  ReadAhead readAhead;
  ReadAheadLimits limits;
  limits.readers = readAheadReaders;
  if (root && readAheadReaders > 0) {
    if (readAhead.Start(FileDataOrder::NextOf, &order, limits, FileDataOrder::ContinueAfterOf)) {
      out.readAhead = &readAhead;
    }
  }
  bool ok = EmitImage(*this, out);
  readAhead.Stop();
  out.readAhead = nullptr;
  if (!ok) {
    file.Abandon();
    if (out.writeError) return Fail("cannot write " + shown + ": " + file.error);
    if (out.stopped) return Fail("the build was stopped");
    return Fail("the image could not be completed");  // a more precise reason is already recorded
  }
  if (!file.Finish()) return Fail("cannot write " + shown + ": " + file.error);
  writeFailed = 0;
  return true;
}

}  // namespace vellumcast
