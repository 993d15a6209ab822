// The system area of a hybrid image (ECMA-119 6.2.1 leaves sectors 0-15 to the system):
// a Master Boot Record with a partition covering the image, an EFI System Partition entry
// for the UEFI FAT image and a protective entry for the GPT that follows it in 512-byte
// block 1, so that the image copied to a USB stick boots; the backup GPT ends the image.
// The ISO 9660 and UDF structures keep their places.
#pragma once

#include <cstdint>
#include <vector>

namespace vellumcast {

struct ImageEmitter;
struct ImageSettings;
struct LayoutPlan;
struct SourceTree;

constexpr uint32_t kBlockSize = 512;  // the blocks of MBR and GPT addresses
constexpr uint8_t kMbrTypeIsoHybrid = 0x17;
constexpr uint8_t kMbrTypeEfi = 0xEF;
constexpr uint8_t kMbrTypeProtective = 0xEE;

// One partition in 512-byte blocks [first, first + blocks).
struct HybridPartition {
  uint64_t first = 0;
  uint64_t blocks = 0;
  bool efi = false;  // the EFI System Partition (the UEFI FAT image), else ISO data
};

// What the system area describes: the image's blocks, the El Torito BIOS file's sector
// (for the boot code's loader field), the boot code and the partitions.
struct HybridLayout {
  uint64_t imageBlocks = 0;
  uint32_t biosFileSector = 0;        // 0: none
  const uint8_t* bootCode = nullptr;  // 432 bytes, or null
  bool efi = false;
  uint64_t efiFirst = 0, efiBlocks = 0;
  uint64_t backupEntries = 0;  // first block of the backup GPT's entries
  uint64_t dataEnd = 0;        // the last sector's first block: the partitions end before
  uint64_t diskGuidSeed = 0;  // the GUIDs are derived from it (reproducible images)

  // The MBR's partitions: the image (and the EFI image within it).
  std::vector<HybridPartition> MbrPartitions() const;
  // The GPT's partitions, which never overlap: the EFI image and the ISO data around it
  // and around the backup GPT's entries.
  std::vector<HybridPartition> GptPartitions() const;
};

HybridLayout HybridLayoutOf(const ImageSettings& settings, const SourceTree& tree,
                            const LayoutPlan& plan);

// Puts the MBR and the primary GPT into the 16 zeroed system area sectors.
void PutSystemArea(const HybridLayout& layout, uint8_t* systemArea);
// Puts the backup GPT's entries into 8 zeroed sectors.
void PutBackupGptEntries(const HybridLayout& layout, uint8_t* entries);
// Puts the backup GPT's header into the last 512 bytes of the image's last sector (the
// rest is left as it is: a UDF image's last anchor).
void PutBackupGptHeader(const HybridLayout& layout, uint8_t* lastSector);

// Emits the 16 system area sectors (zero unless the image is hybrid).
[[nodiscard]] bool EmitSystemArea(ImageEmitter& emitter);
// Emit the backup GPT's entries (after the file data) and the image's last sector with
// its header (and a UDF image's last anchor); nothing for an image that is not hybrid.
[[nodiscard]] bool EmitBackupGptEntries(ImageEmitter& emitter);
[[nodiscard]] bool EmitBackupGptHeader(ImageEmitter& emitter);

}  // namespace vellumcast
