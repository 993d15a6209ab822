// The ISO 9660 walk: volume descriptors, directory hierarchy, path tables.
#include "reader/iso9660_tree.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/text.h"
#include "reader/ecma119_records.h"
#include "reader/iso9660_record_fields.h"
#include "reader/susp_entries.h"

namespace vellumcast {
namespace {

// One directory of the hierarchy as the path tables must describe it.
struct IsoDirectory {
  uint32_t parentExtent = 0;
  uint32_t level = 1;  // the root is level 1 (ECMA-119 6.8.2.1)
  std::string identifier;
};

// A directory listed in its parent and still to be read.
struct IsoChild {
  uint32_t extent = 0;
  uint32_t dataLength = 0;
  uint32_t number = 0;        // the number the walk hands the folder over with
  std::string name;           // as the tree shows it
  uint32_t parentLength = 0;  // the parent's data length, for the ".." record
};

constexpr const char* kNoTree = "no sp entry and rock ridge er entry";

// The file type bits of a Rock Ridge PX mode (POSIX S_IFMT).
constexpr uint32_t kPosixTypeBits = 0170000;

// Continuation areas followed for one record at most; each area at most one sector.
constexpr uint32_t kMaxContinuations = 32;
// ECMA-119 9.4.6: a path table numbers directories with 16 bits, so no volume holds more.
constexpr size_t kMaxDirectories = 65535;
// Directory and continuation bytes one walk reads beyond the image's own size: extents
// that overlap, and areas shared by many records, are refused once they cost this much.
constexpr uint64_t kRereadAllowance = 64u << 20;

struct IsoWalk {
  ImageSource& image;
  ImageTree& tree;
  ReadReport& report;
  const ReadLimits& limits;
  IsoNames names = kIsoPlainNames;
  ImageFolderFn visit = nullptr;
  void* context = nullptr;
  uint8_t suspSkip = 0;  // SP: bytes skipped at the start of every System Use field
  std::unordered_map<uint32_t, IsoDirectory> directories = {};  // by extent
  uint32_t listed = 0;                                          // entries listed so far
  uint32_t extents = 0;                                         // extents handed over so far
  uint64_t held = 0;               // bytes of the directories still to be read
  uint64_t continuationBytes = 0;  // bytes of continuation areas decoded
  uint64_t directoryBytes = 0;     // bytes of directories read
  std::string path = {};           // the path of the directory being read
  bool stopped = false;            // a limit of the whole walk was reached

  void Problem(const std::string& what) {
    report.Add(std::string(IsoNamesLabel(names)) + ": " + what);
  }
  // Names the limit reached and stops the walk.
  void Stop(const std::string& what) {
    Problem(what);
    stopped = true;
  }
  // The SUSP entries of a record's System Use field and its continuation areas; false
  // with the problem in `why` when an entry or a continuation is damaged.
  bool SystemUse(const IsoDirectoryRecord& r, uint8_t skip, SuspFindings& found, std::string& why);
  // Reads the root's "." record: SP and an ER naming Rock Ridge; false when absent.
  bool RootRockRidge(const IsoDirectoryRecord& root);
  bool ExtentInImage(uint64_t sector, uint64_t bytes) const {
    const uint64_t sectors = (bytes + kImageSectorSize - 1) / kImageSectorSize;
    return sector <= image.Sectors() && sectors <= image.Sectors() - sector;
  }
  // The name a record shows in the tree being read; false with the problem given.
  // `found` holds the record's SUSP entries when Rock Ridge names are read.
  bool NameOf(const IsoDirectoryRecord& r, const std::string& where, std::string& name,
              SuspFindings& found);
  // Reads the directory `dir` at `path`, one sector at a time, hands it over and reads
  // its subdirectories; false when the directory's own extent cannot be read.
  bool ReadDirectory(const IsoChild& dir, uint32_t parentExtent, uint32_t level);
  void CheckPathTable(uint32_t location, uint32_t size, bool bigEndian,
                      std::vector<IsoPathRecord>& records);
};

// An identifier's bytes as UTF-8: ASCII as it is, other bytes as Latin-1.
std::string IdentifierText(const std::string& bytes) {
  return Latin1ToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A file identifier without its version (";1") and without a final '.' of an
// identifier that has no extension (ECMA-119 7.5.1).
std::string FileName(std::string id) {
  const size_t semicolon = id.rfind(';');
  if (semicolon != std::string::npos) id.resize(semicolon);
  if (!id.empty() && id.back() == '.') id.pop_back();
  return id;
}

// UCS-2 big-endian (a Joliet identifier) as UTF-8.
std::string Ucs2Text(const std::string& bytes) {
  return Ucs2BeToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string At(uint64_t sector, size_t offset) {
  return "directory record at sector " + std::to_string(sector) + " offset " +
         std::to_string(offset);
}

bool IsoWalk::NameOf(const IsoDirectoryRecord& r, const std::string& where, std::string& name,
                     SuspFindings& found) {
  const bool isDir = r.flags & kIsoFlagDirectory;
  if (names == kIsoJolietNames) {
    name = Ucs2Text(r.identifier);
    const size_t semicolon = name.rfind(';');  // a version, though Joliet names need none
    if (!isDir && semicolon != std::string::npos) name.resize(semicolon);
  } else if (names == kIsoRockRidgeNames) {
    std::string why;
    if (!SystemUse(r, suspSkip, found, why)) {
      Problem(where + ": " + why);
      return false;
    }
    if (!found.haveName || found.nameContinues) {
      Problem(where + ": " + (found.haveName ? "nm entry continues past the last" : "no nm entry"));
      return false;
    }
    name = found.name;
  } else {
    name = IdentifierText(isDir ? r.identifier : FileName(r.identifier));
  }
  if (name.size() > limits.nameBytes) {
    Problem(where + ": name of " + std::to_string(name.size()) + " bytes is longer than " +
            std::to_string(limits.nameBytes));
    return false;
  }
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    Problem(where + ": identifier not usable as a name");
    return false;
  }
  return true;
}

bool IsoWalk::ReadDirectory(const IsoChild& dir, uint32_t parentExtent, uint32_t level) {
  const std::string shown = path.empty() ? "/" : path;
  const std::string self = "directory " + shown + " at sector " + std::to_string(dir.extent);
  if (dir.dataLength > limits.directoryBytes) {
    Problem(self + ": " + std::to_string(dir.dataLength) + " bytes is too large");
    return false;
  }
  if (!ExtentInImage(dir.extent, dir.dataLength)) {
    Problem(self + ": passes the end of the image");
    return false;
  }
  directoryBytes += dir.dataLength;
  if (directoryBytes > image.size + kRereadAllowance) {
    Stop(self + ": directories of more bytes than the image holds, their extents overlap");
    return true;
  }
  const uint32_t sectors = (dir.dataLength + kImageSectorSize - 1) / kImageSectorSize;
  std::vector<IsoChild> children;
  uint64_t childBytes = 0;  // held by `children`
  ImageFolder folder{path, dir.number, {}};
  std::vector<ImageEntry>& entries = folder.entries;
  uint64_t entryBytes = 0;        // held by `entries`
  ImageEntry* pending = nullptr;  // a multi-extent file still waiting for its final record
  uint32_t index = 0;
  uint8_t bytes[kImageSectorSize];
  for (uint32_t s = 0; s < sectors && !stopped; ++s) {
    // ECMA-119 6.8.1.1: records never cross a sector, so one sector is read at a time.
    if (!image.ReadSectors(uint64_t(dir.extent) + s, 1, bytes)) {
      Problem(self + ": cannot be read: " + image.error);
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
      if (!DecodeIsoDirectoryRecord(sector.Sub(pos, end - pos), r, why)) {
        Problem(At(dir.extent + s, pos) + ": " + why);
        break;  // the record's length cannot be trusted: the rest of the sector neither
      }
      const std::string where = At(dir.extent + s, pos);
      pos += r.length;
      const uint32_t i = index++;
      if (i < 2) {
        // ECMA-119 6.8.2.2: the first two records name the directory and its parent.
        // xorriso (1.5) points a Joliet directory's ".." at the directory itself; readers
        // take the parent from the path they walked, so that is not a fault they see.
        const bool selfParent = i == 1 && names == kIsoJolietNames && r.extent == dir.extent;
        const uint32_t expected = i == 0 || selfParent ? dir.extent : parentExtent;
        if (const char* wrong = DotRecordProblem(
                r, i, expected, i == 0 || selfParent ? dir.dataLength : dir.parentLength))
          Problem(where + ": " + wrong);
        if (i == 0 && dir.number == 0) tree.rootModified = r.recorded;
        continue;
      }
      if (r.flags & kIsoFlagAssociated) continue;
      if (r.unitSize != 0 || r.gapSize != 0) {
        Problem(where + ": interleaved file not supported");
        continue;
      }
      const bool isDir = r.flags & kIsoFlagDirectory;
      std::string name;
      SuspFindings found;
      if (!NameOf(r, where, name, found)) {
        if (stopped) break;
        continue;
      }
      const uint64_t dataSector = uint64_t(r.extent) + r.attributeLength;
      if (!ExtentInImage(dataSector, r.dataLength)) {
        Problem(where + ": " + JoinImagePath(path, name) + " passes the end of the image");
        continue;
      }
      if (pending && (isDir || pending->name != name)) {
        Problem(where + ": multi-extent file " + JoinImagePath(path, pending->name) +
                " has no final record");
        pending = nullptr;
      }
      if (listed >= limits.entries) {
        Stop("more than " + std::to_string(limits.entries) + " entries");
        break;
      }
      if (held + childBytes + entryBytes > limits.heldBytes || extents >= limits.extents) {
        Stop(self + ": " +
             (extents >= limits.extents
                  ? "more than " + std::to_string(limits.extents) + " extents in the tree"
                  : "its entries need more than " + std::to_string(limits.heldBytes >> 20) +
                        " MiB"));
        break;
      }
      if (isDir) {
        if (r.flags & kIsoFlagMultiExtent)
          Problem(where + ": directory " + JoinImagePath(path, name) + " flagged multi-extent");
        if (r.attributeLength != 0) {
          Problem(where + ": directory " + JoinImagePath(path, name) +
                  " with an extended attribute record not supported");
          continue;
        }
        if (directories.count(r.extent)) {
          Problem(where + ": directory " + JoinImagePath(path, name) +
                  " loops back or shares an extent");
          continue;
        }
        if (directories.size() >= kMaxDirectories) {
          Stop(where + ": more than " + std::to_string(kMaxDirectories) +
               " directories, more than a path table can number");
          break;
        }
        directories[r.extent] = IsoDirectory{dir.extent, level + 1, r.identifier};
        entries.push_back(
            ImageEntry{name, {}, true, false, r.dataLength, {}, {}, r.recorded, tree.directories});
        FillIsoRecordFields(r, true, names == kIsoPlainNames,
                            names == kIsoRockRidgeNames ? &found : nullptr, entries.back().fields);
        children.push_back(
            IsoChild{r.extent, r.dataLength, tree.directories, std::move(name), dir.dataLength});
        childBytes += sizeof(IsoChild) + children.back().name.capacity();
        entryBytes += HeldBytes(entries.back());
        ++listed;
        ++tree.directories;
        continue;
      }
      ImageExtent extent{dataSector, r.dataLength, false};
      ++extents;
      if (pending) {
        // ECMA-119 6.5.1: every extent but the last of a file fills whole blocks.
        if (pending->size % kImageSectorSize != 0)
          Problem(where + ": extent of " + JoinImagePath(path, name) +
                  " before the last is not whole sectors");
        pending->extents.push_back(extent);
        pending->size += r.dataLength;
        entryBytes += sizeof extent;
      } else {
        entries.push_back(
            ImageEntry{std::move(name), {}, false, false, r.dataLength, {extent}, {}, r.recorded});
        FillIsoRecordFields(r, false, names == kIsoPlainNames,
                            names == kIsoRockRidgeNames ? &found : nullptr, entries.back().fields);
        if (found.havePx) {
          entries.back().links = found.pxLinks;
          entries.back().posixType = found.pxMode & kPosixTypeBits;
        }
        if (found.haveLink) entries.back().linkTarget = found.linkTarget;
        entryBytes += HeldBytes(entries.back());
        ++listed;
        ++tree.files;
        pending = &entries.back();
      }
      if (!(r.flags & kIsoFlagMultiExtent)) pending = nullptr;
    }
  }
  if (pending && !stopped)
    Problem("directory " + shown + ": multi-extent file " + JoinImagePath(path, pending->name) +
            " has no final record");
  if (index < 2 && !stopped) Problem(self + ": no records for itself and its parent");
  visit(folder, context);
  folder = {};
  if (stopped) return true;
  if (level > limits.depth && !children.empty()) {
    Problem("directory " + shown + ": deeper than " + std::to_string(limits.depth) + " levels");
    return true;
  }
  held += childBytes;
  const size_t mark = path.size();
  for (IsoChild& child : children) {
    if (stopped) break;
    path += (mark == 0 ? "" : "/") + child.name;
    const uint64_t bytes = sizeof(IsoChild) + child.name.capacity();
    child.name = {};
    held -= bytes;
    childBytes -= bytes;
    ReadDirectory(child, dir.extent, level + 1);
    path.resize(mark);
  }
  held -= childBytes;
  return true;
}

bool IsoWalk::SystemUse(const IsoDirectoryRecord& r, uint8_t skip, SuspFindings& found,
                        std::string& why) {
  if (skip > r.systemUse.size()) {
    why = "system use field shorter than the sp skip length";
    return false;
  }
  const char* what = nullptr;
  if (!DecodeSuspArea(ByteSpan(reinterpret_cast<const uint8_t*>(r.systemUse.data()) + skip,
                               r.systemUse.size() - skip),
                      found, what)) {
    why = what;
    return false;
  }
  std::vector<uint8_t> area;
  std::vector<uint64_t> followed;  // the areas met, against a chain that loops back
  for (uint32_t n = 0; found.haveContinuation; ++n) {
    const std::string ce = "continuation area at sector " + std::to_string(found.ceBlock);
    const uint64_t key = uint64_t(found.ceBlock) << 16 | (found.ceOffset & 0xFFFF);
    if (std::find(followed.begin(), followed.end(), key) != followed.end()) {
      why = ce + ": the chain of continuation areas loops back";
      return false;
    }
    followed.push_back(key);
    if (n >= kMaxContinuations) {
      why = ce + ": more than " + std::to_string(kMaxContinuations) + " continuation areas";
      return false;
    }
    if (found.ceOffset >= kImageSectorSize || found.ceLength > kImageSectorSize - found.ceOffset ||
        !ExtentInImage(found.ceBlock, 1)) {
      why = ce + ": offset or length passes its sector or the image";
      return false;
    }
    continuationBytes += found.ceLength;
    if (continuationBytes > image.size + kRereadAllowance) {
      why = ce + ": continuation areas of more bytes than the image holds, read again and again";
      stopped = true;
      return false;
    }
    area.resize(found.ceLength);
    if (!image.ReadBytes(uint64_t(found.ceBlock) * kImageSectorSize + found.ceOffset, area.data(),
                         area.size())) {
      why = ce + ": cannot be read: " + image.error;
      return false;
    }
    if (!DecodeSuspArea(ByteSpan(area.data(), area.size()), found, what)) {
      why = ce + ": " + what;
      return false;
    }
  }
  return true;
}

bool IsoWalk::RootRockRidge(const IsoDirectoryRecord& root) {
  std::vector<uint8_t> bytes(kImageSectorSize);
  const std::string where = At(root.extent, 0);
  if (!ExtentInImage(root.extent, 1) || !image.ReadSectors(root.extent, 1, bytes.data())) {
    Problem(where + ": cannot be read");
    return false;
  }
  IsoDirectoryRecord dot;
  const char* why = nullptr;
  if (!DecodeIsoDirectoryRecord(ByteSpan(bytes.data(), bytes.size()), dot, why)) {
    Problem(where + ": " + why);
    return false;
  }
  SuspFindings found;
  std::string what;
  if (!SystemUse(dot, 0, found, what)) {
    Problem(where + ": " + what);
    return false;
  }
  if (!found.sp || !found.rockRidge) {
    Problem(where + ": " + kNoTree);
    return false;
  }
  suspSkip = found.skip;
  FillIsoRecordFields(dot, true, false, &found, tree.root);
  return true;
}

void IsoWalk::CheckPathTable(uint32_t location, uint32_t size, bool bigEndian,
                             std::vector<IsoPathRecord>& records) {
  const std::string table = std::string(bigEndian ? "type m" : "type l") +
                            " path table at sector " + std::to_string(location);
  if (!ExtentInImage(location, size)) {
    Problem(table + ": passes the end of the image");
    return;
  }
  // ECMA-119 9.4: a record is at most 8 bytes and a padded identifier of 255.
  if (size > kMaxDirectories * 264) {
    Problem(table + ": " + std::to_string(size) + " bytes is more than a path table can hold");
    return;
  }
  std::vector<uint8_t> bytes(size);
  if (!image.ReadBytes(uint64_t(location) * kImageSectorSize, bytes.data(), size)) {
    Problem(table + ": cannot be read: " + image.error);
    return;
  }
  const ByteSpan span(bytes.data(), bytes.size());
  std::vector<uint32_t> levels;
  for (size_t pos = 0; pos < size;) {
    IsoPathRecord r;
    const char* why = nullptr;
    const std::string where = table + ": record " + std::to_string(records.size() + 1);
    if (!DecodeIsoPathRecord(span, pos, bigEndian, r, why)) {
      Problem(where + ": " + why);
      return;
    }
    pos += r.length;
    const size_t number = records.size() + 1;
    if (number == 1) {
      if (r.identifier != std::string(1, '\0') || r.parent != 1) Problem(where + ": not the root");
      levels.push_back(1);
    } else if (r.parent == 0 || r.parent >= number) {
      Problem(where + ": parent number " + std::to_string(r.parent) + " does not precede it");
      return;
    } else {
      levels.push_back(levels[r.parent - 1] + 1);
      const IsoPathRecord& before = records.back();
      if (levels.back() < levels[number - 2] ||
          (levels.back() == levels[number - 2] && r.parent < before.parent))
        Problem(where + ": out of order");
    }
    if (records.size() >= directories.size()) {
      Problem(table + ": more records than the " + std::to_string(directories.size()) +
              " directories of the hierarchy");
      return;
    }
    records.push_back(r);
    auto found = directories.find(r.extent);
    if (found == directories.end()) {
      Problem(where + ": extent " + std::to_string(r.extent) + " is no directory of the hierarchy");
      continue;
    }
    const IsoDirectory& d = found->second;
    // The first record's parent number was only checked to be 1, not used.
    const uint32_t parentExtent = number == 1 ? r.extent : records[r.parent - 1].extent;
    if (d.level != levels.back()) Problem(where + ": level differs from the directory hierarchy");
    if (number > 1 && (d.parentExtent != parentExtent || d.identifier != r.identifier))
      Problem(where + ": parent or identifier differs from the directory hierarchy");
  }
  if (records.size() != directories.size())
    Problem(table + ": " + std::to_string(records.size()) + " records for " +
            std::to_string(directories.size()) + " directories");
}

}  // namespace

bool HasIsoTree(ImageSource& image, IsoNames names) {
  if (!HasIso9660(image)) return false;
  if (names == kIsoPlainNames) return true;
  ImageTree tree;
  ReadReport report;
  ReadLimits rootOnly;
  rootOnly.entries = 0;  // the descriptors and the root's first records only
  // A missing tree is refused with one of these; a damaged one is there.
  if (ReadIso9660Tree(image, tree, report, rootOnly, names)) return true;
  for (const std::string& p : report.problems)
    if (p.ends_with(kNoTree) || p.ends_with("no supplementary volume descriptor")) return false;
  return true;
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
  const bool joliet = names == kIsoJolietNames;
  const char* descriptor = joliet ? "supplementary volume descriptor" : "primary volume descriptor";
  IsoPrimaryDescriptor pvd;
  bool havePrimary = false, terminated = false;
  uint8_t sector[kImageSectorSize] = {};
  for (uint32_t n = 0; n < limits.chain && !terminated; ++n) {
    const uint64_t at = kIsoFirstDescriptorSector + n;
    uint8_t type = 0;
    if (!image.ReadSectors(at, 1, sector) ||
        !IsIsoVolumeDescriptor(ByteSpan(sector, sizeof sector), type)) {
      walk.Problem("sector " + std::to_string(at) +
                   ": volume descriptor set ends without a set terminator");
      break;
    }
    terminated = type == kIsoSetTerminator;
    if (type != (joliet ? kIsoSupplementaryDescriptor : kIsoPrimaryDescriptor) || havePrimary)
      continue;
    const char* why = nullptr;
    if (!DecodeIsoPrimaryDescriptor(ByteSpan(sector, sizeof sector), pvd, why, joliet)) {
      walk.Problem(std::string(descriptor) + " at sector " + std::to_string(at) + ": " + why);
      return false;
    }
    havePrimary = !joliet || pvd.joliet;
  }
  if (!havePrimary) {
    walk.Problem(std::string("no ") + descriptor);
    return false;
  }
  if (pvd.blockSize != kImageSectorSize) {
    walk.Problem(std::string(descriptor) + ": logical block size " + std::to_string(pvd.blockSize) +
                 " not supported");
    return false;
  }
  if (pvd.volumeSpaceSize > image.Sectors())
    walk.Problem(std::string(descriptor) + ": volume space size " +
                 std::to_string(pvd.volumeSpaceSize) + " sectors is larger than the image (" +
                 std::to_string(image.Sectors()) + " sectors)");
  tree.volumeId = joliet ? Ucs2Text(pvd.volumeId) : pvd.volumeId;
  tree.directories = 1;
  if (names == kIsoRockRidgeNames && !walk.RootRockRidge(pvd.root)) return false;
  walk.directories[pvd.root.extent] = IsoDirectory{pvd.root.extent, 1, std::string(1, '\0')};
  const size_t problemsBefore = report.problems.size() + report.dropped;
  if (!walk.ReadDirectory(
          IsoChild{pvd.root.extent, pvd.root.dataLength, 0, {}, pvd.root.dataLength},
          pvd.root.extent, 1))
    return false;
  // The path tables are checked against a whole hierarchy only: a damaged directory
  // already has its own problem, and every later record would differ for its sake.
  if (report.problems.size() + report.dropped != problemsBefore) return true;
  std::vector<IsoPathRecord> typeL, typeM;
  walk.CheckPathTable(pvd.typeLTable, pvd.pathTableSize, false, typeL);
  walk.CheckPathTable(pvd.typeMTable, pvd.pathTableSize, true, typeM);
  if (typeL.size() == typeM.size()) {
    for (size_t i = 0; i < typeL.size(); ++i) {
      if (typeL[i].extent != typeM[i].extent || typeL[i].parent != typeM[i].parent ||
          typeL[i].identifier != typeM[i].identifier) {
        walk.Problem("type m path table: record " + std::to_string(i + 1) +
                     " differs from the type l table");
        break;
      }
    }
  }
  return true;
}

}  // namespace vellumcast
