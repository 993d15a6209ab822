// UDF volume structures: anchors, volume descriptor sequences, partition maps, the
// metadata file and its mirror, the integrity sequence.
#include "reader/udf_volume.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "reader/ecma119_records.h"

namespace vellumcast {
namespace {

// ECMA-167 3/10.3: a Volume Descriptor Pointer's next extent.
constexpr size_t kPointerNext = 20;
// ECMA-167 3/8.4.2: the main and reserve sequences are at least 16 sectors each; one
// longer than this is refused as damaged.
constexpr uint32_t kMaxSequenceSectors = 4096;
// Extents of the metadata file or its mirror at most (a writer records each in one or a
// few), so that comparing the two stays a pass over their bytes.
constexpr size_t kMaxMetadataRuns = 65536;
// ECMA-167 3/10.1: the Primary Volume Descriptor's recording date and time.
constexpr size_t kPvdRecorded = 376;
constexpr char kOstaDomain[] = "*OSTA UDF Compliant";
constexpr char kMetadataPartition[] = "*UDF Metadata Partition";

std::string Sector(uint64_t s) { return "sector " + std::to_string(s); }

// The prevailing descriptors of one Volume Descriptor Sequence (3/8.4.3: of the same
// kind, the one of the highest sequence number).
struct Sequence {
  bool haveLogical = false;
  UdfLogicalVolume logical;
  std::vector<uint8_t> logicalBytes;  // the descriptor after its tag, for the reserve check
  std::map<uint16_t, UdfPartitionDescriptor> partitions;
  std::map<uint16_t, std::vector<uint8_t>> partitionBytes;
  uint32_t kinds = 0;         // bit n: a descriptor of tag identifier n was met
  bool haveRecorded = false;  // the Primary Volume Descriptor's recording time
  int64_t recorded = 0;
  int32_t recordedZone = 0;
};

// ECMA-167 3/8.4.2 and OSTA UDF 2.2: the descriptors a sequence must hold, which the
// Linux kernel also needs to mount the volume.
void CheckSequenceKinds(const Sequence& seq, const char* name, UdfVolume& v) {
  static constexpr std::pair<UdfTagId, const char*> kNeeded[] = {
      {kUdfPrimaryVolume, "primary volume"},
      {kUdfImplementationUse, "implementation use volume"},
      {kUdfPartition, "partition"},
      {kUdfLogicalVolume, "logical volume"},
      {kUdfUnallocatedSpace, "unallocated space"},
      {kUdfTerminating, "terminating"}};
  for (const auto& [id, what] : kNeeded) {
    if (!(seq.kinds & (1u << id)))
      v.Problem(std::string(name) + " volume descriptor sequence: no " + what + " descriptor");
  }
}

void ReadSequence(ImageSource& image, UdfExtent extent, const char* name, Sequence& out,
                  UdfVolume& v) {
  uint8_t sector[kImageSectorSize] = {};
  const ByteSpan span(sector, sizeof sector);
  std::vector<uint32_t> starts;  // of the extents followed, against a pointer looping back
  uint32_t read = 0;             // sectors read, of all the extents
  const std::string label = std::string(name) + " volume descriptor sequence: ";
  for (uint32_t links = 0; links < v.limits.chain; ++links) {
    if (std::find(starts.begin(), starts.end(), extent.location) != starts.end()) {
      v.Problem(label + "volume descriptor pointer loops back to " + Sector(extent.location));
      return;
    }
    starts.push_back(extent.location);
    const uint32_t count = extent.length / kImageSectorSize;
    bool next = false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t at = uint64_t(extent.location) + i;
      if (++read > kMaxSequenceSectors) {
        v.Problem(label + "longer than " + std::to_string(kMaxSequenceSectors) + " sectors");
        return;
      }
      if (!image.ReadSectors(at, 1, sector)) {
        v.Problem(std::string(name) + " volume descriptor sequence: " + Sector(at) +
                  " passes the end of the image");
        return;
      }
      const uint16_t id = PeekUdfTagId(span);
      if (id == 0) return;  // 3/8.4.2: the sequence ends at an unrecorded sector
      UdfTag tag;
      const char* why = nullptr;
      if (id > kUdfIntegrity || !DecodeUdfTag(span, id, uint32_t(at), tag, why)) {
        v.Problem(std::string(name) + " volume descriptor sequence: descriptor at " + Sector(at) +
                  ": " + (why ? why : "not a volume descriptor"));
        continue;
      }
      out.kinds |= 1u << id;
      if (id == kUdfTerminating) return;
      if (id == kUdfPrimaryVolume) {
        out.recorded = DecodeUdfTime(span, kPvdRecorded);
        out.haveRecorded = DecodeUdfTimeZone(span, kPvdRecorded, out.recordedZone);
      }
      if (id == kUdfVolumePointer) {
        extent = UdfExtent{span.U32Le(kPointerNext), span.U32Le(kPointerNext + 4)};
        next = true;
        break;
      }
      if (id == kUdfPartition) {
        UdfPartitionDescriptor pd;
        DecodeUdfPartition(span, pd);
        auto found = out.partitions.find(pd.number);
        if (found == out.partitions.end() || found->second.sequenceNumber <= pd.sequenceNumber) {
          out.partitions[pd.number] = pd;
          out.partitionBytes[pd.number].assign(sector + 16, sector + sizeof sector);
        }
      } else if (id == kUdfLogicalVolume) {
        UdfLogicalVolume lvd;
        if (!DecodeUdfLogicalVolume(span, lvd, why)) {
          v.Problem("logical volume descriptor at " + Sector(at) + ": " + why);
        } else if (!out.haveLogical || out.logical.sequenceNumber <= lvd.sequenceNumber) {
          out.haveLogical = true;
          out.logical = lvd;
          out.logicalBytes.assign(sector + 16, sector + sizeof sector);
        }
      }
    }
    if (!next) return;
  }
  v.Problem(std::string(name) + " volume descriptor sequence: more than " +
            std::to_string(v.limits.chain) + " pointers");
}

// ECMA-167 2/9.1: the Volume Recognition Sequence from sector 16: any ECMA-119
// descriptors, then an extended area (BEA01 ... TEA01) holding the NSR descriptor of
// the revision (NSR02 for UDF 1.02, NSR03 from UDF 2.00). Returns "NSR02", "NSR03" or
// "" when the sequence has none.
std::string RecognitionNsr(ImageSource& image) {
  uint8_t sector[kImageSectorSize] = {};
  bool extended = false;
  for (uint64_t at = kIsoFirstDescriptorSector;
       at < kIsoFirstDescriptorSector + kIsoMostVolumeDescriptors; ++at) {
    if (!image.ReadSectors(at, 1, sector)) return "";
    const std::string id(reinterpret_cast<const char*>(sector) + 1, 5);
    if (id == "BEA01") {
      extended = true;
    } else if (id == "TEA01") {
      extended = false;
    } else if ((id == "NSR02" || id == "NSR03") && extended) {
      return id;
    } else if (id != "CD001" && id != "CDW02" && id != "BOOT2") {
      return "";
    }
  }
  return "";
}

bool ReadAnchor(ImageSource& image, uint64_t at, UdfAnchor& anchor, std::string& why) {
  uint8_t sector[kImageSectorSize] = {};
  const char* reason = nullptr;
  if (!image.ReadSectors(at, 1, sector)) {
    why = "passes the end of the image";
    return false;
  }
  if (!DecodeUdfAnchor(ByteSpan(sector, sizeof sector), uint32_t(at), anchor, reason)) {
    why = reason;
    return false;
  }
  return true;
}

// Reads the metadata file (or its mirror) at `block` of the physical partition `ref`.
bool ReadMetadataFile(const UdfVolume& v, uint16_t ref, uint32_t block, uint8_t type,
                      std::vector<ImageExtent>& runs, uint64_t& bytes, std::string& why) {
  std::vector<uint8_t> storage;
  UdfFileEntry entry;
  if (!v.ReadEntry(UdfAllocation{kImageSectorSize, 0, block, ref}, storage, entry, why))
    return false;
  if (entry.fileType != type) {
    why = "file type " + std::to_string(entry.fileType) + " where " + std::to_string(type) +
          " belongs";
    return false;
  }
  bytes = entry.informationLength;
  if (bytes > uint64_t(v.image->Sectors()) * kImageSectorSize) {
    why = "larger than the image";
    return false;
  }
  if (!v.EntryExtents(entry, ref, bytes, runs, why)) return false;
  if (runs.size() > kMaxMetadataRuns) {
    why = "in more than " + std::to_string(kMaxMetadataRuns) + " extents";
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

bool SetUpMaps(ImageSource& image, UdfVolume& v, const Sequence& seq) {
  // First every type 1 map, as a metadata map's file is read through its physical one.
  v.maps.assign(v.logical.maps.size(), UdfMapView{});
  std::vector<int> physicalRef(65536, -1);
  for (size_t i = 0; i < v.logical.maps.size(); ++i) {
    const UdfPartitionMap& m = v.logical.maps[i];
    auto pd = seq.partitions.find(m.partitionNumber);
    if (pd == seq.partitions.end()) {
      v.Problem("partition map " + std::to_string(i) + ": no partition descriptor numbered " +
                std::to_string(m.partitionNumber));
      return false;
    }
    if (uint64_t(pd->second.start) + pd->second.length > image.Sectors())
      v.Problem("partition " + std::to_string(m.partitionNumber) + ": passes the end of the image");
    v.maps[i].start = pd->second.start;
    v.maps[i].length = pd->second.length;
    if (m.type == 1 && physicalRef[m.partitionNumber] < 0) physicalRef[m.partitionNumber] = int(i);
  }
  for (size_t i = 0; i < v.logical.maps.size(); ++i) {
    const UdfPartitionMap& m = v.logical.maps[i];
    if (m.type == 1) continue;
    if (m.identifier != kMetadataPartition) {
      // OSTA UDF 2.2.8, 2.2.9: the maps of write-once and rewritable media.
      const char* what = m.identifier == "*UDF Virtual Partition"    ? "a virtual partition (VAT) "
                         : m.identifier == "*UDF Sparable Partition" ? "a sparable partition "
                                                                     : "";
      v.Problem("partition map " + std::to_string(i) + ": " + what + "\"" + m.identifier +
                "\" not supported");
      return false;
    }
    const int ref = physicalRef[m.partitionNumber];
    if (ref < 0) {
      v.Problem("metadata partition map " + std::to_string(i) + ": no type 1 map of its partition");
      return false;
    }
    std::vector<ImageExtent> main, mirror;
    uint64_t mainBytes = 0, mirrorBytes = 0;
    std::string why;
    const bool mainOk =
        ReadMetadataFile(v, uint16_t(ref), m.metadataFile, kUdfTypeMetadata, main, mainBytes, why);
    if (!mainOk) v.Problem("metadata file at block " + std::to_string(m.metadataFile) + ": " + why);
    const bool mirrorOk = ReadMetadataFile(v, uint16_t(ref), m.mirrorFile, kUdfTypeMetadataMirror,
                                           mirror, mirrorBytes, why);
    if (!mirrorOk)
      v.Problem("metadata mirror file at block " + std::to_string(m.mirrorFile) + ": " + why);
    if (mainOk && mirrorOk) {
      if (mainBytes != mirrorBytes) {
        v.Problem("metadata mirror file at block " + std::to_string(m.mirrorFile) +
                  ": size differs from the metadata file");
      } else if (uint64_t at = 0; FindDifference(image, main, mirror, mainBytes, at)) {
        v.Problem("metadata mirror file at block " + std::to_string(m.mirrorFile) +
                  ": differs from the metadata file at byte " + std::to_string(at));
      }
    }
    if (!mainOk && !mirrorOk) return false;
    v.maps[i].metadata = true;
    v.maps[i].metadataRuns = mainOk ? main : mirror;
    v.maps[i].metadataBytes = mainOk ? mainBytes : mirrorBytes;
    uint64_t start = 0;
    for (const ImageExtent& run : v.maps[i].metadataRuns) {
      v.maps[i].metadataStarts.push_back(start);
      start += run.bytes;
    }
  }
  return true;
}

void ReadIntegrity(ImageSource& image, UdfVolume& v) {
  UdfExtent extent = v.logical.integrity;
  uint8_t sector[kImageSectorSize] = {};
  const ByteSpan span(sector, sizeof sector);
  std::vector<uint32_t> starts;  // of the extents followed, against a next extent looping back
  uint32_t read = 0;             // sectors read, of all the extents
  for (uint32_t links = 0; extent.length >= kImageSectorSize; ++links) {
    if (links >= v.limits.chain ||
        std::find(starts.begin(), starts.end(), extent.location) != starts.end()) {
      v.Problem("integrity sequence: next extent loops back to " + Sector(extent.location));
      return;
    }
    starts.push_back(extent.location);
    const uint32_t count = extent.length / kImageSectorSize;
    UdfExtent next{};
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t at = uint64_t(extent.location) + i;
      if (++read > kMaxSequenceSectors) {
        v.Problem("integrity sequence: longer than " + std::to_string(kMaxSequenceSectors) +
                  " sectors");
        return;
      }
      if (!image.ReadSectors(at, 1, sector)) {
        v.Problem("integrity sequence: " + Sector(at) + " passes the end of the image");
        return;
      }
      const uint16_t id = PeekUdfTagId(span);
      if (id == 0 || id == kUdfTerminating) break;
      UdfTag tag;
      const char* why = nullptr;
      UdfIntegrity lvid;
      if (!DecodeUdfTag(span, kUdfIntegrity, uint32_t(at), tag, why) ||
          !DecodeUdfIntegrity(span, lvid, why)) {
        v.Problem("logical volume integrity descriptor at " + Sector(at) + ": " + why);
        return;
      }
      v.haveIntegrity = true;
      v.integrity = lvid;
      v.integritySector = uint32_t(at);
      next = lvid.next;
    }
    extent = next;
  }
}

}  // namespace

bool HasUdf(ImageSource& image) {
  UdfAnchor anchor;
  std::string why;
  return (image.Sectors() > kUdfFirstAnchorSector &&
          ReadAnchor(image, kUdfFirstAnchorSector, anchor, why)) ||
         (image.Sectors() > kUdfFirstAnchorSector &&
          ReadAnchor(image, image.Sectors() - 1, anchor, why));
}

bool ReadUdfVolume(ImageSource& image, UdfVolume& v, ReadReport& report, const ReadLimits& limits) {
  v = UdfVolume{};
  v.image = &image;
  v.report = &report;
  v.limits = limits;
  const uint64_t sectors = image.Sectors();
  if (sectors <= kUdfFirstAnchorSector) {
    v.Problem("image of " + std::to_string(sectors) +
              " sectors is too small for an anchor at sector 256");
    return false;
  }
  UdfAnchor first, last, chosen;
  std::string whyFirst, whyLast;
  const bool haveFirst = ReadAnchor(image, kUdfFirstAnchorSector, first, whyFirst);
  uint64_t lastAt = sectors - 1;
  bool haveLast = ReadAnchor(image, lastAt, last, whyLast);
  if (!haveFirst) v.Problem("anchor volume descriptor pointer at sector 256: " + whyFirst);
  if (!haveLast && sectors > 2 * kUdfFirstAnchorSector) {
    // OSTA UDF 2.2.3 also allows the second anchor 256 sectors before the last.
    std::string why;
    haveLast = ReadAnchor(image, sectors - 1 - kUdfFirstAnchorSector, last, why);
    if (haveLast) lastAt = sectors - 1 - kUdfFirstAnchorSector;
  }
  if (!haveLast)
    v.Problem("anchor volume descriptor pointer at the last " + Sector(sectors - 1) + ": " +
              whyLast);
  if (haveFirst && haveLast && !SameUdfAnchor(first, last))
    v.Problem("anchor volume descriptor pointers at sector 256 and " + Sector(lastAt) +
              " disagree: main sequence at " + Sector(first.main.location) + " and " +
              Sector(last.main.location) + ", reserve at " + Sector(first.reserve.location) +
              " and " + Sector(last.reserve.location));
  if (!haveFirst && !haveLast) return false;
  chosen = haveFirst ? first : last;

  Sequence main, reserve;
  ReadSequence(image, chosen.main, "main", main, v);
  ReadSequence(image, chosen.reserve, "reserve", reserve, v);
  const bool mainUsable = main.haveLogical && !main.partitions.empty();
  const bool reserveUsable = reserve.haveLogical && !reserve.partitions.empty();
  if (!mainUsable)
    v.Problem("main volume descriptor sequence: no logical volume or partition descriptor");
  if (!reserveUsable)
    v.Problem("reserve volume descriptor sequence: no logical volume or partition descriptor");
  if (mainUsable && reserveUsable) {
    if (main.logicalBytes != reserve.logicalBytes)
      v.Problem(
          "reserve volume descriptor sequence: logical volume descriptor differs from the main "
          "one");
    if (main.partitionBytes != reserve.partitionBytes)
      v.Problem(
          "reserve volume descriptor sequence: partition descriptors differ from the main ones");
  }
  if (!mainUsable && !reserveUsable) return false;
  if (mainUsable) CheckSequenceKinds(main, "main", v);
  if (reserveUsable) CheckSequenceKinds(reserve, "reserve", v);
  const Sequence& seq = mainUsable ? main : reserve;
  v.logical = seq.logical;
  v.haveRecorded = seq.haveRecorded;
  v.recorded = seq.recorded;
  v.recordedZone = seq.recordedZone;
  if (v.logical.blockSize != kImageSectorSize) {
    v.Problem("logical volume descriptor: block size " + std::to_string(v.logical.blockSize) +
              " not supported");
    return false;
  }
  if (v.logical.domain != kOstaDomain)
    v.Problem("logical volume descriptor: domain \"" + v.logical.domain + "\" is not OSTA UDF");
  const std::string nsr = RecognitionNsr(image);
  if (nsr.empty()) {
    v.Problem("volume recognition sequence: no NSR descriptor in an extended area");
  } else if (nsr != (v.logical.domainRevision >= 0x0200 ? "NSR03" : "NSR02")) {
    v.Problem("volume recognition sequence: " + nsr + " does not match UDF revision " +
              std::to_string(v.logical.domainRevision >> 8) + "." +
              std::to_string((v.logical.domainRevision >> 4) & 0xF) +
              std::to_string(v.logical.domainRevision & 0xF));
  }
  if (!SetUpMaps(image, v, seq)) return false;
  ReadIntegrity(image, v);
  if (!v.haveIntegrity) {
    v.Problem("no logical volume integrity descriptor");
  } else if (v.integrity.type != 1) {
    v.Problem("logical volume integrity descriptor at " + Sector(v.integritySector) +
              ": volume not closed");
  }
  return true;
}

}  // namespace vellumcast
