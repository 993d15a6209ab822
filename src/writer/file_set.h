// The File Set Descriptor of the UDF file-system area (ECMA-167 4/14.1, OSTA UDF 2.3.2).
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageEmitter;

// File Set Descriptor at block 0 (tag location 0) into one zeroed sector.
void BuildFileSetDescriptor(const ImageEmitter& emitter, uint8_t* sector);

}  // namespace vellumcast
