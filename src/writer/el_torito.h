// El Torito (the bootable CD-ROM format, version 1.0): the Boot Record
// Volume Descriptor after the Primary Volume Descriptor and the boot catalog it points
// to, with the initial entry for BIOS and a section for UEFI.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vellumcast {

struct ImageEmitter;
struct ImageSettings;
struct LayoutPlan;
struct SourceTree;

// Platform identifiers of the validation entry and section headers (El Torito 2.1, 2.4).
constexpr uint8_t kPlatformX86 = 0x00;
constexpr uint8_t kPlatformEfi = 0xEF;

// One bootable, no-emulation entry of the catalog.
struct BootCatalogEntry {
  uint8_t platform = kPlatformX86;
  uint16_t loadSize = 0;    // 512-byte virtual sectors loaded
  uint32_t loadSector = 0;  // the image's sector of the file
};

// The entries the image's catalog lists: the BIOS boot file first (the initial entry),
// then the UEFI FAT image; empty without El Torito.
std::vector<BootCatalogEntry> CatalogEntriesOf(const ImageSettings& settings,
                                               const SourceTree& tree, const LayoutPlan& plan);

// Puts the catalog into one zeroed 2048-byte sector: the validation entry of the first
// entry's platform (checksum, 55 AA), the initial entry, then one section (header and
// entry) per further entry, the last header marked final. At most 31 entries.
void PutBootCatalog(std::span<const BootCatalogEntry> entries, uint8_t* sector);

// Emits the Boot Record Volume Descriptor (at its planned sector) when the plan has one.
[[nodiscard]] bool EmitBootRecord(ImageEmitter& emitter);
// Emits the catalog sector; the writer must be at the planned catalog sector.
[[nodiscard]] bool EmitBootCatalog(ImageEmitter& emitter);

}  // namespace vellumcast
