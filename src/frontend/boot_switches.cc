// Scanning the switches of bootable images.
#include "frontend/boot_switches.h"

#include "platform/text.h"

namespace vellumcast {

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

void TakeBootSwitch(const std::string& name, const std::u16string* value,
                    BootSettings& boot, std::string& error) {
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
}

}  // namespace vellumcast
