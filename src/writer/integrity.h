// The Logical Volume Integrity Descriptor (ECMA-167 3/10.10, OSTA UDF 2.2.6), recorded
// closed.
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageEmitter;

// The integrity descriptor with tag location `location` into one zeroed sector.
void BuildLogicalVolumeIntegrityDescriptor(const ImageEmitter& emitter, uint8_t* sector,
                                           uint32_t location);

}  // namespace vellumcast
