// Builds the Logical Volume Integrity Descriptor (ECMA-167 3/10.10, OSTA UDF 2.2.6),
// recorded closed.
#include "writer/integrity.h"

#include <cstring>

#include "base/disc_constants.h"
#include "writer/byte_order.h"
#include "writer/descriptor_tag.h"
#include "writer/image_writer.h"
#include "writer/udf_fields.h"

namespace vellumcast {
namespace {

namespace lvid {
constexpr size_t kRecordingDateAndTime = 16;
constexpr size_t kIntegrityType = 28;
constexpr size_t kNextIntegrityExtent = 32;
constexpr size_t kLogicalVolumeContentsUse = 40;  // Logical Volume Header Descriptor
constexpr size_t kUniqueId = kLogicalVolumeContentsUse + 0;
constexpr size_t kNumberOfPartitions = 72;
constexpr size_t kLengthOfImplementationUse = 76;
constexpr size_t kFreeSpaceTable = 80;
constexpr uint32_t kIntegrityClose = 1;
constexpr uint16_t kFixedCrcLength = 64;  // 80 fixed bytes less the tag
}  // namespace lvid

// Implementation Use of the integrity descriptor (OSTA UDF 2.2.6.4), from its start.
namespace lvid_iu {
constexpr size_t kImplementationId = 0;
constexpr size_t kNumberOfFiles = 32;
constexpr size_t kNumberOfDirectories = 36;
constexpr size_t kMinimumUdfReadRevision = 40;
constexpr size_t kMinimumUdfWriteRevision = 42;
constexpr size_t kMaximumUdfWriteRevision = 44;
constexpr uint32_t kSize = 46;
}  // namespace lvid_iu

}  // namespace

void BuildLogicalVolumeIntegrityDescriptor(const ImageEmitter& emitter, uint8_t* s,
                                           uint32_t location) {
  const uint32_t partitions = emitter.settings.IsUdf250() ? 2 : 1;
  std::memcpy(s + lvid::kRecordingDateAndTime, emitter.settings.buildTimeStamp,
              sizeof emitter.settings.buildTimeStamp);
  PutLe32(s + lvid::kIntegrityType, lvid::kIntegrityClose);
  // The next unused unique identifier: the layout numbers every entry but the root
  // from 16 upward.
  PutLe64(s + lvid::kUniqueId, uint64_t(emitter.tree.totalFileCount) +
                                   emitter.tree.totalDirectoryCount + kFirstUniqueId);
  PutLe32(s + lvid::kNumberOfPartitions, partitions);
  PutLe32(s + lvid::kLengthOfImplementationUse, lvid_iu::kSize);
  // Free Space Table: all zero (nothing is free on a read-only volume).
  uint8_t* sizeTable = s + lvid::kFreeSpaceTable + 4 * partitions;
  PutLe32(sizeTable, uint32_t(emitter.plan.partitionLength));
  if (partitions == 2) PutLe32(sizeTable + 4, emitter.plan.metadataBlocks);
  uint8_t* iu = sizeTable + 4 * partitions;
  PutImplementationRegid(iu + lvid_iu::kImplementationId, emitter.settings);
  PutLe32(iu + lvid_iu::kNumberOfFiles, emitter.tree.totalFileCount);
  PutLe32(iu + lvid_iu::kNumberOfDirectories,
          emitter.tree.totalDirectoryCount + 1);  // with the root
  PutLe16(iu + lvid_iu::kMinimumUdfReadRevision, emitter.settings.udfRevision);
  PutLe16(iu + lvid_iu::kMinimumUdfWriteRevision, emitter.settings.udfRevision);
  PutLe16(iu + lvid_iu::kMaximumUdfWriteRevision, emitter.settings.udfRevision);
  PutDescriptorTag(s, kTagLogicalVolumeIntegrityDescriptor,
                   uint16_t(lvid::kFixedCrcLength + 8 * partitions + lvid_iu::kSize), location,
                   emitter.settings.udfRevision);
}

}  // namespace vellumcast
