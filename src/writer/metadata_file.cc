// Writes the UDF 2.50 Metadata File and Metadata Mirror File entries (OSTA UDF 2.50
// 2.2.13): Extended File Entries (ECMA-167 4/14.17) in the physical partition whose
// one short_ad covers the metadata partition's content or its mirror copy.
#include <cstring>

#include "writer/image_writer.h"
#include "base/disc_constants.h"
#include "writer/byte_order.h"
#include "writer/descriptor_tag.h"
#include "writer/file_entry_fields.h"
#include "writer/sector_emit.h"
#include "writer/udf_fields.h"
#include "writer/udf_structures.h"
#include "writer/volume_descriptors.h"

namespace vellumcast {

void BuildMetadataFileEntry(const ImageEmitter& emitter, uint8_t* s, bool mirror,
                            uint32_t location) {
  const uint64_t bytes = uint64_t(emitter.plan.metadataBlocks) * kSectorSize;
  const uint32_t contentBlock =
      mirror ? uint32_t(emitter.plan.mirrorStart - emitter.plan.dataBase) : kMetadataContentOffset;
  WriteIcbTag(s + efe::kIcbTag, mirror ? kFileTypeMetadataMirror : kFileTypeMetadata,
              kIcbFlagsShortAd);
  le32(s + efe::kUid, kNoId);
  le32(s + efe::kGid, kNoId);
  le32(s + efe::kPermissions, kPermissionsReadExecute);
  le16(s + efe::kFileLinkCount, 0);
  le64(s + efe::kInformationLength, bytes);
  le64(s + efe::kObjectSize, bytes);
  le64(s + efe::kLogicalBlocksRecorded, emitter.plan.metadataBlocks);
  for (size_t field : {efe::kAccessTime, efe::kModificationTime, efe::kCreationTime,
                       efe::kAttributeTime})
    std::memcpy(s + field, emitter.settings.buildTimeStamp, kUdfTimestampSize);
  le32(s + efe::kCheckpoint, 1);
  WriteImplementationRegid(s + efe::kImplementationIdentifier, emitter.settings);
  le64(s + efe::kUniqueId, 0);
  le32(s + efe::kLengthOfExtendedAttributes, 0);
  le32(s + efe::kLengthOfAllocationDescriptors, short_ad::kSize);
  WriteShortAd(s + efe::kAllocationDescriptors, uint32_t(bytes), contentBlock);
  FillTag(s, kTagExtendedFileEntry, uint16_t(efe::kFixedCrcLength + short_ad::kSize),
          location - uint32_t(emitter.plan.dataBase), emitter.settings.udfRevision);
}

bool WriteMetadataFileEntry(ImageEmitter& emitter, bool mirror, uint32_t location) {
  return EmitFilledSectors(
      emitter, 1, [&](uint8_t* s) { BuildMetadataFileEntry(emitter, s, mirror, location); });
}

}  // namespace vellumcast
