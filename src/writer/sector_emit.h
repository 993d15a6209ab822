// How every UDF structure writer hands its sectors to the output pipeline: request a
// buffer, zero it, fill it (tag last), emit it with one write. A fill that returns
// false (the structure cannot be built) emits nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "build/image_builder.h"
#include "layout/disc_constants.h"

namespace vellumcast {

template <typename Fill>
bool EmitFilledSectors(ImageBuilder& builder, uint32_t n, Fill&& fill) {
  uint8_t* sectors = builder.RequestSectors(n);
  if (!sectors) return builder.Fail("Out of memory for the output buffer");
  std::memset(sectors, 0, size_t(n) * kSectorSize);
  if constexpr (std::is_same_v<decltype(fill(sectors)), bool>) {
    if (!fill(sectors)) return false;
  } else {
    fill(sectors);
  }
  return builder.WriteSectors(sectors, n);
}

}  // namespace vellumcast
