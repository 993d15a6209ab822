// The volume label as an OSTA Compressed Unicode dstring (OSTA UDF 2.1.1, 2.1.3), its
// fitting into shorter dstring fields, and the volume and volume set identifiers of
// ECMA-119 8.4 and ECMA-167 3/10.1.
#include "layout/volume_label.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/disc_constants.h"
#include "base/image_settings.h"
#include "layout/joliet_identifier.h"
#include "layout/volume_identity.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

// A dstring: compression identifier in byte 0, characters from byte 1, the number of
// bytes used (compression identifier included) in the last byte.
constexpr uint32_t kLabelBytes = sizeof(ImageSettings::volumeLabel);  // 128
constexpr uint32_t kLabelContentBytes = kLabelBytes - 2;              // 126
constexpr uint32_t kIsoVolumeIdentifierChars = 31;

// Number of 16-bit content bytes to keep out of `bytes`, so that a surrogate pair is not
// split at the cut; `units` points to the big-endian units.
uint32_t WholeCharacters16(const uint8_t* units, uint32_t bytes) {
  bytes &= ~1u;
  if (bytes >= 2) {
    char16_t last = char16_t((units[bytes - 2] << 8) | units[bytes - 1]);
    if (IsHighSurrogate(last)) bytes -= 2;
  }
  return bytes;
}

// The characters of a dstring field of `size` bytes as UTF-8, and their UTF-16 units.
std::string DStringText(const uint8_t* field, uint32_t size, size_t& units) {
  uint32_t used = field[size - 1];
  uint32_t content = used > 0 ? used - 1 : 0;
  std::u16string text;
  for (uint32_t i = 0; i < content; ++i) {
    if (field[0] == kCompression16Bit) {
      if (i + 1 >= content) break;
      text += char16_t((field[1 + i] << 8) | field[2 + i]);
      ++i;
    } else {
      text += char16_t(field[1 + i]);  // Latin-1
    }
  }
  units = text.size();
  return Utf16ToUtf8(text);
}

}  // namespace

void SetVolumeLabel(ImageSettings& settings, const char16_t* label) {
  uint8_t* volumeLabel = settings.volumeLabel;
  if (!label || !*label) return;
  const std::u16string text = DiscText(label);
  const size_t len = text.size();
  bool wide = false;
  for (char16_t c : text) wide = wide || c > 0xFF;
  std::memset(volumeLabel, 0, kLabelBytes);
  uint32_t n;
  if (wide) {
    volumeLabel[0] = kCompression16Bit;
    n = static_cast<uint32_t>(len * 2 < kLabelContentBytes ? len * 2 : kLabelContentBytes);
    for (uint32_t i = 0; i < n / 2; ++i) {
      char16_t c = text[i];
      volumeLabel[1 + 2 * i] = uint8_t(c >> 8);  // OSTA CS0 16-bit: high byte first
      volumeLabel[2 + 2 * i] = uint8_t(c);
    }
    uint32_t kept = WholeCharacters16(volumeLabel + 1, n);
    std::memset(volumeLabel + 1 + kept, 0, n - kept);
    n = kept;
  } else {
    volumeLabel[0] = kCompression8Bit;
    n = static_cast<uint32_t>(len < kLabelContentBytes ? len : kLabelContentBytes);
    for (uint32_t i = 0; i < n; ++i) volumeLabel[1 + i] = uint8_t(text[i]);  // Latin-1
  }
  volumeLabel[kLabelBytes - 1] = uint8_t(n + 1);
}

void FitDString(const ImageSettings& settings, uint8_t* field, uint32_t size) {
  const uint8_t* volumeLabel = settings.volumeLabel;
  std::memset(field, 0, size);
  if (size < 2) return;
  field[0] = volumeLabel[0];
  uint32_t used = volumeLabel[kLabelBytes - 1];
  uint32_t content = used > 0 ? used - 1 : 0;
  if (content > kLabelContentBytes) content = kLabelContentBytes;
  uint32_t n = content < size - 2 ? content : size - 2;
  if (volumeLabel[0] == kCompression16Bit) n = WholeCharacters16(volumeLabel + 1, n);
  std::memcpy(field + 1, volumeLabel + 1, n);
  field[size - 1] = uint8_t(n + 1);
}

void IsoVolumeIdentifier(const ImageSettings& settings, uint8_t out[32]) {
  char text[kIsoVolumeIdentifierChars + 1] = {};
  if (settings.volumeLabel[0] == kCompression8Bit) {
    for (uint32_t i = 0; i < kIsoVolumeIdentifierChars; ++i) {
      uint8_t c = settings.volumeLabel[1 + i];
      if (c == 0) break;
      text[i] = char(c);
    }
  } else {
    std::memcpy(text, "none", 4);
  }
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  std::memset(out, ' ', kIsoVolumeIdentifierBytes);
  std::memcpy(out, text, std::strlen(text));
}

void JolietVolumeIdentifier(const ImageSettings& settings, uint8_t out[32]) {
  std::u16string units;
  uint32_t used = settings.volumeLabel[kLabelBytes - 1];
  uint32_t content = used > 0 ? used - 1 : 0;
  if (content > kLabelContentBytes) content = kLabelContentBytes;
  if (settings.volumeLabel[0] == kCompression8Bit) {
    for (uint32_t i = 0; i < content && i < kIsoVolumeIdentifierBytes / 2; ++i)
      units += char16_t(settings.volumeLabel[1 + i]);
  } else {
    for (uint32_t i = 0; i + 1 < content; i += 2)
      units += char16_t((settings.volumeLabel[1 + i] << 8) | settings.volumeLabel[2 + i]);
    bool beyondUcs2 = false;
    units = Ucs2Units(units, beyondUcs2).substr(0, kIsoVolumeIdentifierBytes / 2);
  }
  while (units.size() < kIsoVolumeIdentifierBytes / 2) units += u' ';
  for (size_t i = 0; i < units.size(); ++i) {
    out[2 * i] = uint8_t(units[i] >> 8);
    out[2 * i + 1] = uint8_t(units[i]);
  }
}

std::string LabelFitWarning(const ImageSettings& settings, size_t labelUnits) {
  bool cut = false;
  std::string what;
  if (settings.WritesIso9660()) {
    uint8_t id[kIsoVolumeIdentifierBytes];
    IsoVolumeIdentifier(settings, id);
    std::u16string text(id, id + kIsoVolumeIdentifierBytes);  // Latin-1
    text.erase(text.find_last_not_of(u' ') + 1);
    cut = settings.volumeLabel[0] != kCompression8Bit || text.size() < labelUnits;
    what = "ISO 9660 records \"" + Utf16ToUtf8(text) + "\"";
  }
  if (settings.WritesIso9660() && settings.joliet) {
    uint8_t id[kIsoVolumeIdentifierBytes];
    JolietVolumeIdentifier(settings, id);
    std::u16string text;
    for (uint32_t i = 0; i < kIsoVolumeIdentifierBytes; i += 2)
      text += char16_t((id[i] << 8) | id[i + 1]);
    text.erase(text.find_last_not_of(u' ') + 1);
    cut = cut || text.size() < labelUnits;
    what += ", Joliet \"" + Utf16ToUtf8(text) + "\"";
  }
  if (settings.WritesUdf()) {
    // The 32-byte volume and file set identifiers, then the 128-byte logical volume
    // identifiers, which hold the label as stored.
    uint8_t shortField[32];
    FitDString(settings, shortField, sizeof shortField);
    size_t shortUnits = 0, longUnits = 0;
    std::string shortText = DStringText(shortField, sizeof shortField, shortUnits);
    std::string longText = DStringText(settings.volumeLabel, kLabelBytes, longUnits);
    if (!what.empty()) what += "; ";
    if (shortUnits >= labelUnits) {
      what += "UDF records the whole label";
    } else {
      cut = true;
      what += "UDF records \"" + shortText + "\" as volume and file set identifier and " +
              (longUnits >= labelUnits ? std::string("the whole label") : "\"" + longText + "\"") +
              " as logical volume identifier";
    }
  }
  return cut ? "the label does not fit every field: " + what : std::string();
}

void IsoVolumeSetIdentifier(uint8_t out[128]) {
  std::memset(out, ' ', kIsoVolumeSetIdentifierBytes);
  std::memcpy(out, "UNDEFINED", 9);
}

void UdfVolumeSetIdentifier(const ImageSettings& settings, int32_t volumeSectors,
                            uint8_t out[128]) {
  char digits[17];
  std::snprintf(digits, sizeof digits, "%08X%08X", static_cast<uint32_t>(settings.buildTime),
                static_cast<uint32_t>(volumeSectors));
  bool wide = false;
  const std::u16string text =
      std::u16string(digits, digits + 16) + UdfVolumeSetText(settings.identity.volumeSet, wide);
  std::memset(out, 0, kUdfVolumeSetIdentifierBytes);
  out[0] = wide ? kCompression16Bit : kCompression8Bit;
  uint32_t n = 0;
  for (char16_t c : text) {
    if (wide) out[1 + n++] = uint8_t(c >> 8);  // OSTA CS0 16-bit: high byte first
    out[1 + n++] = uint8_t(c);
  }
  out[kUdfVolumeSetIdentifierBytes - 1] = uint8_t(n + 1);
}

}  // namespace vellumcast
