// ECMA-119 volume descriptors, directory records and path table records.
#include "reader/ecma119_records.h"

#include "reader/civil_time.h"

namespace vellumcast {
namespace {

// ECMA-119 9.1: directory record fields.
constexpr size_t kRecLength = 0;
constexpr size_t kRecAttributeLength = 1;
constexpr size_t kRecExtent = 2;
constexpr size_t kRecDataLength = 10;
constexpr size_t kRecDate = 18;
constexpr size_t kRecFlags = 25;
constexpr size_t kRecUnitSize = 26;
constexpr size_t kRecGapSize = 27;
constexpr size_t kRecSequence = 28;
constexpr size_t kRecIdentifierLength = 32;
constexpr size_t kRecIdentifier = 33;
constexpr size_t kRecFixedBytes = 33;

// ECMA-119 8.4: Primary Volume Descriptor fields.
constexpr size_t kPvdVolumeId = 40;
constexpr size_t kPvdVolumeIdBytes = 32;
constexpr size_t kPvdSpaceSize = 80;
constexpr size_t kPvdBlockSize = 128;
constexpr size_t kPvdPathTableSize = 132;
constexpr size_t kPvdTypeLTable = 140;
constexpr size_t kPvdTypeMTable = 148;
constexpr size_t kPvdRoot = 156;
constexpr size_t kPvdRootBytes = 34;
constexpr size_t kPvdCreated = 813;
constexpr size_t kPvdStructureVersion = 881;
// ECMA-119 8.5.6: the escape sequences of a Supplementary Volume Descriptor.
constexpr size_t kSvdEscapes = 88;

// ECMA-119 9.4: path table record fields.
constexpr size_t kPathIdentifierLength = 0;
constexpr size_t kPathExtent = 2;
constexpr size_t kPathParent = 6;
constexpr size_t kPathIdentifier = 8;

// ECMA-119 9.1.5: seven bytes, years since 1900 to seconds and the offset from
// Greenwich in 15-minute steps. All zero means "not specified".
int64_t RecordingTime(ByteSpan b, size_t at) {
  const uint8_t month = b.U8(at + 1), day = b.U8(at + 2);
  if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
  const int8_t offset = int8_t(b.U8(at + 6));
  return CivilSeconds(1900 + b.U8(at), month, day, b.U8(at + 3), b.U8(at + 4), b.U8(at + 5),
                      int64_t(offset) * 15);
}

}  // namespace

int64_t DecodeIsoRecordDate(ByteSpan b, size_t pos) { return RecordingTime(b, pos); }

bool DecodeIsoVolumeDate(ByteSpan b, size_t pos, int64_t& seconds, int32_t& offsetMinutes) {
  int v[7] = {};
  const int widths[7] = {4, 2, 2, 2, 2, 2, 2};  // year, month, day, hour, minute, second, 1/100
  size_t at = pos;
  for (int f = 0; f < 7; ++f) {
    for (int d = 0; d < widths[f]; ++d, ++at) {
      const uint8_t c = b.U8(at);
      if (c < '0' || c > '9') return false;
      v[f] = v[f] * 10 + (c - '0');
    }
  }
  if (!b.ok || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31) return false;
  offsetMinutes = int32_t(int8_t(b.U8(pos + 16))) * 15;
  seconds = CivilSeconds(v[0], v[1], v[2], v[3], v[4], v[5], offsetMinutes);
  return true;
}

bool DecodeIsoDirectoryRecord(ByteSpan b, IsoDirectoryRecord& out, const char*& why) {
  out = {};
  out.length = b.U8(kRecLength);
  if (!b.ok || out.length < kRecFixedBytes + 1) {
    why = "record length too small";
    return false;
  }
  if (out.length > b.size) {
    why = "record crosses the end of its sector";
    return false;
  }
  if (out.length % 2 != 0) {
    why = "record length odd";
    return false;
  }
  const uint8_t idLength = b.U8(kRecIdentifierLength);
  if (idLength == 0 || kRecFixedBytes + idLength > out.length) {
    why = "identifier length does not fit the record";
    return false;
  }
  bool agree = true;
  out.attributeLength = b.U8(kRecAttributeLength);
  out.extent = b.Both32(kRecExtent, agree);
  out.dataLength = b.Both32(kRecDataLength, agree);
  out.recorded = RecordingTime(b, kRecDate);
  out.flags = b.U8(kRecFlags);
  out.unitSize = b.U8(kRecUnitSize);
  out.gapSize = b.U8(kRecGapSize);
  b.Both16(kRecSequence, agree);
  out.identifier.assign(reinterpret_cast<const char*>(b.data) + kRecIdentifier, idLength);
  const size_t systemUse = kRecIdentifier + idLength + (idLength % 2 == 0 ? 1 : 0);
  if (idLength % 2 == 0 && kRecIdentifier + idLength < out.length)
    out.padding = b.U8(kRecIdentifier + idLength);
  if (systemUse < out.length)
    out.systemUse.assign(reinterpret_cast<const char*>(b.data) + systemUse, out.length - systemUse);
  if (!agree) {
    why = "both-byte-order fields disagree";
    return false;
  }
  return true;
}

bool IsIsoVolumeDescriptor(ByteSpan sector, uint8_t& type) {
  type = sector.U8(0);
  return sector.Equals(1, "CD001", 5) && sector.U8(6) == 1;
}

bool DecodeIsoPrimaryDescriptor(ByteSpan s, IsoPrimaryDescriptor& out, const char*& why,
                                bool supplementary) {
  out = {};
  uint8_t type = 0;
  if (!IsIsoVolumeDescriptor(s, type) ||
      type != (supplementary ? kIsoSupplementaryDescriptor : kIsoPrimaryDescriptor)) {
    why = "not a primary volume descriptor";
    return false;
  }
  // Joliet: UCS-2 level 1, 2 or 3 ("%/@", "%/C", "%/E").
  out.joliet = supplementary && s.Equals(kSvdEscapes, "%/", 2) &&
               (s.U8(kSvdEscapes + 2) == '@' || s.U8(kSvdEscapes + 2) == 'C' ||
                s.U8(kSvdEscapes + 2) == 'E');
  bool agree = true;
  const ByteSpan id = s.Sub(kPvdVolumeId, kPvdVolumeIdBytes);
  out.volumeId.assign(reinterpret_cast<const char*>(id.data), id.size);
  while (!out.volumeId.empty() && (out.volumeId.back() == ' ' || out.volumeId.back() == '\0'))
    out.volumeId.pop_back();
  out.volumeSpaceSize = s.Both32(kPvdSpaceSize, agree);
  out.blockSize = s.Both16(kPvdBlockSize, agree);
  out.pathTableSize = s.Both32(kPvdPathTableSize, agree);
  out.typeLTable = s.U32Le(kPvdTypeLTable);
  out.typeMTable = s.U32Be(kPvdTypeMTable);
  if (!s.ok || !agree) {
    why = "both-byte-order fields disagree";
    return false;
  }
  if (s.U8(kPvdStructureVersion) != 1) {
    why = "file structure version not 1";
    return false;
  }
  out.haveCreated = DecodeIsoVolumeDate(s, kPvdCreated, out.created, out.createdOffset);
  const char* rootWhy = nullptr;
  if (s.U8(kPvdRoot) != kPvdRootBytes ||
      !DecodeIsoDirectoryRecord(s.Sub(kPvdRoot, kPvdRootBytes), out.root, rootWhy) ||
      out.root.identifier != std::string(1, '\0') || !(out.root.flags & kIsoFlagDirectory)) {
    why = "root directory record wrong";
    return false;
  }
  return true;
}

bool DecodeIsoPathRecord(ByteSpan table, size_t pos, bool bigEndian, IsoPathRecord& out,
                         const char*& why) {
  out = {};
  const uint8_t idLength = table.U8(pos + kPathIdentifierLength);
  if (!table.ok || idLength == 0) {
    why = "identifier length 0";
    return false;
  }
  out.length = uint32_t(kPathIdentifier + idLength + idLength % 2);
  if (!table.Has(pos, out.length)) {
    why = "record passes the end of the table";
    return false;
  }
  out.extent = bigEndian ? table.U32Be(pos + kPathExtent) : table.U32Le(pos + kPathExtent);
  out.parent = bigEndian ? table.U16Be(pos + kPathParent) : table.U16Le(pos + kPathParent);
  out.identifier.assign(reinterpret_cast<const char*>(table.data) + pos + kPathIdentifier,
                        idLength);
  return true;
}

}  // namespace vellumcast
