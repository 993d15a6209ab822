// Decoders of the ECMA-119 structures a reader needs: the volume descriptors, the
// directory record and the path table record, each with its own field offsets. A
// decoder checks lengths and both-byte-order copies and says why it refuses.
#pragma once

#include <cstdint>
#include <string>

#include "platform/byte_span.h"

namespace vellumcast {

// ECMA-119 8.1: volume descriptor types.
constexpr uint8_t kIsoBootRecord = 0;
constexpr uint8_t kIsoPrimaryDescriptor = 1;
constexpr uint8_t kIsoSupplementaryDescriptor = 2;
constexpr uint8_t kIsoPartitionDescriptor = 3;
constexpr uint8_t kIsoSetTerminator = 255;
// The first volume descriptor sits at sector 16, after the system area (ECMA-119 6.2.1);
// ECMA-167 2/8.3's Volume Recognition Sequence begins there too (byte 32768).
constexpr uint32_t kIsoFirstDescriptorSector = 16;
// Sectors from there a reader looks through for the set terminator (ECMA-119 8.3) or the
// end of the recognition sequence; the standards set no count, a longer set is damaged.
constexpr uint32_t kIsoMostVolumeDescriptors = 64;

// ECMA-119 9.1.6: file flags.
constexpr uint8_t kIsoFlagHidden = 0x01;
constexpr uint8_t kIsoFlagDirectory = 0x02;
constexpr uint8_t kIsoFlagAssociated = 0x04;
constexpr uint8_t kIsoFlagRecord = 0x08;
constexpr uint8_t kIsoFlagMultiExtent = 0x80;

// ECMA-119 9.1: a directory record.
struct IsoDirectoryRecord {
  uint8_t length = 0;           // bytes of the record (9.1.1)
  uint8_t attributeLength = 0;  // extended attribute record, in logical blocks (9.1.2)
  uint32_t extent = 0;          // first logical block (9.1.3)
  uint32_t dataLength = 0;      // bytes (9.1.4)
  int64_t recorded = 0;         // recording date and time (9.1.5), seconds since 1970 UTC
  uint8_t flags = 0;            // 9.1.6
  uint8_t unitSize = 0;         // interleaved mode (9.1.7, 9.1.8); 0 when not interleaved
  uint8_t gapSize = 0;
  std::string identifier;  // the identifier's bytes (9.1.10, 9.1.11)
  std::string systemUse;   // the System Use field after the padding (9.1.13)
  uint8_t padding = 0;     // the padding byte after an identifier of even length (9.1.12)
};

// Decodes the record at the start of `bytes` (which ends where the record's sector
// ends). False with `why` set when the record's length, identifier length or a
// both-byte-order field is wrong.
[[nodiscard]] bool DecodeIsoDirectoryRecord(ByteSpan bytes, IsoDirectoryRecord& out,
                                            const char*& why);

// ECMA-119 8.4: the Primary Volume Descriptor (the fields a reader uses).
struct IsoPrimaryDescriptor {
  std::string volumeId;          // 8.4.6, trailing spaces removed
  uint32_t volumeSpaceSize = 0;  // logical blocks (8.4.8)
  uint16_t blockSize = 0;        // 8.4.12
  uint32_t pathTableSize = 0;    // bytes (8.4.13)
  uint32_t typeLTable = 0;       // 8.4.14
  uint32_t typeMTable = 0;       // 8.4.16
  IsoDirectoryRecord root;       // 8.4.18
  bool joliet = false;           // a Supplementary Volume Descriptor with a Joliet escape sequence
  bool haveCreated = false;      // 8.4.26: the volume creation date is given
  int64_t created = 0;           // seconds since 1970 UTC
  int32_t createdOffset = 0;     // its offset from UTC in minutes
};

// Decodes the Primary Volume Descriptor in one sector; false with `why` set. With
// `supplementary`, the Supplementary Volume Descriptor (8.5) of the same layout.
[[nodiscard]] bool DecodeIsoPrimaryDescriptor(ByteSpan sector, IsoPrimaryDescriptor& out,
                                              const char*& why, bool supplementary = false);

// ECMA-119 9.1.5: the 7-byte date at `pos` as seconds since 1970 UTC; 0 when not given.
int64_t DecodeIsoRecordDate(ByteSpan b, size_t pos);
// ECMA-119 8.4.26.1: the 17-byte date at `pos`; false when not given (all digits zero)
// or not digits.
[[nodiscard]] bool DecodeIsoVolumeDate(ByteSpan b, size_t pos, int64_t& seconds,
                                       int32_t& offsetMinutes);

// ECMA-119 8.1: true when the sector holds a volume descriptor ("CD001", version 1);
// `type` is its type.
bool IsIsoVolumeDescriptor(ByteSpan sector, uint8_t& type);

// ECMA-119 9.4: a path table record.
struct IsoPathRecord {
  uint32_t extent = 0;
  uint16_t parent = 0;  // number of the parent directory's record, from 1
  std::string identifier;
  uint32_t length = 0;  // bytes of the record with its padding
};

// Decodes the record at `pos` of a type L (little-endian) or type M (big-endian)
// table; false with `why` set when it does not fit in the table.
[[nodiscard]] bool DecodeIsoPathRecord(ByteSpan table, size_t pos, bool bigEndian,
                                       IsoPathRecord& out, const char*& why);

}  // namespace vellumcast
