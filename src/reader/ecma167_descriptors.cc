// ECMA-167 / OSTA UDF descriptors as a reader sees them.
#include "reader/ecma167_descriptors.h"

#include <array>

#include "platform/text.h"
#include "reader/civil_time.h"

namespace vellumcast {
namespace {

// ECMA-167 3/7.2: tag fields.
constexpr size_t kTagIdentifier = 0;
constexpr size_t kTagVersion = 2;
constexpr size_t kTagChecksum = 4;
constexpr size_t kTagCrc = 8;
constexpr size_t kTagCrcLength = 10;
constexpr size_t kTagLocation = 12;
constexpr size_t kTagBytes = 16;

// ECMA-167 3/10.2: anchor fields.
constexpr size_t kAnchorMain = 16;
constexpr size_t kAnchorReserve = 24;

// ECMA-167 3/10.5: Partition Descriptor fields.
constexpr size_t kPdSequence = 16;
constexpr size_t kPdNumber = 22;
constexpr size_t kPdContents = 24;  // an entity identifier; its identifier begins one byte in
constexpr size_t kPdStart = 188;
constexpr size_t kPdLength = 192;

// ECMA-167 3/10.6: Logical Volume Descriptor fields.
constexpr size_t kLvdSequence = 16;
constexpr size_t kLvdVolumeId = 84;
constexpr size_t kLvdVolumeIdBytes = 128;
constexpr size_t kLvdBlockSize = 212;
constexpr size_t kLvdDomain = 216;
constexpr size_t kLvdFileSet = 248;
constexpr size_t kLvdMapTableLength = 264;
constexpr size_t kLvdMapCount = 268;
constexpr size_t kLvdIntegrity = 432;
constexpr size_t kLvdMaps = 440;

// ECMA-167 1/7.4: an entity identifier: flags, 23 bytes of identifier, 8 of suffix;
// OSTA UDF 2.1.5.3: a domain suffix begins with the UDF revision.
constexpr size_t kRegidIdentifier = 1;
constexpr size_t kRegidIdentifierBytes = 23;
constexpr size_t kRegidSuffix = 24;

// ECMA-167 3/10.7.2, OSTA UDF 2.2.10: type 2 partition map fields.
constexpr size_t kMapType = 0;
constexpr size_t kMapLength = 1;
constexpr size_t kMap1Partition = 4;
constexpr size_t kMap2Identifier = 4;
constexpr size_t kMap2Partition = 38;
constexpr size_t kMap2MetadataFile = 40;
constexpr size_t kMap2MirrorFile = 44;

// ECMA-167 3/10.10: LVID fields; OSTA UDF 2.2.6.4: its implementation use.
constexpr size_t kLvidType = 28;
constexpr size_t kLvidNext = 32;
constexpr size_t kLvidPartitions = 72;
constexpr size_t kLvidImplementationLength = 76;
constexpr size_t kLvidTables = 80;
constexpr size_t kLvidFilesInUse = 32;  // after the implementation identifier
constexpr size_t kLvidDirectoriesInUse = 36;
// The free space and size tables hold 8 bytes per partition and the descriptor lies in
// one sector, so no real count comes near this; it bounds the count before the tables'
// size is formed from it.
constexpr uint32_t kLvidMostPartitions = 256;

// ECMA-167 4/14.1: File Set Descriptor root directory ICB.
constexpr size_t kFsdRoot = 400;

// ECMA-167 4/14.6 (ICB tag inside the entry), 4/14.9 and 4/14.17.
constexpr size_t kIcbFileType = 16 + 11;
constexpr size_t kIcbFlags = 16 + 18;
constexpr size_t kFeUid = 36;  // the same in an Extended File Entry
constexpr size_t kFeGid = 40;
constexpr size_t kFePermissions = 44;
constexpr size_t kFeLinkCount = 48;
constexpr size_t kFeInformationLength = 56;
constexpr size_t kFeModified = 84;
constexpr size_t kFeEaLength = 168;
constexpr size_t kFeAdLength = 172;
constexpr size_t kFeFixedBytes = 176;
constexpr size_t kEfeModified = 92;
constexpr size_t kEfeEaLength = 208;
constexpr size_t kEfeAdLength = 212;
constexpr size_t kEfeFixedBytes = 216;

// ECMA-167 4/14.4: File Identifier Descriptor fields.
constexpr size_t kFidCharacteristics = 18;
constexpr size_t kFidIdentifierLength = 19;
constexpr size_t kFidIcb = 20;
constexpr size_t kFidUseLength = 36;
constexpr size_t kFidFixedBytes = 38;

// ECMA-167 4/14.5: Allocation Extent Descriptor fields.
constexpr size_t kAedLength = 20;
constexpr size_t kAedFixedBytes = 24;

constexpr std::array<uint16_t, 256> CrcTable() {
  std::array<uint16_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 8;
    for (int b = 0; b < 8; ++b) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
    t[i] = uint16_t(c);
  }
  return t;
}
constexpr std::array<uint16_t, 256> kCrcTable = CrcTable();

std::string Identifier(ByteSpan b, size_t pos) {
  const ByteSpan id = b.Sub(pos + kRegidIdentifier, kRegidIdentifierBytes);
  std::string s(reinterpret_cast<const char*>(id.data), id.size);
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

UdfExtent DecodeExtent(ByteSpan b, size_t pos) { return UdfExtent{b.U32Le(pos), b.U32Le(pos + 4)}; }

}  // namespace

uint16_t UdfCrc(const uint8_t* bytes, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i)
    crc = uint16_t((crc << 8) ^ kCrcTable[((crc >> 8) ^ bytes[i]) & 0xFF]);
  return crc;
}

uint16_t PeekUdfTagId(ByteSpan bytes) {
  return bytes.Has(0, kTagBytes) ? bytes.U16Le(kTagIdentifier) : 0;
}

bool DecodeUdfTag(ByteSpan b, uint16_t expected, uint32_t location, UdfTag& out, const char*& why) {
  out = {};
  if (!b.Has(0, kTagBytes)) {
    why = "descriptor cut short";
    return false;
  }
  out.identifier = b.U16Le(kTagIdentifier);
  out.version = b.U16Le(kTagVersion);
  out.crcLength = b.U16Le(kTagCrcLength);
  out.location = b.U32Le(kTagLocation);
  if (out.identifier != expected) {
    why = out.identifier == 0 ? "no descriptor (tag identifier 0)" : "tag identifier wrong";
    return false;
  }
  uint8_t sum = 0;
  for (size_t i = 0; i < kTagBytes; ++i)
    if (i != kTagChecksum) sum = uint8_t(sum + b.data[i]);
  if (sum != b.U8(kTagChecksum)) {
    why = "tag checksum wrong";
    return false;
  }
  if (!b.Has(kTagBytes, out.crcLength)) {
    why = "tag crc length passes the descriptor";
    return false;
  }
  if (UdfCrc(b.data + kTagBytes, out.crcLength) != b.U16Le(kTagCrc)) {
    why = "tag crc wrong";
    return false;
  }
  if (out.location != location) {
    why = "tag location wrong";
    return false;
  }
  return true;
}

UdfAllocation DecodeLongAd(ByteSpan b, size_t pos) {
  const uint32_t length = b.U32Le(pos);
  return UdfAllocation{length & 0x3FFFFFFF, length >> 30, b.U32Le(pos + 4), b.U16Le(pos + 8)};
}

UdfAllocation DecodeShortAd(ByteSpan b, size_t pos, uint16_t partition) {
  const uint32_t length = b.U32Le(pos);
  return UdfAllocation{length & 0x3FFFFFFF, length >> 30, b.U32Le(pos + 4), partition};
}

bool DecodeUdfAnchor(ByteSpan s, uint32_t location, UdfAnchor& out, const char*& why) {
  UdfTag tag;
  if (!DecodeUdfTag(s, kUdfAnchor, location, tag, why)) return false;
  out.main = DecodeExtent(s, kAnchorMain);
  out.reserve = DecodeExtent(s, kAnchorReserve);
  return true;
}

void DecodeUdfPartition(ByteSpan s, UdfPartitionDescriptor& out) {
  out.sequenceNumber = s.U32Le(kPdSequence);
  out.number = s.U16Le(kPdNumber);
  out.contents = Identifier(s, kPdContents);
  out.start = s.U32Le(kPdStart);
  out.length = s.U32Le(kPdLength);
}

bool DecodeUdfLogicalVolume(ByteSpan s, UdfLogicalVolume& out, const char*& why) {
  out = {};
  out.sequenceNumber = s.U32Le(kLvdSequence);
  if (!DecodeDString(s.Sub(kLvdVolumeId, kLvdVolumeIdBytes), out.volumeId)) {
    why = "logical volume identifier not a d-string";
    return false;
  }
  out.blockSize = s.U32Le(kLvdBlockSize);
  out.domain = Identifier(s, kLvdDomain);
  out.domainRevision = s.U16Le(kLvdDomain + kRegidSuffix);
  out.fileSet = DecodeLongAd(s, kLvdFileSet);
  out.integrity = DecodeExtent(s, kLvdIntegrity);
  const uint32_t tableLength = s.U32Le(kLvdMapTableLength), count = s.U32Le(kLvdMapCount);
  if (!s.Has(kLvdMaps, tableLength)) {
    why = "partition map table passes the descriptor";
    return false;
  }
  size_t pos = kLvdMaps;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t type = s.U8(pos + kMapType), length = s.U8(pos + kMapLength);
    if (length < 6 || pos + length > kLvdMaps + tableLength) {
      why = "partition map length wrong";
      return false;
    }
    UdfPartitionMap map;
    map.type = type;
    if (type == 1 && length == 6) {
      map.partitionNumber = s.U16Le(pos + kMap1Partition);
    } else if (type == 2 && length == 64) {
      map.identifier = Identifier(s, pos + kMap2Identifier);
      map.partitionNumber = s.U16Le(pos + kMap2Partition);
      map.metadataFile = s.U32Le(pos + kMap2MetadataFile);
      map.mirrorFile = s.U32Le(pos + kMap2MirrorFile);
    } else {
      why = "partition map of unknown type";
      return false;
    }
    out.maps.push_back(map);
    pos += length;
  }
  if (out.maps.empty()) {
    why = "no partition map";
    return false;
  }
  return s.ok;
}

bool DecodeUdfIntegrity(ByteSpan s, UdfIntegrity& out, const char*& why) {
  out = {};
  out.type = s.U32Le(kLvidType);
  out.next = DecodeExtent(s, kLvidNext);
  const uint32_t partitions = s.U32Le(kLvidPartitions),
                 useLength = s.U32Le(kLvidImplementationLength);
  if (partitions > kLvidMostPartitions || useLength < kLvidDirectoriesInUse + 4 ||
      !s.Has(kLvidTables + size_t(partitions) * 8, useLength)) {
    why = "implementation use does not fit the descriptor";
    return false;
  }
  const size_t use = kLvidTables + size_t(partitions) * 8;
  out.files = s.U32Le(use + kLvidFilesInUse);
  out.directories = s.U32Le(use + kLvidDirectoriesInUse);
  return true;
}

void DecodeUdfFileSet(ByteSpan b, UdfFileSet& out) { out.root = DecodeLongAd(b, kFsdRoot); }

bool DecodeUdfFileEntry(ByteSpan b, UdfFileEntry& out, const char*& why) {
  out = {};
  const uint16_t id = b.U16Le(kTagIdentifier);
  out.extended = id == kUdfExtendedFileEntry;
  out.fileType = b.U8(kIcbFileType);
  out.adType = uint8_t(b.U16Le(kIcbFlags) & 7);
  out.informationLength = b.U64Le(kFeInformationLength);
  out.modified = DecodeUdfTime(b, out.extended ? kEfeModified : kFeModified);
  out.modifiedMicros = DecodeUdfTimeMicros(b, out.extended ? kEfeModified : kFeModified);
  out.uid = b.U32Le(kFeUid);
  out.gid = b.U32Le(kFeGid);
  out.permissions = b.U32Le(kFePermissions);
  out.links = b.U16Le(kFeLinkCount);
  const size_t fixed = out.extended ? kEfeFixedBytes : kFeFixedBytes;
  const uint64_t eaLength = b.U32Le(out.extended ? kEfeEaLength : kFeEaLength);
  const uint64_t adLength = b.U32Le(out.extended ? kEfeAdLength : kFeAdLength);
  if (!b.ok || fixed + eaLength + adLength > b.size) {
    why = "extended attribute and allocation descriptor lengths pass the block";
    return false;
  }
  out.ads = b.Sub(fixed + size_t(eaLength), size_t(adLength));
  return true;
}

bool DecodeUdfFileIdentifier(ByteSpan b, size_t pos, UdfFileIdentifier& out, const char*& why) {
  out = {};
  if (!b.Has(pos, kFidFixedBytes)) {
    why = "file identifier descriptor cut short";
    return false;
  }
  const uint8_t nameLength = b.U8(pos + kFidIdentifierLength);
  const uint16_t useLength = b.U16Le(pos + kFidUseLength);
  const size_t used = kFidFixedBytes + useLength + nameLength;
  out.length = uint32_t((used + 3) / 4 * 4);
  if (!b.Has(pos, used)) {
    why = "file identifier passes the directory";
    return false;
  }
  out.characteristics = b.U8(pos + kFidCharacteristics);
  out.icb = DecodeLongAd(b, pos + kFidIcb);
  out.identifier = b.Sub(pos + kFidFixedBytes + useLength, nameLength);
  return true;
}

bool DecodeUdfAllocationExtent(ByteSpan b, ByteSpan& ads, const char*& why) {
  const uint32_t length = b.U32Le(kAedLength);
  if (!b.Has(kAedFixedBytes, length)) {
    why = "allocation descriptor length passes the block";
    return false;
  }
  ads = b.Sub(kAedFixedBytes, length);
  return true;
}

bool DecodeCs0(ByteSpan b, std::string& out) {
  out.clear();
  if (b.size == 0) return true;
  const uint8_t id = b.U8(0);
  std::u16string units;
  if (id == 8 || id == 254) {
    for (size_t i = 1; i < b.size; ++i) units += char16_t(b.data[i]);
  } else if ((id == 16 || id == 255) && b.size % 2 == 1) {
    for (size_t i = 1; i + 1 < b.size; i += 2) units += char16_t((b.data[i] << 8) | b.data[i + 1]);
  } else {
    return false;
  }
  // Utf16ToUtf8 reads lone U+DC80..U+DCFF as escaped host bytes; on the disc they are
  // just unpaired surrogates, shown as U+FFFD (DiscText).
  out = Utf16ToUtf8(DiscText(units));
  return true;
}

bool DecodeDString(ByteSpan field, std::string& out) {
  out.clear();
  if (field.size == 0) return false;
  const uint8_t used = field.U8(field.size - 1);
  if (used == 0) return true;
  if (used >= field.size) return false;
  return DecodeCs0(field.Sub(0, used), out);
}

int64_t DecodeUdfTime(ByteSpan b, size_t pos) {
  const uint16_t typeAndZone = b.U16Le(pos);
  int32_t zone = typeAndZone & 0x0FFF;
  if (zone & 0x800) zone -= 0x1000;
  if (zone == -2047 || (typeAndZone >> 12) != 1) zone = 0;  // not specified: UTC
  const int16_t year = int16_t(b.U16Le(pos + 2));
  const uint8_t month = b.U8(pos + 4), day = b.U8(pos + 5);
  if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
  return CivilSeconds(year, month, day, b.U8(pos + 6), b.U8(pos + 7), b.U8(pos + 8), zone);
}

int64_t DecodeUdfTimeMicros(ByteSpan b, size_t pos) {
  const int64_t seconds = DecodeUdfTime(b, pos);
  if (seconds == 0 && b.U8(pos + 4) == 0) return 0;
  return seconds * 1000000 + b.U8(pos + 9) * 10000 + b.U8(pos + 10) * 100 + b.U8(pos + 11);
}

bool DecodeUdfTimeZone(ByteSpan b, size_t pos, int32_t& minutes) {
  const uint16_t typeAndZone = b.U16Le(pos);
  int32_t zone = typeAndZone & 0x0FFF;
  if (zone & 0x800) zone -= 0x1000;
  if (zone == -2047 || (typeAndZone >> 12) != 1 || !b.ok) return false;
  minutes = zone;
  return true;
}

bool DecodeUdfPathComponents(ByteSpan b, std::string& out) {
  // 4/14.16.1: type, identifier length, file version, identifier.
  constexpr size_t kHeader = 4;
  constexpr uint8_t kRoot = 2, kParent = 3, kCurrent = 4, kNamed = 5;
  out.clear();
  for (size_t pos = 0; pos < b.size;) {
    if (!b.Has(pos, kHeader) || !b.Has(pos + kHeader, b.U8(pos + 1))) return false;
    const uint8_t type = b.U8(pos);
    const ByteSpan id = b.Sub(pos + kHeader, b.U8(pos + 1));
    pos += kHeader + id.size;
    std::string name;
    if (type == kRoot) {
      out.assign(1, '/');
      continue;
    }
    if (type == kParent) name.assign(2, '.');
    if (type == kCurrent) name.assign(1, '.');
    if (type == kNamed && !DecodeCs0(id, name)) return false;
    if (!out.empty() && out.back() != '/') out += '/';
    out += name;
  }
  return true;
}

}  // namespace vellumcast
