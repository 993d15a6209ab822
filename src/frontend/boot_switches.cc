// Scanning the switches of bootable images.
#include "frontend/boot_switches.h"

#include <optional>

#include "platform/text.h"

namespace vellumcast {

std::span<const BootSwitch> BootSwitches() {
  static constexpr BootSwitch kSwitches[] = {
      {"--boot", true, "FILE"},        {"--boot-catalog", true, "PATH"},
      {"--boot-load-size", true, "N"}, {"--boot-info-table", false, nullptr},
      {"--efi-boot", true, "FILE"},    {"--hybrid", false, nullptr},
      {"--hybrid-mbr", true, "FILE"},
  };
  return kSwitches;
}

namespace {

// 1 to 65535 virtual sectors, decimal digits only.
bool ParseLoadSize(const std::u16string& text, uint16_t& size) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + uint32_t(c - u'0');
  }
  if (value == 0 || value > kMaxBootLoadSize) return false;
  size = uint16_t(value);
  return true;
}

void Refuse(std::string& error, const std::string& why) {
  if (error.empty()) error = "Error: " + why + "\n";
}

}  // namespace

bool ScanBootSwitch(const std::vector<std::u16string>& args, size_t& i, BootSettings& boot,
                    std::string& error) {
  const std::u16string& arg = args[i];
  const size_t equals = arg.find(u'=');
  const std::string name = Utf16ToUtf8(arg.substr(0, equals));
  const BootSwitch* found = nullptr;
  for (const BootSwitch& s : BootSwitches()) {
    if (name == s.longForm) found = &s;
  }
  if (!found || (!found->takesValue && equals != std::u16string::npos)) return false;
  std::optional<std::u16string> value;
  if (equals != std::u16string::npos) {
    value = arg.substr(equals + 1);
  } else if (found->takesValue && i + 1 < args.size()) {
    value = args[++i];
  }
  if (found->takesValue && !value) {
    Refuse(error, name + " needs a value");
    return true;
  }
  if (name == "--boot") {
    boot.biosFile = *value;
  } else if (name == "--boot-catalog") {
    boot.catalogPath = *value;  // empty: the catalog is in no directory
    boot.catalogGiven = true;
  } else if (name == "--boot-load-size") {
    if (!ParseLoadSize(*value, boot.loadSize))
      Refuse(error, "--boot-load-size takes 1 to 65535 sectors of 512 bytes, not \"" +
                        Utf16ToUtf8(*value) + "\"");
  } else if (name == "--boot-info-table") {
    boot.infoTable = true;
  } else if (name == "--efi-boot") {
    boot.efiFile = *value;
  } else if (name == "--hybrid") {
    boot.hybrid = true;
  } else if (name == "--hybrid-mbr") {
    boot.mbrFile = *value;
    boot.hybrid = true;
  }
  if (value && value->empty() && name != "--boot-catalog") Refuse(error, name + " needs a value");
  return true;
}

}  // namespace vellumcast
