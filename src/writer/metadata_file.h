// The UDF 2.50 Metadata File and Metadata Mirror File entries (OSTA UDF 2.50 2.2.13).
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageEmitter;

// The Metadata File (mirror false) or Metadata Mirror File entry into one zeroed
// sector; `location` is the absolute sector.
void BuildMetadataFileEntry(const ImageEmitter& emitter, uint8_t* sector, bool mirror,
                            uint32_t location);

}  // namespace vellumcast
