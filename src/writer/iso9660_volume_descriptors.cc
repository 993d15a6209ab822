// Emits the ISO 9660 Primary Volume Descriptor, the Joliet Supplementary Volume
// Descriptor and the Volume Descriptor Set Terminator (ECMA-119 8.4, 8.5 and 8.3).
#include "writer/iso9660_volume_descriptors.h"

#include <cstring>

#include "base/disc_constants.h"
#include "layout/iso_hierarchy.h"
#include "layout/layout_rules.h"
#include "layout/volume_identity.h"
#include "layout/volume_label.h"
#include "layout/volume_time.h"
#include "writer/byte_order.h"
#include "writer/image_writer.h"
#include "writer/iso9660_records.h"
#include "writer/sector_emit.h"

namespace vellumcast {
namespace {

namespace vd {
constexpr uint32_t kType = 0;
constexpr uint32_t kStandardIdentifier = 1;  // "CD001"
constexpr uint32_t kVersion = 6;
constexpr uint8_t kTypePrimary = 1;
constexpr uint8_t kTypeSupplementary = 2;
constexpr uint8_t kTypeTerminator = 255;
}  // namespace vd

namespace pvd {
constexpr uint32_t kSystemIdentifier = 8;        // 32 bytes
constexpr uint32_t kVolumeIdentifier = 40;       // 32 bytes
constexpr uint32_t kVolumeSpaceSize = 80;        // both-byte orders
constexpr uint32_t kEscapeSequences = 88;        // 32 bytes, Supplementary only
constexpr uint32_t kVolumeSetSize = 120;         // both-byte orders, 16-bit
constexpr uint32_t kVolumeSequenceNumber = 124;  // both-byte orders, 16-bit
constexpr uint32_t kLogicalBlockSize = 128;      // both-byte orders, 16-bit
constexpr uint32_t kPathTableSize = 132;         // both-byte orders
constexpr uint32_t kTypeLPathTable = 140;        // little-endian
constexpr uint32_t kOptionalTypeLPathTable = 144;
constexpr uint32_t kTypeMPathTable = 148;  // big-endian
constexpr uint32_t kOptionalTypeMPathTable = 152;
constexpr uint32_t kRootDirectoryRecord = 156;          // 34 bytes
constexpr uint32_t kVolumeSetIdentifier = 190;          // 128 bytes
constexpr uint32_t kPublisherIdentifier = 318;          // 128 bytes
constexpr uint32_t kDataPreparerIdentifier = 446;       // 128 bytes
constexpr uint32_t kApplicationIdentifier = 574;        // 128 bytes
constexpr uint32_t kCopyrightFileIdentifier = 702;      // 37 bytes
constexpr uint32_t kAbstractFileIdentifier = 739;       // 37 bytes
constexpr uint32_t kBibliographicFileIdentifier = 776;  // 37 bytes
constexpr uint32_t kVolumeCreationDate = 813;           // 17 bytes
constexpr uint32_t kVolumeModificationDate = 830;
constexpr uint32_t kVolumeExpirationDate = 847;
constexpr uint32_t kVolumeEffectiveDate = 864;
constexpr uint32_t kFileStructureVersion = 881;
constexpr size_t kApplicationIdChars = 22;  // the entity identifier after '*'
}  // namespace pvd

// Blank-filling: at most `size` bytes of `text` up to its first zero byte, 'a'-'z'
// raised to 'A'-'Z', the rest of the field blanks.
void PutBlankFilled(uint8_t* field, size_t size, const uint8_t* text, size_t maxChars) {
  std::memset(field, ' ', size);
  for (size_t i = 0; text && i < maxChars && i < size && text[i]; ++i) {
    uint8_t c = text[i];
    field[i] = (c >= 'a' && c <= 'z') ? uint8_t(c - 'a' + 'A') : c;
  }
}

// A Joliet character field: `text` (up to its first zero byte, at most `maxChars` and
// size / 2 characters, as they are) in UCS-2 big-endian, the rest blanks (0x0020); a
// field of odd size ends in a zero byte.
void PutJolietFilled(uint8_t* field, size_t size, const uint8_t* text, size_t maxChars) {
  std::memset(field, 0, size);
  size_t n = 0;
  while (text && n < maxChars && n < size / 2 && text[n]) ++n;
  for (size_t i = 0; i < size / 2; ++i) field[2 * i + 1] = i < n ? text[i] : ' ';
}

// A character field of the primary (blank-filled, upper case) or Joliet (UCS-2) form.
void PutTextField(bool joliet, uint8_t* field, size_t size, const uint8_t* text, size_t maxChars) {
  if (joliet) {
    PutJolietFilled(field, size, text, maxChars);
  } else {
    PutBlankFilled(field, size, text, maxChars);
  }
}

// A field the user may fill (--publisher, ...): the given text in the form of the
// primary or Joliet descriptor, else `fallback` (up to `fallbackChars`) as before.
void PutIdentityField(bool joliet, uint8_t* field, size_t size, const std::u16string& typed,
                      bool dCharacters, const uint8_t* fallback, size_t fallbackChars) {
  if (typed.empty()) return PutTextField(joliet, field, size, fallback, fallbackChars);
  if (!joliet) {
    const std::string text = IsoIdentityText(typed, size, dCharacters);
    return PutBlankFilled(field, size, reinterpret_cast<const uint8_t*>(text.c_str()), size);
  }
  const std::u16string units = JolietIdentityText(typed, size / 2);
  std::memset(field, 0, size);
  for (size_t i = 0; i < size / 2; ++i) {
    const char16_t c = i < units.size() ? units[i] : u' ';
    field[2 * i] = uint8_t(c >> 8);
    field[2 * i + 1] = uint8_t(c);
  }
}

void PutStandardHeader(uint8_t* sector, uint8_t type) {
  sector[vd::kType] = type;
  std::memcpy(sector + vd::kStandardIdentifier, "CD001", 5);
  sector[vd::kVersion] = 1;
}

// The Primary Volume Descriptor (ECMA-119 8.4) or the Joliet Supplementary Volume
// Descriptor (ECMA-119 8.5, escape sequence "%/E" for UCS-2 level 3): the same fields,
// each describing its own hierarchy; the Joliet one's character fields in UCS-2.
void BuildIsoVolumeDescriptor(const ImageEmitter& emitter, uint8_t* s, const IsoHierarchy& h) {
  using namespace pvd;
  const bool joliet = h.joliet;
  PutStandardHeader(s, joliet ? vd::kTypeSupplementary : vd::kTypePrimary);
  const VolumeIdentity& identity = emitter.settings.identity;
  PutIdentityField(joliet, s + kSystemIdentifier, 32, identity.systemId, false, nullptr, 0);

  if (joliet) {
    JolietVolumeIdentifier(emitter.settings, s + kVolumeIdentifier);
    std::memcpy(s + kEscapeSequences, "%/E", 3);
  } else {
    IsoVolumeIdentifier(emitter.settings, s + kVolumeIdentifier);
  }

  PutBoth32(s + kVolumeSpaceSize, uint32_t(emitter.plan.volumeSectors));
  PutBoth16(s + kVolumeSetSize, 1);
  PutBoth16(s + kVolumeSequenceNumber, 1);
  PutBoth16(s + kLogicalBlockSize, uint16_t(kSectorSize));
  PutBoth32(s + kPathTableSize, PathTableBytes(emitter.plan, h));
  PutLe32(s + kTypeLPathTable, PathTableStart(emitter.plan, h));
  PutLe32(s + kOptionalTypeLPathTable, 0);
  PutBe32(s + kTypeMPathTable, PathTableStart(emitter.plan, h) + PathTableSectors(emitter.plan, h));
  PutBe32(s + kOptionalTypeMPathTable, 0);

  // The root's record here is 34 bytes even in DVD-Video mode and with Rock Ridge.
  static const uint8_t kRootIdentifier = dirrec::kSelfIdentifier;
  DirectoryRecord root;
  root.location = FirstDirectorySector(emitter.plan, h);
  root.dataLength = emitter.tree.root ? emitter.tree.root->*h.dirSize : 0;
  root.time = emitter.settings.buildTime;
  root.utc = emitter.settings.datesInUtc;
  root.flags = dirrec::kFlagDirectory;
  root.identifier = &kRootIdentifier;
  root.identifierLength = 1;
  PutDirectoryRecord(s + kRootDirectoryRecord, root);

  if (!identity.volumeSet.empty()) {
    PutIdentityField(joliet, s + kVolumeSetIdentifier, 128, identity.volumeSet, true, nullptr, 0);
  } else if (joliet) {
    PutJolietFilled(s + kVolumeSetIdentifier, 128, reinterpret_cast<const uint8_t*>("UNDEFINED"),
                    9);
  } else {
    IsoVolumeSetIdentifier(s + kVolumeSetIdentifier);
  }
  PutIdentityField(joliet, s + kPublisherIdentifier, 128, identity.publisher, false, nullptr, 0);
  PutIdentityField(joliet, s + kDataPreparerIdentifier, 128, identity.preparer, false, nullptr, 0);
  const uint8_t* application =
      emitter.settings.applicationId[0] == '*' ? emitter.settings.applicationId + 1 : nullptr;
  PutIdentityField(joliet, s + kApplicationIdentifier, 128, identity.application, false,
                   application, kApplicationIdChars);
  PutTextField(joliet, s + kCopyrightFileIdentifier, 37, nullptr, 0);
  PutTextField(joliet, s + kAbstractFileIdentifier, 37, nullptr, 0);
  PutTextField(joliet, s + kBibliographicFileIdentifier, 37, nullptr, 0);

  MakeIsoVolumeDate(emitter.settings.buildTime, true, s + kVolumeCreationDate,
                    emitter.settings.datesInUtc);
  std::memcpy(s + kVolumeModificationDate, s + kVolumeCreationDate, 17);
  MakeIsoVolumeDate(0, false, s + kVolumeExpirationDate);
  MakeIsoVolumeDate(0, false, s + kVolumeEffectiveDate);
  s[kFileStructureVersion] = 1;
}

void BuildIsoSetTerminator(const ImageEmitter&, uint8_t* s) {
  PutStandardHeader(s, vd::kTypeTerminator);
}

}  // namespace

bool EmitIsoPrimaryVolumeDescriptor(ImageEmitter& emitter) {
  return EmitDescriptor(emitter, BuildIsoVolumeDescriptor, kPrimaryHierarchy);
}

bool EmitIsoSupplementaryVolumeDescriptor(ImageEmitter& emitter) {
  return !emitter.settings.joliet ||
         EmitDescriptor(emitter, BuildIsoVolumeDescriptor, kJolietHierarchy);
}

bool EmitIsoSetTerminator(ImageEmitter& emitter) {
  return EmitDescriptor(emitter, BuildIsoSetTerminator);
}

}  // namespace vellumcast
