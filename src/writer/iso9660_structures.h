// The ISO 9660 (ECMA-119) structures of an image: volume descriptors, path tables and
// directory extents. Each writes exactly the sectors the layout planned for it.
#pragma once

namespace vellumcast {

struct ImageEmitter;

// Primary Volume Descriptor (ECMA-119 8.4): 1 sector.
bool WriteIsoPrimaryVolumeDescriptor(ImageEmitter& emitter);
// Joliet Supplementary Volume Descriptor (ECMA-119 8.5): 1 sector when Joliet is asked
// for, else nothing.
bool WriteIsoSupplementaryVolumeDescriptor(ImageEmitter& emitter);
// Volume Descriptor Set Terminator (ECMA-119 8.3): 1 sector.
bool WriteIsoSetTerminator(ImageEmitter& emitter);
// Type L path table, type M path table (pathTableSectors each), then every directory
// extent in directory-number order (isoDirectorySectors in all), the Rock Ridge
// continuation areas (rockRidgeSectors), and the same for the Joliet hierarchy. False
// when the tree does not match the planned sizes (the log says why).
bool WriteIsoPathTablesAndDirectories(ImageEmitter& emitter);

}  // namespace vellumcast
