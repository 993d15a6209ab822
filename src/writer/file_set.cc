// Builds the File Set Descriptor (ECMA-167 4/14.1, OSTA UDF 2.3.2).
#include "writer/file_set.h"

#include <cstring>

#include "base/disc_constants.h"
#include "layout/volume_label.h"
#include "writer/byte_order.h"
#include "writer/descriptor_tag.h"
#include "writer/image_writer.h"
#include "writer/udf_fields.h"

namespace vellumcast {
namespace {

namespace fsd {
constexpr size_t kRecordingDateAndTime = 16;
constexpr size_t kInterchangeLevel = 28;
constexpr size_t kMaximumInterchangeLevel = 30;
constexpr size_t kCharacterSetList = 32;
constexpr size_t kMaximumCharacterSetList = 36;
constexpr size_t kFileSetNumber = 40;
constexpr size_t kFileSetDescriptorNumber = 44;
constexpr size_t kLogicalVolumeIdentifierCharacterSet = 48;
constexpr size_t kLogicalVolumeIdentifier = 112;
constexpr size_t kFileSetCharacterSet = 240;
constexpr size_t kFileSetIdentifier = 304;
constexpr size_t kFileSetIdentifierSize = 32;
constexpr size_t kRootDirectoryIcb = 400;
constexpr size_t kDomainIdentifier = 416;
constexpr uint16_t kCrcLength = 496;
}  // namespace fsd

constexpr uint32_t kFileSetDescriptorBlock = 0;

}  // namespace

void BuildFileSetDescriptor(const ImageEmitter& emitter, uint8_t* s) {
  std::memcpy(s + fsd::kRecordingDateAndTime, emitter.settings.buildTimeStamp,
              sizeof emitter.settings.buildTimeStamp);
  PutLe16(s + fsd::kInterchangeLevel, 3);
  PutLe16(s + fsd::kMaximumInterchangeLevel, 3);
  PutLe32(s + fsd::kCharacterSetList, 1);
  PutLe32(s + fsd::kMaximumCharacterSetList, 1);
  PutLe32(s + fsd::kFileSetNumber, 0);
  PutLe32(s + fsd::kFileSetDescriptorNumber, 0);
  PutOstaCharspec(s + fsd::kLogicalVolumeIdentifierCharacterSet);
  std::memcpy(s + fsd::kLogicalVolumeIdentifier, emitter.settings.volumeLabel,
              sizeof emitter.settings.volumeLabel);
  PutOstaCharspec(s + fsd::kFileSetCharacterSet);
  FitDString(emitter.settings, s + fsd::kFileSetIdentifier, fsd::kFileSetIdentifierSize);
  PutLongAd(s + fsd::kRootDirectoryIcb, kSectorSize, kRootFileEntryBlock,
            FileSystemPartition(emitter.settings));
  PutUdfRegid(s + fsd::kDomainIdentifier, "*OSTA UDF Compliant", emitter.settings.udfRevision,
              kDomainFlagsWriteProtected);
  PutDescriptorTag(s, kTagFileSetDescriptor, fsd::kCrcLength, kFileSetDescriptorBlock,
                   emitter.settings.udfRevision);
}

}  // namespace vellumcast
