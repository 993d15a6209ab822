// The UDF volume descriptors (ECMA-167 part 3 as profiled by OSTA UDF 1.02 and 2.50),
// each built into one zeroed 2048-byte sector and tagged with `location`.
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageEmitter;

void BuildVolumeStructureDescriptor(uint8_t* sector, const char* standardIdentifier);
void BuildPrimaryVolumeDescriptor(const ImageEmitter& emitter, uint8_t* sector, uint32_t location);
void BuildImplementationUseVolumeDescriptor(const ImageEmitter& emitter, uint8_t* sector,
                                            uint32_t location);
void BuildPartitionDescriptor(const ImageEmitter& emitter, uint8_t* sector, uint32_t location);
void BuildLogicalVolumeDescriptor(const ImageEmitter& emitter, uint8_t* sector, uint32_t location);
void BuildUnallocatedSpaceDescriptor(const ImageEmitter& emitter, uint8_t* sector,
                                     uint32_t location);
void BuildTerminatingDescriptor(const ImageEmitter& emitter, uint8_t* sector, uint32_t location);
void BuildAnchorVolumeDescriptorPointer(const ImageEmitter& emitter, uint8_t* sector,
                                        uint32_t location);

// "BEA01", "NSR02" (UDF 1.02) or "NSR03" (UDF 2.50), "TEA01": 3 sectors (ECMA-167 2/9.1).
[[nodiscard]] bool EmitVolumeRecognitionSequence(ImageEmitter& emitter);
// PVD, IUVD, PD, LVD, USD, TD at firstLocation .. firstLocation + 5: 6 sectors.
[[nodiscard]] bool EmitVolumeDescriptorSequence(ImageEmitter& emitter, uint32_t firstLocation);

}  // namespace vellumcast
