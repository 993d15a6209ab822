// The sector sink every structure writer hands its sectors to: a buffer of n sectors
// to fill, the filled sectors passed on to the output pipeline, and the count of
// sectors emitted, which the writer compares with the plan at every boundary: the
// logical sector number of ECMA-119 6.1.2 and ECMA-167 3/8.1.2 of the next sector.
#pragma once

#include <cstdint>

namespace vellumcast {

// Output pipeline hooks: a buffer of n sectors to fill, and n filled sectors handed on.
using RequestSectorsFn = uint8_t* (*)(uint32_t n, void* context);
using EmitSectorsFn = bool (*)(const uint8_t* bytes, uint32_t n, void* context);
// Progress of the writer: (sectors done, sectors in the image, context); false stops.
using WriterProgressFn = bool (*)(uint32_t done, uint32_t total, void* context);

struct SectorSink {
  RequestSectorsFn request = nullptr;
  EmitSectorsFn emit = nullptr;
  void* context = nullptr;
  int32_t sectorsWritten = 0;  // sectors emitted so far
  bool failed = false;         // an emit failed; the image cannot be completed

  // A buffer for n sectors from the pipeline; null when memory is refused.
  uint8_t* RequestSectors(uint32_t n) { return request(n, context); }
  // Hands n filled sectors on and counts them; false (and `failed`) when the pipeline
  // refuses them.
  [[nodiscard]] bool EmitSectors(const uint8_t* bytes, uint32_t n);
  // Emits n zero sectors.
  [[nodiscard]] bool EmitZeroSectors(uint32_t n);
};

}  // namespace vellumcast
