// Reading back the El Torito Boot Record and catalog and a hybrid image's MBR and GPT.
#include "verify/boot_check.h"

#include <cstring>
#include <memory>

#include "base/image_settings.h"
#include "platform/byte_span.h"
#include "platform/crc32.h"
#include "platform/source_file.h"
#include "reader/image_source.h"
#include "tree/source_tree.h"
#include "verify/image_check.h"
#include "verify/planned_disc.h"

namespace vellumcast {
namespace {

constexpr uint64_t kSector = kImageSectorSize;
constexpr uint64_t kBlock = 512;
constexpr uint64_t kBootRecord = 17;  // El Torito 2.0
constexpr size_t kCatalogPointer = 0x47;
constexpr size_t kCatalogEntry = 32;
constexpr uint32_t kGptArrayBytes = 128 * 128;

struct BootChecker {
  ImageSource& image;
  const BootExpectation& boot;
  CheckOutcome& outcome;
  std::vector<uint64_t> entrySectors = {};  // the catalog's load sectors, in order

  void Problem(const std::string& what) { outcome.Add(what); }
  bool Read(uint64_t offset, std::vector<uint8_t>& bytes, size_t n) {
    bytes.assign(n, 0);
    return image.ReadBytes(offset, bytes.data(), n);
  }
  void CheckElTorito();
  void CheckEntry(size_t n, ByteSpan entry, uint8_t platform);
  void CheckBootFile(size_t n, uint64_t sector);
  void CheckSystemArea();
  bool CheckGptHeader(uint64_t block, uint64_t alternate, std::vector<uint8_t>& entries);
};

void BootChecker::CheckElTorito() {
  std::vector<uint8_t> record, catalog;
  if (!Read(kBootRecord * kSector, record, kSector)) return Problem("el torito: no boot record");
  ByteSpan r(record.data(), record.size());
  if (r.U8(0) != 0 || r.Text(1, 5) != "CD001" || r.Text(7, 23) != "EL TORITO SPECIFICATION") {
    return Problem("el torito: sector 17 holds no El Torito boot record");
  }
  const uint32_t at = r.U32Le(kCatalogPointer);
  if (!Read(uint64_t(at) * kSector, catalog, kSector)) {
    return Problem("el torito: the catalog at sector " + std::to_string(at) + " cannot be read");
  }
  ByteSpan c(catalog.data(), catalog.size());
  uint16_t sum = 0;
  for (size_t i = 0; i < kCatalogEntry; i += 2) sum = uint16_t(sum + c.U16Le(i));
  if (c.U8(0) != 1 || c.U8(30) != 0x55 || c.U8(31) != 0xAA || sum != 0) {
    return Problem("el torito: the catalog's validation entry is damaged (sector " +
                   std::to_string(at) + ")");
  }
  if (c.U8(1) != boot.entries[0].platform) Problem("el torito: the catalog's platform differs");
  CheckEntry(0, c.Sub(kCatalogEntry, kCatalogEntry), boot.entries[0].platform);
  size_t pos = 2 * kCatalogEntry;
  for (size_t n = 1; n < boot.entries.size(); ++n, pos += 2 * kCatalogEntry) {
    const uint8_t header = c.U8(pos);
    if ((header != 0x90 && header != 0x91) || (header == 0x91) != (n + 1 == boot.entries.size()) ||
        c.U16Le(pos + 2) != 1) {
      return Problem("el torito: catalog section " + std::to_string(n) + " is not as planned");
    }
    CheckEntry(n, c.Sub(pos + kCatalogEntry, kCatalogEntry), c.U8(pos + 1));
  }
}

void BootChecker::CheckEntry(size_t n, ByteSpan e, uint8_t platform) {
  const BootExpectation::Entry& want = boot.entries[n];
  const std::string which = "el torito: entry " + std::to_string(n + 1);
  if (e.U8(0) != 0x88 || e.U8(1) != 0)
    return Problem(which + " is not a bootable no-emulation entry");
  if (platform != want.platform) Problem(which + " is for another platform");
  if (e.U16Le(6) != want.loadSize) {
    Problem(which + " loads " + std::to_string(e.U16Le(6)) + " sectors, not " +
            std::to_string(want.loadSize));
  }
  CheckBootFile(n, e.U32Le(8));
}

// The sectors an entry points at hold its file (the table's bytes aside), and the table
// says where the PVD and the file are, the file's length and checksum.
void BootChecker::CheckBootFile(size_t n, uint64_t sector) {
  const BootExpectation::Entry& want = boot.entries[n];
  const std::string which = "el torito: entry " + std::to_string(n + 1);
  std::vector<uint8_t> copy, source(want.size, 0);
  SourceFile file;
  size_t got = 0;
  if (!file.Open(want.hostPath) || !file.Read(source.data(), source.size(), got) ||
      got != source.size()) {
    return Problem(which + ": cannot read the source file " + want.hostPath);
  }
  if (!Read(sector * kSector, copy, size_t(want.size))) {
    return Problem(which + " points past the image's end (sector " + std::to_string(sector) + ")");
  }
  if (want.infoTable) {
    ByteSpan t(copy.data(), copy.size());
    if (t.U32Le(8) != 16 || t.U32Le(12) != sector || t.U32Le(16) != want.size ||
        t.U32Le(20) != BootInfoChecksum(copy.data(), copy.size())) {
      Problem(which + ": the boot information table is wrong");
    }
    std::memcpy(copy.data() + kBootInfoTableOffset, source.data() + kBootInfoTableOffset,
                kBootInfoTableBytes);
  }
  if (copy != source)
    Problem(which + " does not point at the boot file (sector " + std::to_string(sector) + ")");
  entrySectors.push_back(sector);
}

bool BootChecker::CheckGptHeader(uint64_t block, uint64_t alternate,
                                 std::vector<uint8_t>& entries) {
  std::vector<uint8_t> header;
  const std::string which = block == 1 ? "gpt: the primary header" : "gpt: the backup header";
  if (!Read(block * kBlock, header, kBlock)) return Problem(which + " cannot be read"), false;
  ByteSpan h(header.data(), header.size());
  const uint32_t size = h.U32Le(12), crc = h.U32Le(16);
  if (h.Text(0, 8) != "EFI PART" || size < 92 || size > kBlock) {
    return Problem(which + " is missing"), false;
  }
  std::memset(header.data() + 16, 0, 4);
  if (Crc32(header.data(), size) != crc) return Problem(which + "'s CRC is wrong"), false;
  if (h.U64Le(24) != block || h.U64Le(32) != alternate) Problem(which + " is misplaced");
  if (h.U32Le(80) * uint64_t(h.U32Le(84)) != kGptArrayBytes ||
      !Read(h.U64Le(72) * kBlock, entries, kGptArrayBytes) ||
      Crc32(entries.data(), entries.size()) != h.U32Le(88)) {
    return Problem(which + "'s partition entries are damaged"), false;
  }
  return true;
}

void BootChecker::CheckSystemArea() {
  std::vector<uint8_t> mbr;
  if (!Read(0, mbr, kBlock) || mbr[510] != 0x55 || mbr[511] != 0xAA) {
    return Problem("mbr: the system area holds no Master Boot Record");
  }
  if (boot.codeGiven && std::memcmp(mbr.data(), boot.code.data(), boot.code.size()) != 0) {
    Problem("mbr: the boot code differs from --hybrid-mbr's");
  }
  const uint64_t blocks = image.Sectors() * (kSector / kBlock);
  // The EFI partition is checked against the sector the catalog's UEFI entry points at.
  const BootExpectation::Entry* efiEntry = nullptr;
  for (size_t n = 0; n < boot.entries.size(); ++n) {
    if (boot.entries[n].platform == 0xEF && n < entrySectors.size()) efiEntry = &boot.entries[n];
  }
  bool covers = false, protective = false, efi = efiEntry == nullptr;
  ByteSpan m(mbr.data(), mbr.size());
  for (size_t at = 446; at < 510; at += 16) {
    const uint8_t type = m.U8(at + 4);
    const uint64_t first = m.U32Le(at + 8), count = m.U32Le(at + 12);
    if (type == 0xEE && first == 1) protective = true;
    if (type == 0x17 && first == 0 && count == std::min<uint64_t>(blocks, 0xFFFFFFFF))
      covers = true;
    if (type == 0xEF && efiEntry) {
      const size_t n = size_t(efiEntry - boot.entries.data());
      efi = first == entrySectors[n] * 4 && count == (efiEntry->size + kBlock - 1) / kBlock;
    }
  }
  if (!covers) Problem("mbr: no partition covers the image");
  if (!protective) Problem("mbr: no protective GPT partition");
  if (!efi) Problem("mbr: no EFI partition on the EFI boot image");
  std::vector<uint8_t> primary, backup;
  if (CheckGptHeader(1, blocks - 1, primary) && CheckGptHeader(blocks - 1, 1, backup) &&
      primary != backup) {
    Problem("gpt: the backup partition entries differ from the primary ones");
  }
}

}  // namespace

BootExpectation ExpectedBoot(const ImageSettings& settings, const SourceTree& tree) {
  BootExpectation boot;
  auto add = [&](const TreeNode* file, uint16_t loadSize, uint8_t platform, bool table) {
    if (file)
      boot.entries.push_back({SourceHostPath(*file), file->size, loadSize, platform, table});
  };
  add(tree.biosBootFile, settings.boot.loadSize, 0x00, settings.boot.infoTable);
  if (tree.efiBootFile) {
    add(tree.efiBootFile, uint16_t((tree.efiBootFile->size + 511) / 512), 0xEF, false);
  }
  boot.hybrid = settings.boot.hybrid;
  boot.codeGiven = settings.boot.mbrCodeGiven;
  boot.code = settings.boot.mbrCode;
  return boot;
}

void CheckBootStructures(ImageSource& image, const BootExpectation& boot, CheckOutcome& outcome) {
  BootChecker checker{image, boot, outcome};
  if (!boot.entries.empty()) checker.CheckElTorito();
  if (boot.hybrid) checker.CheckSystemArea();
}

}  // namespace vellumcast
