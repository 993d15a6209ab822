// Emitting sectors through the sink: counting them and noting the first refusal. The
// count is the logical sector number (ECMA-119 6.1.2, ECMA-167 3/8.1.2) of the next sector.
#include "writer/sector_sink.h"

#include <cstring>

#include "base/disc_constants.h"

namespace vellumcast {

bool SectorSink::EmitSectors(const uint8_t* bytes, uint32_t n) {
  sectorsWritten += int32_t(n);
  const bool ok = emit && emit(bytes, n, context);
  failed = !ok;
  return ok;
}

bool SectorSink::EmitZeroSectors(uint32_t n) {
  bool ok = true;
  for (uint32_t i = 0; i < n && ok; ++i) {
    uint8_t* sector = RequestSectors(1);
    if (!sector) {
      failed = true;
      return false;
    }
    std::memset(sector, 0, kSectorSize);
    ok = EmitSectors(sector, 1);
  }
  return ok;
}

}  // namespace vellumcast
