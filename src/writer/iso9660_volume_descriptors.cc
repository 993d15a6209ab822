// The ISO 9660 Primary Volume Descriptor and Volume Descriptor Set Terminator
// (ECMA-119 8.4 and 8.3).
#include <cstring>

#include "build/image_builder.h"
#include "layout/disc_constants.h"
#include "layout/layout_rules.h"
#include "layout/volume_label.h"
#include "layout/volume_time.h"
#include "writer/byte_order.h"
#include "writer/iso9660_records.h"
#include "writer/iso9660_structures.h"

namespace vellumcast {
namespace {

namespace vd {
constexpr uint32_t kType = 0;
constexpr uint32_t kStandardIdentifier = 1;  // "CD001"
constexpr uint32_t kVersion = 6;
constexpr uint8_t kTypePrimary = 1;
constexpr uint8_t kTypeTerminator = 255;
}  // namespace vd

namespace pvd {
constexpr uint32_t kSystemIdentifier = 8;          // 32 bytes
constexpr uint32_t kVolumeIdentifier = 40;         // 32 bytes
constexpr uint32_t kVolumeSpaceSize = 80;          // both-byte orders
constexpr uint32_t kVolumeSetSize = 120;           // both-byte orders, 16-bit
constexpr uint32_t kVolumeSequenceNumber = 124;    // both-byte orders, 16-bit
constexpr uint32_t kLogicalBlockSize = 128;        // both-byte orders, 16-bit
constexpr uint32_t kPathTableSize = 132;           // both-byte orders
constexpr uint32_t kTypeLPathTable = 140;          // little-endian
constexpr uint32_t kOptionalTypeLPathTable = 144;
constexpr uint32_t kTypeMPathTable = 148;          // big-endian
constexpr uint32_t kOptionalTypeMPathTable = 152;
constexpr uint32_t kRootDirectoryRecord = 156;     // 34 bytes
constexpr uint32_t kVolumeSetIdentifier = 190;     // 128 bytes
constexpr uint32_t kPublisherIdentifier = 318;     // 128 bytes
constexpr uint32_t kDataPreparerIdentifier = 446;  // 128 bytes
constexpr uint32_t kApplicationIdentifier = 574;   // 128 bytes
constexpr uint32_t kCopyrightFileIdentifier = 702;      // 37 bytes
constexpr uint32_t kAbstractFileIdentifier = 739;       // 37 bytes
constexpr uint32_t kBibliographicFileIdentifier = 776;  // 37 bytes
constexpr uint32_t kVolumeCreationDate = 813;      // 17 bytes
constexpr uint32_t kVolumeModificationDate = 830;
constexpr uint32_t kVolumeExpirationDate = 847;
constexpr uint32_t kVolumeEffectiveDate = 864;
constexpr uint32_t kFileStructureVersion = 881;
constexpr size_t kApplicationIdChars = 22;         // the entity identifier after '*'
}  // namespace pvd

// Blank-filling: at most `size` bytes of `text` up to its first zero byte, 'a'-'z'
// raised to 'A'-'Z', the rest of the field blanks.
void BlankFill(uint8_t* field, size_t size, const uint8_t* text, size_t maxChars) {
  std::memset(field, ' ', size);
  for (size_t i = 0; text && i < maxChars && i < size && text[i]; ++i) {
    uint8_t c = text[i];
    field[i] = (c >= 'a' && c <= 'z') ? uint8_t(c - 'a' + 'A') : c;
  }
}

void PutStandardHeader(uint8_t* sector, uint8_t type) {
  sector[vd::kType] = type;
  std::memcpy(sector + vd::kStandardIdentifier, "CD001", 5);
  sector[vd::kVersion] = 1;
}

}  // namespace

bool WriteIsoPrimaryVolumeDescriptor(ImageBuilder& b) {
  using namespace pvd;
  uint8_t* s = b.RequestSectors(1);
  if (!s) return false;
  std::memset(s, 0, kSectorSize);
  PutStandardHeader(s, vd::kTypePrimary);
  BlankFill(s + kSystemIdentifier, 32, nullptr, 0);

  IsoVolumeIdentifier(b, s + kVolumeIdentifier);

  both32(s + kVolumeSpaceSize, uint32_t(b.volumeSectors));
  both16(s + kVolumeSetSize, 1);
  both16(s + kVolumeSequenceNumber, 1);
  both16(s + kLogicalBlockSize, uint16_t(kSectorSize));
  both32(s + kPathTableSize, b.pathTableBytes);
  le32(s + kTypeLPathTable, uint32_t(b.pathTableStart));
  le32(s + kOptionalTypeLPathTable, 0);
  be32(s + kTypeMPathTable, uint32_t(b.pathTableStart + b.pathTableSectors));
  be32(s + kOptionalTypeMPathTable, 0);

  // The root's record here is 34 bytes even in DVD-Video mode.
  static const uint8_t kRootIdentifier = dirrec::kSelfIdentifier;
  DirectoryRecord root;
  root.location = IsoFirstDirectorySector(b);
  root.dataLength = b.root ? b.root->isoDirSize : 0;
  root.time = b.buildTime;
  root.flags = dirrec::kFlagDirectory;
  root.identifier = &kRootIdentifier;
  root.identifierLength = 1;
  PutDirectoryRecord(s + kRootDirectoryRecord, root);

  IsoVolumeSetIdentifier(s + kVolumeSetIdentifier);
  BlankFill(s + kPublisherIdentifier, 128, nullptr, 0);
  BlankFill(s + kDataPreparerIdentifier, 128, nullptr, 0);
  const uint8_t* application = b.applicationId[0] == '*' ? b.applicationId + 1 : nullptr;
  BlankFill(s + kApplicationIdentifier, 128, application, kApplicationIdChars);
  BlankFill(s + kCopyrightFileIdentifier, 37, nullptr, 0);
  BlankFill(s + kAbstractFileIdentifier, 37, nullptr, 0);
  BlankFill(s + kBibliographicFileIdentifier, 37, nullptr, 0);

  MakeIsoVolumeDate(b.buildTime, true, s + kVolumeCreationDate);
  std::memcpy(s + kVolumeModificationDate, s + kVolumeCreationDate, 17);
  MakeIsoVolumeDate(0, false, s + kVolumeExpirationDate);
  MakeIsoVolumeDate(0, false, s + kVolumeEffectiveDate);
  s[kFileStructureVersion] = 1;
  return b.WriteSectors(s, 1);
}

bool WriteIsoSetTerminator(ImageBuilder& b) {
  uint8_t* s = b.RequestSectors(1);
  if (!s) return false;
  std::memset(s, 0, kSectorSize);
  PutStandardHeader(s, vd::kTypeTerminator);
  return b.WriteSectors(s, 1);
}

}  // namespace vellumcast
