// Builds UDF File Entries (ECMA-167 4/14.9 with the OSTA UDF 1.02 3.3.4 implementation
// use extended attributes) and Extended File Entries (ECMA-167 4/14.17, OSTA UDF 2.50).
#include "writer/file_entries.h"

#include <sys/sysmacros.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/disc_constants.h"
#include "layout/entry_extents.h"
#include "layout/layout_rules.h"
#include "layout/link_records.h"
#include "layout/posix_attributes.h"
#include "layout/volume_time.h"
#include "tree/tree_node.h"
#include "writer/allocation_descriptors.h"
#include "writer/byte_order.h"
#include "writer/descriptor_tag.h"
#include "writer/file_entry_fields.h"
#include "writer/image_writer.h"
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

void PutImplementationUseAttribute(const ImageEmitter& emitter, uint8_t* a, const char* identifier,
                                   uint32_t length, uint32_t implementationUseLength) {
  PutLe32(a + iuea::kAttributeType, iuea::kTypeImplementationUse);
  a[iuea::kAttributeSubtype] = iuea::kSubtype;
  PutLe32(a + iuea::kAttributeLength, length);
  PutLe32(a + iuea::kImplementationUseLength, implementationUseLength);
  PutUdfRegid(a + iuea::kImplementationIdentifier, identifier, emitter.settings.udfRevision);
  PutLe16(a + iuea::kHeaderChecksum, EaHeaderChecksum(a));
}

// The device extended attribute (attribute type 12, ECMA-167 4/14.10.7): the device
// number of a device node, without implementation use.
namespace device_spec {
constexpr size_t kMajorDeviceIdentification = 16;
constexpr size_t kMinorDeviceIdentification = 20;
constexpr uint32_t kType = 12;
constexpr uint32_t kAttributeLength = 24;
}  // namespace device_spec

// The extended attribute space of a UDF 1.02 File Entry: its length, with the device
// attribute first for a device node.
uint32_t ExtendedAttributesLength(const TreeNode& node) {
  return kExtendedAttributesLength + (node.IsDevice() ? device_spec::kAttributeLength : 0);
}

// The extended attribute space of a UDF 1.02 File Entry at `block`: the header
// descriptor, a device node's device attribute, then the free EA space and DVD CGMS
// attributes.
void PutExtendedAttributes(const ImageEmitter& emitter, const TreeNode& node, uint8_t* eas,
                           uint32_t block) {
  uint32_t implementation = ea_header::kSize;
  if (node.IsDevice()) {
    uint8_t* device = eas + ea_header::kSize;
    PutLe32(device + iuea::kAttributeType, device_spec::kType);
    device[iuea::kAttributeSubtype] = iuea::kSubtype;
    PutLe32(device + iuea::kAttributeLength, device_spec::kAttributeLength);
    PutLe32(device + iuea::kImplementationUseLength, 0);
    PutLe32(device + device_spec::kMajorDeviceIdentification,
            uint32_t(major(dev_t(node.deviceNumber))));
    PutLe32(device + device_spec::kMinorDeviceIdentification,
            uint32_t(minor(dev_t(node.deviceNumber))));
    implementation += device_spec::kAttributeLength;
  }
  uint8_t* freeSpace = eas + implementation;
  uint8_t* cgms = freeSpace + free_ea_space::kAttributeLength;
  PutImplementationUseAttribute(emitter, freeSpace, "*UDF FreeEASpace",
                                free_ea_space::kAttributeLength,
                                free_ea_space::kImplementationUseLength);
  PutLe16(freeSpace + free_ea_space::kFreeEaSpace, 0);
  PutImplementationUseAttribute(emitter, cgms, "*UDF DVD CGMS Info", cgms_info::kAttributeLength,
                                cgms_info::kImplementationUseLength);
  cgms[cgms_info::kCgmsInfo] = 0;  // copying permitted
  cgms[cgms_info::kDataStructureType] = 0;
  PutLe32(cgms + cgms_info::kProtectionSystemInfo, 0);
  PutLe32(eas + ea_header::kImplementationAttributesLocation, implementation);
  // No application attributes: the location is the length of the space.
  PutLe32(eas + ea_header::kApplicationAttributesLocation, ExtendedAttributesLength(node));
  PutDescriptorTag(eas, kTagExtendedAttributeHeaderDescriptor, ea_header::kCrcLength, block,
                   emitter.settings.udfRevision);
}

// Where the File Entry and the Extended File Entry record the header fields that follow
// the information length (the fields before it lie at the same offsets in both).
struct EntryOffsets {
  size_t logicalBlocksRecorded;
  size_t times[4];  // access, modification, (creation,) attribute
  size_t timeCount;
  size_t checkpoint;
  size_t implementationIdentifier;
  size_t uniqueId;
  size_t lengthOfExtendedAttributes;
  size_t lengthOfAllocationDescriptors;
};
constexpr EntryOffsets kFileEntryOffsets{
    fe::kLogicalBlocksRecorded,
    {fe::kAccessTime, fe::kModificationTime, fe::kAttributeTime},
    3,
    fe::kCheckpoint,
    fe::kImplementationIdentifier,
    fe::kUniqueId,
    fe::kLengthOfExtendedAttributes,
    fe::kLengthOfAllocationDescriptors};
constexpr EntryOffsets kExtendedFileEntryOffsets{
    efe::kLogicalBlocksRecorded,
    {efe::kAccessTime, efe::kModificationTime, efe::kCreationTime, efe::kAttributeTime},
    4,
    efe::kCheckpoint,
    efe::kImplementationIdentifier,
    efe::kUniqueId,
    efe::kLengthOfExtendedAttributes,
    efe::kLengthOfAllocationDescriptors};
static_assert(fe::kIcbTag == efe::kIcbTag && fe::kInformationLength == efe::kInformationLength);

uint8_t FileType(const TreeNode& node) {
  if (node.isDirectory) return kFileTypeDirectory;
  switch (node.PosixType()) {
    case kPosixSymbolicLink: return kFileTypeSymbolicLink;
    case kPosixFifo: return kFileTypeFifo;
    case kPosixSocket: return kFileTypeSocket;
    case kPosixCharacterDevice: return kFileTypeCharacterDevice;
    case kPosixBlockDevice: return kFileTypeBlockDevice;
    default: break;
  }
  return node.kind == Ordinary ? kFileTypeRegular : kFileTypeRealTime;
}

// With Rock Ridge (a bridge image) the UDF side records the owner, group and
// permissions Rock Ridge does: rwx as ECMA-167 4/14.9.5 orders them (others in bits 0-2,
// group 5-7, owner 10-12), set-id and sticky in the ICB tag; without, no owner and
// read and execute for all.
void PutPosixAttributes(const ImageSettings& settings, const TreeNode& node, EntryHeader& h) {
  if (!settings.rockRidge) return;
  const PosixAttributes posix = RecordedAttributes(settings, node);
  h.uid = posix.uid;
  h.gid = posix.gid;
  h.permissions = (posix.mode & 07) | (posix.mode & 070) << 2 | (posix.mode & 0700) << 4;
  h.icbFlags |= (posix.mode & 04000 ? kIcbFlagSetUid : 0) |
                (posix.mode & 02000 ? kIcbFlagSetGid : 0) |
                (posix.mode & 01000 ? kIcbFlagSticky : 0);
}

// The header of `node`'s entry as far as the node decides it.
EntryHeader NodeEntryHeader(const TreeNode& node, const uint8_t* time) {
  EntryHeader h;
  h.fileType = FileType(node);
  h.linkCount = node.isDirectory ? uint16_t(node.subdirCount + 1)
                : node.hardLinks ? node.hardLinks
                                 : 1;
  h.informationLength = node.isDirectory ? uint64_t(node.udfDirLength) : node.size;
  h.blocksRecorded = SectorsFor(h.informationLength);
  h.time = time;
  h.uniqueId = node.IsRoot() ? 0 : node.uniqueId;
  return h;
}

}  // namespace

void PutEntryHeader(const ImageSettings& settings, uint8_t* s, bool extended,
                    const EntryHeader& h) {
  const EntryOffsets& at = extended ? kExtendedFileEntryOffsets : kFileEntryOffsets;
  PutIcbTag(s + fe::kIcbTag, h.fileType, h.icbFlags);
  PutLe32(s + fe::kUid, h.uid);
  PutLe32(s + fe::kGid, h.gid);
  PutLe32(s + fe::kPermissions, h.permissions);
  PutLe16(s + fe::kFileLinkCount, h.linkCount);
  PutLe64(s + fe::kInformationLength, h.informationLength);
  if (extended) PutLe64(s + efe::kObjectSize, h.informationLength);
  PutLe64(s + at.logicalBlocksRecorded, h.blocksRecorded);
  for (size_t i = 0; i < at.timeCount; ++i) std::memcpy(s + at.times[i], h.time, kUdfTimestampSize);
  PutLe32(s + at.checkpoint, 1);
  PutImplementationRegid(s + at.implementationIdentifier, settings);
  PutLe64(s + at.uniqueId, h.uniqueId);
  PutLe32(s + at.lengthOfExtendedAttributes, h.extendedAttributesLength);
  PutLe32(s + at.lengthOfAllocationDescriptors, h.allocationDescriptorsLength);
}

bool BuildFileEntry(const ImageEmitter& emitter, const TreeNode& node, uint32_t block, uint8_t* s) {
  const uint32_t eaLength = ExtendedAttributesLength(node);
  uint8_t* ads = s + fe::kExtendedAttributes + eaLength;
  uint32_t adLength = short_ad::kSize;
  std::string link;  // a symbolic link's path components, recorded in the entry
  if (node.isDirectory) {
    PutShortAd(ads, node.udfDirLength, node.udfDirLocation);
  } else if (node.IsSymbolicLink()) {
    link = UdfPathComponents(node.linkTarget);
    if (fe::kExtendedAttributes + eaLength + link.size() > kSectorSize)
      return emitter.log.Fail("a symbolic link's text does not fit its UDF File Entry");
    std::memcpy(ads, link.data(), link.size());
    adLength = uint32_t(link.size());
  } else if (node.IsSpecialFile()) {
    adLength = 0;  // no data
  } else {
    const std::vector<DataExtent> extents = FileDataExtents(emitter, node);
    if (extents.size() > kShortAdsInFileEntry102)
      return emitter.log.Fail("a file has more extents than one UDF 1.02 File Entry can record");
    adLength = uint32_t(extents.size() * short_ad::kSize);
    for (size_t i = 0; i < extents.size(); ++i)
      PutShortAd(ads + i * short_ad::kSize, extents[i].length, extents[i].block);
  }
  // A file carries its own modification time, as its ISO 9660 record and a UDF 2.50
  // Extended File Entry do; a directory carries the build time, or with Rock Ridge its
  // own time as Rock Ridge records it.
  uint8_t time[kUdfTimestampSize];
  if (node.isDirectory && !emitter.settings.rockRidge) {
    std::memcpy(time, emitter.settings.buildTimeStamp, kUdfTimestampSize);
  } else {
    MakeUdfTimestamp(node.modifiedTime, time, emitter.settings.datesInUtc);
  }
  EntryHeader header = NodeEntryHeader(node, time);
  header.icbFlags = node.IsSymbolicLink() ? kIcbFlagsEmbedded : kIcbFlagsShortAd;
  if (node.IsSymbolicLink() || node.IsSpecialFile()) {
    header.informationLength = link.size();
    header.blocksRecorded = 0;
  }
  PutPosixAttributes(emitter.settings, node, header);
  header.extendedAttributesLength = eaLength;
  header.allocationDescriptorsLength = adLength;
  PutEntryHeader(emitter.settings, s, false, header);
  PutExtendedAttributes(emitter, node, s + fe::kExtendedAttributes, block);
  PutDescriptorTag(s, kTagFileEntry, uint16_t(fe::kFixedCrcLength + eaLength + adLength), block,
                   emitter.settings.udfRevision);
  return true;
}

bool BuildExtendedFileEntry(const ImageEmitter& emitter, const TreeNode& node, uint32_t block,
                            uint8_t* s) {
  uint8_t* ads = s + efe::kAllocationDescriptors;
  uint32_t adLength = short_ad::kSize;
  if (node.isDirectory) {
    PutShortAd(ads, node.udfDirLength, node.udfDirLocation);
  } else {
    const std::vector<DataExtent> extents = FileDataExtents(emitter, node);
    if (ExtendedFileEntrySectors(extents.size()) > FileEntrySectors(emitter.settings, node))
      return emitter.log.Fail("a file's extents do not fit the blocks planned for its UDF entry");
    adLength = PutLongAdChain(emitter, s, ads, block, extents);
  }
  uint8_t time[kUdfTimestampSize];
  MakeUdfTimestamp(node.modifiedTime, time, emitter.settings.datesInUtc);
  EntryHeader header = NodeEntryHeader(node, time);
  header.icbFlags = node.isDirectory ? kIcbFlagsShortAd : kIcbFlagsLongAd;
  header.allocationDescriptorsLength = adLength;
  PutEntryHeader(emitter.settings, s, true, header);
  PutDescriptorTag(s, kTagExtendedFileEntry, uint16_t(efe::kFixedCrcLength + adLength), block,
                   emitter.settings.udfRevision);
  return true;
}

bool EmitEntry(ImageEmitter& emitter, const TreeNode& node, uint32_t block) {
  const uint32_t blocks = FileEntrySectors(emitter.settings, node);
  if (blocks == 0) return emitter.log.Fail("a UDF entry was planned without blocks");
  return EmitFilledSectors(emitter, blocks, [&](uint8_t* s) {
    return emitter.settings.IsUdf250() ? BuildExtendedFileEntry(emitter, node, block, s)
                                       : BuildFileEntry(emitter, node, block, s);
  });
}

}  // namespace vellumcast
