// Partition blocks to image sectors, File Entries and their allocation descriptors.
#include <algorithm>

#include "reader/udf_volume.h"

namespace vellumcast {
namespace {

using enum ReadProblemKind;

// ECMA-167 4/14.14: the sizes of a short_ad and of a long_ad.
constexpr size_t kShortAdBytes = 8;
constexpr size_t kLongAdBytes = 16;

uint64_t BlocksFor(uint64_t bytes) { return (bytes + kImageSectorSize - 1) / kImageSectorSize; }

}  // namespace

void UdfVolume::Problem(ReadProblem problem) const {
  problem.text = "udf: " + problem.text;
  report->Add(std::move(problem));
}

void UdfVolume::Problem(ReadProblemKind kind, const char* structure, uint64_t sector,
                        const std::string& what) const {
  Problem(ReadProblem{kind, structure, sector, {}, what});
}

uint64_t UdfVolume::SectorOf(uint16_t ref, uint32_t block) const {
  std::vector<ImageExtent> runs;
  ReadProblem ignored;
  return Resolve(ref, block, 1, runs, ignored) && !runs.empty() ? runs[0].sector : kNoSector;
}

bool UdfVolume::Resolve(uint16_t ref, uint32_t block, uint64_t bytes, std::vector<ImageExtent>& out,
                        ReadProblem& why) const {
  if (ref >= maps.size()) {
    why = Fault(kDamaged, "partition reference " + std::to_string(ref) + " names no partition map");
    return false;
  }
  const UdfMapView& map = maps[ref];
  if (!map.metadata) {
    if (uint64_t(block) + BlocksFor(bytes) > map.length) {
      why = Fault(kDamaged, "block " + std::to_string(block) + " passes the end of partition " +
                                std::to_string(ref));
      return false;
    }
    const uint64_t sector = uint64_t(map.start) + block;
    if (sector + BlocksFor(bytes) > image->Sectors()) {
      why = Fault(kUnreadable, "block " + std::to_string(block) + " passes the end of the image",
                  sector);
      return false;
    }
    out.push_back(ImageExtent{sector, bytes, false});
    return true;
  }
  // OSTA UDF 2.2.13: block b of the metadata partition is byte b × 2048 of the
  // metadata file.
  uint64_t offset = uint64_t(block) * kImageSectorSize;
  if (offset + bytes > map.metadataBytes) {
    why =
        Fault(kDamaged, "block " + std::to_string(block) + " passes the end of the metadata file");
    return false;
  }
  // The run holding `offset`, found by its start rather than by walking every run.
  const size_t first =
      size_t(std::upper_bound(map.metadataStarts.begin(), map.metadataStarts.end(), offset) -
             map.metadataStarts.begin());
  for (size_t r = first == 0 ? 0 : first - 1; r < map.metadataRuns.size(); ++r) {
    const ImageExtent& run = map.metadataRuns[r];
    const uint64_t start = map.metadataStarts[r];
    if (bytes == 0) break;
    if (offset < start + run.bytes) {
      const uint64_t within = offset - start, take = std::min(bytes, run.bytes - within);
      if (run.zero || within % kImageSectorSize != 0) {
        why = Fault(kDamaged, "block " + std::to_string(block) +
                                  " lies in an unrecorded part of the metadata file");
        return false;
      }
      out.push_back(ImageExtent{run.sector + within / kImageSectorSize, take, false});
      offset += take;
      bytes -= take;
    }
  }
  return true;
}

bool UdfVolume::Mark(std::vector<std::vector<bool>>& marks, uint16_t ref, uint32_t block) const {
  if (ref >= maps.size()) return true;
  const UdfMapView& map = maps[ref];
  const uint64_t blocks = map.metadata ? map.metadataBytes / kImageSectorSize
                                       : std::min<uint64_t>(map.length, image->Sectors());
  if (block >= blocks) return true;
  if (marks.size() <= ref) marks.resize(size_t(ref) + 1);
  std::vector<bool>& bits = marks[ref];
  if (bits.size() <= block)
    bits.resize(size_t(std::min<uint64_t>(blocks, std::max<uint64_t>(block + 1, 2 * bits.size()))));
  if (bits[block]) return false;
  bits[block] = true;
  return true;
}

bool UdfVolume::ReadBlock(uint16_t ref, uint32_t block, uint8_t* out, ReadProblem& why) const {
  std::vector<ImageExtent> runs;
  if (!Resolve(ref, block, kImageSectorSize, runs, why)) return false;
  for (const ImageExtent& run : runs) {
    if (!image->ReadBytes(run.sector * kImageSectorSize, out, size_t(run.bytes))) {
      why = Fault(kUnreadable, "cannot be read: " + image->error, image->failedSector);
      return false;
    }
    out += run.bytes;
  }
  return true;
}

bool UdfVolume::ReadEntry(const UdfAllocation& icb, std::vector<uint8_t>& block,
                          UdfFileEntry& entry, ReadProblem& why) const {
  block.assign(kImageSectorSize, 0);
  if (!ReadBlock(icb.partition, icb.block, block.data(), why)) return false;
  const ByteSpan span(block.data(), block.size());
  const uint16_t id = PeekUdfTagId(span);
  UdfTag tag;
  const char* reason = nullptr;
  if (!DecodeUdfTag(span, id == kUdfExtendedFileEntry ? kUdfExtendedFileEntry : kUdfFileEntry,
                    icb.block, tag, reason) ||
      !DecodeUdfFileEntry(span, entry, reason)) {
    why = Fault(kDamaged, reason, SectorOf(icb.partition, icb.block));
    return false;
  }
  return true;
}

bool UdfVolume::Allocations(const UdfFileEntry& entry, uint16_t ref,
                            std::vector<UdfAllocation>& out, ReadProblem& why) const {
  if (entry.adType != kUdfShortAds && entry.adType != kUdfLongAds) {
    why = Fault(kUnsupported,
                "allocation descriptor type " + std::to_string(entry.adType) + " not supported");
    return false;
  }
  const size_t adBytes = entry.adType == kUdfShortAds ? kShortAdBytes : kLongAdBytes;
  ByteSpan ads = entry.ads;
  std::vector<uint8_t> block;
  uint16_t adsPartition = ref;  // short_ads count in the partition of the block holding them
  for (uint32_t links = 0;; ++links) {
    bool continued = false;
    for (size_t pos = 0; pos + adBytes <= ads.size; pos += adBytes) {
      const UdfAllocation ad =
          entry.adType == kUdfShortAds ? DecodeShortAd(ads, pos, adsPartition)
                                       : DecodeLongAd(ads, pos);
      if (ad.bytes == 0) break;  // 4/12.1: a descriptor of length 0 ends the list
      if (ad.type != kUdfExtentContinuation) {
        if (out.size() >= limits.extents) {
          why = Fault(kLimitReached, "more than " + std::to_string(limits.extents) + " extents");
          return false;
        }
        out.push_back(ad);
        continue;
      }
      // 4/14.5: the list goes on in an Allocation Extent Descriptor.
      if (links + 1 >= limits.chain) {
        why = Fault(kLimitReached,
                    "allocation extent chain longer than " + std::to_string(limits.chain));
        return false;
      }
      const std::string aed = "allocation extent descriptor at block " + std::to_string(ad.block);
      if (!Mark(extentBlocks, ad.partition, ad.block)) {
        why = Fault(kDamaged, aed + ": the chain loops back or runs into another entry's",
                    SectorOf(ad.partition, ad.block));
        why.structure = "allocation extent descriptor";
        return false;
      }
      block.assign(kImageSectorSize, 0);
      if (!ReadBlock(ad.partition, ad.block, block.data(), why)) return false;
      ++extentBlocksRead;
      const ByteSpan span(block.data(), block.size());
      UdfTag tag;
      const char* reason = nullptr;
      if (!DecodeUdfTag(span, kUdfAllocationExtent, ad.block, tag, reason) ||
          !DecodeUdfAllocationExtent(span, ads, reason)) {
        why = Fault(kDamaged, aed + ": " + reason, SectorOf(ad.partition, ad.block));
        why.structure = "allocation extent descriptor";
        return false;
      }
      adsPartition = ad.partition;
      continued = true;
      break;
    }
    if (!continued) return true;
  }
}

bool UdfVolume::EntryExtents(const UdfFileEntry& entry, uint16_t ref, uint64_t size,
                             std::vector<ImageExtent>& out, ReadProblem& why) const {
  std::vector<UdfAllocation> allocations;
  return Allocations(entry, ref, allocations, why) &&
         AllocationExtents(allocations, size, out, why);
}

bool UdfVolume::AllocationExtents(const std::vector<UdfAllocation>& allocations, uint64_t size,
                                  std::vector<ImageExtent>& out, ReadProblem& why) const {
  uint64_t left = size;
  for (const UdfAllocation& a : allocations) {
    if (left == 0) break;
    const uint64_t take = std::min<uint64_t>(a.bytes, left);
    if (a.type == kUdfExtentRecorded) {
      if (!Resolve(a.partition, a.block, take, out, why)) return false;
    } else {
      out.push_back(ImageExtent{0, take, true});
    }
    left -= take;
  }
  if (left != 0) {
    why = Fault(kDamaged, "allocation descriptors cover " + std::to_string(size - left) + " of " +
                              std::to_string(size) + " bytes");
    return false;
  }
  return true;
}

}  // namespace vellumcast
