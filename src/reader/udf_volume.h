// The volume layer of a UDF reader: the anchors (sector 256 and the last sector), the
// main and reserve Volume Descriptor Sequences, the partitions and their maps (type 1,
// and the metadata partition of UDF 2.50 through its metadata file, checked against
// the mirror), the integrity sequence, and the translation of a partition block into
// image sectors. Allocation descriptors of an entry, with their Allocation Extent
// Descriptor chain, are read here too, as both the metadata file and the tree need them.
//
// UdfVolume's operations are defined in three files: the volume structures (ReadUdfVolume,
// HasUdf) in udf_volume.cc, the metadata partition (SetUpMetadataMap) in udf_metadata.cc,
// the partition blocks and entry allocations (Resolve, ReadBlock, ReadEntry, Allocations,
// EntryExtents) in udf_allocations.cc.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/ecma167_descriptors.h"
#include "reader/image_source.h"
#include "reader/image_tree.h"

namespace vellumcast {

// One partition map as the reader resolves it.
struct UdfMapView {
  uint32_t start = 0;   // first image sector of the underlying partition
  uint32_t length = 0;  // its length in blocks
  bool metadata = false;
  std::vector<ImageExtent> metadataRuns;  // a metadata partition: its file's bytes in the image
  std::vector<uint64_t> metadataStarts;   // the file's byte at which each run begins
  uint64_t metadataBytes = 0;
};

struct UdfVolume {
  ImageSource* image = nullptr;
  ReadReport* report = nullptr;
  ReadLimits limits;
  UdfLogicalVolume logical;
  std::vector<UdfMapView> maps;  // by partition reference number
  bool haveIntegrity = false;
  UdfIntegrity integrity;
  uint32_t integritySector = 0;
  // Allocation Extent Descriptors read so far, and their blocks by partition reference:
  // each belongs to one entry, so a chain that loops back or runs into another entry's
  // is refused at its first repeated block.
  mutable uint64_t extentBlocksRead = 0;
  mutable std::vector<std::vector<bool>> extentBlocks;
  bool haveRecorded = false;  // the Primary Volume Descriptor's recording time and its zone
  int64_t recorded = 0;
  int32_t recordedZone = 0;

  // Adds `problem` to the report, its text after "udf: ".
  void Problem(ReadProblem problem) const;
  void Problem(ReadProblemKind kind, const char* structure, uint64_t sector,
               const std::string& what) const;
  // The image sector of block `block` of partition `ref`; kNoSector when it has none.
  uint64_t SectorOf(uint16_t ref, uint32_t block) const;
  // Each operation that can fail fills `why` with the problem's kind, its sector when
  // known and its text; the caller adds where it was met and reports it.
  //
  // Image runs of `bytes` bytes from `block` of partition reference `ref`; false with
  // `why` set when they pass the partition, the metadata file or the image.
  [[nodiscard]] bool Resolve(uint16_t ref, uint32_t block, uint64_t bytes,
                             std::vector<ImageExtent>& out, ReadProblem& why) const;
  // Marks block `block` of partition `ref` in `marks` (a bit per block, grown as needed
  // up to the blocks that can be read); false when it was marked before. A block that
  // cannot be read is not marked: reading it fails on its own.
  [[nodiscard]] bool Mark(std::vector<std::vector<bool>>& marks, uint16_t ref,
                          uint32_t block) const;
  // One block of partition `ref`; false with `why` set.
  [[nodiscard]] bool ReadBlock(uint16_t ref, uint32_t block, uint8_t* out, ReadProblem& why) const;
  // Reads the File Entry or Extended File Entry at `icb` into `block` (one block of
  // storage) and `entry`; false with `why` set (tag, lengths).
  [[nodiscard]] bool ReadEntry(const UdfAllocation& icb, std::vector<uint8_t>& block,
                               UdfFileEntry& entry, ReadProblem& why) const;
  // The allocations of `entry` (recorded in partition `ref`), its Allocation Extent
  // Descriptor chain followed; false with `why` set.
  [[nodiscard]] bool Allocations(const UdfFileEntry& entry, uint16_t ref,
                                 std::vector<UdfAllocation>& out, ReadProblem& why) const;
  // The image runs of `entry`'s first `size` bytes; false with `why` set when the
  // allocations do not cover them or pass their partition.
  [[nodiscard]] bool EntryExtents(const UdfFileEntry& entry, uint16_t ref, uint64_t size,
                                  std::vector<ImageExtent>& out, ReadProblem& why) const;
  // The image runs of the first `size` bytes of a file whose allocations are these.
  [[nodiscard]] bool AllocationExtents(const std::vector<UdfAllocation>& allocations, uint64_t size,
                                       std::vector<ImageExtent>& out, ReadProblem& why) const;
};

// True when two anchors point at the same main and reserve sequences.
inline bool SameUdfAnchor(const UdfAnchor& a, const UdfAnchor& b) {
  return a.main.location == b.main.location && a.main.length == b.main.length &&
         a.reserve.location == b.reserve.location && a.reserve.length == b.reserve.length;
}

// Sets up map `map` of `volume`, a metadata partition map, through its physical map
// `ref`: the metadata file and its mirror read and compared, the one that reads taken
// for the partition; false (the problems reported) when neither can be read.
[[nodiscard]] bool SetUpMetadataMap(ImageSource& image, UdfVolume& volume, size_t map,
                                    uint16_t ref);

// True when an Anchor Volume Descriptor Pointer sits at sector 256 or the last sector.
bool HasUdf(ImageSource& image);

// Reads the volume structures and fills `volume`; every problem goes to `report`. False
// when no usable logical volume remains.
[[nodiscard]] bool ReadUdfVolume(ImageSource& image, UdfVolume& volume, ReadReport& report,
                                 const ReadLimits& limits = {});

}  // namespace vellumcast
