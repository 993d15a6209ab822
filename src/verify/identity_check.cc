// Reading the identifier fields back from the volume descriptors.
#include "verify/identity_check.h"

#include <cstring>
#include <vector>

#include "platform/text.h"
#include "reader/ecma119_records.h"
#include "reader/ecma167_descriptors.h"

namespace vellumcast {
namespace {

// ECMA-119 8.4: the descriptors from sector 16 up to the terminator (type 255).
constexpr uint8_t kPrimaryType = 1, kSupplementaryType = 2, kTerminatorType = 255;
constexpr size_t kEscapeSequences = 88;
// ECMA-119 8.4.13 to 8.4.17: where each identifier of IdentityFields() lies.
constexpr size_t kFieldOffsets[] = {8, 190, 318, 446, 574};
// ECMA-167 3/10.2 and 3/10.1: the main descriptor sequence extent in the anchor, the
// Primary Volume Descriptor's tag and volume set identifier.
constexpr size_t kAnchorMainExtentLength = 16, kAnchorMainExtentLocation = 20;
constexpr uint16_t kAnchorTag = 2, kPrimaryVolumeDescriptorTag = 1, kTerminatingTag = 8;
constexpr size_t kUdfVolumeSetIdentifier = 72, kUdfVolumeSetIdentifierBytes = 128;
// OSTA UDF 2.2.2.5: the volume set identifier starts with 16 characters unique to the set.
constexpr size_t kUdfVolumeSetUniqueChars = 16;
constexpr size_t kUdfDStringContentBytes = 126;  // 128 bytes less compression id and length

// The identifier fields of ECMA-119 8.4.13 to 8.4.17 as this check states them: the
// switch, the text typed, the field's bytes and its character set (d- or a-characters).
struct IdentityField {
  const char* switchName;
  std::u16string VolumeIdentity::*member;
  size_t isoChars;
  bool dCharacters;
};
constexpr IdentityField kIdentityFields[] = {
    {"--system-id", &VolumeIdentity::systemId, 32, false},
    {"--volume-set", &VolumeIdentity::volumeSet, 128, true},
    {"--publisher", &VolumeIdentity::publisher, 128, false},
    {"--preparer", &VolumeIdentity::preparer, 128, false},
    {"--application", &VolumeIdentity::application, 128, false},
};

bool IsDCharacter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

// ECMA-119 7.4.1: a-characters are the d-characters and space ! " % & ' ( ) * + , - . / : ;
// < = > ?
bool IsACharacter(char16_t c) {
  return IsDCharacter(c) || (c < 0x80 && c != 0 && std::strchr(" !\"%&'()*+,-./:;<=>?", c));
}

// The ISO 9660 text: upper case, a character outside the field's set (a pair as one) '_',
// at most `chars`.
std::string IsoText(std::u16string_view text, size_t chars, bool dCharacters) {
  std::string out;
  for (size_t i = 0; i < text.size() && out.size() < chars; ++i) {
    char16_t c = text[i];
    if (SurrogatePairAt(text, i)) ++i, c = u'?';
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    out += (dCharacters ? IsDCharacter(c) : IsACharacter(c)) ? char(c) : '_';
  }
  return out;
}

// The Joliet text: UCS-2, so a pair is '_', as are controls and * / : ; ? \; at most `chars`.
std::u16string JolietText(std::u16string_view text, size_t chars) {
  std::u16string out;
  for (size_t i = 0; i < text.size() && out.size() < chars; ++i) {
    char16_t c = text[i];
    if (SurrogatePairAt(text, i)) ++i, c = u'_';
    out += c < 0x20 || (c < 0x80 && std::strchr("*/:;?\\", c)) ? u'_' : c;
  }
  return out;
}

// The user's text in the UDF volume set identifier, after the unique characters.
std::u16string UdfSetText(std::u16string_view text) {
  const std::u16string units = DiscText(text);
  bool wide = false;
  for (char16_t c : units) wide = wide || c > 0xFF;
  const size_t n =
      (wide ? kUdfDStringContentBytes / 2 : kUdfDStringContentBytes) - kUdfVolumeSetUniqueChars;
  return std::u16string(HeadUnits(units, n));
}

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// The text of a 128-byte dstring (8-bit Latin-1 or 16-bit big-endian).
std::u16string DString(const uint8_t* field) {
  const uint32_t used = field[kUdfVolumeSetIdentifierBytes - 1];
  std::u16string text;
  for (uint32_t i = 1; i < used && i < kUdfVolumeSetIdentifierBytes - 1; ++i) {
    if (field[0] == 16) {
      if (i + 1 >= used) break;
      text += char16_t(field[i] << 8 | field[i + 1]);
      ++i;
    } else {
      text += char16_t(field[i]);
    }
  }
  return text;
}

void CheckIsoDescriptor(const uint8_t* sector, bool joliet, const VolumeIdentity& identity,
                        CheckOutcome& outcome) {
  size_t at = 0;
  for (const IdentityField& field : kIdentityFields) {
    const size_t offset = kFieldOffsets[at++];
    const std::u16string& typed = identity.*field.member;
    if (typed.empty()) continue;
    std::string want, found;
    if (joliet) {
      want = Utf16ToUtf8(JolietText(typed, field.isoChars / 2));
      found = Trimmed(Ucs2BeToUtf8(sector + offset, field.isoChars));
    } else {
      want = IsoText(typed, field.isoChars, field.dCharacters);
      found = Trimmed(std::string(reinterpret_cast<const char*>(sector + offset), field.isoChars));
    }
    if (Trimmed(want) != found) {
      outcome.Add(std::string(joliet ? "Joliet" : "ISO 9660") + " " + (field.switchName + 2) +
                  " is \"" + found + "\", not \"" + Trimmed(want) + "\"");
    }
  }
}

void CheckIso(ImageSource& image, const ImageSettings& settings, CheckOutcome& outcome) {
  std::vector<uint8_t> sector(kImageSectorSize);
  bool primary = false, supplementary = false;
  for (uint32_t i = 0; i < kIsoMostVolumeDescriptors; ++i) {
    if (!image.ReadSectors(kIsoFirstDescriptorSector + i, 1, sector.data()) ||
        std::memcmp(sector.data() + 1, "CD001", 5) != 0 || sector[0] == kTerminatorType) {
      break;
    }
    const bool isJoliet = sector[0] == kSupplementaryType &&
                          std::memcmp(sector.data() + kEscapeSequences, "%/", 2) == 0;
    if ((sector[0] == kPrimaryType && !primary) || (isJoliet && settings.joliet)) {
      CheckIsoDescriptor(sector.data(), isJoliet, settings.identity, outcome);
      (isJoliet ? supplementary : primary) = true;
    }
  }
  if (!primary) outcome.Add("ISO 9660: no Primary Volume Descriptor to check the identifiers in");
  if (settings.joliet && !supplementary) {
    outcome.Add("Joliet: no Supplementary Volume Descriptor to check the identifiers in");
  }
}

void CheckUdf(ImageSource& image, const ImageSettings& settings, CheckOutcome& outcome) {
  std::vector<uint8_t> sector(kImageSectorSize);
  bool found = false;
  if (image.ReadSectors(kUdfFirstAnchorSector, 1, sector.data()) &&
      Le16(sector.data()) == kAnchorTag) {
    const uint32_t location = Le32(sector.data() + kAnchorMainExtentLocation);
    const uint32_t count = Le32(sector.data() + kAnchorMainExtentLength) / kImageSectorSize;
    for (uint32_t i = 0; i < count && !found; ++i) {
      if (!image.ReadSectors(location + i, 1, sector.data())) break;
      const uint16_t tag = Le16(sector.data());
      if (tag == kTerminatingTag) break;
      found = tag == kPrimaryVolumeDescriptorTag;
    }
  }
  if (!found) {
    outcome.Add("UDF: no Primary Volume Descriptor to check the volume set identifier in");
    return;
  }
  const std::u16string want = UdfSetText(settings.identity.volumeSet);
  const std::u16string text = DString(sector.data() + kUdfVolumeSetIdentifier);
  const std::u16string tail =
      text.size() > kUdfVolumeSetUniqueChars ? text.substr(kUdfVolumeSetUniqueChars) : u"";
  if (tail != want) {
    outcome.Add("UDF volume-set is \"" + Utf16ToUtf8(tail) +
                "\" after its unique characters, "
                "not \"" +
                Utf16ToUtf8(want) + "\"");
  }
}

}  // namespace

void CheckVolumeIdentity(ImageSource& image, const ImageSettings& settings, CheckOutcome& outcome) {
  const VolumeIdentity& identity = settings.identity;
  bool any = false;
  for (const IdentityField& field : kIdentityFields) any = any || !(identity.*field.member).empty();
  if (!any) return;
  if (settings.WritesIso9660()) CheckIso(image, settings, outcome);
  if (settings.WritesUdf() && !identity.volumeSet.empty()) CheckUdf(image, settings, outcome);
}

}  // namespace vellumcast
