// The El Torito Boot Record Volume Descriptor (El Torito 2.0) and boot catalog (2.1-2.4).
#include "writer/el_torito.h"

#include <cstring>
#include <string>

#include "base/boot_settings.h"
#include "base/disc_constants.h"
#include "layout/layout_rules.h"
#include "writer/byte_order.h"
#include "writer/image_writer.h"
#include "writer/sector_emit.h"

namespace vellumcast {
namespace {

// Boot Record Volume Descriptor (El Torito 2.0).
constexpr size_t kRecordType = 0;            // 0: boot record
constexpr size_t kRecordIdentifier = 1;      // "CD001"
constexpr size_t kRecordVersion = 6;         // 1
constexpr size_t kBootSystemIdentifier = 7;  // "EL TORITO SPECIFICATION", zero padded
constexpr size_t kBootSystemIdentifierBytes = 32;
constexpr size_t kCatalogPointer = 0x47;  // absolute sector of the catalog, LE

// Catalog entries are 32 bytes (El Torito 2.1-2.4).
constexpr size_t kEntryBytes = 32;
// Validation entry.
constexpr size_t kHeaderId = 0;  // 1
constexpr size_t kValidationPlatform = 1;
constexpr size_t kValidationChecksum = 0x1C;  // the 16-bit words of the entry sum to 0
constexpr size_t kKeyByte55 = 0x1E;
constexpr size_t kKeyByteAA = 0x1F;
// Initial/default and section entries.
constexpr size_t kBootIndicator = 0;  // 0x88: bootable
constexpr size_t kMediaType = 1;      // 0: no emulation
constexpr size_t kLoadSegment = 2;
constexpr size_t kSystemType = 4;
constexpr size_t kSectorCount = 6;
constexpr size_t kLoadRba = 8;
// Section header.
constexpr size_t kSectionIndicator = 0;  // 0x90: more headers follow, 0x91: final
constexpr size_t kSectionPlatform = 1;
constexpr size_t kSectionEntries = 2;

constexpr uint8_t kBootable = 0x88;
constexpr uint16_t kBiosLoadSegment = 0x07C0;  // the traditional 0000:7C00
constexpr size_t kMaxCatalogEntries = kSectorSize / kEntryBytes / 2;

void PutEntry(const BootCatalogEntry& entry, uint8_t* e) {
  e[kBootIndicator] = kBootable;
  e[kMediaType] = 0;
  PutLe16(e + kLoadSegment, entry.platform == kPlatformX86 ? kBiosLoadSegment : 0);
  e[kSystemType] = 0;
  PutLe16(e + kSectorCount, entry.loadSize);
  PutLe32(e + kLoadRba, entry.loadSector);
}

void BuildBootRecord(const ImageEmitter& emitter, uint8_t* s) {
  s[kRecordType] = 0;
  std::memcpy(s + kRecordIdentifier, "CD001", 5);
  s[kRecordVersion] = 1;
  PutPadded(s + kBootSystemIdentifier, kBootSystemIdentifierBytes, "EL TORITO SPECIFICATION", 0);
  PutLe32(s + kCatalogPointer, uint32_t(emitter.plan.bootCatalogSector));
}

uint16_t VirtualSectors(uint64_t bytes) {
  return uint16_t((bytes + kVirtualSectorSize - 1) / kVirtualSectorSize);
}

}  // namespace

std::vector<BootCatalogEntry> CatalogEntriesOf(const ImageSettings& settings,
                                               const SourceTree& tree, const LayoutPlan& plan) {
  std::vector<BootCatalogEntry> entries;
  if (tree.biosBootFile) {
    entries.push_back(
        {kPlatformX86, settings.boot.loadSize, FileDataSector(plan, *tree.biosBootFile)});
  }
  if (tree.efiBootFile) {
    entries.push_back({kPlatformEfi, VirtualSectors(tree.efiBootFile->size),
                       FileDataSector(plan, *tree.efiBootFile)});
  }
  return entries;
}

void PutBootCatalog(std::span<const BootCatalogEntry> entries, uint8_t* sector) {
  if (entries.empty() || entries.size() > kMaxCatalogEntries) return;
  uint8_t* v = sector;
  v[kHeaderId] = 1;
  v[kValidationPlatform] = entries[0].platform;
  v[kKeyByte55] = 0x55;
  v[kKeyByteAA] = 0xAA;
  uint16_t sum = 0;
  for (size_t i = 0; i < kEntryBytes; i += 2) sum = uint16_t(sum + (v[i] | (v[i + 1] << 8)));
  PutLe16(v + kValidationChecksum, uint16_t(0x10000 - sum));
  PutEntry(entries[0], sector + kEntryBytes);
  uint8_t* at = sector + 2 * kEntryBytes;
  for (size_t i = 1; i < entries.size(); ++i, at += 2 * kEntryBytes) {
    at[kSectionIndicator] = i + 1 == entries.size() ? 0x91 : 0x90;
    at[kSectionPlatform] = entries[i].platform;
    PutLe16(at + kSectionEntries, 1);
    PutEntry(entries[i], at + kEntryBytes);
  }
}

bool EmitBootRecord(ImageEmitter& emitter) {
  if (emitter.plan.bootRecordSector == 0) return true;
  if (emitter.sink.sectorsWritten != emitter.plan.bootRecordSector) {
    return Mismatch(emitter, "the El Torito boot record");
  }
  return EmitDescriptor(emitter, BuildBootRecord);
}

bool EmitBootCatalog(ImageEmitter& emitter) {
  if (emitter.sink.sectorsWritten != emitter.plan.bootCatalogSector) {
    return Mismatch(emitter, "the El Torito boot catalog");
  }
  const std::vector<BootCatalogEntry> entries =
      CatalogEntriesOf(emitter.settings, emitter.tree, emitter.plan);
  return EmitFilledSectors(emitter, 1, [&](uint8_t* sector) { PutBootCatalog(entries, sector); });
}

}  // namespace vellumcast
