// The central record of one build: the scanned tree, the layout plan, the volume
// identity and the output pipeline's hooks. Each phase fills its own fields; the
// writer only reads what the layout planned.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "bluray/stereo_clip_pair.h"
#include "tree/node_arena.h"
#include "tree/tree_node.h"

namespace vellumcast {

// Bit set of the file systems written.
enum FormatFlags : uint32_t {
  FormatIso9660 = 1,
  FormatUdf = 4,
};

// Output pipeline hooks: a buffer of n sectors to fill, and n filled sectors handed on.
using RequestSectorsFn = uint8_t* (*)(uint32_t n, void* context);
using EmitSectorsFn = bool (*)(const uint8_t* bytes, uint32_t n, void* context);
// Progress of the writer: (sectors done, sectors in the image, context); false stops.
using WriterProgressFn = bool (*)(uint32_t done, uint32_t total, void* context);
// A warning for the user (UTF-8 text without a line end); only the front end prints it.
using WarningFn = void (*)(const std::string& text, void* context);

struct ImageBuilder {
  // Source tree (scan).
  TreeNode* root = nullptr;
  uint32_t totalDirectoryCount = 0;  // directories added, root not counted
  uint32_t totalFileCount = 0;
  NodeArena* arena = nullptr;

  // Output pipeline hooks (writer).
  RequestSectorsFn requestSectors = nullptr;
  EmitSectorsFn emitSectors = nullptr;
  void* writerContext = nullptr;
  uint8_t writeFailed = 1;
  // File data always read and written by this process, never copied by the kernel; the
  // image is the same either way.
  bool plainDataCopy = false;
  // Reader threads that open and read the source files ahead of the file-data copy;
  // 0: each file is opened and read only when its data is due. The image is the same.
  uint32_t readAheadReaders = 16;

  // Volume identity.
  int64_t buildTime = 0;           // seconds since 1970-01-01 UTC; the one "now" of the build
  uint8_t buildTimeStamp[12] = {};  // buildTime as a UDF timestamp
  uint8_t applicationId[23] = {};
  uint8_t implementationId[23] = {};
  uint8_t volumeLabel[128] = {};    // UDF dstring
  bool datesInUtc = false;          // every date in UTC with offset 0 (a fixed build time)

  uint32_t formatFlags = 0;
  // ISO 9660 extensions asked for: Rock Ridge entries on the primary directory records,
  // and a Joliet tree under a Supplementary Volume Descriptor.
  bool rockRidge = false;
  bool joliet = false;
  uint32_t sectorSize = 2048;
  uint16_t udfRevision = 0x0102;
  uint8_t dvdVideoMode = 0;

  // Blu-ray stereoscopic plan and what the scan derived from it.
  std::unique_ptr<StereoPlan> stereoPlan;
  uint32_t extraDescriptorSectors = 0;
  TreeNode* ssifDirectory = nullptr;

  // Layout.
  int32_t volumeSectors = 0;
  int32_t fileDataSectors = 0;
  int32_t sectorsWritten = 0;
  uint32_t fileLimit = 4294967295u;
  int32_t pathTableStart = 0;
  uint32_t pathTableBytes = 0;
  int32_t pathTableSectors = 0;
  int32_t isoDirectorySectors = 0;
  int32_t rockRidgeSectors = 0;  // SUSP continuation areas, right after the ISO 9660 directories
  int32_t jolietPathTableStart = 0;
  uint32_t jolietPathTableBytes = 0;
  int32_t jolietPathTableSectors = 0;
  int32_t jolietDirectorySectors = 0;
  int32_t fileDataOffset = 0;
  int32_t dataBase = 0;
  int32_t partitionLength = 0;
  uint32_t metadataBlocks = 0;
  int32_t mirrorEntrySector = 0;
  int32_t mirrorStart = 0;

  // Failure reporting. A phase that fails calls Fail with what went wrong and returns
  // false; the driver stops at the first failed phase and hands the text to the job.
  std::string errorMessage;
  std::u16string targetPath;  // the image being written; the scan leaves it out of the tree
  WarningFn warning = nullptr;
  void* warningContext = nullptr;
  // Asked by the scan at every folder: true once the build is to stop (a cancel request
  // or a stop signal). The writer learns the same through its progress function.
  bool (*stopRequested)(void* context) = nullptr;
  void* stopContext = nullptr;

  ImageBuilder() = default;
  ImageBuilder(const ImageBuilder&) = delete;
  ImageBuilder& operator=(const ImageBuilder&) = delete;
  ~ImageBuilder() { CleanUp(); }

  // Initial values: build time from the system clock, label "UNTITLED".
  void Initialize();
  // A build time given by the user instead of the clock: dates are then recorded in UTC,
  // so that the image does not depend on the machine's time zone either.
  void FixBuildTime(int64_t time);
  // Releases the arena (the whole tree) and the stereoscopic plan.
  void CleanUp();

  // '*' followed by at most 22 bytes of `id`; an empty id leaves the field all zero.
  void SetImplementationId(const char* id);
  void SetApplicationId(const char* id);
  // UTF-16 label to the 128-byte dstring; an empty label keeps the current one.
  void SetVolumeLabel(const char16_t* label);
  // Copies volumeLabel into a shorter dstring field of `size` bytes.
  void FitDString(uint8_t* field, uint32_t size) const;

  bool Fail(const std::string& message);  // records the first failure; returns false
  bool StopRequested() const { return stopRequested && stopRequested(stopContext); }
  void Warn(const std::string& message) const;

  // Phases.
  bool ScanSourceTree(const char16_t* sourcePath);
  bool PlanLayout();
  bool WriteImage(const char16_t* targetPath, WriterProgressFn progress, void* progressContext);

  // Output pipeline operations used by every structure writer.
  uint8_t* RequestSectors(uint32_t n) { return requestSectors(n, writerContext); }
  bool WriteSectors(const uint8_t* bytes, uint32_t n);
  bool WriteZeroSectors(uint32_t n);

  bool WritesIso9660() const { return formatFlags & FormatIso9660; }
  bool WritesUdf() const { return formatFlags & FormatUdf; }
  bool IsUdf250() const { return udfRevision >= 0x0250; }
};

}  // namespace vellumcast
