// The ISO 9660 walk: volume descriptors and the directory hierarchy.
#include "reader/iso9660_tree.h"

#include <algorithm>
#include <string>
#include <vector>

#include "reader/iso9660_record_fields.h"
#include "reader/iso9660_walk.h"

namespace vellumcast {
namespace {

using enum ReadProblemKind;

// The file type bits of a Rock Ridge PX mode (POSIX S_IFMT).
constexpr uint32_t kPosixTypeBits = 0170000;

}  // namespace

bool IsoWalk::ReadDirectory(const IsoChild& dir, uint32_t parentExtent, uint32_t level) {
  IsoDirectoryRead d{dir, parentExtent, level};
  d.shown = path.empty() ? "/" : path;
  d.self = "directory " + d.shown + " at sector " + std::to_string(dir.extent);
  d.folder = ImageFolder{path, dir.number, {}};
  if (!AdmitDirectory(d)) return false;
  if (stopped) return true;
  if (!ReadRecords(d)) return false;
  if (d.pending && !stopped)
    Problem(kDamaged, "directory", dir.extent,
            "directory " + d.shown + ": multi-extent file " + JoinImagePath(path, d.pending->name) +
                " has no final record",
            JoinImagePath(path, d.pending->name));
  if (d.index < 2 && !stopped)
    Problem(kDamaged, "directory", dir.extent, d.self + ": no records for itself and its parent",
            path);
  Descend(d);
  return true;
}

bool IsoWalk::AdmitDirectory(IsoDirectoryRead& d) {
  const IsoChild& dir = d.dir;
  if (dir.dataLength > limits.directoryBytes) {
    Problem(kLimitReached, "directory", dir.extent,
            d.self + ": " + std::to_string(dir.dataLength) + " bytes is too large", path);
    return false;
  }
  if (!ExtentInImage(dir.extent, dir.dataLength)) {
    Problem(kUnreadable, "directory", std::max<uint64_t>(dir.extent, image.Sectors()),
            d.self + ": passes the end of the image", path);
    return false;
  }
  directoryBytes += dir.dataLength;
  if (directoryBytes > image.size + kRereadAllowance)
    Stop("directory", dir.extent,
         d.self + ": directories of more bytes than the image holds, their extents overlap");
  return true;
}

bool IsoWalk::ReadRecords(IsoDirectoryRead& d) {
  const IsoChild& dir = d.dir;
  const uint32_t sectors = (dir.dataLength + kImageSectorSize - 1) / kImageSectorSize;
  uint8_t bytes[kImageSectorSize];
  for (uint32_t s = 0; s < sectors && !stopped; ++s) {
    // ECMA-119 6.8.1.1: records never cross a sector, so one sector is read at a time.
    const uint64_t at = uint64_t(dir.extent) + s;
    if (!image.ReadSectors(at, 1, bytes)) {
      Problem(kUnreadable, "directory", image.failedSector,
              d.self + ": cannot be read: " + image.error, path);
      if (s == 0) return false;
      break;
    }
    const ByteSpan sector(bytes, kImageSectorSize);
    const size_t end =
        std::min<size_t>(kImageSectorSize, dir.dataLength - size_t(s) * kImageSectorSize);
    size_t pos = 0;
    while (pos < end && sector.U8(pos) != 0) {
      IsoDirectoryRecord r;
      const char* why = nullptr;
      const IsoRecordAt record{r, at, IsoRecordPlace(at, pos)};
      if (!DecodeIsoDirectoryRecord(sector.Sub(pos, end - pos), r, why)) {
        RecordProblem(kDamaged, record, why);
        break;  // the record's length cannot be trusted: the rest of the sector neither
      }
      pos += r.length;
      if (!TakeRecord(d, record)) break;
    }
  }
  return true;
}

void IsoWalk::CheckDotRecord(IsoDirectoryRead& d, const IsoRecordAt& at, uint32_t index) {
  // ECMA-119 6.8.2.2: the first two records name the directory and its parent.
  // xorriso (1.5) points a Joliet directory's ".." at the directory itself; readers
  // take the parent from the path they walked, so that is not a fault they see.
  const IsoDirectoryRecord& r = at.r;
  const IsoChild& dir = d.dir;
  const bool selfParent = index == 1 && names == kIsoJolietNames && r.extent == dir.extent;
  const bool self = index == 0 || selfParent;
  if (const char* wrong = DotRecordProblem(r, index, self ? dir.extent : d.parentExtent,
                                           self ? dir.dataLength : dir.parentLength))
    RecordProblem(kDamaged, at, wrong);
  if (index == 0 && dir.number == 0) tree.rootModified = r.recorded;
}

bool IsoWalk::TakeRecord(IsoDirectoryRead& d, const IsoRecordAt& at) {
  const IsoDirectoryRecord& r = at.r;
  const uint32_t i = d.index++;
  if (i < 2) {
    CheckDotRecord(d, at, i);
    return true;
  }
  if (r.flags & kIsoFlagAssociated) return true;
  if (r.unitSize != 0 || r.gapSize != 0) {
    RecordProblem(kUnsupported, at, "interleaved file not supported");
    return true;
  }
  const bool isDir = r.flags & kIsoFlagDirectory;
  std::string name;
  SuspFindings found;
  if (!NameOf(at, name, found)) return !stopped;
  const uint64_t dataSector = uint64_t(r.extent) + r.attributeLength;
  if (!ExtentInImage(dataSector, r.dataLength)) {
    RecordProblem(kUnreadable, at, JoinImagePath(path, name) + " passes the end of the image",
                  name);
    return true;
  }
  if (d.pending && (isDir || d.pending->name != name)) {
    RecordProblem(
        kDamaged, at,
        "multi-extent file " + JoinImagePath(path, d.pending->name) + " has no final record",
        d.pending->name);
    d.pending = nullptr;
  }
  if (!WithinLimits(d, at)) return false;
  if (isDir) return AddDirectory(d, at, name, found);
  AddFile(d, at, name, found);
  return true;
}

bool IsoWalk::WithinLimits(IsoDirectoryRead& d, const IsoRecordAt& at) {
  if (listed >= limits.entries) {
    Stop("directory record", at.sector, "more than " + std::to_string(limits.entries) + " entries");
    return false;
  }
  if (held + d.childBytes + d.entryBytes > limits.heldBytes || extents >= limits.extents) {
    Stop("directory", d.dir.extent,
         d.self + ": " +
             (extents >= limits.extents
                  ? "more than " + std::to_string(limits.extents) + " extents in the tree"
                  : "its entries need more than " + std::to_string(limits.heldBytes >> 20) +
                        " MiB"));
    return false;
  }
  return true;
}

bool IsoWalk::AddDirectory(IsoDirectoryRead& d, const IsoRecordAt& at, std::string& name,
                           const SuspFindings& found) {
  const IsoDirectoryRecord& r = at.r;
  const std::string shown = "directory " + JoinImagePath(path, name);
  if (r.flags & kIsoFlagMultiExtent)
    RecordProblem(kDamaged, at, shown + " flagged multi-extent", name);
  if (r.attributeLength != 0) {
    RecordProblem(kUnsupported, at, shown + " with an extended attribute record not supported",
                  name);
    return true;
  }
  if (directories.count(r.extent)) {
    RecordProblem(kDamaged, at, shown + " loops back or shares an extent", name);
    return true;
  }
  if (directories.size() >= kMaxDirectories) {
    Stop("directory record", at.sector,
         at.where + ": more than " + std::to_string(kMaxDirectories) +
             " directories, more than a path table can number");
    return false;
  }
  directories[r.extent] = IsoDirectory{d.dir.extent, d.level + 1, r.identifier};
  std::vector<ImageEntry>& entries = d.folder.entries;
  entries.push_back(
      ImageEntry{name, {}, true, false, r.dataLength, {}, {}, r.recorded, tree.directories});
  FillIsoRecordFields(r, true, names == kIsoPlainNames,
                      names == kIsoRockRidgeNames ? &found : nullptr, entries.back().fields);
  d.children.push_back(
      IsoChild{r.extent, r.dataLength, tree.directories, std::move(name), d.dir.dataLength});
  d.childBytes += sizeof(IsoChild) + d.children.back().name.capacity();
  d.entryBytes += HeldBytes(entries.back());
  ++listed;
  ++tree.directories;
  return true;
}

void IsoWalk::AddFile(IsoDirectoryRead& d, const IsoRecordAt& at, std::string& name,
                      const SuspFindings& found) {
  const IsoDirectoryRecord& r = at.r;
  ImageExtent extent{uint64_t(r.extent) + r.attributeLength, r.dataLength, false};
  ++extents;
  if (d.pending) {
    // ECMA-119 6.5.1: every extent but the last of a file fills whole blocks.
    if (d.pending->size % kImageSectorSize != 0)
      RecordProblem(
          kDamaged, at,
          "extent of " + JoinImagePath(path, name) + " before the last is not whole sectors", name);
    d.pending->extents.push_back(extent);
    d.pending->size += r.dataLength;
    d.entryBytes += sizeof extent;
  } else {
    std::vector<ImageEntry>& entries = d.folder.entries;
    entries.push_back(
        ImageEntry{std::move(name), {}, false, false, r.dataLength, {extent}, {}, r.recorded});
    ImageEntry& e = entries.back();
    FillIsoRecordFields(r, false, names == kIsoPlainNames,
                        names == kIsoRockRidgeNames ? &found : nullptr, e.fields);
    if (found.havePx) {
      e.links = found.pxLinks;
      e.posixType = found.pxMode & kPosixTypeBits;
    }
    if (found.haveLink) e.linkTarget = found.linkTarget;
    d.entryBytes += HeldBytes(e);
    ++listed;
    ++tree.files;
    d.pending = &e;
  }
  if (!(r.flags & kIsoFlagMultiExtent)) d.pending = nullptr;
}

void IsoWalk::Descend(IsoDirectoryRead& d) {
  visit(d.folder, context);
  d.folder = {};
  if (stopped) return;
  if (d.level > limits.depth && !d.children.empty()) {
    Problem(kLimitReached, "directory", d.dir.extent,
            "directory " + d.shown + ": deeper than " + std::to_string(limits.depth) + " levels",
            path);
    return;
  }
  held += d.childBytes;
  const size_t mark = path.size();
  for (IsoChild& child : d.children) {
    if (stopped) break;
    path += (mark == 0 ? "" : "/") + child.name;
    const uint64_t bytes = sizeof(IsoChild) + child.name.capacity();
    child.name = {};
    held -= bytes;
    d.childBytes -= bytes;
    ReadDirectory(child, d.dir.extent, d.level + 1);
    path.resize(mark);
  }
  held -= d.childBytes;
}

namespace {

// Finds the Primary Volume Descriptor (the Joliet Supplementary one with Joliet names)
// in the volume descriptor set; false with the problem given when it is absent or
// damaged or its blocks are not 2048 bytes.
bool FindVolumeDescriptor(IsoWalk& walk, IsoPrimaryDescriptor& pvd) {
  const bool joliet = walk.names == kIsoJolietNames;
  const std::string descriptor =
      joliet ? "supplementary volume descriptor" : "primary volume descriptor";
  const char* structure = "volume descriptor";
  bool havePrimary = false, terminated = false;
  uint8_t sector[kImageSectorSize] = {};
  for (uint32_t n = 0; n < walk.limits.chain && !terminated; ++n) {
    const uint64_t at = kIsoFirstDescriptorSector + n;
    uint8_t type = 0;
    if (!walk.image.ReadSectors(at, 1, sector) ||
        !IsIsoVolumeDescriptor(ByteSpan(sector, sizeof sector), type)) {
      walk.Problem(
          kDamaged, structure, at,
          "sector " + std::to_string(at) + ": volume descriptor set ends without a set terminator");
      break;
    }
    terminated = type == kIsoSetTerminator;
    if (type != (joliet ? kIsoSupplementaryDescriptor : kIsoPrimaryDescriptor) || havePrimary)
      continue;
    const char* why = nullptr;
    if (!DecodeIsoPrimaryDescriptor(ByteSpan(sector, sizeof sector), pvd, why, joliet)) {
      walk.Problem(kDamaged, structure, at,
                   descriptor + " at sector " + std::to_string(at) + ": " + why);
      return false;
    }
    havePrimary = !joliet || pvd.joliet;
  }
  if (!havePrimary) {
    walk.Problem(kAbsent, structure, kNoSector, "no " + descriptor);
    return false;
  }
  if (pvd.blockSize != kImageSectorSize) {
    walk.Problem(
        kUnsupported, structure, kNoSector,
        descriptor + ": logical block size " + std::to_string(pvd.blockSize) + " not supported");
    return false;
  }
  if (pvd.volumeSpaceSize > walk.image.Sectors())
    walk.Problem(kUnreadable, structure, walk.image.Sectors(),
                 descriptor + ": volume space size " + std::to_string(pvd.volumeSpaceSize) +
                     " sectors is larger than the image (" + std::to_string(walk.image.Sectors()) +
                     " sectors)");
  return true;
}

}  // namespace

bool HasIsoTree(ImageSource& image, IsoNames names) {
  if (!HasIso9660(image)) return false;
  if (names == kIsoPlainNames) return true;
  ImageTree tree;
  ReadReport report;
  ReadLimits rootOnly;
  rootOnly.entries = 0;  // the descriptors and the root's first records only
  // A missing tree is refused as absent (no Supplementary Volume Descriptor of Joliet, no
  // SP and ER in the root); a damaged one is there.
  return ReadIso9660Tree(image, tree, report, rootOnly, names) ||
         !report.Has(ReadProblemKind::kAbsent);
}

bool HasIso9660(ImageSource& image) {
  uint8_t sector[kImageSectorSize] = {};
  uint8_t type = 0;
  return image.ReadSectors(kIsoFirstDescriptorSector, 1, sector) &&
         IsIsoVolumeDescriptor(ByteSpan(sector, sizeof sector), type);
}

const char* IsoNamesLabel(IsoNames names) {
  return names == kIsoJolietNames      ? "joliet"
         : names == kIsoRockRidgeNames ? "rock ridge"
                                       : "iso9660";
}

bool ReadIso9660Tree(ImageSource& image, ImageTree& tree, ReadReport& report,
                     const ReadLimits& limits, IsoNames names) {
  return WalkIso9660Tree(image, tree, report, GatherFolder, &tree, limits, names);
}

bool WalkIso9660Tree(ImageSource& image, ImageTree& tree, ReadReport& report, ImageFolderFn visit,
                     void* context, const ReadLimits& limits, IsoNames names) {
  tree = {};
  IsoWalk walk{image, tree, report, limits, names, visit, context};
  IsoPrimaryDescriptor pvd;
  if (!FindVolumeDescriptor(walk, pvd)) return false;
  tree.volumeId = names == kIsoJolietNames ? JolietText(pvd.volumeId) : pvd.volumeId;
  tree.directories = 1;
  if (names == kIsoRockRidgeNames && !walk.RootRockRidge(pvd.root)) return false;
  walk.directories[pvd.root.extent] = IsoDirectory{pvd.root.extent, 1, std::string(1, '\0')};
  const size_t problemsBefore = report.Count();
  if (!walk.ReadDirectory(
          IsoChild{pvd.root.extent, pvd.root.dataLength, 0, {}, pvd.root.dataLength},
          pvd.root.extent, 1))
    return false;
  // The path tables are checked against a whole hierarchy only: a damaged directory
  // already has its own problem, and every later record would differ for its sake.
  if (report.Count() == problemsBefore) CheckPathTables(walk, pvd);
  return true;
}

}  // namespace vellumcast
