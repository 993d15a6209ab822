// The sequential output pipeline: the reusable sector buffer handed to the structure
// writers, a large staging area that collects emitted sectors before they go to the
// image file, and progress reporting after every emitted run. It adds no structure of
// its own (ECMA-119 and ECMA-167 structures come from the writers).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/output_file.h"
#include "writer/image_writer.h"

namespace vellumcast {

struct DataDigests;
struct ReadAhead;

struct OutputContext {
  ImageEmitter* emitter = nullptr;
  OutputFile* target = nullptr;
  WriterProgressFn progress = nullptr;
  void* progressContext = nullptr;
  // Reader threads working ahead along the file-data order; null: every file is opened
  // and read when its turn comes.
  ReadAhead* readAhead = nullptr;
  // With a checksum list: the digests every emitted sector is fed to (file data is then
  // never copied by the kernel, whose bytes this process would not see).
  DataDigests* digests = nullptr;

  // The sector buffer of AcquireSectorBuffer: grown on demand, never shrunk.
  std::unique_ptr<uint8_t[]> buffer;
  uint32_t capacity = 0;  // sectors

  // Emitted sectors waiting to be written to the target in one large write.
  std::unique_ptr<uint8_t[]> staging;
  uint32_t stagingCapacity = 0;  // sectors
  uint32_t stagedSectors = 0;

  bool writeError = false;  // the target refused a write; `target->error` says why
  bool stopped = false;     // the progress function asked to stop
  bool aborted = false;     // a phase failed for another reason (already reported)

  // Allocates the sector buffer and the staging area; false when memory is refused.
  [[nodiscard]] bool Allocate(uint32_t bufferSectors, uint32_t stagingSectors);
  bool Failed() const { return writeError || stopped || aborted; }

  // Free space at the end of the staging area, for up to `wanted` sectors; writes the
  // staged sectors out first when the area is full. Null after a failure.
  uint8_t* StagingSpace(uint32_t wanted, uint32_t& granted);
  // Counts one sector placed at the start of StagingSpace's result as emitted and
  // reports progress; false once the build is to stop.
  [[nodiscard]] bool CommitStagedSector();
  // Counts one sector written straight to the target (not staged) and reports progress;
  // false once the build is to stop.
  [[nodiscard]] bool CommitWrittenSector();
  // Writes out what is staged so that the target can take file data copied by the kernel
  // at the next planned sector; false when the kernel cannot copy into this target.
  [[nodiscard]] bool ReadyForKernelCopy();
  // Writes everything staged to the target.
  [[nodiscard]] bool Flush();
};

// The sink's request and emit hooks over an OutputContext.
uint8_t* AcquireSectorBuffer(uint32_t n, void* context);
bool WriteToTarget(const uint8_t* bytes, uint32_t n, void* context);

}  // namespace vellumcast
