// The hybrid system area: Master Boot Record and GUID Partition Table (UEFI 2.x, 5.2 and
// 5.3) in 512-byte blocks around an ISO 9660 image.
#include "writer/system_area.h"

#include <algorithm>
#include <cstring>

#include "base/disc_constants.h"
#include "layout/layout_rules.h"
#include "platform/crc32.h"
#include "writer/byte_order.h"
#include "writer/image_writer.h"
#include "writer/sector_emit.h"
#include "writer/volume_descriptors.h"

namespace vellumcast {
namespace {

// MBR (UEFI 5.2.1).
constexpr size_t kMbrBootFileBlock = 432;  // the isohybrid loader's field: boot file block, LE 64
constexpr size_t kMbrDiskSignature = 440;
constexpr size_t kMbrPartitionTable = 446;
constexpr size_t kMbrEntryBytes = 16;
constexpr size_t kMbrSignature = 510;  // 55 AA
// An MBR partition entry.
constexpr size_t kMbrStatus = 0;
constexpr size_t kMbrFirstChs = 1;
constexpr size_t kMbrType = 4;
constexpr size_t kMbrLastChs = 5;
constexpr size_t kMbrFirstLba = 8;
constexpr size_t kMbrBlocks = 12;

// GPT header (UEFI 5.3.2).
constexpr size_t kGptSignature = 0;  // "EFI PART"
constexpr size_t kGptRevision = 8;
constexpr size_t kGptHeaderSize = 12;
constexpr size_t kGptHeaderCrc = 16;
constexpr size_t kGptMyLba = 24;
constexpr size_t kGptAlternateLba = 32;
constexpr size_t kGptFirstUsable = 40;
constexpr size_t kGptLastUsable = 48;
constexpr size_t kGptDiskGuid = 56;
constexpr size_t kGptEntriesLba = 72;
constexpr size_t kGptEntryCount = 80;
constexpr size_t kGptEntrySize = 84;
constexpr size_t kGptEntriesCrc = 88;
constexpr uint32_t kGptHeaderBytes = 92;
// GPT partition entry (UEFI 5.3.3).
constexpr size_t kEntryType = 0;
constexpr size_t kEntryGuid = 16;
constexpr size_t kEntryFirst = 32;
constexpr size_t kEntryLast = 40;
constexpr size_t kEntryName = 56;
constexpr uint32_t kGptEntries = 128;
constexpr uint32_t kGptEntryBytes = 128;
constexpr uint32_t kGptArrayBlocks = kGptEntries * kGptEntryBytes / kBlockSize;  // 32
// The first block the partitions may use: after the MBR, the header and the array.
constexpr uint64_t kFirstUsableBlock = 2 + kGptArrayBlocks;
// The ISO 9660 data partition starts with the volume descriptors (sector 16).
constexpr uint64_t kDataFirstBlock = kSystemAreaSectors * (kSectorSize / kBlockSize);

// Type GUIDs as recorded (the first three fields little-endian).
constexpr uint8_t kBasicDataType[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                        0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
constexpr uint8_t kEfiSystemType[16] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                        0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};

uint64_t Mix(uint64_t x) {  // splitmix64
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// A version 4 GUID made from the seed and `n`: the same image gets the same GUIDs.
void PutGuid(uint8_t* p, uint64_t seed, uint64_t n) {
  PutLe64(p, Mix(seed + 2 * n));
  PutLe64(p + 8, Mix(seed + 2 * n + 1));
  p[7] = uint8_t((p[7] & 0x0F) | 0x40);
  p[8] = uint8_t((p[8] & 0x3F) | 0x80);
}

// Cylinder, head and sector of a block in the 255-head, 63-sector geometry; past what
// they can address, the largest address (as for every large disk).
void PutChs(uint8_t* p, uint64_t block) {
  const uint64_t cylinder = block / (255 * 63);
  if (cylinder > 1023) {
    p[0] = 0xFE;
    p[1] = 0xFF;
    p[2] = 0xFF;
    return;
  }
  p[0] = uint8_t((block / 63) % 255);
  p[1] = uint8_t((block % 63 + 1) | ((cylinder >> 2) & 0xC0));
  p[2] = uint8_t(cylinder);
}

void PutMbrEntry(uint8_t* e, uint8_t status, uint8_t type, uint64_t first, uint64_t blocks) {
  const uint64_t firstLba = std::min<uint64_t>(first, 0xFFFFFFFF);
  const uint64_t count = std::min<uint64_t>(blocks, 0xFFFFFFFF - firstLba);
  e[kMbrStatus] = status;
  PutChs(e + kMbrFirstChs, firstLba);
  e[kMbrType] = type;
  PutChs(e + kMbrLastChs, firstLba + count - 1);
  PutLe32(e + kMbrFirstLba, uint32_t(firstLba));
  PutLe32(e + kMbrBlocks, uint32_t(count));
}

void PutGptEntries(const HybridLayout& layout, uint8_t* entries) {
  uint64_t n = 0;
  for (const HybridPartition& p : layout.GptPartitions()) {
    uint8_t* e = entries + n * kGptEntryBytes;
    std::memcpy(e + kEntryType, p.efi ? kEfiSystemType : kBasicDataType, 16);
    PutGuid(e + kEntryGuid, layout.diskGuidSeed, n + 1);
    PutLe64(e + kEntryFirst, p.first);
    PutLe64(e + kEntryLast, p.first + p.blocks - 1);
    const char* name = p.efi ? "EFI boot image" : "ISO 9660 data";
    for (size_t i = 0; name[i]; ++i) PutLe16(e + kEntryName + 2 * i, uint16_t(name[i]));
    ++n;
  }
}

void PutGptHeader(const HybridLayout& layout, uint8_t* h, bool backup, uint32_t entriesCrc) {
  const uint64_t last = layout.imageBlocks - 1;
  std::memcpy(h + kGptSignature, "EFI PART", 8);
  PutLe32(h + kGptRevision, 0x00010000);
  PutLe32(h + kGptHeaderSize, kGptHeaderBytes);
  PutLe64(h + kGptMyLba, backup ? last : 1);
  PutLe64(h + kGptAlternateLba, backup ? 1 : last);
  PutLe64(h + kGptFirstUsable, kFirstUsableBlock);
  PutLe64(h + kGptLastUsable, layout.dataEnd - 1);
  PutGuid(h + kGptDiskGuid, layout.diskGuidSeed, 0);
  PutLe64(h + kGptEntriesLba, backup ? layout.backupEntries : 2);
  PutLe32(h + kGptEntryCount, kGptEntries);
  PutLe32(h + kGptEntrySize, kGptEntryBytes);
  PutLe32(h + kGptEntriesCrc, entriesCrc);
  PutLe32(h + kGptHeaderCrc, Crc32(h, kGptHeaderBytes));
}

}  // namespace

std::vector<HybridPartition> HybridLayout::MbrPartitions() const {
  std::vector<HybridPartition> parts{{0, imageBlocks, false}};
  if (efi) parts.push_back({efiFirst, efiBlocks, true});
  return parts;
}

std::vector<HybridPartition> HybridLayout::GptPartitions() const {
  // The holes in the ISO data, in order: the backup entries precede every file.
  std::vector<HybridPartition> holes{{backupEntries, kGptArrayBlocks, false}};
  if (efi) holes.push_back({efiFirst, efiBlocks, true});
  std::vector<HybridPartition> parts;
  uint64_t at = kDataFirstBlock;
  for (const HybridPartition& hole : holes) {
    if (hole.first > at) parts.push_back({at, hole.first - at, false});
    if (hole.efi) parts.push_back(hole);
    at = std::max(at, hole.first + hole.blocks);
  }
  if (dataEnd > at) parts.push_back({at, dataEnd - at, false});
  return parts;
}

HybridLayout HybridLayoutOf(const ImageSettings& settings, const SourceTree& tree,
                            const LayoutPlan& plan) {
  constexpr uint64_t kBlocksPerSector = kSectorSize / kBlockSize;
  HybridLayout layout;
  layout.imageBlocks = uint64_t(plan.volumeSectors) * kBlocksPerSector;
  layout.backupEntries = uint64_t(plan.backupGptEntrySector) * kBlocksPerSector;
  layout.dataEnd = layout.imageBlocks - kBlocksPerSector;
  if (tree.biosBootFile) layout.biosFileSector = FileDataSector(plan, *tree.biosBootFile);
  if (settings.boot.mbrCodeGiven) layout.bootCode = settings.boot.mbrCode.data();
  if (tree.efiBootFile) {
    layout.efi = true;
    layout.efiFirst = uint64_t(FileDataSector(plan, *tree.efiBootFile)) * kBlocksPerSector;
    layout.efiBlocks = (tree.efiBootFile->size + kBlockSize - 1) / kBlockSize;
  }
  layout.diskGuidSeed = Mix(uint64_t(settings.buildTime) ^ (layout.imageBlocks << 20));
  return layout;
}

void PutSystemArea(const HybridLayout& layout, uint8_t* area) {
  if (layout.bootCode) {
    std::memcpy(area, layout.bootCode, kMbrBootFileBlock);
    PutLe64(area + kMbrBootFileBlock, uint64_t(layout.biosFileSector) * (kSectorSize / kBlockSize));
  }
  PutLe32(area + kMbrDiskSignature, uint32_t(Mix(layout.diskGuidSeed)));
  const std::vector<HybridPartition> parts = layout.MbrPartitions();
  uint8_t* table = area + kMbrPartitionTable;
  for (size_t i = 0; i < parts.size(); ++i) {
    PutMbrEntry(table + i * kMbrEntryBytes, parts[i].efi ? 0x00 : 0x80,
                parts[i].efi ? kMbrTypeEfi : kMbrTypeIsoHybrid, parts[i].first, parts[i].blocks);
  }
  PutMbrEntry(table + parts.size() * kMbrEntryBytes, 0x00, kMbrTypeProtective, 1,
              layout.imageBlocks - 1);
  area[kMbrSignature] = 0x55;
  area[kMbrSignature + 1] = 0xAA;
  uint8_t* entries = area + 2 * kBlockSize;
  PutGptEntries(layout, entries);
  PutGptHeader(layout, area + kBlockSize, false, Crc32(entries, kGptEntries * kGptEntryBytes));
}

void PutBackupGptEntries(const HybridLayout& layout, uint8_t* entries) {
  PutGptEntries(layout, entries);
}

void PutBackupGptHeader(const HybridLayout& layout, uint8_t* lastSector) {
  std::vector<uint8_t> entries(kGptEntries * kGptEntryBytes, 0);
  PutGptEntries(layout, entries.data());
  PutGptHeader(layout, lastSector + kSectorSize - kBlockSize, true,
               Crc32(entries.data(), entries.size()));
}

bool EmitSystemArea(ImageEmitter& emitter) {
  if (!emitter.settings.boot.hybrid) return emitter.sink.EmitZeroSectors(kSystemAreaSectors);
  const HybridLayout layout = HybridLayoutOf(emitter.settings, emitter.tree, emitter.plan);
  return EmitFilledSectors(emitter, kSystemAreaSectors,
                           [&](uint8_t* area) { PutSystemArea(layout, area); });
}

bool EmitBackupGptEntries(ImageEmitter& emitter) {
  if (emitter.plan.backupGptEntrySector == 0) return true;
  if (emitter.sink.sectorsWritten != emitter.plan.backupGptEntrySector) {
    return Mismatch(emitter, "the backup GPT's entries");
  }
  const HybridLayout layout = HybridLayoutOf(emitter.settings, emitter.tree, emitter.plan);
  return EmitFilledSectors(emitter, kBackupGptEntrySectors,
                           [&](uint8_t* entries) { PutBackupGptEntries(layout, entries); });
}

bool EmitBackupGptHeader(ImageEmitter& emitter) {
  if (emitter.plan.backupGptEntrySector == 0) return true;
  const uint32_t last = uint32_t(emitter.plan.volumeSectors) - 1;
  if (uint32_t(emitter.sink.sectorsWritten) != last) return Mismatch(emitter, "the backup GPT");
  const HybridLayout layout = HybridLayoutOf(emitter.settings, emitter.tree, emitter.plan);
  return EmitFilledSectors(emitter, 1, [&](uint8_t* sector) {
    // UDF's last anchor is the image's last sector; its 512-byte descriptor and the GPT
    // header in the sector's last 512 bytes share it.
    if (emitter.settings.WritesUdf()) BuildAnchorVolumeDescriptorPointer(emitter, sector, last);
    PutBackupGptHeader(layout, sector);
  });
}

}  // namespace vellumcast
