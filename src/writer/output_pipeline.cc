// The output pipeline: sector buffer, staging area, sink and progress accounting. It
// writes no structure of its own: the 2048-byte sectors (ECMA-119 6.1.2, ECMA-167 3/8.1.2)
// go to the target in the order they are emitted.
#include "writer/output_pipeline.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "base/disc_constants.h"
#include "writer/data_digests.h"

namespace vellumcast {
namespace {

bool ReportProgress(OutputContext& out) {
  const ImageEmitter& emitter = *out.emitter;
  if (out.progress && !out.progress(uint32_t(emitter.sink.sectorsWritten),
                                    uint32_t(emitter.plan.volumeSectors), out.progressContext)) {
    out.stopped = true;
  }
  return !out.Failed();
}

}  // namespace

bool OutputContext::Allocate(uint32_t bufferSectors, uint32_t stagingSectors) {
  buffer.reset(new (std::nothrow) uint8_t[size_t(bufferSectors) * kSectorSize]);
  staging.reset(new (std::nothrow) uint8_t[size_t(stagingSectors) * kSectorSize]);
  if (!buffer || !staging) return false;
  capacity = bufferSectors;
  stagingCapacity = stagingSectors;
  stagedSectors = 0;
  return true;
}

bool OutputContext::Flush() {
  if (Failed()) return false;
  if (stagedSectors == 0) return true;
  bool ok = target->Write(staging.get(), size_t(stagedSectors) * kSectorSize);
  stagedSectors = 0;
  if (!ok) writeError = true;
  return ok;
}

uint8_t* OutputContext::StagingSpace(uint32_t wanted, uint32_t& granted) {
  granted = 0;
  if (Failed()) return nullptr;
  if (stagedSectors == stagingCapacity && !Flush()) return nullptr;
  granted = std::min(wanted, stagingCapacity - stagedSectors);
  return staging.get() + size_t(stagedSectors) * kSectorSize;
}

bool OutputContext::CommitStagedSector() {
  if (digests) digests->Feed(staging.get() + size_t(stagedSectors) * kSectorSize, 1);
  ++stagedSectors;
  emitter->sink.sectorsWritten += 1;
  return ReportProgress(*this);
}

bool OutputContext::CommitWrittenSector() {
  emitter->sink.sectorsWritten += 1;
  return ReportProgress(*this);
}

bool OutputContext::ReadyForKernelCopy() {
  if (emitter->settings.plainDataCopy || digests || !target->kernelCopy || Failed() || !Flush())
    return false;
  // Nothing seeks: the target's end is where the next sector goes.
  return target->length == uint64_t(emitter->sink.sectorsWritten) * kSectorSize;
}

uint8_t* AcquireSectorBuffer(uint32_t n, void* context) {
  auto& out = *static_cast<OutputContext*>(context);
  if (n > out.capacity) {
    out.buffer.reset();
    out.capacity = 0;
    out.buffer.reset(new (std::nothrow) uint8_t[size_t(n) * kSectorSize]);
    if (!out.buffer) {
      out.aborted = true;
      out.emitter->log.Fail("out of memory for a buffer of " + std::to_string(n) + " sectors");
      return nullptr;
    }
    out.capacity = n;
  }
  return out.buffer.get();
}

bool WriteToTarget(const uint8_t* bytes, uint32_t n, void* context) {
  auto& out = *static_cast<OutputContext*>(context);
  if (out.Failed() || !bytes) return false;
  if (out.digests) out.digests->Feed(bytes, n);
  size_t size = size_t(n) * kSectorSize;
  if (n <= out.stagingCapacity - out.stagedSectors) {
    std::memcpy(out.staging.get() + size_t(out.stagedSectors) * kSectorSize, bytes, size);
    out.stagedSectors += n;
  } else {
    if (!out.Flush()) return false;
    if (n < out.stagingCapacity) {
      std::memcpy(out.staging.get(), bytes, size);
      out.stagedSectors = n;
    } else if (!out.target->Write(bytes, size)) {
      out.writeError = true;
      return false;
    }
  }
  return ReportProgress(out);
}

}  // namespace vellumcast
