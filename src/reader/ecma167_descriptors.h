// Decoders of the ECMA-167 / OSTA UDF structures a reader needs, with their own field
// offsets: the descriptor tag, extent and allocation descriptors, the volume
// descriptors, the integrity descriptor, the File Set Descriptor, File Entries and
// Extended File Entries, File Identifier Descriptors and Allocation Extent Descriptors.
// A decoder checks every length against the bytes it is given and says why it refuses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_span.h"

namespace vellumcast {

// ECMA-167 3/7.2.1 and 4/7.2.1: tag identifiers.
enum UdfTagId : uint16_t {
  kUdfPrimaryVolume = 1,
  kUdfAnchor = 2,
  kUdfVolumePointer = 3,
  kUdfImplementationUse = 4,
  kUdfPartition = 5,
  kUdfLogicalVolume = 6,
  kUdfUnallocatedSpace = 7,
  kUdfTerminating = 8,
  kUdfIntegrity = 9,
  kUdfFileSet = 256,
  kUdfFileIdentifier = 257,
  kUdfAllocationExtent = 258,
  kUdfFileEntry = 261,
  kUdfExtendedFileEntry = 266,
};

// ECMA-167 4/14.6.6: file types a reader meets.
constexpr uint8_t kUdfTypeDirectory = 4;
constexpr uint8_t kUdfTypeRegular = 5;
constexpr uint8_t kUdfTypeRealTime = 249;
constexpr uint8_t kUdfTypeBlockDevice = 6;
constexpr uint8_t kUdfTypeCharacterDevice = 7;
constexpr uint8_t kUdfTypeFifo = 9;
constexpr uint8_t kUdfTypeSocket = 10;
constexpr uint8_t kUdfTypeSymbolicLink = 12;
constexpr uint8_t kUdfTypeMetadata = 250;
constexpr uint8_t kUdfTypeMetadataMirror = 251;

// ECMA-167 3/8.4.2.1: the first Anchor Volume Descriptor Pointer sits at sector 256.
constexpr uint32_t kUdfFirstAnchorSector = 256;

// ECMA-167 4/14.6.8: how an ICB records its allocation descriptors (ICB tag flags, bits
// 0-2): short_ads, long_ads, ext_ads, or none, the file's bytes standing in their place.
constexpr uint8_t kUdfShortAds = 0;
constexpr uint8_t kUdfLongAds = 1;
constexpr uint8_t kUdfExtendedAds = 2;
constexpr uint8_t kUdfDataInEntry = 3;

// ECMA-167 4/14.14.1.1: the extent type in the two high bits of an extent length.
constexpr uint32_t kUdfExtentRecorded = 0;
constexpr uint32_t kUdfExtentAllocated = 1;
constexpr uint32_t kUdfExtentUnallocated = 2;
constexpr uint32_t kUdfExtentContinuation = 3;

// ECMA-167 3/7.2 (and 4/7.2): the 16-byte tag that begins every descriptor.
struct UdfTag {
  uint16_t identifier = 0;
  uint16_t version = 0;
  uint16_t crcLength = 0;
  uint32_t location = 0;
};

// CRC-ITU-T (x^16 + x^12 + x^5 + 1, initial 0), ECMA-167 1/7.2.6.
uint16_t UdfCrc(const uint8_t* bytes, size_t n);

// Decodes and checks the tag at the start of `bytes`: identifier `expected`, checksum,
// CRC over its CRC length (which must fit in `bytes`) and tag location `location`.
// False with `why` set ("tag checksum wrong", ...).
[[nodiscard]] bool DecodeUdfTag(ByteSpan bytes, uint16_t expected, uint32_t location, UdfTag& out,
                                const char*& why);
// The identifier of the tag at the start of `bytes`, unchecked (0 when too short).
uint16_t PeekUdfTagId(ByteSpan bytes);

// ECMA-167 3/7.1: an extent of sectors.
struct UdfExtent {
  uint32_t length = 0;  // bytes
  uint32_t location = 0;
};

// ECMA-167 4/14.14: an allocation descriptor, short or long, with its extent type split off.
struct UdfAllocation {
  uint32_t bytes = 0;      // extent length (30 bits)
  uint32_t type = 0;       // kUdfExtent*
  uint32_t block = 0;      // logical block within the partition
  uint16_t partition = 0;  // partition reference number (long form); the entry's own for short
};

// A long_ad (4/14.14.2) at `pos`.
UdfAllocation DecodeLongAd(ByteSpan b, size_t pos);
// A short_ad (4/14.14.1) at `pos`; `partition` is the partition of the entry holding it.
UdfAllocation DecodeShortAd(ByteSpan b, size_t pos, uint16_t partition);

// ECMA-167 3/10.2: Anchor Volume Descriptor Pointer.
struct UdfAnchor {
  UdfExtent main;
  UdfExtent reserve;
};
[[nodiscard]] bool DecodeUdfAnchor(ByteSpan sector, uint32_t location, UdfAnchor& out,
                                   const char*& why);

// ECMA-167 3/10.5: Partition Descriptor.
struct UdfPartitionDescriptor {
  uint32_t sequenceNumber = 0;
  uint16_t number = 0;
  std::string contents;  // "+NSR02", "+NSR03"
  uint32_t start = 0;    // first sector
  uint32_t length = 0;   // sectors
};
void DecodeUdfPartition(ByteSpan sector, UdfPartitionDescriptor& out);

// ECMA-167 3/10.7 and OSTA UDF 2.2.8, 2.2.10: one partition map.
struct UdfPartitionMap {
  uint8_t type = 0;        // 1 or 2
  std::string identifier;  // a type 2 map's partition type ("*UDF Metadata Partition")
  uint16_t partitionNumber = 0;
  uint32_t metadataFile = 0;  // a metadata map's file and mirror locations (blocks)
  uint32_t mirrorFile = 0;
};

// ECMA-167 3/10.6: Logical Volume Descriptor.
struct UdfLogicalVolume {
  uint32_t sequenceNumber = 0;
  std::string volumeId;
  uint32_t blockSize = 0;
  std::string domain;           // "*OSTA UDF Compliant"
  uint16_t domainRevision = 0;  // 0x0102, 0x0250
  UdfAllocation fileSet;        // 4/3.1: where the File Set Descriptor is
  UdfExtent integrity;          // the integrity sequence
  std::vector<UdfPartitionMap> maps;
};
[[nodiscard]] bool DecodeUdfLogicalVolume(ByteSpan sector, UdfLogicalVolume& out, const char*& why);

// ECMA-167 3/10.10 and OSTA UDF 2.2.6.4: Logical Volume Integrity Descriptor.
struct UdfIntegrity {
  uint32_t type = 0;  // 0 open, 1 closed
  UdfExtent next;
  uint32_t files = 0;
  uint32_t directories = 0;
};
[[nodiscard]] bool DecodeUdfIntegrity(ByteSpan sector, UdfIntegrity& out, const char*& why);

// ECMA-167 4/14.1: File Set Descriptor.
struct UdfFileSet {
  UdfAllocation root;
};
void DecodeUdfFileSet(ByteSpan block, UdfFileSet& out);

// ECMA-167 4/14.9 and 4/14.17: File Entry and Extended File Entry.
struct UdfFileEntry {
  bool extended = false;
  uint8_t fileType = 0;
  uint8_t adType = 0;  // kUdfShortAds, kUdfLongAds, kUdfExtendedAds or kUdfDataInEntry
  uint64_t informationLength = 0;
  int64_t modified = 0;  // seconds since 1970 UTC
  ByteSpan ads;          // the allocation descriptors (or the embedded data)
  uint32_t uid = 0, gid = 0;
  uint32_t permissions = 0;    // 4/14.9.5
  uint16_t links = 0;          // file link count (4/14.9.6)
  int64_t modifiedMicros = 0;  // the modification time to its microsecond
};
// Decodes the entry in `block` (the tag already checked); false with `why` set when
// L_EA + L_AD would pass the block.
[[nodiscard]] bool DecodeUdfFileEntry(ByteSpan block, UdfFileEntry& out, const char*& why);

// ECMA-167 4/14.4: File Identifier Descriptor.
constexpr uint8_t kUdfFidHidden = 0x01;
constexpr uint8_t kUdfFidDirectory = 0x02;
constexpr uint8_t kUdfFidDeleted = 0x04;
constexpr uint8_t kUdfFidParent = 0x08;
struct UdfFileIdentifier {
  uint8_t characteristics = 0;
  UdfAllocation icb;
  ByteSpan identifier;  // the file identifier's bytes (OSTA compressed Unicode)
  uint32_t length = 0;  // bytes with padding to a multiple of 4
};
// Decodes the descriptor at `pos` of a directory's bytes; false with `why` set when it
// passes the bytes. The identifier is decoded apart (DecodeCs0), after the tag check.
[[nodiscard]] bool DecodeUdfFileIdentifier(ByteSpan bytes, size_t pos, UdfFileIdentifier& out,
                                           const char*& why);

// ECMA-167 4/14.5: Allocation Extent Descriptor; `ads` are the descriptors it holds.
[[nodiscard]] bool DecodeUdfAllocationExtent(ByteSpan block, ByteSpan& ads, const char*& why);

// OSTA UDF 2.1.1 / 2.1.3: a d-string (the length in its last byte) or `n` bytes of
// compressed Unicode (compression identifier 8 or 16) as UTF-8; false when the
// compression identifier is unknown or a length is wrong.
[[nodiscard]] bool DecodeDString(ByteSpan field, std::string& out);
[[nodiscard]] bool DecodeCs0(ByteSpan bytes, std::string& out);

// ECMA-167 4/14.16: the path components of a symbolic link's data as a path text: a
// root component as a leading '/', "." and "..", named components joined by '/'. False
// when a component passes the bytes or its identifier is not compressed Unicode.
[[nodiscard]] bool DecodeUdfPathComponents(ByteSpan bytes, std::string& out);

// ECMA-167 1/7.3: a 12-byte timestamp at `pos` as seconds since 1970 UTC.
int64_t DecodeUdfTime(ByteSpan b, size_t pos);
// The same to its microsecond (centiseconds, hundreds of microseconds, microseconds).
int64_t DecodeUdfTimeMicros(ByteSpan b, size_t pos);
// Its offset from UTC in minutes; false when the timestamp gives none.
[[nodiscard]] bool DecodeUdfTimeZone(ByteSpan b, size_t pos, int32_t& minutes);

}  // namespace vellumcast
