// Writes the UDF 2.50 Metadata File and Metadata Mirror File entries (OSTA UDF 2.50
// 2.2.13): Extended File Entries (ECMA-167 4/14.17) in the physical partition whose
// one short_ad covers the metadata partition's content or its mirror copy.
#include <cstring>

#include "build/image_builder.h"
#include "layout/disc_constants.h"
#include "writer/byte_order.h"
#include "writer/descriptor_tag.h"
#include "writer/file_entry_fields.h"
#include "writer/sector_emit.h"
#include "writer/udf_fields.h"
#include "writer/udf_structures.h"
#include "writer/volume_descriptors.h"

namespace vellumcast {

void BuildMetadataFileEntry(const ImageBuilder& builder, uint8_t* s, bool mirror,
                            uint32_t location) {
  const uint64_t bytes = uint64_t(builder.metadataBlocks) * kSectorSize;
  const uint32_t contentBlock =
      mirror ? uint32_t(builder.mirrorStart - builder.dataBase) : kMetadataContentOffset;
  WriteIcbTag(s + efe::kIcbTag, mirror ? kFileTypeMetadataMirror : kFileTypeMetadata,
              kIcbFlagsShortAd);
  le32(s + efe::kUid, kNoId);
  le32(s + efe::kGid, kNoId);
  le32(s + efe::kPermissions, kPermissionsReadExecute);
  le16(s + efe::kFileLinkCount, 0);
  le64(s + efe::kInformationLength, bytes);
  le64(s + efe::kObjectSize, bytes);
  le64(s + efe::kLogicalBlocksRecorded, builder.metadataBlocks);
  for (size_t field : {efe::kAccessTime, efe::kModificationTime, efe::kCreationTime,
                       efe::kAttributeTime})
    std::memcpy(s + field, builder.buildTimeStamp, kUdfTimestampSize);
  le32(s + efe::kCheckpoint, 1);
  WriteImplementationRegid(s + efe::kImplementationIdentifier, builder);
  le64(s + efe::kUniqueId, 0);
  le32(s + efe::kLengthOfExtendedAttributes, 0);
  le32(s + efe::kLengthOfAllocationDescriptors, short_ad::kSize);
  WriteShortAd(s + efe::kAllocationDescriptors, uint32_t(bytes), contentBlock);
  FillTag(s, kTagExtendedFileEntry, uint16_t(efe::kFixedCrcLength + short_ad::kSize),
          location - uint32_t(builder.dataBase), builder.udfRevision);
}

bool WriteMetadataFileEntry(ImageBuilder& builder, bool mirror, uint32_t location) {
  return EmitFilledSectors(
      builder, 1, [&](uint8_t* s) { BuildMetadataFileEntry(builder, s, mirror, location); });
}

}  // namespace vellumcast
