// Format constants shared by the scan, the layout plan and the writers, with their
// arithmetic.
#pragma once

#include <climits>
#include <cstdint>

namespace vellumcast {

// Every size and position is counted in 2048-byte sectors, which are also the UDF
// logical blocks.
constexpr uint32_t kSectorSize = 2048;

// ECMA-119 6.2.1: sectors 0-15 are the system area; volume descriptors start at 16.
constexpr uint32_t kSystemAreaSectors = 16;
constexpr uint32_t kPrimaryVolumeDescriptorSector = 16;
// ISO 9660 only: PVD at 16, terminator at 17, path tables from 18 (one later for each
// of a Boot Record and a Joliet Supplementary Volume Descriptor).
constexpr uint32_t kIsoOnlyPathTableStart = 18;
// El Torito 2.0: the Boot Record Volume Descriptor is at sector 17, right after the PVD.
constexpr uint32_t kBootRecordSector = 17;
// The backup GPT of a hybrid image (UEFI 5.3): 128 entries of 128 bytes in 8 sectors at
// the start of the file data, the header in the image's last 512-byte block (a UDF image's
// last anchor takes the first 512 bytes of that sector). 7-Zip's UDF reader takes data
// after the files or the partition for damage, so the entries stay among the files.
constexpr uint32_t kBackupGptEntrySectors = 8;

// UDF: the Anchor Volume Descriptor Pointer sits at sector 256 (ECMA-167 3/8.4.2.1),
// and everything after the volume structures starts at 257.
constexpr uint32_t kAnchorSector = 256;
constexpr uint32_t kAfterAnchorSector = 257;
constexpr uint32_t kMainVdsSector = 32;
constexpr uint32_t kReserveVdsSector = 48;  // UDF 1.02
constexpr uint32_t kIntegritySequenceSector = 64;
constexpr uint32_t kVdsSectors = 6;  // PVD, IUVD, PD, LVD, USD, TD
// Extents recorded in the anchors and the Logical Volume Descriptor: each Volume
// Descriptor Sequence extent is 16 sectors (ECMA-167 3/8.4.2.2 asks for at least 16),
// the integrity sequence 2 sectors (descriptor and terminator).
constexpr uint32_t kVdsExtentBytes = 16 * kSectorSize;
constexpr uint32_t kIntegrityExtentBytes = 2 * kSectorSize;

// UDF 2.50: the physical partition starts at 288 = 9 x 32, the metadata file's entry
// is its block 0 and the metadata content begins 32 blocks in (sector 320).
constexpr uint32_t kUdf250PartitionStart = 288;
constexpr uint32_t kMetadataAlignment = 32;  // blocks; also the image size granule
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
// bytes. The extent length of an allocation descriptor has 30 bits (ECMA-167 4/14.14.1.1,
// the top two carry the extent type), so an extent holds fewer than 2^30 bytes, 524288
// sectors; 524286 is the largest multiple of 3 sectors below that. Three sectors are one
// Blu-ray aligned unit (32 source packets of 192 bytes, kAlignedUnitPackets), on which
// every extent of a stereoscopic clip begins: a clip extent cut into several allocation
// descriptors keeps each piece on aligned units. Plain files are cut at the same length.
constexpr uint32_t kMaxExtentSectors = 524286;
constexpr uint32_t kMaxExtentBytes = kMaxExtentSectors * kSectorSize;

// ECMA-119 9.1.4: a directory record's data length is 32 bits, so a file of 4 GiB or
// more is recorded as several extents (multi-extent file, ECMA-119 level 3), each of at
// most 0xFFFFF800 bytes (the largest whole number of sectors below 4 GiB).
constexpr uint64_t kIsoMaxExtentBytes = 0xFFFFF800u;  // 4294965248 = 2097151 x 2048
constexpr uint64_t kIsoMultiExtentThreshold = uint64_t(1) << 32;
// ECMA-119 9.4.4 / 6.8.2.1: path table directory numbers are 16-bit.
constexpr uint32_t kIsoMaxDirectories = 65535;

// UDF 2.50 Extended File Entry: 216 bytes of fixed fields, then (2048 - 216) / 16 = 114
// long_ads. With more extents the entry holds 113 and a continuation long_ad; each
// Allocation Extent Descriptor (24 bytes of header) holds (2048 - 24) / 16 = 126 long_ads,
// or 125 and a continuation.
constexpr uint32_t kLongAdsInExtendedFileEntry = (kSectorSize - 216) / 16;  // 114
constexpr uint32_t kLongAdsInAllocationExtent = (kSectorSize - 24) / 16;    // 126
// UDF 1.02 File Entry: 176 bytes of fixed fields and 132 bytes of extended attributes,
// then (2048 - 176 - 132) / 8 = 217 short_ads; the layout plans a single block.
constexpr uint32_t kShortAdsInFileEntry102 = (kSectorSize - 176 - 132) / 8;  // 217

// OSTA Compressed Unicode (OSTA UDF 2.1.1): the compression identifier in the first byte
// of an identifier or dstring; 8: one byte a character, 16: big-endian UTF-16 units.
constexpr uint8_t kCompression8Bit = 8;
constexpr uint8_t kCompression16Bit = 16;

// A UDF File Identifier is recorded with a one-byte length that counts the compression
// identifier too (ECMA-167 4/14.4.4): 254 bytes of name at most, i.e. 127 UTF-16 units
// or 254 8-bit characters.
constexpr uint32_t kUdfMaxNameBytes = 255 - 1;
// The same counts under the names the disc-video rules use for stereoscopic clips.
constexpr uint32_t kAllocationDescriptorsInFileEntry = kLongAdsInExtendedFileEntry;
constexpr uint32_t kAllocationDescriptorsInExtentSector = kLongAdsInAllocationExtent;

// Blocks taken by an Extended File Entry recording `extents` long_ads: the entry holds
// 114 (or 113 and a continuation), each following Allocation Extent Descriptor 126 (or
// 125 and a continuation): 0..114 -> 1, 115..239 -> 2, 240..364 -> 3.
constexpr uint32_t ExtendedFileEntrySectors(uint64_t extents) {
  if (extents <= kLongAdsInExtendedFileEntry) return 1;
  const uint64_t remaining = extents - (kLongAdsInExtendedFileEntry - 1);
  // Every Allocation Extent Descriptor but the last holds 125 and a continuation; the
  // last holds up to 126.
  uint64_t descriptors = 1;
  if (remaining > kLongAdsInAllocationExtent) {
    const uint64_t perLink = kLongAdsInAllocationExtent - 1;
    descriptors += (remaining - kLongAdsInAllocationExtent + perLink - 1) / perLink;
  }
  const uint64_t sectors = 1 + descriptors;
  return sectors > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sectors);
}

}  // namespace vellumcast
