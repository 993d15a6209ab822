// The metadata partition of UDF 2.50 (OSTA UDF 2.2.10, 2.2.13): its metadata file and
// the mirror, each read through the physical partition and compared with the other.
#include <algorithm>
#include <cstring>

#include "reader/udf_volume.h"

namespace vellumcast {
namespace {

using enum ReadProblemKind;

// Extents of the metadata file or its mirror at most (a writer records each in one or a
// few), so that comparing the two stays a pass over their bytes.
constexpr size_t kMaxMetadataRuns = 65536;

// Reads the metadata file (or its mirror) at `block` of the physical partition `ref`.
bool ReadMetadataFile(const UdfVolume& v, uint16_t ref, uint32_t block, uint8_t type,
                      std::vector<ImageExtent>& runs, uint64_t& bytes, ReadProblem& why) {
  std::vector<uint8_t> storage;
  UdfFileEntry entry;
  if (!v.ReadEntry(UdfAllocation{kImageSectorSize, 0, block, ref}, storage, entry, why))
    return false;
  const uint64_t sector = v.SectorOf(ref, block);
  if (entry.fileType != type) {
    why = Fault(kDamaged,
                "file type " + std::to_string(entry.fileType) + " where " + std::to_string(type) +
                    " belongs",
                sector);
    return false;
  }
  bytes = entry.informationLength;
  if (bytes > uint64_t(v.image->Sectors()) * kImageSectorSize) {
    why = Fault(kDamaged, "larger than the image", sector);
    return false;
  }
  if (!v.EntryExtents(entry, ref, bytes, runs, why)) return false;
  if (runs.size() > kMaxMetadataRuns) {
    why = Fault(kLimitReached, "in more than " + std::to_string(kMaxMetadataRuns) + " extents",
                sector);
    return false;
  }
  return true;
}

// OSTA UDF 2.2.13.1: the metadata file and its mirror hold the same bytes. Compared a
// megabyte at a time; true when they differ, with `at` the offset of the first
// difference (a read that fails counts as a difference at the start of its megabyte).
bool FindDifference(ImageSource& image, const std::vector<ImageExtent>& a,
                    const std::vector<ImageExtent>& b, uint64_t size, uint64_t& at) {
  constexpr size_t kStep = 1u << 20;
  const size_t step = size_t(std::min<uint64_t>(kStep, size));
  std::vector<uint8_t> x(step), y(step);
  ImageEntry ea, eb;
  ea.extents = a;
  eb.extents = b;
  ea.size = eb.size = size;
  for (at = 0; at < size; at += step) {
    const size_t n = size_t(std::min<uint64_t>(step, size - at));
    if (!ReadEntryBytes(image, ea, at, x.data(), n) || !ReadEntryBytes(image, eb, at, y.data(), n))
      return true;
    if (std::memcmp(x.data(), y.data(), n) != 0) {
      size_t i = 0;
      while (x[i] == y[i]) ++i;
      at += i;
      return true;
    }
  }
  return false;
}

}  // namespace

bool SetUpMetadataMap(ImageSource& image, UdfVolume& v, size_t i, uint16_t ref) {
  const UdfPartitionMap& m = v.logical.maps[i];
  std::vector<ImageExtent> main, mirror;
  uint64_t mainBytes = 0, mirrorBytes = 0;
  const std::string mainAt = "metadata file at block " + std::to_string(m.metadataFile);
  const std::string mirrorAt = "metadata mirror file at block " + std::to_string(m.mirrorFile);
  ReadProblem why;
  const bool mainOk =
      ReadMetadataFile(v, ref, m.metadataFile, kUdfTypeMetadata, main, mainBytes, why);
  if (!mainOk) v.Problem(ReadProblem(why).Within(mainAt));
  const bool mirrorOk =
      ReadMetadataFile(v, ref, m.mirrorFile, kUdfTypeMetadataMirror, mirror, mirrorBytes, why);
  if (!mirrorOk) v.Problem(ReadProblem(why).Within(mirrorAt));
  const uint64_t mirrorSector = v.SectorOf(ref, m.mirrorFile);
  if (mainOk && mirrorOk) {
    if (mainBytes != mirrorBytes) {
      v.Problem(kDamaged, "metadata mirror file", mirrorSector,
                mirrorAt + ": size differs from the metadata file");
    } else if (uint64_t at = 0; FindDifference(image, main, mirror, mainBytes, at)) {
      v.Problem(kDamaged, "metadata mirror file", mirrorSector,
                mirrorAt + ": differs from the metadata file at byte " + std::to_string(at));
    }
  }
  if (!mainOk && !mirrorOk) return false;
  UdfMapView& map = v.maps[i];
  map.metadata = true;
  map.metadataRuns = mainOk ? main : mirror;
  map.metadataBytes = mainOk ? mainBytes : mirrorBytes;
  uint64_t start = 0;
  for (const ImageExtent& run : map.metadataRuns) {
    map.metadataStarts.push_back(start);
    start += run.bytes;
  }
  return true;
}

}  // namespace vellumcast
