// The UDF writers that the image writer calls, each emitting exactly the sectors named.
// Positions are tag locations (absolute sectors for volume structures), never seek targets.
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageEmitter;

// "BEA01", "NSR02" (UDF 1.02) or "NSR03" (UDF 2.50), "TEA01": 3 sectors (ECMA-167 2/9.1).
bool WriteVolumeRecognitionSequence(ImageEmitter& emitter);
// PVD, IUVD, PD, LVD, USD, TD at firstLocation .. firstLocation + 5: 6 sectors.
bool WriteVolumeDescriptorSequence(ImageEmitter& emitter, uint32_t firstLocation);
// Logical Volume Integrity Descriptor: 1 sector.
bool WriteLogicalVolumeIntegrityDescriptor(ImageEmitter& emitter, uint32_t location);
// Terminating Descriptor: 1 sector.
bool WriteTerminatingDescriptor(ImageEmitter& emitter, uint32_t location);
// Anchor Volume Descriptor Pointer: 1 sector.
bool WriteAnchorVolumeDescriptorPointer(ImageEmitter& emitter, uint32_t location);
// UDF 2.50 Metadata File entry (mirror false) or Metadata Mirror File entry: 1 sector;
// `location` is the absolute sector.
bool WriteMetadataFileEntry(ImageEmitter& emitter, bool mirror, uint32_t location);
// The UDF file-system area (File Set Descriptor, directories, File Entries); returns
// the number of blocks written.
uint32_t WriteUdfFileSystemArea(ImageEmitter& emitter);

}  // namespace vellumcast
