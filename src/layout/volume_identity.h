// The identifiers of the volume the user gives (system, volume set, publisher, data
// preparer, application) in the forms their fields record: ISO 9660 a- or d-characters
// (ECMA-119 7.4.1, 8.4), UCS-2 in the Joliet Supplementary Volume Descriptor, and the
// UDF volume set identifier (ECMA-167 3/10.1.11) after the characters that make the
// set unique (OSTA UDF 2.2.2.5).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/image_settings.h"

namespace vellumcast {

struct IdentityField {
  const char* switchName;                  // "--publisher", for the warning
  std::u16string VolumeIdentity::*member;  // the text as typed
  size_t isoChars;                         // the ISO 9660 field's bytes (Joliet: half)
  bool dCharacters;                        // d-characters only (else a-characters)
  bool udf;                                // also the UDF volume set identifier
};

// The five fields, in the order of the ISO 9660 descriptor.
std::span<const IdentityField> IdentityFields();

// The ISO 9660 form: 'a'-'z' raised, every other character outside the field's set
// replaced by '_', cut to `chars` characters (not padded).
std::string IsoIdentityText(std::u16string_view text, size_t chars, bool dCharacters);

// The Joliet form: the characters Joliet does not allow (controls, * / : ; ? \) replaced
// by '_', cut to `chars` units without splitting a surrogate pair (not padded).
std::u16string JolietIdentityText(std::u16string_view text, size_t chars);

// The characters before the user's text in the UDF volume set identifier: 16 hexadecimal
// digits of the build time and the volume size, unique to the set.
constexpr size_t kUdfVolumeSetUniqueChars = 16;

// What the UDF volume set identifier holds of `text` after its unique characters: as
// much as fits the 128-byte dstring (8-bit when every character is Latin-1, else 16-bit),
// with `wide` telling which.
std::u16string UdfVolumeSetText(std::u16string_view text, bool& wide);

// One warning text for each given identifier that a field of the image's file systems
// cannot hold whole (cut, or a character replaced); raising letters in ISO 9660 is no
// change. Call with formatFlags and joliet set.
std::vector<std::string> IdentityFitWarnings(const ImageSettings& settings);

}  // namespace vellumcast
