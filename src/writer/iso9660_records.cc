// Puts ISO 9660 directory records (ECMA-119 9.1) and path table records (ECMA-119 9.4).
#include "writer/iso9660_records.h"

#include <cstring>

#include "layout/layout_rules.h"
#include "layout/volume_time.h"
#include "writer/byte_order.h"

namespace vellumcast {

uint32_t PutDirectoryRecord(uint8_t* p, const DirectoryRecord& r) {
  using namespace dirrec;
  uint32_t length = IsoRecordLength(r.identifierLength, r.systemUseLength);
  p[kLength] = uint8_t(length);
  p[kExtendedAttributeLength] = 0;
  PutBoth32(p + kLocationOfExtent, r.location);
  PutBoth32(p + kDataLength, r.dataLength);
  MakeIsoRecordDate(r.time, p + kRecordingDateAndTime, r.utc);
  p[kFileFlags] = r.flags;
  p[kFileUnitSize] = 0;
  p[kInterleaveGapSize] = 0;
  PutBoth16(p + kVolumeSequenceNumber, 1);
  p[kLengthOfFileIdentifier] = r.identifierLength;
  if (r.identifierLength) std::memcpy(p + kFileIdentifier, r.identifier, r.identifierLength);
  // The padding byte and the system use bytes stay zero.
  return length;
}

uint32_t PutPathTableRecord(uint8_t* p, bool bigEndian, const uint8_t* identifier,
                            uint8_t identifierLength, uint32_t location, uint16_t parentNumber) {
  using namespace pathrec;
  p[kLengthOfDirectoryIdentifier] = identifierLength;
  p[kExtendedAttributeLength] = 0;
  if (bigEndian) {
    PutBe32(p + kLocationOfExtent, location);
    PutBe16(p + kParentDirectoryNumber, parentNumber);
  } else {
    PutLe32(p + kLocationOfExtent, location);
    PutLe16(p + kParentDirectoryNumber, parentNumber);
  }
  std::memcpy(p + kDirectoryIdentifier, identifier, identifierLength);
  return IsoPathTableRecordLength(identifierLength);
}

}  // namespace vellumcast
