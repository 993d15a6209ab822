// The sizes and positions that the layout plan decides and every writer follows: the
// ISO 9660 record and path table lengths (ECMA-119 9.1, 9.4) with their packing into
// sectors, the UDF File Identifier Descriptor lengths (ECMA-167 4/14.4) and the sector
// addresses derived from the plan. The writers call these instead of recomputing, so
// that what they emit is exactly what PlanLayout reserved.
#pragma once

#include <cstdint>

#include "base/disc_constants.h"
#include "layout/layout_plan.h"
#include "tree/tree_node.h"

namespace vellumcast {

// Whole sectors holding `bytes`.
constexpr uint64_t SectorsFor(uint64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }

// ECMA-119 9.1: a directory record is 33 bytes and its identifier, padded to an even
// length; in DVD-Video mode every record carries 6 bytes of system use (unless Rock
// Ridge entries fill it, see iso_hierarchy.h).
constexpr uint32_t kIsoRecordFixedBytes = 33;
constexpr uint32_t kDvdVideoSystemUseBytes = 6;
inline uint32_t IsoSystemUseBytes(const SourceTree& tree) {
  return tree.dvdVideoMode ? kDvdVideoSystemUseBytes : 0;
}
// A record with an identifier of `nameLength` bytes and `systemUseBytes` of system use.
constexpr uint32_t IsoRecordLength(uint32_t nameLength, uint32_t systemUseBytes) {
  return kIsoRecordFixedBytes + nameLength + (nameLength % 2 == 0 ? 1 : 0) + systemUseBytes;
}
// ECMA-119 6.8.1.1: a record never crosses a sector boundary. The offset at which a
// record of `length` bytes starts when the previous one ended at `offset`.
inline uint64_t IsoRecordStart(uint64_t offset, uint32_t length) {
  uint64_t inSector = offset % kSectorSize;
  return inSector + length > kSectorSize ? offset - inSector + kSectorSize : offset;
}
// ECMA-119 9.4: a path table record is 8 bytes and the identifier, padded to even length.
inline uint32_t IsoPathTableRecordLength(uint32_t nameLength) {
  return 8 + nameLength + nameLength % 2;
}

// First sector of the ISO 9660 directory extents (after the type L and type M tables).
inline uint32_t IsoFirstDirectorySector(const LayoutPlan& plan) {
  return uint32_t(plan.pathTableStart) + 2 * uint32_t(plan.pathTableSectors);
}

// A file's first data sector in the image; in UDF its block within the (physical)
// partition is FileDataBlock.
inline uint32_t FileDataSector(const LayoutPlan& plan, const TreeNode& file) {
  return uint32_t(plan.dataBase) + uint32_t(plan.fileDataOffset) + file.dataStart;
}
inline uint32_t FileDataBlock(const LayoutPlan& plan, const TreeNode& file) {
  return uint32_t(plan.fileDataOffset) + file.dataStart;
}

// ECMA-167 4/14.4: a File Identifier Descriptor is 38 bytes, the identifier (compression
// identifier and name bytes), padded to a multiple of 4. The parent entry has no
// identifier: 40 bytes.
constexpr uint32_t kUdfParentIdentifierLength = 40;
inline uint32_t UdfIdentifierDescriptorLength(uint32_t udfNameLength) {
  return 4 * ((udfNameLength + 42) / 4);
}
inline uint32_t UdfDirectorySectors(const TreeNode& directory) {
  return uint32_t(SectorsFor(directory.udfDirLength));
}

}  // namespace vellumcast
