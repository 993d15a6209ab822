// What the user asked of a bootable image: the El Torito entries (a BIOS boot file and
// a UEFI FAT image inside the source folder), where the boot catalog is recorded, and
// the hybrid system area (MBR and GPT) that lets the image boot from a USB stick.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vellumcast {

// El Torito 2.3: the sector count of an entry is 16 bits of 512-byte virtual sectors.
constexpr uint32_t kMaxBootLoadSize = 0xFFFF;
constexpr uint32_t kVirtualSectorSize = 512;
// isolinux and most no-emulation loaders expect 4 virtual sectors (one CD sector).
constexpr uint16_t kDefaultBootLoadSize = 4;
// An MBR's boot code: the bytes before the disk signature and the partition table.
constexpr size_t kMbrBootCodeBytes = 432;

struct BootSettings {
  std::u16string biosFile;  // --boot: a file of the source, as given; empty: no BIOS entry
  std::u16string efiFile;   // --efi-boot: a FAT image of the source; empty: no UEFI entry
  // --boot-catalog: the catalog's path in the image; unset: boot.catalog beside the boot
  // file; set but empty: the catalog is recorded in no directory (hidden).
  std::u16string catalogPath;
  bool catalogGiven = false;
  uint16_t loadSize = kDefaultBootLoadSize;  // --boot-load-size, virtual sectors
  bool infoTable = false;                    // --boot-info-table
  bool hybrid = false;                       // --hybrid: MBR and GPT in the system area
  std::u16string mbrFile;                    // --hybrid-mbr: where the boot code comes from
  bool mbrCodeGiven = false;                 // mbrCode holds the file's bytes
  std::array<uint8_t, kMbrBootCodeBytes> mbrCode{};

  bool ElTorito() const { return !biosFile.empty() || !efiFile.empty(); }
  bool Any() const { return ElTorito() || hybrid || !mbrFile.empty() || catalogGiven || infoTable; }
};

}  // namespace vellumcast

namespace vellumcast {

// The boot information table of a no-emulation boot file (as isolinux defines it): 56
// bytes at offset 8 holding the PVD's sector, the file's sector, its length and the
// checksum of its bytes from offset 64 on.
constexpr size_t kBootInfoTableOffset = 8;
constexpr size_t kBootInfoTableBytes = 56;
constexpr size_t kBootInfoChecksumStart = 64;

// The sum of the little-endian 32-bit words of `bytes[64, size)`, a last partial word
// completed with zeros.
inline uint32_t BootInfoChecksum(const uint8_t* bytes, size_t size) {
  uint32_t sum = 0;
  for (size_t i = kBootInfoChecksumStart; i < size; i += 4) {
    uint32_t word = 0;
    for (size_t k = 0; k < 4 && i + k < size; ++k) word |= uint32_t(bytes[i + k]) << (8 * k);
    sum += word;
  }
  return sum;
}

}  // namespace vellumcast
