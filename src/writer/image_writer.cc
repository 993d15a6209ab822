// The image writer: opens the target, emits every sector of the image in order for
// the four sector maps (ISO 9660, ECMA-119 6.2; UDF 1.02 alone or with ISO 9660; UDF
// 2.50, ECMA-167 3/8.4 with OSTA UDF 2.2.13's metadata mirror) and completes or abandons
// the target file.
#include "writer/image_writer.h"

#include <string>

#include "base/disc_constants.h"
#include "platform/output_file.h"
#include "platform/read_ahead.h"
#include "platform/text.h"
#include "writer/checksum_list_file.h"
#include "writer/data_digests.h"
#include "writer/el_torito.h"
#include "writer/file_data.h"
#include "writer/file_data_order.h"
#include "writer/integrity.h"
#include "writer/iso9660_directories.h"
#include "writer/iso9660_volume_descriptors.h"
#include "writer/metadata_file.h"
#include "writer/output_pipeline.h"
#include "writer/sector_emit.h"
#include "writer/system_area.h"
#include "writer/udf_file_system.h"
#include "writer/volume_descriptors.h"

namespace vellumcast {
namespace {

constexpr uint32_t kInitialBufferSectors = 4;
// Emitted sectors go to the target in writes of up to 2 MiB.
constexpr uint32_t kStagingSectors = 1024;

// Zero sectors up to the next multiple of 32 sectors past `sectorsWritten` + `reserve`.
bool EmitPaddingToMultipleOf32(ImageEmitter& emitter, uint32_t reserve) {
  uint32_t d = (uint32_t(emitter.sink.sectorsWritten) + reserve) % kMetadataAlignment;
  return d == 0 || emitter.sink.EmitZeroSectors(kMetadataAlignment - d);
}

bool AtPlannedSector(ImageEmitter& emitter, int64_t planned, const char* what) {
  if (emitter.sink.sectorsWritten == planned) return true;
  return emitter.log.Fail(std::string("the ") + what + " does not start at its planned sector (" +
                          std::to_string(emitter.sink.sectorsWritten) + " instead of " +
                          std::to_string(planned) + ")");
}

bool EmitFileDataArea(OutputContext& out) {
  ImageEmitter& emitter = *out.emitter;
  if (!AtPlannedSector(emitter, int64_t(emitter.plan.dataBase) + emitter.plan.fileDataOffset,
                       "file data"))
    return false;
  // A hidden boot catalog is the area's first sector, a hybrid image's backup GPT entries
  // follow; a catalog recorded as a file comes at its file's turn.
  if (emitter.plan.bootCatalogSector && !emitter.tree.bootCatalog && !EmitBootCatalog(emitter))
    return false;
  if (!EmitBackupGptEntries(emitter)) return false;
  if (emitter.tree.root && !EmitDirectoryFileData(out, *emitter.tree.root)) return false;
  if (emitter.tree.checksumList && !out.Failed() && !EmitChecksumList(out)) return false;
  return !out.Failed() && !emitter.sink.failed;
}

bool EmitIsoOnly(OutputContext& out) {
  ImageEmitter& emitter = *out.emitter;
  return EmitSystemArea(emitter) && EmitIsoPrimaryVolumeDescriptor(emitter) &&
         EmitBootRecord(emitter) && EmitIsoSupplementaryVolumeDescriptor(emitter) &&
         EmitIsoSetTerminator(emitter) &&
         AtPlannedSector(emitter, emitter.plan.pathTableStart, "path table") &&
         EmitIsoPathTablesAndDirectories(emitter) && EmitFileDataArea(out) &&
         EmitPaddingToMultipleOf32(emitter, emitter.plan.backupGptEntrySector ? 1 : 0) &&
         EmitBackupGptHeader(emitter);
}

// From sector 0 to the anchor at 256: the system area, the ISO 9660 volume descriptors
// (`iso`), the recognition sequence, the main and (UDF 1.02) reserve volume descriptor
// sequences, the integrity sequence.
bool EmitVolumeStructures(ImageEmitter& emitter, bool iso, bool udf250) {
  if (!EmitSystemArea(emitter)) return false;
  if (iso && !(EmitIsoPrimaryVolumeDescriptor(emitter) && EmitBootRecord(emitter) &&
               EmitIsoSupplementaryVolumeDescriptor(emitter) && EmitIsoSetTerminator(emitter))) {
    return false;
  }
  if (!EmitVolumeRecognitionSequence(emitter)) return false;
  if (!emitter.sink.EmitZeroSectors(kMainVdsSector - uint32_t(emitter.sink.sectorsWritten)))
    return false;
  if (!EmitVolumeDescriptorSequence(emitter, kMainVdsSector)) return false;
  if (!udf250) {
    if (!emitter.sink.EmitZeroSectors(kReserveVdsSector - kMainVdsSector - kVdsSectors) ||
        !EmitVolumeDescriptorSequence(emitter, kReserveVdsSector) ||
        !emitter.sink.EmitZeroSectors(kIntegritySequenceSector - kReserveVdsSector - kVdsSectors)) {
      return false;
    }
  } else if (!emitter.sink.EmitZeroSectors(kIntegritySequenceSector -
                                           uint32_t(emitter.sink.sectorsWritten))) {
    return false;
  }
  if (!AtPlannedSector(emitter, kIntegritySequenceSector, "integrity sequence") ||
      !EmitDescriptor(emitter, BuildLogicalVolumeIntegrityDescriptor, kIntegritySequenceSector) ||
      !EmitDescriptor(emitter, BuildTerminatingDescriptor, kIntegritySequenceSector + 1) ||
      !emitter.sink.EmitZeroSectors(kAnchorSector - kIntegritySequenceSector - 2) ||
      !EmitDescriptor(emitter, BuildAnchorVolumeDescriptorPointer, kAnchorSector)) {
    return false;
  }
  return true;
}

// UDF 2.50: the metadata mirror file's entry, the mirror of the `blocks` blocks of the
// file-system area, and the volume descriptor sequence after it.
bool EmitMetadataMirror(ImageEmitter& emitter, uint32_t blocks) {
  if (!AtPlannedSector(emitter, emitter.plan.mirrorEntrySector, "metadata mirror") ||
      !EmitDescriptor(emitter, BuildMetadataFileEntry, true,
                      uint32_t(emitter.plan.mirrorEntrySector)) ||
      !EmitPaddingToMultipleOf32(emitter, 0)) {
    return false;
  }
  uint32_t mirrorBlocks = 0;
  if (!EmitUdfFileSystemArea(emitter, mirrorBlocks)) return false;
  if (mirrorBlocks != blocks) return Mismatch(emitter, "the UDF metadata mirror");
  if (!emitter.sink.EmitZeroSectors(emitter.plan.metadataBlocks - blocks) ||
      !EmitVolumeDescriptorSequence(
          emitter, uint32_t(emitter.plan.mirrorStart) + emitter.plan.metadataBlocks)) {
    return false;
  }
  return true;
}

bool EmitWithUdf(OutputContext& out) {
  ImageEmitter& emitter = *out.emitter;
  const bool udf250 = emitter.settings.IsUdf250();
  const bool iso = emitter.settings.WritesIso9660() && !udf250;
  if (!EmitVolumeStructures(emitter, iso, udf250)) return false;
  if (iso && !(AtPlannedSector(emitter, emitter.plan.pathTableStart, "path table") &&
               EmitIsoPathTablesAndDirectories(emitter))) {
    return false;
  }
  if (udf250) {
    if (!emitter.sink.EmitZeroSectors(uint32_t(emitter.plan.dataBase) - kAfterAnchorSector) ||
        !EmitDescriptor(emitter, BuildMetadataFileEntry, false, uint32_t(emitter.plan.dataBase)) ||
        !emitter.sink.EmitZeroSectors(kMetadataContentOffset - 1)) {
      return false;
    }
  }
  const int32_t areaStart = emitter.sink.sectorsWritten;
  uint32_t blocks = 0;
  if (!EmitUdfFileSystemArea(emitter, blocks)) return false;
  if (blocks > emitter.plan.metadataBlocks ||
      emitter.sink.sectorsWritten - areaStart != int32_t(blocks)) {
    return Mismatch(emitter, "the UDF file-system area");
  }
  if (udf250) {
    if ((blocks ^ uint32_t(emitter.sink.sectorsWritten)) % kMetadataAlignment != 0) {
      return emitter.log.Fail("the UDF metadata area is not aligned as planned");
    }
    if (!emitter.sink.EmitZeroSectors(emitter.plan.metadataBlocks - blocks)) return false;
  }
  if (!EmitFileDataArea(out)) return false;
  if (udf250 && !EmitMetadataMirror(emitter, blocks)) return false;
  // The last anchor ends the image; in a hybrid image it shares its sector with the
  // backup GPT's header.
  if (emitter.plan.backupGptEntrySector) {
    return EmitPaddingToMultipleOf32(emitter, 1) && EmitBackupGptHeader(emitter);
  }
  return EmitPaddingToMultipleOf32(emitter, 1) &&
         EmitDescriptor(emitter, BuildAnchorVolumeDescriptorPointer,
                        uint32_t(emitter.plan.volumeSectors) - 1);
}

}  // namespace

bool Mismatch(const ImageEmitter& emitter, const std::string& structure) {
  return emitter.log.Fail(structure + " does not match the layout");
}

bool EmitImage(ImageEmitter& emitter, OutputContext& out) {
  emitter.sink.request = AcquireSectorBuffer;
  emitter.sink.emit = WriteToTarget;
  emitter.sink.context = &out;
  emitter.sink.failed = false;
  emitter.sink.sectorsWritten = 0;
  bool ok = true;
  if (emitter.settings.formatFlags == FormatIso9660) {
    ok = EmitIsoOnly(out);
  } else if (emitter.settings.WritesUdf()) {
    ok = EmitWithUdf(out);
  }
  ok = ok && !out.Failed() && out.Flush();
  if (ok && emitter.sink.sectorsWritten != emitter.plan.volumeSectors) {
    ok = emitter.log.Fail("the image has " + std::to_string(emitter.sink.sectorsWritten) +
                          " sectors instead of the planned " +
                          std::to_string(emitter.plan.volumeSectors));
  }
  emitter.sink.request = nullptr;
  emitter.sink.emit = nullptr;
  emitter.sink.context = nullptr;
  return ok;
}

bool WriteImage(const ImageSettings& settings, const SourceTree& tree, const LayoutPlan& plan,
                Diagnostics& log, const char16_t* targetPathText, WriterProgressFn progress,
                void* progressContext) {
  const std::u16string target = targetPathText ? targetPathText : u"";
  const std::string shown =
      IsStandardOutputTarget(target) ? "standard output" : Utf16ToUtf8(target);
  OutputFile file;
  if (!file.Open(target)) return log.Fail("cannot write " + shown + ": " + file.error);
  if (file.writtenInPlace) {
    log.Warn("no temporary file can be made beside " + shown + " (" + file.noTemporaryReason +
             "): writing it in place; a failure would leave it incomplete");
  }
  SectorSink sink;
  ImageEmitter emitter{settings, tree, plan, sink, log};
  OutputContext out;
  DataDigests digests;
  if (tree.checksumList) out.digests = &digests;
  out.emitter = &emitter;
  out.target = &file;
  out.progress = progress;
  out.progressContext = progressContext;
  if (!out.Allocate(kInitialBufferSectors, kStagingSectors)) {
    file.Abandon();
    return log.Fail("out of memory for the output buffers");
  }
  // The readers start with the image: they open and read the first files while the
  // file-system structures are written, and end the moment the build does.
  FileDataOrder order(tree.root);
  ReadAhead readAhead;
  ReadAheadLimits limits;
  limits.readers = settings.readAheadReaders;
  if (tree.root && settings.readAheadReaders > 0) {
    if (readAhead.Start(FileDataOrder::NextOf, &order, limits, FileDataOrder::ContinueAfterOf)) {
      out.readAhead = &readAhead;
    }
  }
  bool ok = EmitImage(emitter, out);
  readAhead.Stop();
  out.readAhead = nullptr;
  if (!ok) {
    file.Abandon();
    if (out.writeError) return log.Fail("cannot write " + shown + ": " + file.error);
    if (out.stopped) return log.Fail("the build was stopped");
    return log.Fail(
        "the image could not be completed");  // a more precise reason is already recorded
  }
  if (!file.Finish()) return log.Fail("cannot write " + shown + ": " + file.error);
  return true;
}

}  // namespace vellumcast
