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
void BuildLogicalVolumeIntegrityDescriptor(const ImageEmitter& emitter, uint8_t* sector,
                                           uint32_t location);
// UDF 2.50 Metadata File (mirror false) or Metadata Mirror File entry; `location` is
// the absolute sector.
void BuildMetadataFileEntry(const ImageEmitter& emitter, uint8_t* sector, bool mirror,
                            uint32_t location);

}  // namespace vellumcast
