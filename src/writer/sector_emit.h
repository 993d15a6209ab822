// How every UDF structure writer hands its sectors to the output pipeline: request a
// buffer, zero it, fill it (tag last), emit it with one write. A fill that returns
// false (the structure cannot be built) emits nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "writer/image_writer.h"
#include "base/disc_constants.h"

namespace vellumcast {

template <typename Fill>
bool EmitFilledSectors(ImageEmitter& emitter, uint32_t n, Fill&& fill) {
  uint8_t* sectors = emitter.sink.RequestSectors(n);
  if (!sectors) return emitter.log.Fail("Out of memory for the output buffer");
  std::memset(sectors, 0, size_t(n) * kSectorSize);
  if constexpr (std::is_same_v<decltype(fill(sectors)), bool>) {
    if (!fill(sectors)) return false;
  } else {
    fill(sectors);
  }
  return emitter.sink.EmitSectors(sectors, n);
}

}  // namespace vellumcast
