// The volume label and volume set identifiers in the forms the descriptors record:
// the ISO 9660 volume identifier and volume set identifier (ECMA-119 8.4.6, 8.4.12)
// and the UDF volume set identifier (ECMA-167 3/10.1.11, OSTA UDF 2.2.2.5).
// The label itself is ImageBuilder::volumeLabel (a 128-byte dstring set by
// SetVolumeLabel) and ImageBuilder::FitDString fits it into 32-byte fields.
#pragma once

#include <cstdint>

namespace vellumcast {

struct ImageBuilder;

constexpr uint32_t kIsoVolumeIdentifierBytes = 32;
constexpr uint32_t kIsoVolumeSetIdentifierBytes = 128;
constexpr uint32_t kUdfVolumeSetIdentifierBytes = 128;

// 8-bit label: its first 31 characters (up to the first zero byte), 'a'-'z' raised to
// 'A'-'Z'; 16-bit label: NONE. Blank-padded to 32 bytes.
void IsoVolumeIdentifier(const ImageBuilder& builder, uint8_t out[32]);
// The Joliet volume identifier: the label's first 16 characters as typed (a surrogate
// pair is not split), UCS-2 big-endian, padded with blanks (0x0020) to 32 bytes.
void JolietVolumeIdentifier(const ImageBuilder& builder, uint8_t out[32]);
// "UNDEFINED" blank-padded to 128 bytes.
void IsoVolumeSetIdentifier(uint8_t out[128]);
// An 8-bit dstring of 128 bytes holding the 16 upper-case hexadecimal digits of the
// low 32 bits of buildTime and of volumeSectors ("%08X%08X"); call after PlanLayout.
void UdfVolumeSetIdentifier(const ImageBuilder& builder, uint8_t out[128]);

}  // namespace vellumcast
