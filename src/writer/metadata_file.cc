// Builds the UDF 2.50 Metadata File and Metadata Mirror File entries (OSTA UDF 2.50
// 2.2.13): Extended File Entries (ECMA-167 4/14.17) in the physical partition whose
// one short_ad covers the metadata partition's content or its mirror copy.
#include "writer/metadata_file.h"

#include "base/disc_constants.h"
#include "writer/byte_order.h"
#include "writer/descriptor_tag.h"
#include "writer/file_entries.h"
#include "writer/file_entry_fields.h"
#include "writer/image_writer.h"
#include "writer/udf_fields.h"

namespace vellumcast {

void BuildMetadataFileEntry(const ImageEmitter& emitter, uint8_t* s, bool mirror,
                            uint32_t location) {
  const uint64_t bytes = uint64_t(emitter.plan.metadataBlocks) * kSectorSize;
  const uint32_t contentBlock =
      mirror ? uint32_t(emitter.plan.mirrorStart - emitter.plan.dataBase) : kMetadataContentOffset;
  EntryHeader header;
  header.fileType = mirror ? kFileTypeMetadataMirror : kFileTypeMetadata;
  header.icbFlags = kIcbFlagsShortAd;
  header.linkCount = 0;
  header.informationLength = bytes;
  header.blocksRecorded = emitter.plan.metadataBlocks;
  header.time = emitter.settings.buildTimeStamp;
  header.uniqueId = 0;
  header.allocationDescriptorsLength = short_ad::kSize;
  PutEntryHeader(emitter.settings, s, true, header);
  PutShortAd(s + efe::kAllocationDescriptors, uint32_t(bytes), contentBlock);
  PutDescriptorTag(s, kTagExtendedFileEntry, uint16_t(efe::kFixedCrcLength + short_ad::kSize),
                   location - uint32_t(emitter.plan.dataBase), emitter.settings.udfRevision);
}

}  // namespace vellumcast
