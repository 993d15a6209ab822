// The long switches of bootable images (--boot, --boot-catalog, --boot-load-size,
// --boot-info-table, --efi-boot, --hybrid, --hybrid-mbr), scanned from their own table.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "base/boot_settings.h"

namespace vellumcast {

struct BootSwitch {
  const char* longForm;   // "--boot"
  bool takesValue;        // the next argument, or joined with '=' ("--boot=isolinux.bin")
  const char* valueName;  // as the usage text shows the value; null: none
};

std::span<const BootSwitch> BootSwitches();

// When args[i] is one of the boot switches: stores its value in `boot` (an unusable value
// sets `error`, an "Error: ..." line, unless one is set already), advances `i` past a
// value taken from the next argument and returns true. False: not a boot switch.
bool ScanBootSwitch(const std::vector<std::u16string>& args, size_t& i, BootSettings& boot,
                    std::string& error);

}  // namespace vellumcast
