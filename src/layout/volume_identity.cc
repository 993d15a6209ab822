// Fitting the user's volume identifiers into their fields.
#include "layout/volume_identity.h"

#include <cstring>

#include "layout/joliet_identifier.h"
#include "layout/volume_label.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

// The volume set identifier's dstring less its compression identifier and length bytes.
constexpr size_t kUdfDStringContentBytes = kUdfVolumeSetIdentifierBytes - 2;  // 126

bool IsDCharacter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

// ECMA-119 7.4.1: the d-characters and space ! " % & ' ( ) * + , - . / : ; < = > ?
bool IsACharacter(char16_t c) {
  return IsDCharacter(c) || (c < 0x80 && c != 0 && std::strchr(" !\"%&'()*+,-./:;<=>?", c));
}

// `text` cut to `units` without splitting a surrogate pair.
std::u16string CutUnits(const std::u16string& text, size_t units) {
  return std::u16string(HeadUnits(text, units));
}

std::u16string Upper(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
  }
  return out;
}

}  // namespace

std::span<const IdentityField> IdentityFields() {
  static const IdentityField kFields[] = {
      {"--system-id", &VolumeIdentity::systemId, 32, false, false},
      {"--volume-set", &VolumeIdentity::volumeSet, 128, true, true},
      {"--publisher", &VolumeIdentity::publisher, 128, false, false},
      {"--preparer", &VolumeIdentity::preparer, 128, false, false},
      {"--application", &VolumeIdentity::application, 128, false, false},
  };
  return kFields;
}

std::string IsoIdentityText(std::u16string_view text, size_t chars, bool dCharacters) {
  std::string out;
  for (char16_t c : Upper(text)) {
    if (out.size() == chars) break;
    if (IsHighSurrogate(c)) continue;  // a pair counts as one character, replaced below
    out += (dCharacters ? IsDCharacter(c) : IsACharacter(c)) ? char(c) : '_';
  }
  return out;
}

std::u16string JolietIdentityText(std::u16string_view text, size_t chars) {
  // Joliet holds UCS-2: a character beyond U+FFFF is '_' as well (Ucs2Units).
  bool beyondUcs2 = false;
  std::u16string out;
  for (char16_t c : Ucs2Units(text, beyondUcs2))
    out += c < 0x20 || (c < 0x80 && std::strchr("*/:;?\\", c)) ? u'_' : c;
  return CutUnits(out, chars);
}

std::u16string UdfVolumeSetText(std::u16string_view text, bool& wide) {
  wide = false;
  const std::u16string out = DiscText(text);
  for (char16_t c : out) wide = wide || c > 0xFF;
  const size_t units = wide ? kUdfDStringContentBytes / 2 : kUdfDStringContentBytes;
  return CutUnits(out, units - kUdfVolumeSetUniqueChars);
}

std::vector<std::string> IdentityFitWarnings(const ImageSettings& settings) {
  std::vector<std::string> warnings;
  for (const IdentityField& field : IdentityFields()) {
    const std::u16string& typed = settings.identity.*field.member;
    if (typed.empty()) continue;
    std::string what;
    bool changed = false;
    if (settings.WritesIso9660()) {
      const std::string iso = IsoIdentityText(typed, field.isoChars, field.dCharacters);
      changed = Utf8ToUtf16(iso) != Upper(typed);
      what = "ISO 9660 records \"" + iso + "\"";
      if (settings.joliet) {
        const std::u16string joliet = JolietIdentityText(typed, field.isoChars / 2);
        changed = changed || joliet != typed;
        what += ", Joliet \"" + Utf16ToUtf8(joliet) + "\"";
      }
    }
    if (field.udf && settings.WritesUdf()) {
      bool wide = false;
      const std::u16string udf = UdfVolumeSetText(typed, wide);
      changed = changed || udf.size() < typed.size();
      what += std::string(what.empty() ? "" : "; ") + "UDF records \"" + Utf16ToUtf8(udf) + "\"";
    }
    if (changed) {
      warnings.push_back(std::string(field.switchName) + " \"" + Utf16ToUtf8(typed) +
                         "\" does not fit its field: " + what);
    }
  }
  return warnings;
}

}  // namespace vellumcast
