// Byte rules of the volume descriptors (see descriptor_check.h).
#include "verify/descriptor_check.h"

#include <cstring>

#include "platform/byte_span.h"
#include "platform/text.h"
#include "reader/ecma119_records.h"

namespace vellumcast {
namespace {

// ECMA-119 8.4 (Primary) and 8.5 (Supplementary Volume Descriptor): field offsets.
constexpr size_t kVersion = 6, kUnused7 = 7;  // 7: the volume flags of 8.5.3
constexpr size_t kUnused72 = 72, kUnused72Bytes = 8;
constexpr size_t kEscapes = 88, kEscapesBytes = 32;  // unused in the Primary
constexpr size_t kVolumeSpaceSize = 80, kPathTableSize = 132;
constexpr size_t kVolumeSetSize = 120, kSequenceNumber = 124, kBlockSize = 128;
constexpr size_t kFileStructureVersion = 881, kReserved882 = 882;
constexpr size_t kDates[] = {813, 830, 847, 864};
constexpr const char* kDateNames[] = {"creation", "modification", "expiration", "effective"};
constexpr size_t kDateDigits = 16;
constexpr int kZoneLowest = -48, kZoneHighest = 52;  // 15-minute steps from UTC

// The identifier fields: offset, bytes and character set. d-characters end in space
// padding; a-characters hold spaces; a file names d-characters with '.' and ';'
// (8.4.31..8.4.33). The volume identifier holds the label, which this program records
// in Latin-1 (label_check.cc judges its characters): no control characters there.
enum Characters : uint8_t { kACharacters, kDCharacters, kFileName, kLatin1Label };
struct IdentifierField {
  size_t offset, bytes;
  Characters set;
  const char* name;
};
constexpr IdentifierField kIdentifiers[] = {
    {8, 32, kACharacters, "system identifier"},
    {40, 32, kLatin1Label, "volume identifier"},
    {190, 128, kDCharacters, "volume set identifier"},
    {318, 128, kACharacters, "publisher identifier"},
    {446, 128, kACharacters, "data preparer identifier"},
    {574, 128, kACharacters, "application identifier"},
    {702, 37, kFileName, "copyright file identifier"},
    {739, 37, kFileName, "abstract file identifier"},
    {776, 37, kFileName, "bibliographic file identifier"},
};

// ECMA-167 2/9.1: the Volume Recognition Sequence's structure identifiers.
constexpr size_t kVrsIdentifier = 1, kVrsVersion = 6;

bool DCharacter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }
bool ACharacter(uint8_t c) {
  return DCharacter(c) || (c != 0 && std::strchr(" !\"%&'()*+,-./:;<=>?", c) != nullptr);
}

struct Descriptors {
  ImageSource& image;
  const DescriptorExpectations& expected;
  std::vector<std::string> found;

  void Add(uint64_t sector, const char* what, const std::string& rule) {
    found.push_back(std::string(what) + " at sector " + std::to_string(sector) + ": " + rule);
  }

  void Fixed(const ByteSpan& s, uint64_t at, const char* what, bool joliet) {
    auto zeros = [&](size_t from, size_t n, const char* name) {
      for (size_t i = 0; i < n; ++i)
        if (s.U8(from + i) != 0) return Add(at, what, std::string(name) + " is not zero");
    };
    if (s.U8(kVersion) != 1) Add(at, what, "version is not 1");
    if (!joliet) zeros(kUnused7, 1, "byte 7");
    zeros(kUnused72, kUnused72Bytes, "unused field 72..79");
    if (!joliet) zeros(kEscapes, kEscapesBytes, "unused field 88..119");
    auto both16 = [&](size_t pos, const char* name, int must) {
      const uint16_t le = s.U16Le(pos), be = s.U16Be(pos + 2);
      if (le != be)
        Add(at, what, std::string(name) + "'s byte-order copies differ");
      else if (must >= 0 && le != must)
        Add(at, what,
            std::string(name) + " " + std::to_string(le) + ", not " + std::to_string(must));
    };
    both16(kVolumeSetSize, "volume set size", 1);
    both16(kSequenceNumber, "volume sequence number", 1);
    both16(kBlockSize, "logical block size", int(kImageSectorSize));
    for (auto [pos, name] : {std::pair{kVolumeSpaceSize, "volume space size"},
                             std::pair{kPathTableSize, "path table size"}})
      if (s.U32Le(pos) != s.U32Be(pos + 4))
        Add(at, what, std::string(name) + "'s byte-order copies differ");
    if (s.U8(kFileStructureVersion) != 1) Add(at, what, "file structure version is not 1");
    zeros(kReserved882, 1, "reserved byte 882");
  }

  // ECMA-119 8.4.26.1: 16 digits and a zone; all '0' digits with zone 0: not given.
  void Dates(const ByteSpan& s, uint64_t at, const char* what) {
    for (size_t d = 0; d < 4; ++d) {
      bool digits = true, zero = true;
      for (size_t i = 0; i < kDateDigits; ++i) {
        const uint8_t c = s.U8(kDates[d] + i);
        digits = digits && c >= '0' && c <= '9';
        zero = zero && c == '0';
      }
      const int zone = int8_t(s.U8(kDates[d] + kDateDigits));
      if (!digits || zone < kZoneLowest || zone > kZoneHighest || (zero && zone != 0))
        Add(at, what, std::string(kDateNames[d]) + " date is not a date");
    }
  }

  void Identifiers(const ByteSpan& s, uint64_t at, const char* what, bool joliet) {
    for (const IdentifierField& f : kIdentifiers) {
      bool ok = true, padding = false;
      if (joliet) {  // UCS-2 big-endian, padded with 00 20; an odd last byte is padding
        for (size_t i = 0; i + 1 < f.bytes; i += 2) {
          const uint16_t u = s.U16Be(f.offset + i);
          ok = ok && u >= 0x20 && !IsHighSurrogate(u) && !IsLowSurrogate(u) && u < 0xFFFE &&
               !(f.set == kFileName && u < 0x80 && std::strchr("*/:;?\\", u) != nullptr);
        }
        if (f.bytes % 2)
          ok = ok && (s.U8(f.offset + f.bytes - 1) == 0 || s.U8(f.offset + f.bytes - 1) == ' ');
      } else {
        for (size_t i = 0; i < f.bytes; ++i) {
          const uint8_t c = s.U8(f.offset + i);
          const bool dField = f.set == kDCharacters || f.set == kFileName;
          padding = padding || (dField && c == ' ');  // then only spaces follow
          ok = ok && (padding                 ? c == ' '
                      : f.set == kACharacters ? ACharacter(c)
                      : f.set == kLatin1Label ? c >= 0x20 && !(c >= 0x7F && c < 0xA0)
                      : f.set == kDCharacters ? DCharacter(c)
                                              : DCharacter(c) || c == '.' || c == ';');
        }
      }
      if (!ok)
        Add(at, what, std::string(f.name) + " has a byte outside its character set or padding");
    }
  }

  void Iso() {
    uint8_t sector[kImageSectorSize] = {};
    const ByteSpan s(sector, sizeof sector);
    for (uint64_t at = kIsoFirstDescriptorSector;
         at < kIsoFirstDescriptorSector + kIsoMostVolumeDescriptors; ++at) {
      uint8_t type = 0;
      if (!image.ReadSectors(at, 1, sector) || !IsIsoVolumeDescriptor(s, type)) return;
      if (type == kIsoSetTerminator) return;
      const bool primary = type == kIsoPrimaryDescriptor;
      const bool joliet = type == kIsoSupplementaryDescriptor && s.Equals(kEscapes, "%/", 2) &&
                          std::strchr("@CE", s.U8(kEscapes + 2)) && s.U8(kEscapes + 2) != 0;
      if (type == kIsoSupplementaryDescriptor && !joliet && expected.ours)
        Add(at, "supplementary volume descriptor",
            "escape sequences \"" +
                std::string(reinterpret_cast<const char*>(sector) + kEscapes, 3) +
                "\" are not Joliet");
      if (!primary && !joliet) continue;
      const char* what = primary ? "primary volume descriptor" : "Joliet volume descriptor";
      Fixed(s, at, what, joliet);
      Dates(s, at, what);
      Identifiers(s, at, what, joliet);
    }
  }

  // ECMA-167 2/9.1: after the ECMA-119 descriptors, BEA01, one NSR descriptor and
  // TEA01, each of structure type 0 and version 1.
  void Recognition() {
    uint8_t sector[kImageSectorSize] = {};
    const ByteSpan s(sector, sizeof sector);
    std::string sequence;
    for (uint64_t at = kIsoFirstDescriptorSector;
         at < kIsoFirstDescriptorSector + kIsoMostVolumeDescriptors; ++at) {
      if (!image.ReadSectors(at, 1, sector)) break;
      const std::string id(reinterpret_cast<const char*>(sector) + kVrsIdentifier, 5);
      if ((id == "CD001" || id == "CDW02" || id == "BOOT2") && sequence.empty()) continue;
      if (id != "BEA01" && id != "NSR02" && id != "NSR03" && id != "TEA01") {
        if (!sequence.empty() && sequence != "BEA01NSR0?TEA01")
          Add(at, "volume recognition sequence", "\"" + id + "\" where TEA01 belongs");
        break;
      }
      if (s.U8(0) != 0 || s.U8(kVrsVersion) != 1)
        Add(at, "volume recognition sequence", id + "'s structure type or version is wrong");
      sequence += id.starts_with("NSR") ? "NSR0?" : id;
      if (sequence == "BEA01NSR0?TEA01") return;
    }
    if (sequence != "BEA01NSR0?TEA01")
      Add(kIsoFirstDescriptorSector, "volume recognition sequence",
          "not BEA01, NSR02 or NSR03, TEA01");
  }
};

}  // namespace

std::vector<std::string> DescriptorDifferences(ImageSource& image,
                                               const DescriptorExpectations& expected) {
  Descriptors d{.image = image, .expected = expected, .found = {}};
  d.Iso();
  if (expected.udf) d.Recognition();
  return d.found;
}

}  // namespace vellumcast
