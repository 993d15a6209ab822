// Format constants shared by the layout plan and the writers, with their arithmetic.
#pragma once

#include <cstdint>

namespace vellumcast {

// Every size and position is counted in 2048-byte sectors, which are also the UDF
// logical blocks.
constexpr uint32_t kSectorSize = 2048;

// ECMA-119 6.2.1: sectors 0-15 are the system area; volume descriptors start at 16.
constexpr uint32_t kSystemAreaSectors = 16;
constexpr uint32_t kPrimaryVolumeDescriptorSector = 16;
// ISO 9660 only: PVD at 16, terminator at 17, path tables from 18.
constexpr uint32_t kIsoOnlyPathTableStart = 18;

// UDF: the Anchor Volume Descriptor Pointer sits at sector 256 (ECMA-167 3/8.4.2.1),
// and everything after the volume structures starts at 257.
constexpr uint32_t kAnchorSector = 256;
constexpr uint32_t kAfterAnchorSector = 257;
constexpr uint32_t kMainVdsSector = 32;
constexpr uint32_t kReserveVdsSector = 48;          // UDF 1.02
constexpr uint32_t kIntegritySequenceSector = 64;
constexpr uint32_t kVdsSectors = 6;                 // PVD, IUVD, PD, LVD, USD, TD
// Extents recorded in the anchors and the Logical Volume Descriptor: each Volume
// Descriptor Sequence extent is 16 sectors (ECMA-167 3/8.4.2.2 asks for at least 16),
// the integrity sequence 2 sectors (descriptor and terminator).
constexpr uint32_t kVdsExtentBytes = 16 * kSectorSize;
constexpr uint32_t kIntegrityExtentBytes = 2 * kSectorSize;

// UDF 2.50: the physical partition starts at 288 = 9 x 32, the metadata file's entry
// is its block 0 and the metadata content begins 32 blocks in (sector 320).
constexpr uint32_t kUdf250PartitionStart = 288;
constexpr uint32_t kMetadataAlignment = 32;         // blocks; also the image size granule
constexpr uint32_t kMetadataContentOffset = 32;

// UDF file-system blocks 0, 1, 2: File Set Descriptor, its Terminating Descriptor and
// the root's File Entry.
constexpr uint32_t kFixedFileSystemBlocks = 3;
constexpr uint32_t kRootFileEntryBlock = 2;
// UDF unique identifiers 0-15 are reserved (OSTA UDF 3.2.1.1); the root keeps 0.
constexpr uint32_t kFirstUniqueId = 16;
// The File Set Descriptor extent: the descriptor and its Terminating Descriptor.
constexpr uint32_t kFileSetExtentBytes = 2 * kSectorSize;

// Longest extent recorded in one allocation descriptor: 0x7FFFE sectors = 1073737728
// bytes (below the 30-bit extent length limit of 2^30 - 1, and a multiple of 3 sectors).
constexpr uint32_t kMaxExtentSectors = 524286;
constexpr uint32_t kMaxExtentBytes = kMaxExtentSectors * kSectorSize;

}  // namespace vellumcast
