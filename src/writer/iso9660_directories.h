// The ISO 9660 path tables (ECMA-119 9.4) and directory extents (ECMA-119 9.1, 6.8.1)
// of the primary and the Joliet hierarchy, with the Rock Ridge continuation areas.
#pragma once

namespace vellumcast {

struct ImageEmitter;

// Type L path table, type M path table (pathTableSectors each), then every directory
// extent in directory-number order, each followed by its Rock Ridge continuation areas
// (isoDirectorySectors in all), and the same for the Joliet hierarchy. False
// when the tree does not match the planned sizes (the log says why).
[[nodiscard]] bool EmitIsoPathTablesAndDirectories(ImageEmitter& emitter);

}  // namespace vellumcast
