// Puts the sub-structures shared by the UDF descriptors: regid, charspec, extent_ad,
// short_ad, long_ad (ECMA-167 1/7, 3/7.1, 4/14.14) and the ICB tag (ECMA-167 4/14.6).
#include "writer/udf_fields.h"

#include <cstring>

#include "base/image_settings.h"
#include "writer/byte_order.h"

namespace vellumcast {
namespace {

constexpr char kOstaCompressedUnicode[] = "OSTA Compressed Unicode";

void PutIdentifierBytes(uint8_t* p, const char* identifier) {
  size_t n = identifier ? std::strlen(identifier) : 0;
  if (n > regid::kIdentifierSize) n = regid::kIdentifierSize;
  std::memset(p + regid::kIdentifier, 0, regid::kIdentifierSize);
  std::memcpy(p + regid::kIdentifier, identifier, n);
}

}  // namespace

uint16_t FileSystemPartition(const ImageSettings& settings) {
  return settings.IsUdf250() ? kMetadataPartitionReference : kPhysicalPartition;
}

void PutRegid(uint8_t* p, const char* identifier) {
  std::memset(p, 0, regid::kSize);
  PutIdentifierBytes(p, identifier);
}

void PutUdfRegid(uint8_t* p, const char* identifier, uint16_t udfRevision, uint8_t domainFlags) {
  PutRegid(p, identifier);
  PutLe16(p + regid::kSuffixUdfRevision, udfRevision);
  p[regid::kSuffixDomainFlags] = domainFlags;
}

void PutImplementationRegid(uint8_t* p, const ImageSettings& settings) {
  std::memset(p, 0, regid::kSize);
  std::memcpy(p + regid::kIdentifier, settings.implementationId, regid::kIdentifierSize);
}

void PutApplicationRegid(uint8_t* p, const ImageSettings& settings) {
  std::memset(p, 0, regid::kSize);
  std::memcpy(p + regid::kIdentifier, settings.applicationId, regid::kIdentifierSize);
}

void PutOstaCharspec(uint8_t* p) {
  std::memset(p, 0, charspec::kSize);
  p[charspec::kCharacterSetType] = 0;
  std::memcpy(p + charspec::kCharacterSetInfo, kOstaCompressedUnicode,
              sizeof kOstaCompressedUnicode - 1);
}

void PutExtentAd(uint8_t* p, uint32_t length, uint32_t location) {
  PutLe32(p + extent_ad::kLength, length);
  PutLe32(p + extent_ad::kLocation, location);
}

void PutShortAd(uint8_t* p, uint32_t length, uint32_t position) {
  PutLe32(p + short_ad::kExtentLength, length);
  PutLe32(p + short_ad::kExtentPosition, position);
}

void PutLongAd(uint8_t* p, uint32_t length, uint32_t block, uint16_t partition) {
  std::memset(p, 0, long_ad::kSize);
  PutLe32(p + long_ad::kExtentLength, length);
  PutLe32(p + long_ad::kLogicalBlockNumber, block);
  PutLe16(p + long_ad::kPartitionReferenceNumber, partition);
}

void PutIcbTag(uint8_t* p, uint8_t fileType, uint16_t flags) {
  std::memset(p, 0, icbtag::kSize);
  PutLe32(p + icbtag::kPriorRecordedNumberOfDirectEntries, 0);
  PutLe16(p + icbtag::kStrategyType, kStrategyType4);
  PutLe16(p + icbtag::kStrategyParameter, 0);
  PutLe16(p + icbtag::kMaximumNumberOfEntries, 1);
  p[icbtag::kFileType] = fileType;
  PutLe16(p + icbtag::kFlags, flags);
}

}  // namespace vellumcast
