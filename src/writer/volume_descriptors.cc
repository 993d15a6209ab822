// Builds the UDF Volume Descriptor Sequence (Primary, Implementation Use, Partition,
// Logical Volume, Unallocated Space, Terminating Descriptor) and the Anchor Volume
// Descriptor Pointer, following ECMA-167 3/10 as profiled by OSTA UDF 1.02 and 2.50, and
// emits the Volume Recognition Sequence (ECMA-167 2/9.1) and the descriptor sequences.
#include "writer/volume_descriptors.h"

#include <cstring>

#include "base/disc_constants.h"
#include "layout/volume_label.h"
#include "writer/byte_order.h"
#include "writer/descriptor_tag.h"
#include "writer/image_writer.h"
#include "writer/sector_emit.h"
#include "writer/udf_fields.h"

namespace vellumcast {
namespace {

// Volume Structure Descriptor of the recognition sequence (ECMA-167 2/9.1).
namespace vsd {
constexpr size_t kStructureType = 0;
constexpr size_t kStandardIdentifier = 1;
constexpr size_t kStandardIdentifierSize = 5;
constexpr size_t kStructureVersion = 6;
}  // namespace vsd

// Primary Volume Descriptor (ECMA-167 3/10.1).
namespace pvd {
constexpr size_t kVolumeDescriptorSequenceNumber = 16;
constexpr size_t kPrimaryVolumeDescriptorNumber = 20;
constexpr size_t kVolumeIdentifier = 24;
constexpr size_t kVolumeIdentifierSize = 32;
constexpr size_t kVolumeSequenceNumber = 56;
constexpr size_t kMaximumVolumeSequenceNumber = 58;
constexpr size_t kInterchangeLevel = 60;
constexpr size_t kMaximumInterchangeLevel = 62;
constexpr size_t kCharacterSetList = 64;
constexpr size_t kMaximumCharacterSetList = 68;
constexpr size_t kVolumeSetIdentifier = 72;
constexpr size_t kDescriptorCharacterSet = 200;
constexpr size_t kExplanatoryCharacterSet = 264;
constexpr size_t kApplicationIdentifier = 344;
constexpr size_t kRecordingDateAndTime = 376;
constexpr size_t kImplementationIdentifier = 388;
constexpr uint16_t kCrcLength = 496;
}  // namespace pvd

// Implementation Use Volume Descriptor (ECMA-167 3/10.4, OSTA UDF 2.2.7).
namespace iuvd {
constexpr size_t kVolumeDescriptorSequenceNumber = 16;
constexpr size_t kImplementationIdentifier = 20;
constexpr size_t kLviCharset = 52;
constexpr size_t kLogicalVolumeIdentifier = 116;
constexpr size_t kImplementationId = 352;
constexpr uint16_t kCrcLength = 496;
}  // namespace iuvd

// Partition Descriptor (ECMA-167 3/10.5).
namespace pd {
constexpr size_t kVolumeDescriptorSequenceNumber = 16;
constexpr size_t kPartitionFlags = 20;
constexpr size_t kPartitionNumber = 22;
constexpr size_t kPartitionContents = 24;
constexpr size_t kAccessType = 184;
constexpr size_t kPartitionStartingLocation = 188;
constexpr size_t kPartitionLength = 192;
constexpr size_t kImplementationIdentifier = 196;
constexpr uint16_t kCrcLength = 496;
constexpr uint16_t kFlagAllocated = 1;
constexpr uint32_t kAccessReadOnly = 1;
constexpr uint8_t kContentsFlagsDvdVideo = 2;
}  // namespace pd

// Logical Volume Descriptor (ECMA-167 3/10.6) and its partition maps (3/10.7,
// OSTA UDF 2.2.10).
namespace lvd {
constexpr size_t kVolumeDescriptorSequenceNumber = 16;
constexpr size_t kDescriptorCharacterSet = 20;
constexpr size_t kLogicalVolumeIdentifier = 84;
constexpr size_t kLogicalBlockSize = 212;
constexpr size_t kDomainIdentifier = 216;
constexpr size_t kLogicalVolumeContentsUse = 248;
constexpr size_t kMapTableLength = 264;
constexpr size_t kNumberOfPartitionMaps = 268;
constexpr size_t kImplementationIdentifier = 272;
constexpr size_t kIntegritySequenceExtent = 432;
constexpr size_t kPartitionMaps = 440;
constexpr uint16_t kFixedCrcLength = 424;  // 440 bytes before the maps, less the tag
}  // namespace lvd

// Type 1 partition map (ECMA-167 3/10.7.2).
namespace type1_map {
constexpr size_t kPartitionMapType = 0;
constexpr size_t kPartitionMapLength = 1;
constexpr size_t kVolumeSequenceNumber = 2;
constexpr size_t kPartitionNumber = 4;
constexpr uint8_t kSize = 6;
}  // namespace type1_map

// Metadata Partition Map (OSTA UDF 2.50 2.2.10).
namespace metadata_map {
constexpr size_t kPartitionMapType = 0;
constexpr size_t kPartitionMapLength = 1;
constexpr size_t kPartitionTypeIdentifier = 4;
constexpr size_t kVolumeSequenceNumber = 36;
constexpr size_t kPartitionNumber = 38;
constexpr size_t kMetadataFileLocation = 40;
constexpr size_t kMetadataMirrorFileLocation = 44;
constexpr size_t kMetadataBitmapFileLocation = 48;
constexpr size_t kAllocationUnitSize = 52;
constexpr size_t kAlignmentUnitSize = 56;
constexpr size_t kFlags = 58;
constexpr uint8_t kSize = 64;
constexpr uint32_t kNoBitmapFile = 0xFFFFFFFF;
constexpr uint8_t kFlagDuplicateMetadata = 1;
}  // namespace metadata_map

// Unallocated Space Descriptor (ECMA-167 3/10.8).
namespace usd {
constexpr size_t kVolumeDescriptorSequenceNumber = 16;
constexpr size_t kNumberOfAllocationDescriptors = 20;
constexpr uint16_t kCrcLength = 8;
}  // namespace usd

// Anchor Volume Descriptor Pointer (ECMA-167 3/10.2).
namespace avdp {
constexpr size_t kMainVolumeDescriptorSequenceExtent = 16;
constexpr size_t kReserveVolumeDescriptorSequenceExtent = 24;
constexpr uint16_t kCrcLength = 496;
}  // namespace avdp

constexpr uint16_t kTerminatingDescriptorCrcLength = 496;

// Volume Descriptor Sequence Numbers of the six descriptors, in sequence order.
enum : uint32_t {
  kSeqPrimary = 0,
  kSeqImplementationUse,
  kSeqPartition,
  kSeqLogicalVolume,
  kSeqUnallocatedSpace
};

}  // namespace

void BuildVolumeStructureDescriptor(uint8_t* sector, const char* standardIdentifier) {
  sector[vsd::kStructureType] = 0;
  std::memcpy(sector + vsd::kStandardIdentifier, standardIdentifier, vsd::kStandardIdentifierSize);
  sector[vsd::kStructureVersion] = 1;
}

void BuildPrimaryVolumeDescriptor(const ImageEmitter& emitter, uint8_t* s, uint32_t location) {
  PutLe32(s + pvd::kVolumeDescriptorSequenceNumber, kSeqPrimary);
  PutLe32(s + pvd::kPrimaryVolumeDescriptorNumber, 0);
  FitDString(emitter.settings, s + pvd::kVolumeIdentifier, pvd::kVolumeIdentifierSize);
  PutLe16(s + pvd::kVolumeSequenceNumber, 1);
  PutLe16(s + pvd::kMaximumVolumeSequenceNumber, 1);
  PutLe16(s + pvd::kInterchangeLevel, 2);
  PutLe16(s + pvd::kMaximumInterchangeLevel, 2);
  PutLe32(s + pvd::kCharacterSetList, 1);
  PutLe32(s + pvd::kMaximumCharacterSetList, 1);
  UdfVolumeSetIdentifier(emitter.settings, emitter.plan.volumeSectors,
                         s + pvd::kVolumeSetIdentifier);
  PutOstaCharspec(s + pvd::kDescriptorCharacterSet);
  PutOstaCharspec(s + pvd::kExplanatoryCharacterSet);
  PutApplicationRegid(s + pvd::kApplicationIdentifier, emitter.settings);
  std::memcpy(s + pvd::kRecordingDateAndTime, emitter.settings.buildTimeStamp,
              sizeof emitter.settings.buildTimeStamp);
  PutImplementationRegid(s + pvd::kImplementationIdentifier, emitter.settings);
  PutDescriptorTag(s, kTagPrimaryVolumeDescriptor, pvd::kCrcLength, location,
                   emitter.settings.udfRevision);
}

void BuildImplementationUseVolumeDescriptor(const ImageEmitter& emitter, uint8_t* s,
                                            uint32_t location) {
  PutLe32(s + iuvd::kVolumeDescriptorSequenceNumber, kSeqImplementationUse);
  PutUdfRegid(s + iuvd::kImplementationIdentifier, "*UDF LV Info", emitter.settings.udfRevision);
  PutOstaCharspec(s + iuvd::kLviCharset);
  std::memcpy(s + iuvd::kLogicalVolumeIdentifier, emitter.settings.volumeLabel,
              sizeof emitter.settings.volumeLabel);
  PutImplementationRegid(s + iuvd::kImplementationId, emitter.settings);
  PutDescriptorTag(s, kTagImplementationUseVolumeDescriptor, iuvd::kCrcLength, location,
                   emitter.settings.udfRevision);
}

void BuildPartitionDescriptor(const ImageEmitter& emitter, uint8_t* s, uint32_t location) {
  PutLe32(s + pd::kVolumeDescriptorSequenceNumber, kSeqPartition);
  PutLe16(s + pd::kPartitionFlags, pd::kFlagAllocated);
  PutLe16(s + pd::kPartitionNumber, 0);
  PutRegid(s + pd::kPartitionContents, emitter.settings.IsUdf250() ? "+NSR03" : "+NSR02");
  s[pd::kPartitionContents + regid::kFlags] =
      emitter.tree.dvdVideoMode ? pd::kContentsFlagsDvdVideo : 0;
  PutLe32(s + pd::kAccessType, pd::kAccessReadOnly);
  PutLe32(s + pd::kPartitionStartingLocation, uint32_t(emitter.plan.dataBase));
  PutLe32(s + pd::kPartitionLength, uint32_t(emitter.plan.partitionLength));
  PutImplementationRegid(s + pd::kImplementationIdentifier, emitter.settings);
  PutDescriptorTag(s, kTagPartitionDescriptor, pd::kCrcLength, location,
                   emitter.settings.udfRevision);
}

void BuildLogicalVolumeDescriptor(const ImageEmitter& emitter, uint8_t* s, uint32_t location) {
  const bool udf250 = emitter.settings.IsUdf250();
  PutLe32(s + lvd::kVolumeDescriptorSequenceNumber, kSeqLogicalVolume);
  PutOstaCharspec(s + lvd::kDescriptorCharacterSet);
  std::memcpy(s + lvd::kLogicalVolumeIdentifier, emitter.settings.volumeLabel,
              sizeof emitter.settings.volumeLabel);
  PutLe32(s + lvd::kLogicalBlockSize, kSectorSize);
  PutUdfRegid(s + lvd::kDomainIdentifier, "*OSTA UDF Compliant", emitter.settings.udfRevision,
              kDomainFlagsWriteProtected);
  PutLongAd(s + lvd::kLogicalVolumeContentsUse, kFileSetExtentBytes, 0,
            FileSystemPartition(emitter.settings));
  const uint32_t mapTableLength = type1_map::kSize + (udf250 ? metadata_map::kSize : 0);
  PutLe32(s + lvd::kMapTableLength, mapTableLength);
  PutLe32(s + lvd::kNumberOfPartitionMaps, udf250 ? 2 : 1);
  PutImplementationRegid(s + lvd::kImplementationIdentifier, emitter.settings);
  PutExtentAd(s + lvd::kIntegritySequenceExtent, kIntegrityExtentBytes, kIntegritySequenceSector);

  uint8_t* map1 = s + lvd::kPartitionMaps;
  map1[type1_map::kPartitionMapType] = 1;
  map1[type1_map::kPartitionMapLength] = type1_map::kSize;
  PutLe16(map1 + type1_map::kVolumeSequenceNumber, 1);
  PutLe16(map1 + type1_map::kPartitionNumber, 0);
  if (udf250) {
    uint8_t* map2 = map1 + type1_map::kSize;
    map2[metadata_map::kPartitionMapType] = 2;
    map2[metadata_map::kPartitionMapLength] = metadata_map::kSize;
    PutUdfRegid(map2 + metadata_map::kPartitionTypeIdentifier, "*UDF Metadata Partition",
                emitter.settings.udfRevision);
    PutLe16(map2 + metadata_map::kVolumeSequenceNumber, 1);
    PutLe16(map2 + metadata_map::kPartitionNumber, 0);
    PutLe32(map2 + metadata_map::kMetadataFileLocation, 0);
    PutLe32(map2 + metadata_map::kMetadataMirrorFileLocation,
            uint32_t(emitter.plan.mirrorEntrySector - emitter.plan.dataBase));
    PutLe32(map2 + metadata_map::kMetadataBitmapFileLocation, metadata_map::kNoBitmapFile);
    PutLe32(map2 + metadata_map::kAllocationUnitSize, kMetadataAlignment);
    PutLe16(map2 + metadata_map::kAlignmentUnitSize, kMetadataAlignment);
    map2[metadata_map::kFlags] = metadata_map::kFlagDuplicateMetadata;
  }
  PutDescriptorTag(s, kTagLogicalVolumeDescriptor, uint16_t(lvd::kFixedCrcLength + mapTableLength),
                   location, emitter.settings.udfRevision);
}

void BuildUnallocatedSpaceDescriptor(const ImageEmitter& emitter, uint8_t* s, uint32_t location) {
  PutLe32(s + usd::kVolumeDescriptorSequenceNumber, kSeqUnallocatedSpace);
  PutLe32(s + usd::kNumberOfAllocationDescriptors, 0);
  PutDescriptorTag(s, kTagUnallocatedSpaceDescriptor, usd::kCrcLength, location,
                   emitter.settings.udfRevision);
}

void BuildTerminatingDescriptor(const ImageEmitter& emitter, uint8_t* s, uint32_t location) {
  PutDescriptorTag(s, kTagTerminatingDescriptor, kTerminatingDescriptorCrcLength, location,
                   emitter.settings.udfRevision);
}

void BuildAnchorVolumeDescriptorPointer(const ImageEmitter& emitter, uint8_t* s,
                                        uint32_t location) {
  const uint32_t reserve = emitter.settings.IsUdf250()
                               ? uint32_t(emitter.plan.mirrorStart) + emitter.plan.metadataBlocks
                               : kReserveVdsSector;
  PutExtentAd(s + avdp::kMainVolumeDescriptorSequenceExtent, kVdsExtentBytes, kMainVdsSector);
  PutExtentAd(s + avdp::kReserveVolumeDescriptorSequenceExtent, kVdsExtentBytes, reserve);
  PutDescriptorTag(s, kTagAnchorVolumeDescriptorPointer, avdp::kCrcLength, location,
                   emitter.settings.udfRevision);
}

bool EmitVolumeRecognitionSequence(ImageEmitter& emitter) {
  if (!emitter.settings.WritesUdf()) return true;
  const char* identifiers[] = {"BEA01", emitter.settings.IsUdf250() ? "NSR03" : "NSR02", "TEA01"};
  for (const char* id : identifiers)
    if (!EmitFilledSectors(emitter, 1, [&](uint8_t* s) { BuildVolumeStructureDescriptor(s, id); }))
      return false;
  return true;
}

bool EmitVolumeDescriptorSequence(ImageEmitter& emitter, uint32_t first) {
  using Build = void (*)(const ImageEmitter&, uint8_t*, uint32_t);
  const Build sequence[] = {BuildPrimaryVolumeDescriptor,    BuildImplementationUseVolumeDescriptor,
                            BuildPartitionDescriptor,        BuildLogicalVolumeDescriptor,
                            BuildUnallocatedSpaceDescriptor, BuildTerminatingDescriptor};
  static_assert(sizeof sequence / sizeof sequence[0] == kVdsSectors);
  for (uint32_t i = 0; i < kVdsSectors; ++i)
    if (!EmitDescriptor(emitter, sequence[i], first + i)) return false;
  return true;
}

}  // namespace vellumcast
