// Record and block counts of one entry's data, shared by the layout plan and the ISO 9660
// and UDF writers (ECMA-119 9.1 multi-extent files, ECMA-167 4/14.9 and 4/14.5).
#include "layout/entry_extents.h"

#include "build/image_builder.h"
#include "layout/disc_constants.h"
#include "tree/tree_node.h"

namespace vellumcast {

uint32_t IsoExtentCount(uint64_t size) {
  if (size < kIsoMultiExtentThreshold) return 1;
  return static_cast<uint32_t>((size + kIsoMaxExtentBytes - 1) / kIsoMaxExtentBytes);
}

uint64_t UdfExtentCount(uint64_t size) { return (size + kMaxExtentBytes - 1) / kMaxExtentBytes; }

uint32_t ExtendedFileEntrySectors(uint64_t extents) {
  if (extents <= kLongAdsInExtendedFileEntry) return 1;
  uint64_t remaining = extents - (kLongAdsInExtendedFileEntry - 1);
  // Every Allocation Extent Descriptor but the last holds 125 and a continuation; the
  // last holds up to 126.
  uint64_t descriptors = 1;
  if (remaining > kLongAdsInAllocationExtent) {
    uint64_t perLink = kLongAdsInAllocationExtent - 1;
    descriptors += (remaining - kLongAdsInAllocationExtent + perLink - 1) / perLink;
  }
  uint64_t sectors = 1 + descriptors;
  return sectors > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sectors);
}

uint32_t FileEntrySectors(const ImageBuilder& builder, const TreeNode& node) {
  if (node.stereoPair) return node.descriptorSectors ? node.descriptorSectors : 1;
  if (node.isDirectory) return 1;
  if (builder.IsUdf250()) return ExtendedFileEntrySectors(UdfExtentCount(node.size));
  // UDF 1.02: one block; PlanLayout refuses a file with more than 217 extents.
  return 1;
}

}  // namespace vellumcast
