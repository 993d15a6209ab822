// UDF volume structures: anchors, volume descriptor sequences, partition maps, the
// metadata file and its mirror, the integrity sequence.
#include "reader/udf_volume.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "reader/ecma119_records.h"

namespace vellumcast {
namespace {

using enum ReadProblemKind;

// ECMA-167 3/10.3: a Volume Descriptor Pointer's next extent.
constexpr size_t kPointerNext = 20;
// ECMA-167 3/8.4.2: the main and reserve sequences are at least 16 sectors each; one
// longer than this is refused as damaged.
constexpr uint32_t kMaxSequenceSectors = 4096;
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
      v.Problem(kAbsent, "volume descriptor sequence", kNoSector,
                std::string(name) + " volume descriptor sequence: no " + what + " descriptor");
  }
}

// Takes the descriptor of tag `id` in `sector` (image sector `at`) into `out`: the
// prevailing partition and logical volume descriptors, the recording time.
void TakeDescriptor(const uint8_t* sector, uint16_t id, uint64_t at, Sequence& out, UdfVolume& v) {
  const ByteSpan span(sector, kImageSectorSize);
  if (id == kUdfPrimaryVolume) {
    out.recorded = DecodeUdfTime(span, kPvdRecorded);
    out.haveRecorded = DecodeUdfTimeZone(span, kPvdRecorded, out.recordedZone);
  } else if (id == kUdfPartition) {
    UdfPartitionDescriptor pd;
    DecodeUdfPartition(span, pd);
    auto found = out.partitions.find(pd.number);
    if (found == out.partitions.end() || found->second.sequenceNumber <= pd.sequenceNumber) {
      out.partitions[pd.number] = pd;
      out.partitionBytes[pd.number].assign(sector + 16, sector + kImageSectorSize);
    }
  } else if (id == kUdfLogicalVolume) {
    UdfLogicalVolume lvd;
    const char* why = nullptr;
    if (!DecodeUdfLogicalVolume(span, lvd, why)) {
      v.Problem(kDamaged, "logical volume descriptor", at,
                "logical volume descriptor at " + Sector(at) + ": " + why);
    } else if (!out.haveLogical || out.logical.sequenceNumber <= lvd.sequenceNumber) {
      out.haveLogical = true;
      out.logical = lvd;
      out.logicalBytes.assign(sector + 16, sector + kImageSectorSize);
    }
  }
}

// The problem of a sector of a sequence that cannot be read: past the image's end, or
// refused by the system.
void UnreadableSector(ImageSource& image, uint64_t at, const char* structure,
                      const std::string& label, UdfVolume& v) {
  v.Problem(kUnreadable, structure, at,
            label + Sector(at) +
                (at >= image.Sectors() ? " passes the end of the image"
                                       : " cannot be read: " + image.error));
}

void ReadSequence(ImageSource& image, UdfExtent extent, const char* name, Sequence& out,
                  UdfVolume& v) {
  uint8_t sector[kImageSectorSize] = {};
  const ByteSpan span(sector, sizeof sector);
  std::vector<uint32_t> starts;  // of the extents followed, against a pointer looping back
  uint32_t read = 0;             // sectors read, of all the extents
  const std::string label = std::string(name) + " volume descriptor sequence: ";
  const char* structure = "volume descriptor sequence";
  for (uint32_t links = 0; links < v.limits.chain; ++links) {
    if (std::find(starts.begin(), starts.end(), extent.location) != starts.end()) {
      v.Problem(kDamaged, structure, extent.location,
                label + "volume descriptor pointer loops back to " + Sector(extent.location));
      return;
    }
    starts.push_back(extent.location);
    const uint32_t count = extent.length / kImageSectorSize;
    bool next = false;
    for (uint32_t i = 0; i < count && !next; ++i) {
      const uint64_t at = uint64_t(extent.location) + i;
      if (++read > kMaxSequenceSectors) {
        v.Problem(kLimitReached, structure, at,
                  label + "longer than " + std::to_string(kMaxSequenceSectors) + " sectors");
        return;
      }
      if (!image.ReadSectors(at, 1, sector))
        return UnreadableSector(image, at, structure, label, v);
      const uint16_t id = PeekUdfTagId(span);
      if (id == 0) return;  // 3/8.4.2: the sequence ends at an unrecorded sector
      UdfTag tag;
      const char* why = nullptr;
      if (id > kUdfIntegrity || !DecodeUdfTag(span, id, uint32_t(at), tag, why)) {
        v.Problem(
            kDamaged, structure, at,
            label + "descriptor at " + Sector(at) + ": " + (why ? why : "not a volume descriptor"));
        continue;
      }
      out.kinds |= 1u << id;
      if (id == kUdfTerminating) return;
      if (id == kUdfVolumePointer) {
        extent = UdfExtent{span.U32Le(kPointerNext), span.U32Le(kPointerNext + 4)};
        next = true;
      }
      TakeDescriptor(sector, id, at, out, v);
    }
    if (!next) return;
  }
  v.Problem(kLimitReached, structure, kNoSector,
            label + "more than " + std::to_string(v.limits.chain) + " pointers");
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

// The anchor at sector `at`; false with `why` set: absent where another descriptor or
// none is recorded, damaged where its tag fails.
bool ReadAnchor(ImageSource& image, uint64_t at, UdfAnchor& anchor, ReadProblem& why) {
  uint8_t sector[kImageSectorSize] = {};
  const char* reason = nullptr;
  if (!image.ReadSectors(at, 1, sector)) {
    why = Fault(kUnreadable, "passes the end of the image", at);
    if (at < image.Sectors()) why.text = "cannot be read: " + image.error;
    return false;
  }
  const ByteSpan span(sector, sizeof sector);
  if (!DecodeUdfAnchor(span, uint32_t(at), anchor, reason)) {
    why = Fault(PeekUdfTagId(span) == kUdfAnchor ? kDamaged : kAbsent, reason, at);
    return false;
  }
  return true;
}

// Every partition map's partition, its type 1 maps by partition number in `physical`
// (as a metadata map's file is read through its physical one); false when a map names
// no partition descriptor.
bool SetUpPartitions(ImageSource& image, UdfVolume& v, const Sequence& seq,
                     std::vector<int>& physical) {
  v.maps.assign(v.logical.maps.size(), UdfMapView{});
  physical.assign(65536, -1);
  for (size_t i = 0; i < v.logical.maps.size(); ++i) {
    const UdfPartitionMap& m = v.logical.maps[i];
    auto pd = seq.partitions.find(m.partitionNumber);
    if (pd == seq.partitions.end()) {
      v.Problem(kAbsent, "partition descriptor", kNoSector,
                "partition map " + std::to_string(i) + ": no partition descriptor numbered " +
                    std::to_string(m.partitionNumber));
      return false;
    }
    if (uint64_t(pd->second.start) + pd->second.length > image.Sectors())
      v.Problem(kUnreadable, "partition", image.Sectors(),
                "partition " + std::to_string(m.partitionNumber) + ": passes the end of the image");
    v.maps[i].start = pd->second.start;
    v.maps[i].length = pd->second.length;
    if (m.type == 1 && physical[m.partitionNumber] < 0) physical[m.partitionNumber] = int(i);
  }
  return true;
}

bool SetUpMaps(ImageSource& image, UdfVolume& v, const Sequence& seq) {
  std::vector<int> physicalRef;
  if (!SetUpPartitions(image, v, seq, physicalRef)) return false;
  for (size_t i = 0; i < v.logical.maps.size(); ++i) {
    const UdfPartitionMap& m = v.logical.maps[i];
    if (m.type == 1) continue;
    if (m.identifier != kMetadataPartition) {
      // OSTA UDF 2.2.8, 2.2.9: the maps of write-once and rewritable media.
      const char* what = m.identifier == "*UDF Virtual Partition"    ? "a virtual partition (VAT) "
                         : m.identifier == "*UDF Sparable Partition" ? "a sparable partition "
                                                                     : "";
      v.Problem(kUnsupported, "partition map", kNoSector,
                "partition map " + std::to_string(i) + ": " + what + "\"" + m.identifier +
                    "\" not supported");
      return false;
    }
    const int ref = physicalRef[m.partitionNumber];
    if (ref < 0) {
      v.Problem(kAbsent, "partition map", kNoSector,
                "metadata partition map " + std::to_string(i) + ": no type 1 map of its partition");
      return false;
    }
    if (!SetUpMetadataMap(image, v, i, uint16_t(ref))) return false;
  }
  return true;
}

void ReadIntegrity(ImageSource& image, UdfVolume& v) {
  UdfExtent extent = v.logical.integrity;
  uint8_t sector[kImageSectorSize] = {};
  const ByteSpan span(sector, sizeof sector);
  std::vector<uint32_t> starts;  // of the extents followed, against a next extent looping back
  uint32_t read = 0;             // sectors read, of all the extents
  const char* structure = "integrity sequence";
  for (uint32_t links = 0; extent.length >= kImageSectorSize; ++links) {
    const bool loops = std::find(starts.begin(), starts.end(), extent.location) != starts.end();
    if (links >= v.limits.chain || loops) {
      v.Problem(loops ? kDamaged : kLimitReached, structure, extent.location,
                "integrity sequence: next extent loops back to " + Sector(extent.location));
      return;
    }
    starts.push_back(extent.location);
    const uint32_t count = extent.length / kImageSectorSize;
    UdfExtent next{};
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t at = uint64_t(extent.location) + i;
      if (++read > kMaxSequenceSectors) {
        v.Problem(
            kLimitReached, structure, at,
            "integrity sequence: longer than " + std::to_string(kMaxSequenceSectors) + " sectors");
        return;
      }
      if (!image.ReadSectors(at, 1, sector))
        return UnreadableSector(image, at, structure, "integrity sequence: ", v);
      const uint16_t id = PeekUdfTagId(span);
      if (id == 0 || id == kUdfTerminating) break;
      UdfTag tag;
      const char* why = nullptr;
      UdfIntegrity lvid;
      if (!DecodeUdfTag(span, kUdfIntegrity, uint32_t(at), tag, why) ||
          !DecodeUdfIntegrity(span, lvid, why)) {
        v.Problem(kDamaged, "logical volume integrity descriptor", at,
                  "logical volume integrity descriptor at " + Sector(at) + ": " + why);
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

// The anchor whose sequences are read: the one at 256, else the one at the last sector
// (or 256 before it); false when neither is there.
bool ChooseAnchor(ImageSource& image, UdfVolume& v, UdfAnchor& chosen) {
  const uint64_t sectors = image.Sectors();
  const char* structure = "anchor volume descriptor pointer";
  if (sectors <= kUdfFirstAnchorSector) {
    v.Problem(kAbsent, structure, kNoSector,
              "image of " + std::to_string(sectors) +
                  " sectors is too small for an anchor at sector 256");
    return false;
  }
  UdfAnchor first, last;
  ReadProblem whyFirst, whyLast, why;
  const bool haveFirst = ReadAnchor(image, kUdfFirstAnchorSector, first, whyFirst);
  uint64_t lastAt = sectors - 1;
  bool haveLast = ReadAnchor(image, lastAt, last, whyLast);
  if (!haveFirst) {
    whyFirst.structure = structure;
    v.Problem(whyFirst.Within("anchor volume descriptor pointer at sector 256"));
  }
  if (!haveLast && sectors > 2 * kUdfFirstAnchorSector) {
    // OSTA UDF 2.2.3 also allows the second anchor 256 sectors before the last.
    haveLast = ReadAnchor(image, sectors - 1 - kUdfFirstAnchorSector, last, why);
    if (haveLast) lastAt = sectors - 1 - kUdfFirstAnchorSector;
  }
  if (!haveLast) {
    whyLast.structure = structure;
    v.Problem(
        whyLast.Within("anchor volume descriptor pointer at the last " + Sector(sectors - 1)));
  }
  if (haveFirst && haveLast && !SameUdfAnchor(first, last))
    v.Problem(kDamaged, structure, lastAt,
              "anchor volume descriptor pointers at sector 256 and " + Sector(lastAt) +
                  " disagree: main sequence at " + Sector(first.main.location) + " and " +
                  Sector(last.main.location) + ", reserve at " + Sector(first.reserve.location) +
                  " and " + Sector(last.reserve.location));
  if (!haveFirst && !haveLast) return false;
  chosen = haveFirst ? first : last;
  return true;
}

// Reads the main and reserve sequences of `anchor` and takes the logical volume of the
// main one (else the reserve one); false when neither has a logical volume and partition.
bool ChooseSequence(ImageSource& image, UdfVolume& v, const UdfAnchor& anchor, Sequence& main,
                    Sequence& reserve) {
  ReadSequence(image, anchor.main, "main", main, v);
  ReadSequence(image, anchor.reserve, "reserve", reserve, v);
  const bool mainUsable = main.haveLogical && !main.partitions.empty();
  const bool reserveUsable = reserve.haveLogical && !reserve.partitions.empty();
  const char* structure = "volume descriptor sequence";
  if (!mainUsable)
    v.Problem(kAbsent, structure, anchor.main.location,
              "main volume descriptor sequence: no logical volume or partition descriptor");
  if (!reserveUsable)
    v.Problem(kAbsent, structure, anchor.reserve.location,
              "reserve volume descriptor sequence: no logical volume or partition descriptor");
  if (mainUsable && reserveUsable) {
    if (main.logicalBytes != reserve.logicalBytes)
      v.Problem(kDamaged, structure, anchor.reserve.location,
                "reserve volume descriptor sequence: logical volume descriptor differs from the "
                "main one");
    if (main.partitionBytes != reserve.partitionBytes)
      v.Problem(kDamaged, structure, anchor.reserve.location,
                "reserve volume descriptor sequence: partition descriptors differ from the main "
                "ones");
  }
  if (!mainUsable && !reserveUsable) return false;
  if (mainUsable) CheckSequenceKinds(main, "main", v);
  if (reserveUsable) CheckSequenceKinds(reserve, "reserve", v);
  const Sequence& seq = mainUsable ? main : reserve;
  v.logical = seq.logical;
  v.haveRecorded = seq.haveRecorded;
  v.recorded = seq.recorded;
  v.recordedZone = seq.recordedZone;
  return true;
}

// The logical volume's domain and the Volume Recognition Sequence's NSR descriptor, which
// must name its revision.
void CheckDomain(ImageSource& image, UdfVolume& v) {
  if (v.logical.domain != kOstaDomain)
    v.Problem(kDamaged, "logical volume descriptor", kNoSector,
              "logical volume descriptor: domain \"" + v.logical.domain + "\" is not OSTA UDF");
  const std::string nsr = RecognitionNsr(image);
  const char* structure = "volume recognition sequence";
  if (nsr.empty()) {
    v.Problem(kAbsent, structure, 16,
              "volume recognition sequence: no NSR descriptor in an extended area");
  } else if (nsr != (v.logical.domainRevision >= 0x0200 ? "NSR03" : "NSR02")) {
    v.Problem(kDamaged, structure, 16,
              "volume recognition sequence: " + nsr + " does not match UDF revision " +
                  std::to_string(v.logical.domainRevision >> 8) + "." +
                  std::to_string((v.logical.domainRevision >> 4) & 0xF) +
                  std::to_string(v.logical.domainRevision & 0xF));
  }
}

}  // namespace

bool HasUdf(ImageSource& image) {
  UdfAnchor anchor;
  ReadProblem why;
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
  UdfAnchor anchor;
  Sequence main, reserve;
  if (!ChooseAnchor(image, v, anchor) || !ChooseSequence(image, v, anchor, main, reserve))
    return false;
  if (v.logical.blockSize != kImageSectorSize) {
    v.Problem(kUnsupported, "logical volume descriptor", kNoSector,
              "logical volume descriptor: block size " + std::to_string(v.logical.blockSize) +
                  " not supported");
    return false;
  }
  CheckDomain(image, v);
  if (!SetUpMaps(image, v, main.haveLogical && !main.partitions.empty() ? main : reserve))
    return false;
  ReadIntegrity(image, v);
  if (!v.haveIntegrity) {
    v.Problem(kAbsent, "logical volume integrity descriptor", kNoSector,
              "no logical volume integrity descriptor");
  } else if (v.integrity.type != 1) {
    v.Problem(kDamaged, "logical volume integrity descriptor", v.integritySector,
              "logical volume integrity descriptor at " + Sector(v.integritySector) +
                  ": volume not closed");
  }
  return true;
}

}  // namespace vellumcast
