// The ISO 9660 walk: volume descriptors, directory hierarchy, path tables.
#include "reader/iso9660_tree.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/text.h"
#include "reader/ecma119_records.h"
#include "reader/susp_entries.h"

namespace vellumcast {
namespace {

// One directory of the hierarchy as the path tables must describe it.
struct IsoDirectory {
  uint32_t extent = 0;
  uint32_t parentExtent = 0;
  uint32_t level = 1;  // the root is level 1 (ECMA-119 6.8.2.1)
  std::string identifier;
  std::string name;     // as the tree shows it
  uint32_t number = 0;  // the number the walk hands the folder over with
};

constexpr const char* kNoTree = "no sp entry and rock ridge er entry";

// The file type bits of a Rock Ridge PX mode (POSIX S_IFMT).
constexpr uint32_t kPosixTypeBits = 0170000;

// Continuation areas followed for one record at most; each area at most one sector.
constexpr uint32_t kMaxContinuations = 32;

struct IsoWalk {
  ImageSource& image;
  ImageTree& tree;
  ReadReport& report;
  const ReadLimits& limits;
  IsoNames names = kIsoPlainNames;
  ImageFolderFn visit = nullptr;
  void* context = nullptr;
  uint8_t suspSkip = 0;  // SP: bytes skipped at the start of every System Use field
  std::unordered_map<uint32_t, IsoDirectory> directories;  // by extent
  uint32_t listed = 0;                                     // entries listed so far

  void Problem(const std::string& what) {
    report.Add(std::string(IsoNamesLabel(names)) + ": " + what);
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
  // False when the directory's own extent cannot be read.
  bool ReadDirectory(const IsoDirectory& dir, uint32_t dataLength, const std::string& path);
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

bool IsoWalk::ReadDirectory(const IsoDirectory& dir, uint32_t dataLength, const std::string& path) {
  const std::string shown = path.empty() ? "/" : path;
  if (dataLength > limits.directoryBytes) {
    Problem("directory " + shown + " at sector " + std::to_string(dir.extent) + ": " +
            std::to_string(dataLength) + " bytes is too large");
    return false;
  }
  if (!ExtentInImage(dir.extent, dataLength)) {
    Problem("directory " + shown + " at sector " + std::to_string(dir.extent) +
            ": passes the end of the image");
    return false;
  }
  const uint32_t sectors = (dataLength + kImageSectorSize - 1) / kImageSectorSize;
  std::vector<uint8_t> bytes(size_t(sectors) * kImageSectorSize);
  if (!image.ReadSectors(dir.extent, sectors, bytes.data())) {
    Problem("directory " + shown + " at sector " + std::to_string(dir.extent) +
            ": cannot be read: " + image.error);
    return false;
  }
  std::vector<std::pair<IsoDirectory, uint32_t>> children;
  ImageFolder folder{path, dir.number, {}};
  std::vector<ImageEntry>& entries = folder.entries;
  // Hands the folder over; its entries are not kept beyond this.
  auto handOver = [&] {
    visit(folder, context);
    folder = {};
  };
  ImageEntry* pending = nullptr;  // a multi-extent file still waiting for its final record
  uint32_t index = 0;
  for (uint32_t s = 0; s < sectors; ++s) {
    const ByteSpan sector(bytes.data() + size_t(s) * kImageSectorSize, kImageSectorSize);
    const size_t end =
        std::min<size_t>(kImageSectorSize, dataLength - size_t(s) * kImageSectorSize);
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
        const uint32_t expected = i == 0 ? dir.extent : dir.parentExtent;
        if (r.identifier != std::string(1, char(i)) || r.extent != expected ||
            !(r.flags & kIsoFlagDirectory))
          Problem(where + ": " +
                  (i == 0 ? "first record does not point to its directory"
                          : "second record does not point to the parent directory"));
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
      if (names == kIsoJolietNames) {
        name = Ucs2Text(r.identifier);
        const size_t semicolon = name.rfind(';');  // a version, though Joliet names need none
        if (!isDir && semicolon != std::string::npos) name.resize(semicolon);
      } else if (names == kIsoRockRidgeNames) {
        std::string why;
        if (!SystemUse(r, suspSkip, found, why)) {
          Problem(where + ": " + why);
          continue;
        }
        if (!found.haveName || found.nameContinues) {
          Problem(where + ": " +
                  (found.haveName ? "nm entry continues past the last" : "no nm entry"));
          continue;
        }
        name = found.name;
      } else {
        name = IdentifierText(isDir ? r.identifier : FileName(r.identifier));
      }
      if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
          name.find('\0') != std::string::npos) {
        Problem(where + ": identifier not usable as a name");
        continue;
      }
      const std::string childPath = path.empty() ? name : path + "/" + name;
      const uint64_t dataSector = uint64_t(r.extent) + r.attributeLength;
      if (!ExtentInImage(dataSector, r.dataLength)) {
        Problem(where + ": " + childPath + " passes the end of the image");
        continue;
      }
      if (pending && (isDir || pending->path != childPath)) {
        Problem(where + ": multi-extent file " + pending->path + " has no final record");
        pending = nullptr;
      }
      if (listed >= limits.entries) {
        Problem("more than " + std::to_string(limits.entries) + " entries");
        handOver();
        return true;
      }
      if (isDir) {
        if (r.flags & kIsoFlagMultiExtent)
          Problem(where + ": directory " + childPath + " flagged multi-extent");
        if (r.attributeLength != 0) {
          Problem(where + ": directory " + childPath +
                  " with an extended attribute record not supported");
          continue;
        }
        if (directories.count(r.extent)) {
          Problem(where + ": directory " + childPath + " loops back or shares an extent");
          continue;
        }
        IsoDirectory child{r.extent,     dir.extent, dir.level + 1,
                           r.identifier, name,       tree.directories};
        directories[r.extent] = child;
        children.emplace_back(child, r.dataLength);
        entries.push_back(
            ImageEntry{childPath, true, false, r.dataLength, {}, {}, r.recorded, child.number});
        ++listed;
        ++tree.directories;
        continue;
      }
      ImageExtent extent{dataSector, r.dataLength, false};
      if (pending) {
        // ECMA-119 6.5.1: every extent but the last of a file fills whole blocks.
        if (pending->size % kImageSectorSize != 0)
          Problem(where + ": extent of " + childPath + " before the last is not whole sectors");
        pending->extents.push_back(extent);
        pending->size += r.dataLength;
      } else {
        entries.push_back(
            ImageEntry{childPath, false, false, r.dataLength, {extent}, {}, r.recorded});
        if (found.haveAttributes) {
          entries.back().links = found.links;
          entries.back().posixType = found.mode & kPosixTypeBits;
        }
        if (found.haveLink) entries.back().linkTarget = found.linkTarget;
        ++listed;
        ++tree.files;
        pending = &entries.back();
      }
      if (!(r.flags & kIsoFlagMultiExtent)) pending = nullptr;
    }
  }
  if (pending)
    Problem("directory " + shown + ": multi-extent file " + pending->path + " has no final record");
  if (index < 2)
    Problem("directory " + shown + " at sector " + std::to_string(dir.extent) +
            ": no records for itself and its parent");
  handOver();
  if (dir.level > limits.depth && !children.empty()) {
    Problem("directory " + shown + ": deeper than " + std::to_string(limits.depth) + " levels");
    return true;
  }
  for (const auto& [child, length] : children) {
    ReadDirectory(child, length, path.empty() ? child.name : path + "/" + child.name);
  }
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
  for (uint32_t n = 0; found.haveContinuation; ++n) {
    const std::string ce = "continuation area at sector " + std::to_string(found.ceBlock);
    if (n >= kMaxContinuations) {
      why = ce + ": more than " + std::to_string(kMaxContinuations) + " continuation areas";
      return false;
    }
    if (found.ceOffset >= kImageSectorSize || found.ceLength > kImageSectorSize - found.ceOffset ||
        !ExtentInImage(found.ceBlock, 1)) {
      why = ce + ": offset or length passes its sector or the image";
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
  return true;
}

void IsoWalk::CheckPathTable(uint32_t location, uint32_t size, bool bigEndian,
                             std::vector<IsoPathRecord>& records) {
  const std::string table = std::string(bigEndian ? "type m" : "type l") +
                            " path table at sector " + std::to_string(location);
  if (!ExtentInImage(location, size) || size > limits.directoryBytes) {
    Problem(table + ": passes the end of the image");
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
    records.push_back(r);
    auto found = directories.find(r.extent);
    if (found == directories.end()) {
      Problem(where + ": extent " + std::to_string(r.extent) + " is no directory of the hierarchy");
      continue;
    }
    const IsoDirectory& d = found->second;
    const uint32_t parentExtent = records[r.parent - 1].extent;
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
  IsoWalk walk{image, tree, report, limits, names, visit, context, 0, {}, 0};
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
  IsoDirectory root{pvd.root.extent, pvd.root.extent, 1, std::string(1, '\0'), "", 0};
  walk.directories[root.extent] = root;
  const size_t problemsBefore = report.problems.size() + report.dropped;
  if (!walk.ReadDirectory(root, pvd.root.dataLength, "")) return false;
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
