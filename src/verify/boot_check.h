// The check of a bootable image's own structures: the El Torito Boot Record and catalog
// (validation checksum and key bytes, one bootable no-emulation entry per boot file, each
// pointing at sectors that hold the file, and the boot information table patched into
// the BIOS file's copy) and a hybrid image's MBR and GPT (signatures, CRCs, the backup
// at the image's end, the EFI partition on the UEFI image). Read from the image alone.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/boot_settings.h"

namespace vellumcast {

struct CheckOutcome;
struct ImageSource;
struct ImageSettings;
struct SourceTree;

struct BootExpectation {
  struct Entry {
    std::string hostPath;  // the source file
    uint64_t size = 0;
    uint16_t loadSize = 0;  // 512-byte virtual sectors
    uint8_t platform = 0;   // 0 BIOS, 0xEF UEFI
    bool infoTable = false;
  };
  std::vector<Entry> entries;  // in catalog order; empty: no El Torito
  bool hybrid = false;
  bool codeGiven = false;
  std::array<uint8_t, kMbrBootCodeBytes> code{};

  bool Any() const { return !entries.empty() || hybrid; }
};

// What the settings and the laid-out tree promise.
BootExpectation ExpectedBoot(const ImageSettings& settings, const SourceTree& tree);

// Adds every difference between the image and `boot` to `outcome`.
void CheckBootStructures(ImageSource& image, const BootExpectation& boot, CheckOutcome& outcome);

}  // namespace vellumcast
