// Field offsets of the File Entry (ECMA-167 4/14.9), the Extended File Entry
// (4/14.17), the Allocation Extent Descriptor (4/14.5) and the entry values that the
// OSTA UDF profile fixes for every entry of this image.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellumcast {

namespace fe {
constexpr size_t kIcbTag = 16;
constexpr size_t kUid = 36;
constexpr size_t kGid = 40;
constexpr size_t kPermissions = 44;
constexpr size_t kFileLinkCount = 48;
constexpr size_t kInformationLength = 56;
constexpr size_t kLogicalBlocksRecorded = 64;
constexpr size_t kAccessTime = 72;
constexpr size_t kModificationTime = 84;
constexpr size_t kAttributeTime = 96;
constexpr size_t kCheckpoint = 108;
constexpr size_t kImplementationIdentifier = 128;
constexpr size_t kUniqueId = 160;
constexpr size_t kLengthOfExtendedAttributes = 168;
constexpr size_t kLengthOfAllocationDescriptors = 172;
constexpr size_t kExtendedAttributes = 176;
constexpr uint16_t kFixedCrcLength = 160;  // 176 fixed bytes less the tag
}  // namespace fe

namespace efe {
constexpr size_t kIcbTag = 16;
constexpr size_t kUid = 36;
constexpr size_t kGid = 40;
constexpr size_t kPermissions = 44;
constexpr size_t kFileLinkCount = 48;
constexpr size_t kInformationLength = 56;
constexpr size_t kObjectSize = 64;
constexpr size_t kLogicalBlocksRecorded = 72;
constexpr size_t kAccessTime = 80;
constexpr size_t kModificationTime = 92;
constexpr size_t kCreationTime = 104;
constexpr size_t kAttributeTime = 116;
constexpr size_t kCheckpoint = 128;
constexpr size_t kImplementationIdentifier = 168;
constexpr size_t kUniqueId = 200;
constexpr size_t kLengthOfExtendedAttributes = 208;
constexpr size_t kLengthOfAllocationDescriptors = 212;
constexpr size_t kAllocationDescriptors = 216;
constexpr uint16_t kFixedCrcLength = 200;  // 216 fixed bytes less the tag
}  // namespace efe

namespace aed {
constexpr size_t kPreviousAllocationExtentLocation = 16;
constexpr size_t kLengthOfAllocationDescriptors = 20;
constexpr size_t kAllocationDescriptors = 24;
constexpr uint16_t kFixedCrcLength = 8;
}  // namespace aed

// Values common to every entry: no owner or group, read and execute for owner, group
// and others (0x1000 | 0x0400, 0x0080 | 0x0020, 0x0004 | 0x0001).
constexpr uint32_t kNoId = 0xFFFFFFFF;
constexpr uint32_t kPermissionsReadExecute = 0x14A5;
constexpr uint32_t kUdfTimestampSize = 12;

}  // namespace vellumcast
