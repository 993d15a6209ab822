// The descriptor tag that begins every UDF descriptor (ECMA-167 3/7.2), its CRC
// (ECMA-167 1/7.2.6, CRC-ITU-T) and the header checksum of Implementation Use
// Extended Attributes (OSTA UDF 3.3.4.5).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellumcast {

// Field offsets of the 16-byte descriptor tag.
namespace tag {
constexpr size_t kTagIdentifier = 0;
constexpr size_t kDescriptorVersion = 2;
constexpr size_t kTagChecksum = 4;
constexpr size_t kReserved = 5;
constexpr size_t kTagSerialNumber = 6;
constexpr size_t kDescriptorCrc = 8;
constexpr size_t kDescriptorCrcLength = 10;
constexpr size_t kTagLocation = 12;
constexpr size_t kSize = 16;
}  // namespace tag

// Tag identifiers (ECMA-167 3/7.2.1 and 4/7.2.1).
enum UdfTagIdentifier : uint16_t {
  kTagPrimaryVolumeDescriptor = 1,
  kTagAnchorVolumeDescriptorPointer = 2,
  kTagImplementationUseVolumeDescriptor = 4,
  kTagPartitionDescriptor = 5,
  kTagLogicalVolumeDescriptor = 6,
  kTagUnallocatedSpaceDescriptor = 7,
  kTagTerminatingDescriptor = 8,
  kTagLogicalVolumeIntegrityDescriptor = 9,
  kTagFileSetDescriptor = 256,
  kTagFileIdentifierDescriptor = 257,
  kTagAllocationExtentDescriptor = 258,
  kTagFileEntry = 261,
  kTagExtendedAttributeHeaderDescriptor = 262,
  kTagExtendedFileEntry = 266,
};

// CRC-ITU-T (x^16 + x^12 + x^5 + 1, initial value 0, no reflection, no final
// inversion) of `length` bytes; 0 for a length of 0 or less.
uint16_t DescriptorCrc(const uint8_t* bytes, int64_t length);

// Puts the tag of `descriptor`, whose body must already be complete: identifier,
// descriptor version (3 for UDF 2.50 and later, else 2), serial number 1, the CRC of
// the `crcLength` bytes after the tag, the location and the tag checksum. Returns a
// pointer to the first byte after the tag.
uint8_t* PutDescriptorTag(uint8_t* descriptor, uint16_t identifier, uint16_t crcLength,
                          uint32_t location, uint16_t udfRevision);

// Header checksum of an Implementation Use Extended Attribute: the 16-bit wrapping
// sum of the 48 header bytes starting at the attribute type.
uint16_t EaHeaderChecksum(const uint8_t* bytes);

}  // namespace vellumcast
