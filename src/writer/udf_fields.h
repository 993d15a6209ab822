// Sub-structures shared by the UDF descriptors: entity identifiers (ECMA-167 1/7.4,
// OSTA UDF 2.1.5), character sets (charspec, 1/7.2.1, UDF 2.1.2), extent and
// allocation descriptors (3/7.1, 4/14.14.1, 4/14.14.2) and the ICB tag (4/14.6).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellumcast {

struct ImageSettings;

// Entity identifier (regid), 32 bytes.
namespace regid {
constexpr size_t kFlags = 0;
constexpr size_t kIdentifier = 1;
constexpr size_t kIdentifierSuffix = 24;
constexpr size_t kIdentifierSize = 23;
constexpr size_t kSize = 32;
// UDF identifier suffix (OSTA UDF 2.1.5.3): revision, then the domain flags.
constexpr size_t kSuffixUdfRevision = kIdentifierSuffix + 0;
constexpr size_t kSuffixDomainFlags = kIdentifierSuffix + 2;
}  // namespace regid

// Domain flags of the "*OSTA UDF Compliant" domain identifier: hard and soft
// write-protect (OSTA UDF 2.1.5.3).
constexpr uint8_t kDomainFlagsWriteProtected = 3;

// Character set (charspec), 64 bytes.
namespace charspec {
constexpr size_t kCharacterSetType = 0;
constexpr size_t kCharacterSetInfo = 1;
constexpr size_t kSize = 64;
}  // namespace charspec

// extent_ad (8 bytes), short_ad (8 bytes), long_ad (16 bytes).
namespace extent_ad {
constexpr size_t kLength = 0;
constexpr size_t kLocation = 4;
constexpr size_t kSize = 8;
}  // namespace extent_ad
namespace short_ad {
constexpr size_t kExtentLength = 0;
constexpr size_t kExtentPosition = 4;
constexpr size_t kSize = 8;
}  // namespace short_ad
namespace long_ad {
constexpr size_t kExtentLength = 0;
constexpr size_t kLogicalBlockNumber = 4;
constexpr size_t kPartitionReferenceNumber = 8;
constexpr size_t kImplementationUse = 10;
// UDF 2.3.4.3: implementation use of a File Identifier Descriptor's ICB.
constexpr size_t kImplementationUseFlags = 10;
constexpr size_t kImplementationUseUniqueId = 12;
constexpr size_t kSize = 16;
}  // namespace long_ad

// ICB tag, 20 bytes.
namespace icbtag {
constexpr size_t kPriorRecordedNumberOfDirectEntries = 0;
constexpr size_t kStrategyType = 4;
constexpr size_t kStrategyParameter = 6;
constexpr size_t kMaximumNumberOfEntries = 8;
constexpr size_t kFileType = 11;
constexpr size_t kParentIcbLocation = 12;
constexpr size_t kFlags = 18;
constexpr size_t kSize = 20;
}  // namespace icbtag

// ICB tag values used in this image.
constexpr uint16_t kStrategyType4 = 4;
constexpr uint8_t kFileTypeDirectory = 4;
constexpr uint8_t kFileTypeRegular = 5;
constexpr uint8_t kFileTypeRealTime = 249;
constexpr uint8_t kFileTypeMetadata = 250;
constexpr uint8_t kFileTypeMetadataMirror = 251;
constexpr uint16_t kIcbFlagsShortAd = 0x0020;   // archive, short_ad
constexpr uint16_t kIcbFlagsLongAd = 0x0021;    // archive, long_ad
constexpr uint16_t kIcbFlagsEmbedded = 0x0023;  // archive, data in the entry (4/14.6.8)
// File types a bridge image with Rock Ridge records besides those above (4/14.6.6).
constexpr uint8_t kFileTypeBlockDevice = 6;
constexpr uint8_t kFileTypeCharacterDevice = 7;
constexpr uint8_t kFileTypeFifo = 9;
constexpr uint8_t kFileTypeSocket = 10;
constexpr uint8_t kFileTypeSymbolicLink = 12;
// ICB tag flags of a File Entry's permissions beyond rwx (4/14.6.8).
constexpr uint16_t kIcbFlagSetUid = 0x0040;
constexpr uint16_t kIcbFlagSetGid = 0x0080;
constexpr uint16_t kIcbFlagSticky = 0x0100;

// Extent type 3 in the two top bits of an extent length (ECMA-167 4/14.14.1.1): the
// extent holds the next extent of allocation descriptors.
constexpr uint32_t kExtentTypeNextAllocationExtent = 3u << 30;

// Partition reference numbers: the physical partition, and in UDF 2.50 the metadata
// partition that holds every file-system structure.
constexpr uint16_t kPhysicalPartition = 0;
constexpr uint16_t kMetadataPartitionReference = 1;
// The partition reference of the file-system structures (directories, entries).
uint16_t FileSystemPartition(const ImageSettings& settings);

// flags 0, the 23 identifier bytes of `identifier` (shorter text zero-padded), suffix zero.
void PutRegid(uint8_t* p, const char* identifier);
// The same with a UDF identifier suffix: revision, domain flags.
void PutUdfRegid(uint8_t* p, const char* identifier, uint16_t udfRevision, uint8_t domainFlags = 0);
// The image's implementation and application identifiers, suffix zero.
void PutImplementationRegid(uint8_t* p, const ImageSettings& settings);
void PutApplicationRegid(uint8_t* p, const ImageSettings& settings);
// Type 0, "OSTA Compressed Unicode".
void PutOstaCharspec(uint8_t* p);

void PutExtentAd(uint8_t* p, uint32_t length, uint32_t location);
void PutShortAd(uint8_t* p, uint32_t length, uint32_t position);
void PutLongAd(uint8_t* p, uint32_t length, uint32_t block, uint16_t partition);

// ICB tag of strategy 4 with one entry and no parent ICB.
void PutIcbTag(uint8_t* p, uint8_t fileType, uint16_t flags);

}  // namespace vellumcast
