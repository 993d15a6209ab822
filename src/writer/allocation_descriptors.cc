// Puts the allocation descriptors of UDF file entries (ECMA-167 4/14.14.1 short_ad,
// 4/14.14.2 long_ad) and their continuation in Allocation Extent Descriptors
// (ECMA-167 4/14.5, OSTA UDF 2.3.11).
#include "writer/allocation_descriptors.h"

#include <algorithm>

#include "base/disc_constants.h"
#include "bluray/stereo_clip_pair.h"
#include "layout/entry_extents.h"
#include "layout/layout_rules.h"
#include "tree/tree_node.h"
#include "writer/byte_order.h"
#include "writer/descriptor_tag.h"
#include "writer/file_entry_fields.h"
#include "writer/image_writer.h"
#include "writer/udf_fields.h"

namespace vellumcast {
namespace {

void PutDataExtent(uint8_t* p, const DataExtent& e) {
  PutLongAd(p, e.length, e.block, kPhysicalPartition);
}

}  // namespace

std::vector<DataExtent> FileDataExtents(const ImageEmitter& emitter, const TreeNode& file) {
  std::vector<DataExtent> extents;
  const uint32_t start = FileDataBlock(emitter.plan, file);
  if (file.stereoPair && (file.kind == StereoBase || file.kind == StereoDependent)) {
    uint64_t recorded = 0;
    for (const StereoClipPair::RunPiece& piece : file.stereoPair->InterleavedRun()) {
      if (piece.dependentView != (file.kind == StereoDependent)) continue;
      extents.push_back(DataExtent{start + piece.offset, piece.sectors * kSectorSize});
      recorded += piece.sectors * kSectorSize;
    }
    // Whole sectors up to the last one, which holds the clip's last bytes: the extents
    // add up to the Information Length (ECMA-167 4/12.1, only the last extent of a file
    // may end inside a block).
    if (!extents.empty() && recorded > file.size && recorded - file.size < extents.back().length) {
      extents.back().length -= uint32_t(recorded - file.size);
    }
  } else {
    extents.reserve(size_t(UdfExtentCount(file.size)));
    uint64_t remaining = file.size;
    uint32_t block = start;
    while (remaining > 0) {
      const uint32_t length = uint32_t(std::min<uint64_t>(remaining, kMaxExtentBytes));
      extents.push_back(DataExtent{block, length});
      block += uint32_t(SectorsFor(length));
      remaining -= length;
    }
  }
  if (extents.empty()) extents.push_back(DataExtent{0, 0});
  return extents;
}

uint32_t PutLongAdChain(const ImageEmitter& emitter, uint8_t* entry, uint8_t* ads,
                        uint32_t entryBlock, const std::vector<DataExtent>& extents) {
  const size_t count = extents.size();
  if (count <= kLongAdsInExtendedFileEntry) {
    for (size_t i = 0; i < count; ++i) PutDataExtent(ads + i * long_ad::kSize, extents[i]);
    return uint32_t(count * long_ad::kSize);
  }
  // The entry: 113 extents and a continuation to the next block.
  const uint32_t continuationLength = kExtentTypeNextAllocationExtent | kSectorSize;
  size_t next = kLongAdsInExtendedFileEntry - 1;
  for (size_t i = 0; i < next; ++i) PutDataExtent(ads + i * long_ad::kSize, extents[i]);
  PutLongAd(ads + next * long_ad::kSize, continuationLength, entryBlock + 1,
            kMetadataPartitionReference);
  const uint32_t entryAdLength = kLongAdsInExtendedFileEntry * long_ad::kSize;

  // Then one Allocation Extent Descriptor per block, in the blocks after the entry.
  for (uint32_t k = 1; next < count; ++k) {
    uint8_t* block = entry + size_t(k) * kSectorSize;
    uint8_t* blockAds = block + aed::kAllocationDescriptors;
    const size_t remaining = count - next;
    const bool last = remaining <= kLongAdsInAllocationExtent;
    const size_t here = last ? remaining : kLongAdsInAllocationExtent - 1;
    for (size_t i = 0; i < here; ++i)
      PutDataExtent(blockAds + i * long_ad::kSize, extents[next + i]);
    next += here;
    uint32_t adLength = uint32_t(here * long_ad::kSize);
    if (!last) {
      PutLongAd(blockAds + here * long_ad::kSize, continuationLength, entryBlock + k + 1,
                kMetadataPartitionReference);
      adLength += long_ad::kSize;
    }
    PutLe32(block + aed::kPreviousAllocationExtentLocation, 0);
    PutLe32(block + aed::kLengthOfAllocationDescriptors, adLength);
    PutDescriptorTag(block, kTagAllocationExtentDescriptor,
                     uint16_t(aed::kFixedCrcLength + adLength), entryBlock + k,
                     emitter.settings.udfRevision);
  }
  return entryAdLength;
}

}  // namespace vellumcast
