// Writes UDF File Entries (ECMA-167 4/14.9 with the OSTA UDF 1.02 3.3.4 implementation
// use extended attributes) and Extended File Entries (ECMA-167 4/14.17, OSTA UDF 2.50).
#include "writer/file_entries.h"

#include <cstring>
#include <vector>

#include "writer/image_writer.h"
#include "base/disc_constants.h"
#include "layout/entry_extents.h"
#include "layout/layout_rules.h"
#include "layout/volume_time.h"
#include "tree/tree_node.h"
#include "writer/allocation_descriptors.h"
#include "writer/byte_order.h"
#include "writer/descriptor_tag.h"
#include "writer/file_entry_fields.h"
#include "writer/sector_emit.h"
#include "writer/udf_fields.h"

namespace vellumcast {
namespace {

// Extended Attribute Header Descriptor (ECMA-167 4/14.10.1), at the start of the
// extended attribute space.
namespace ea_header {
constexpr size_t kImplementationAttributesLocation = 16;
constexpr size_t kApplicationAttributesLocation = 20;
constexpr size_t kSize = 24;
constexpr uint16_t kCrcLength = 8;
}  // namespace ea_header

// Implementation Use Extended Attribute (ECMA-167 4/14.10.8, OSTA UDF 3.3.4.5),
// offsets from the attribute's start.
namespace iuea {
constexpr size_t kAttributeType = 0;
constexpr size_t kAttributeSubtype = 4;
constexpr size_t kAttributeLength = 8;
constexpr size_t kImplementationUseLength = 12;
constexpr size_t kImplementationIdentifier = 16;
constexpr size_t kHeaderChecksum = 48;  // first bytes of the implementation use
constexpr uint32_t kTypeImplementationUse = 2048;
constexpr uint8_t kSubtype = 1;
}  // namespace iuea

// "*UDF FreeEASpace" (OSTA UDF 3.3.4.5.1.1): checksum and 2 bytes of free space.
namespace free_ea_space {
constexpr size_t kFreeEaSpace = 50;
constexpr uint32_t kImplementationUseLength = 4;
constexpr uint32_t kAttributeLength = 48 + kImplementationUseLength;  // 52
}  // namespace free_ea_space

// "*UDF DVD CGMS Info" (OSTA UDF 3.3.4.5.1.2): checksum, CGMS, structure type,
// protection system information.
namespace cgms_info {
constexpr size_t kCgmsInfo = 50;
constexpr size_t kDataStructureType = 51;
constexpr size_t kProtectionSystemInfo = 52;
constexpr uint32_t kImplementationUseLength = 8;
constexpr uint32_t kAttributeLength = 48 + kImplementationUseLength;  // 56
}  // namespace cgms_info

constexpr uint32_t kExtendedAttributesLength =
    ea_header::kSize + free_ea_space::kAttributeLength + cgms_info::kAttributeLength;  // 132
static_assert(kExtendedAttributesLength == 132);

void WriteImplementationUseAttribute(const ImageEmitter& emitter, uint8_t* a,
                                     const char* identifier, uint32_t length,
                                     uint32_t implementationUseLength) {
  le32(a + iuea::kAttributeType, iuea::kTypeImplementationUse);
  a[iuea::kAttributeSubtype] = iuea::kSubtype;
  le32(a + iuea::kAttributeLength, length);
  le32(a + iuea::kImplementationUseLength, implementationUseLength);
  WriteUdfRegid(a + iuea::kImplementationIdentifier, identifier, emitter.settings.udfRevision);
  le16(a + iuea::kHeaderChecksum, EaHeaderChecksum(a));
}

// The extended attribute space of a UDF 1.02 File Entry at `block`: the header
// descriptor, then the free EA space and DVD CGMS attributes.
void WriteExtendedAttributes(const ImageEmitter& emitter, uint8_t* eas, uint32_t block) {
  uint8_t* freeSpace = eas + ea_header::kSize;
  uint8_t* cgms = freeSpace + free_ea_space::kAttributeLength;
  WriteImplementationUseAttribute(emitter, freeSpace, "*UDF FreeEASpace",
                                  free_ea_space::kAttributeLength,
                                  free_ea_space::kImplementationUseLength);
  le16(freeSpace + free_ea_space::kFreeEaSpace, 0);
  WriteImplementationUseAttribute(emitter, cgms, "*UDF DVD CGMS Info", cgms_info::kAttributeLength,
                                  cgms_info::kImplementationUseLength);
  cgms[cgms_info::kCgmsInfo] = 0;  // copying permitted
  cgms[cgms_info::kDataStructureType] = 0;
  le32(cgms + cgms_info::kProtectionSystemInfo, 0);
  le32(eas + ea_header::kImplementationAttributesLocation, ea_header::kSize);
  // No application attributes: the location is the length of the space.
  le32(eas + ea_header::kApplicationAttributesLocation, kExtendedAttributesLength);
  FillTag(eas, kTagExtendedAttributeHeaderDescriptor, ea_header::kCrcLength, block,
          emitter.settings.udfRevision);
}

uint8_t FileType(const TreeNode& node) {
  if (node.isDirectory) return kFileTypeDirectory;
  return node.kind == Ordinary ? kFileTypeRegular : kFileTypeRealTime;
}

uint64_t InformationLength(const TreeNode& node) {
  return node.isDirectory ? uint64_t(node.udfDirLength) : node.size;
}

uint16_t LinkCount(const TreeNode& node) {
  return node.isDirectory ? uint16_t(node.subdirCount + 1) : 1;
}

uint64_t UniqueId(const TreeNode& node) { return node.IsRoot() ? 0 : node.uniqueId; }

}  // namespace

bool BuildFileEntry(const ImageEmitter& emitter, const TreeNode& node, uint32_t block,
                    uint8_t* s, const char** why) {
  const uint64_t length = InformationLength(node);
  uint8_t* ads = s + fe::kExtendedAttributes + kExtendedAttributesLength;
  uint32_t adLength = short_ad::kSize;
  if (node.isDirectory) {
    WriteShortAd(ads, node.udfDirLength, node.udfDirLocation);
  } else {
    const std::vector<DataExtent> extents = FileDataExtents(emitter, node);
    if (extents.size() > kShortAdsInFileEntry102) {
      *why = "A file has more extents than one UDF 1.02 File Entry can record";
      return false;
    }
    adLength = uint32_t(extents.size() * short_ad::kSize);
    for (size_t i = 0; i < extents.size(); ++i)
      WriteShortAd(ads + i * short_ad::kSize, extents[i].length, extents[i].block);
  }
  WriteIcbTag(s + fe::kIcbTag, FileType(node), kIcbFlagsShortAd);
  le32(s + fe::kUid, kNoId);
  le32(s + fe::kGid, kNoId);
  le32(s + fe::kPermissions, kPermissionsReadExecute);
  le16(s + fe::kFileLinkCount, LinkCount(node));
  le64(s + fe::kInformationLength, length);
  le64(s + fe::kLogicalBlocksRecorded, SectorsFor(length));
  // A file carries its own modification time, as its ISO 9660 record and a UDF 2.50
  // Extended File Entry do; a directory carries the build time.
  uint8_t time[kUdfTimestampSize];
  if (node.isDirectory) {
    std::memcpy(time, emitter.settings.buildTimeStamp, kUdfTimestampSize);
  } else {
    MakeUdfTimestamp(node.modifiedTime, time, emitter.settings.datesInUtc);
  }
  for (size_t field : {fe::kAccessTime, fe::kModificationTime, fe::kAttributeTime})
    std::memcpy(s + field, time, kUdfTimestampSize);
  le32(s + fe::kCheckpoint, 1);
  WriteImplementationRegid(s + fe::kImplementationIdentifier, emitter.settings);
  le64(s + fe::kUniqueId, UniqueId(node));
  le32(s + fe::kLengthOfExtendedAttributes, kExtendedAttributesLength);
  le32(s + fe::kLengthOfAllocationDescriptors, adLength);
  WriteExtendedAttributes(emitter, s + fe::kExtendedAttributes, block);
  FillTag(s, kTagFileEntry, uint16_t(fe::kFixedCrcLength + kExtendedAttributesLength + adLength),
          block, emitter.settings.udfRevision);
  return true;
}

bool BuildExtendedFileEntry(const ImageEmitter& emitter, const TreeNode& node, uint32_t block,
                            uint8_t* s, const char** why) {
  const uint64_t length = InformationLength(node);
  uint8_t* ads = s + efe::kAllocationDescriptors;
  uint32_t adLength = short_ad::kSize;
  if (node.isDirectory) {
    WriteShortAd(ads, node.udfDirLength, node.udfDirLocation);
  } else {
    const std::vector<DataExtent> extents = FileDataExtents(emitter, node);
    if (ExtendedFileEntrySectors(extents.size()) > FileEntrySectors(emitter.settings, node)) {
      *why = "A file's extents do not fit the blocks planned for its UDF entry";
      return false;
    }
    adLength = WriteLongAdChain(emitter, s, ads, block, extents);
  }
  WriteIcbTag(s + efe::kIcbTag, FileType(node),
              node.isDirectory ? kIcbFlagsShortAd : kIcbFlagsLongAd);
  le32(s + efe::kUid, kNoId);
  le32(s + efe::kGid, kNoId);
  le32(s + efe::kPermissions, kPermissionsReadExecute);
  le16(s + efe::kFileLinkCount, LinkCount(node));
  le64(s + efe::kInformationLength, length);
  le64(s + efe::kObjectSize, length);
  le64(s + efe::kLogicalBlocksRecorded, SectorsFor(length));
  uint8_t time[kUdfTimestampSize];
  MakeUdfTimestamp(node.modifiedTime, time, emitter.settings.datesInUtc);
  for (size_t field : {efe::kAccessTime, efe::kModificationTime, efe::kCreationTime,
                       efe::kAttributeTime})
    std::memcpy(s + field, time, kUdfTimestampSize);
  le32(s + efe::kCheckpoint, 1);
  WriteImplementationRegid(s + efe::kImplementationIdentifier, emitter.settings);
  le64(s + efe::kUniqueId, UniqueId(node));
  le32(s + efe::kLengthOfExtendedAttributes, 0);
  le32(s + efe::kLengthOfAllocationDescriptors, adLength);
  FillTag(s, kTagExtendedFileEntry, uint16_t(efe::kFixedCrcLength + adLength), block,
          emitter.settings.udfRevision);
  return true;
}

bool WriteEntry(ImageEmitter& emitter, const TreeNode& node, uint32_t block) {
  const uint32_t blocks = FileEntrySectors(emitter.settings, node);
  if (blocks == 0) return emitter.log.Fail("A UDF entry was planned without blocks");
  const char* why = nullptr;
  const bool written = EmitFilledSectors(emitter, blocks, [&](uint8_t* s) {
    return emitter.settings.IsUdf250() ? BuildExtendedFileEntry(emitter, node, block, s, &why)
                              : BuildFileEntry(emitter, node, block, s, &why);
  });
  return why ? emitter.log.Fail(why) : written;
}

}  // namespace vellumcast
