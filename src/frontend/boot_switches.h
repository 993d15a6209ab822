// The values of the long switches of bootable images (--boot, --boot-catalog,
// --boot-load-size, --boot-info-table, --efi-boot, --hybrid, --hybrid-mbr); the command
// line's switch table names them, this checks and stores what they carry.
#pragma once

#include <string>

#include "base/boot_settings.h"

namespace vellumcast {

// Stores boot switch `longForm` ("--boot") with `value` (null for a switch that takes
// none) in `boot`; an unusable value sets `error`, an "Error: ..." line, unless one is set
// already.
void TakeBootSwitch(const std::string& longForm, const std::u16string* value,
                    BootSettings& boot, std::string& error);

}  // namespace vellumcast
