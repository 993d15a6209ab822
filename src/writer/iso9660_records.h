// ISO 9660 directory records (ECMA-119 9.1) and path table records (ECMA-119 9.4).
#pragma once

#include <cstdint>

namespace vellumcast {

namespace dirrec {
constexpr uint32_t kLength = 0;
constexpr uint32_t kExtendedAttributeLength = 1;
constexpr uint32_t kLocationOfExtent = 2;       // both-byte orders, 8 bytes
constexpr uint32_t kDataLength = 10;            // both-byte orders, 8 bytes
constexpr uint32_t kRecordingDateAndTime = 18;  // 7 bytes
constexpr uint32_t kFileFlags = 25;
constexpr uint32_t kFileUnitSize = 26;
constexpr uint32_t kInterleaveGapSize = 27;
constexpr uint32_t kVolumeSequenceNumber = 28;  // both-byte orders, 4 bytes
constexpr uint32_t kLengthOfFileIdentifier = 32;
constexpr uint32_t kFileIdentifier = 33;

constexpr uint8_t kFlagDirectory = 0x02;
constexpr uint8_t kFlagMultiExtent = 0x80;  // not the final record of the file
constexpr uint8_t kSelfIdentifier = 0x00;
constexpr uint8_t kParentIdentifier = 0x01;
}  // namespace dirrec

namespace pathrec {
constexpr uint32_t kLengthOfDirectoryIdentifier = 0;
constexpr uint32_t kExtendedAttributeLength = 1;
constexpr uint32_t kLocationOfExtent = 2;       // 4 bytes, the table's byte order
constexpr uint32_t kParentDirectoryNumber = 6;  // 2 bytes, the table's byte order
constexpr uint32_t kDirectoryIdentifier = 8;
}  // namespace pathrec

// What one directory record says.
struct DirectoryRecord {
  uint32_t location = 0;
  uint32_t dataLength = 0;
  int64_t time = 0;
  bool utc = false;  // the date in UTC (a build with a fixed time) rather than local time
  uint8_t flags = 0;
  const uint8_t* identifier = nullptr;
  uint8_t identifierLength = 0;
  uint8_t systemUseLength = 0;  // zero bytes after the identifier (DVD-Video: 6)
};

// Puts the record at `p` (zeroed by the caller); returns its length, IsoRecordLength.
uint32_t PutDirectoryRecord(uint8_t* p, const DirectoryRecord& record);

// Puts one path table record (bigEndian: type M table); returns its length,
// IsoPathTableRecordLength.
uint32_t PutPathTableRecord(uint8_t* p, bool bigEndian, const uint8_t* identifier,
                            uint8_t identifierLength, uint32_t location, uint16_t parentNumber);

}  // namespace vellumcast
