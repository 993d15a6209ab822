// How every structure writer, ISO 9660 and UDF alike, hands its sectors to the output
// pipeline: request a buffer, zero it, fill it (a UDF tag last), emit it with one write.
// A fill that returns false (the structure cannot be built) emits nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "base/disc_constants.h"
#include "writer/image_writer.h"

namespace vellumcast {

template <typename Fill>
[[nodiscard]] bool EmitFilledSectors(ImageEmitter& emitter, uint32_t n, Fill&& fill) {
  uint8_t* sectors = emitter.sink.RequestSectors(n);
  if (!sectors) return emitter.log.Fail("out of memory for the output buffer");
  std::memset(sectors, 0, size_t(n) * kSectorSize);
  if constexpr (std::is_same_v<decltype(fill(sectors)), bool>) {
    if (!fill(sectors)) return false;
  } else {
    fill(sectors);
  }
  return emitter.sink.EmitSectors(sectors, n);
}

// Builds one descriptor, `build(emitter, sector, args...)`, into a zeroed sector and
// emits it.
template <typename Build, typename... Args>
[[nodiscard]] bool EmitDescriptor(ImageEmitter& emitter, Build&& build, const Args&... args) {
  return EmitFilledSectors(emitter, 1, [&](uint8_t* sector) { build(emitter, sector, args...); });
}

}  // namespace vellumcast
