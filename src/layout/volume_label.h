// The volume label and volume set identifiers in the forms the descriptors record:
// the ISO 9660 volume identifier and volume set identifier (ECMA-119 8.4.6, 8.4.12)
// and the UDF volume set identifier (ECMA-167 3/10.1.11, OSTA UDF 2.2.2.5).
// The label itself is ImageSettings::volumeLabel, a 128-byte dstring set by
// SetVolumeLabel; FitDString fits it into shorter fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast {

struct ImageSettings;

constexpr uint32_t kIsoVolumeIdentifierBytes = 32;
constexpr uint32_t kIsoVolumeSetIdentifierBytes = 128;
constexpr uint32_t kUdfVolumeSetIdentifierBytes = 128;

// 8-bit label: its first 31 characters (up to the first zero byte), 'a'-'z' raised to
// 'A'-'Z'; 16-bit label: NONE. Blank-padded to 32 bytes.
void IsoVolumeIdentifier(const ImageSettings& settings, uint8_t out[32]);
// The Joliet volume identifier: the label's first 16 characters as typed (a character
// beyond U+FFFF as '_'), UCS-2 big-endian, padded with blanks (0x0020) to 32 bytes.
void JolietVolumeIdentifier(const ImageSettings& settings, uint8_t out[32]);
// What each file system of the image records when the label, `labelUnits` UTF-16 units
// as given, does not fit one of its fields whole (cut, or NONE in ISO 9660), as one
// warning text; empty when every field holds it. Call after SetVolumeLabel, with
// formatFlags set.
std::string LabelFitWarning(const ImageSettings& settings, size_t labelUnits);
// Stores `label` (UTF-16) as the 128-byte dstring: 8-bit (Latin-1) when every character
// fits, else 16-bit, cut to whole characters; an empty or null label keeps the current one.
void SetVolumeLabel(ImageSettings& settings, const char16_t* label);
// The label in a shorter dstring field of `size` bytes, cut to whole characters.
void FitDString(const ImageSettings& settings, uint8_t* field, uint32_t size);
// "UNDEFINED" blank-padded to 128 bytes.
void IsoVolumeSetIdentifier(uint8_t out[128]);
// A dstring of 128 bytes holding the 16 upper-case hexadecimal digits of the low 32 bits
// of buildTime and of volumeSectors ("%08X%08X"), then the user's volume set text as
// UdfVolumeSetText fits it (16-bit when it needs to be); call after PlanLayout.
void UdfVolumeSetIdentifier(const ImageSettings& settings, int32_t volumeSectors, uint8_t out[128]);

}  // namespace vellumcast
