// The ISO 9660 volume descriptors (ECMA-119 8.4, 8.5 and 8.3), each exactly one sector.
#pragma once

namespace vellumcast {

struct ImageEmitter;

// Primary Volume Descriptor (ECMA-119 8.4): 1 sector.
[[nodiscard]] bool EmitIsoPrimaryVolumeDescriptor(ImageEmitter& emitter);
// Joliet Supplementary Volume Descriptor (ECMA-119 8.5): 1 sector when Joliet is asked
// for, else nothing.
[[nodiscard]] bool EmitIsoSupplementaryVolumeDescriptor(ImageEmitter& emitter);
// Volume Descriptor Set Terminator (ECMA-119 8.3): 1 sector.
[[nodiscard]] bool EmitIsoSetTerminator(ImageEmitter& emitter);

}  // namespace vellumcast
