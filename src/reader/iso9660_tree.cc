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

using enum ReadProblemKind;

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

// The file type bits of a Rock Ridge PX mode (POSIX S_IFMT).
constexpr uint32_t kPosixTypeBits = 0170000;

// Continuation areas followed for one record at most; each area at most one sector.
constexpr uint32_t kMaxContinuations = 32;
// ECMA-119 9.4.6: a path table numbers directories with 16 bits, so no volume holds more.
constexpr size_t kMaxDirectories = 65535;
// Directory and continuation bytes one walk reads beyond the image's own size: extents
// that overlap, and areas shared by many records, are refused once they cost this much.
constexpr uint64_t kRereadAllowance = 64u << 20;

// One directory while its records are read: what it lists and what it holds.
struct IsoDirectoryRead {
  const IsoChild& dir;
  uint32_t parentExtent = 0;
  uint32_t level = 1;
  std::string shown;  // its path as a problem shows it ("/" for the root)
  std::string self;   // "directory <shown> at sector <extent>"
  ImageFolder folder;
  std::vector<IsoChild> children;
  uint64_t childBytes = 0;        // held by `children`
  uint64_t entryBytes = 0;        // held by `folder.entries`
  ImageEntry* pending = nullptr;  // a multi-extent file still waiting for its final record
  uint32_t index = 0;             // records read
};

// One record of a directory as the walk takes it.
struct IsoRecordAt {
  const IsoDirectoryRecord& r;
  uint64_t sector = 0;  // the image sector holding it
  std::string where;    // "directory record at sector S offset O"
};

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

  // Adds `problem` to the report, its text after the file system's name.
  void Problem(ReadProblem problem) {
    problem.text = std::string(IsoNamesLabel(names)) + ": " + problem.text;
    report.Add(std::move(problem));
  }
  void Problem(ReadProblemKind kind, const char* structure, uint64_t sector,
               const std::string& what, const std::string& entry = {}) {
    Problem(ReadProblem{kind, structure, sector, entry, what});
  }
  // A problem of a record of the directory being read: its sector, and the entry it
  // names (`name`, when known) or else the directory.
  void RecordProblem(ReadProblemKind kind, const IsoRecordAt& at, const std::string& what,
                     const std::string& name = {}) {
    Problem(kind, "directory record", at.sector, at.where + ": " + what,
            name.empty() ? path : JoinImagePath(path, name));
  }
  // Names the limit reached and stops the walk.
  void Stop(const char* structure, uint64_t sector, const std::string& what) {
    Problem(kLimitReached, structure, sector, what, path);
    stopped = true;
  }
  // The SUSP entries of a record's System Use field and its continuation areas; false
  // with the problem in `why` when an entry or a continuation is damaged.
  bool SystemUse(const IsoDirectoryRecord& r, uint8_t skip, SuspFindings& found, ReadProblem& why);
  // Follows the continuation areas `found` names; false with the problem in `why`.
  bool Continuations(SuspFindings& found, ReadProblem& why);
  // Reads the root's "." record: SP and an ER naming Rock Ridge; false when absent.
  bool RootRockRidge(const IsoDirectoryRecord& root);
  bool ExtentInImage(uint64_t sector, uint64_t bytes) const {
    const uint64_t sectors = (bytes + kImageSectorSize - 1) / kImageSectorSize;
    return sector <= image.Sectors() && sectors <= image.Sectors() - sector;
  }
  // The name a record shows in the tree being read; false with the problem given.
  // `found` holds the record's SUSP entries when Rock Ridge names are read.
  bool NameOf(const IsoRecordAt& at, std::string& name, SuspFindings& found);
  // Reads the directory `dir` at `path`, one sector at a time, hands it over and reads
  // its subdirectories; false when the directory's own extent cannot be read.
  bool ReadDirectory(const IsoChild& dir, uint32_t parentExtent, uint32_t level);
  // Whether the directory's extent may be read: false when it is refused (too large,
  // past the image); true with the walk stopped when directories overlap too much.
  bool AdmitDirectory(IsoDirectoryRead& d);
  // Reads the directory's sectors and takes their records; false when its first sector
  // cannot be read.
  bool ReadRecords(IsoDirectoryRead& d);
  // Takes one record into the directory's folder; false when the rest of the directory
  // is not to be read (a limit of the walk).
  bool TakeRecord(IsoDirectoryRead& d, const IsoRecordAt& at);
  // Checks the "." and ".." records, the first two of every directory.
  void CheckDotRecord(IsoDirectoryRead& d, const IsoRecordAt& at, uint32_t index);
  // False (the walk stopped) when one more entry passes a limit of the walk.
  bool WithinLimits(IsoDirectoryRead& d, const IsoRecordAt& at);
  // Lists a subdirectory; false when the walk stopped.
  bool AddDirectory(IsoDirectoryRead& d, const IsoRecordAt& at, std::string& name,
                    const SuspFindings& found);
  // Lists a file, or adds an extent to the multi-extent file before it.
  void AddFile(IsoDirectoryRead& d, const IsoRecordAt& at, std::string& name,
               const SuspFindings& found);
  // Hands the folder over and reads its subdirectories.
  void Descend(IsoDirectoryRead& d);
  void CheckPathTable(uint32_t location, uint32_t size, bool bigEndian,
                      std::vector<IsoPathRecord>& records);
  // Checks record `records.back()` of a path table against the hierarchy.
  void CheckPathRecord(const std::string& where, const std::vector<IsoPathRecord>& records,
                       const std::vector<uint32_t>& levels, uint64_t sector);
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

bool IsoWalk::NameOf(const IsoRecordAt& at, std::string& name, SuspFindings& found) {
  const IsoDirectoryRecord& r = at.r;
  const bool isDir = r.flags & kIsoFlagDirectory;
  if (names == kIsoJolietNames) {
    name = Ucs2Text(r.identifier);
    const size_t semicolon = name.rfind(';');  // a version, though Joliet names need none
    if (!isDir && semicolon != std::string::npos) name.resize(semicolon);
  } else if (names == kIsoRockRidgeNames) {
    ReadProblem why;
    if (!SystemUse(r, suspSkip, found, why)) {
      if (why.sector == kNoSector) why.sector = at.sector;
      why.path = path;
      Problem(why.Within(at.where));
      return false;
    }
    if (!found.haveName || found.nameContinues) {
      RecordProblem(found.haveName ? kDamaged : kAbsent, at,
                    found.haveName ? "nm entry continues past the last" : "no nm entry");
      return false;
    }
    name = found.name;
  } else {
    name = IdentifierText(isDir ? r.identifier : FileName(r.identifier));
  }
  if (name.size() > limits.nameBytes) {
    RecordProblem(kLimitReached, at,
                  "name of " + std::to_string(name.size()) + " bytes is longer than " +
                      std::to_string(limits.nameBytes));
    return false;
  }
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    RecordProblem(kDamaged, at, "identifier not usable as a name");
    return false;
  }
  return true;
}

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
      const IsoRecordAt record{r, at, At(at, pos)};
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

bool IsoWalk::SystemUse(const IsoDirectoryRecord& r, uint8_t skip, SuspFindings& found,
                        ReadProblem& why) {
  if (skip > r.systemUse.size()) {
    why = Fault(kDamaged, "system use field shorter than the sp skip length");
    why.structure = "system use field";
    return false;
  }
  const char* what = nullptr;
  if (!DecodeSuspArea(ByteSpan(reinterpret_cast<const uint8_t*>(r.systemUse.data()) + skip,
                               r.systemUse.size() - skip),
                      found, what)) {
    why = Fault(kDamaged, what);
    why.structure = "system use field";
    return false;
  }
  return Continuations(found, why);
}

bool IsoWalk::Continuations(SuspFindings& found, ReadProblem& why) {
  std::vector<uint8_t> area;
  std::vector<uint64_t> followed;  // the areas met, against a chain that loops back
  for (uint32_t n = 0; found.haveContinuation; ++n) {
    const std::string ce = "continuation area at sector " + std::to_string(found.ceBlock);
    auto fail = [&](ReadProblemKind kind, const std::string& what) {
      why = Fault(kind, ce + ": " + what, found.ceBlock);
      why.structure = "continuation area";
      return false;
    };
    const uint64_t key = uint64_t(found.ceBlock) << 16 | (found.ceOffset & 0xFFFF);
    if (std::find(followed.begin(), followed.end(), key) != followed.end())
      return fail(kDamaged, "the chain of continuation areas loops back");
    followed.push_back(key);
    if (n >= kMaxContinuations)
      return fail(kLimitReached,
                  "more than " + std::to_string(kMaxContinuations) + " continuation areas");
    if (found.ceOffset >= kImageSectorSize || found.ceLength > kImageSectorSize - found.ceOffset ||
        !ExtentInImage(found.ceBlock, 1))
      return fail(kDamaged, "offset or length passes its sector or the image");
    continuationBytes += found.ceLength;
    if (continuationBytes > image.size + kRereadAllowance) {
      stopped = true;
      return fail(kLimitReached,
                  "continuation areas of more bytes than the image holds, read again and again");
    }
    area.resize(found.ceLength);
    if (!image.ReadBytes(uint64_t(found.ceBlock) * kImageSectorSize + found.ceOffset, area.data(),
                         area.size()))
      return fail(kUnreadable, "cannot be read: " + image.error);
    const char* what = nullptr;
    if (!DecodeSuspArea(ByteSpan(area.data(), area.size()), found, what))
      return fail(kDamaged, what);
  }
  return true;
}

bool IsoWalk::RootRockRidge(const IsoDirectoryRecord& root) {
  std::vector<uint8_t> bytes(kImageSectorSize);
  const std::string where = At(root.extent, 0);
  auto fail = [&](ReadProblemKind kind, const std::string& what) {
    Problem(kind, "directory record", root.extent, where + ": " + what);
    return false;
  };
  if (!ExtentInImage(root.extent, 1) || !image.ReadSectors(root.extent, 1, bytes.data()))
    return fail(kUnreadable, "cannot be read");
  IsoDirectoryRecord dot;
  const char* why = nullptr;
  if (!DecodeIsoDirectoryRecord(ByteSpan(bytes.data(), bytes.size()), dot, why))
    return fail(kDamaged, why);
  SuspFindings found;
  ReadProblem what;
  if (!SystemUse(dot, 0, found, what)) {
    if (what.sector == kNoSector) what.sector = root.extent;
    Problem(what.Within(where));
    return false;
  }
  // RRIP 4.1.1 (SUSP 5.3, 5.5): a Rock Ridge tree begins with SP and an ER naming it.
  if (!found.sp || !found.rockRidge) return fail(kAbsent, "no sp entry and rock ridge er entry");
  suspSkip = found.skip;
  FillIsoRecordFields(dot, true, false, &found, tree.root);
  return true;
}

void IsoWalk::CheckPathTable(uint32_t location, uint32_t size, bool bigEndian,
                             std::vector<IsoPathRecord>& records) {
  const std::string table = std::string(bigEndian ? "type m" : "type l") +
                            " path table at sector " + std::to_string(location);
  auto problem = [&](ReadProblemKind kind, const std::string& what) {
    Problem(kind, "path table", location, what);
  };
  if (!ExtentInImage(location, size))
    return problem(kUnreadable, table + ": passes the end of the image");
  // ECMA-119 9.4: a record is at most 8 bytes and a padded identifier of 255.
  if (size > kMaxDirectories * 264)
    return problem(kDamaged, table + ": " + std::to_string(size) +
                                 " bytes is more than a path table can hold");
  std::vector<uint8_t> bytes(size);
  if (!image.ReadBytes(uint64_t(location) * kImageSectorSize, bytes.data(), size))
    return problem(kUnreadable, table + ": cannot be read: " + image.error);
  const ByteSpan span(bytes.data(), bytes.size());
  std::vector<uint32_t> levels;
  for (size_t pos = 0; pos < size;) {
    IsoPathRecord r;
    const char* why = nullptr;
    const size_t number = records.size() + 1;
    const std::string where = table + ": record " + std::to_string(number);
    if (!DecodeIsoPathRecord(span, pos, bigEndian, r, why))
      return problem(kDamaged, where + ": " + why);
    pos += r.length;
    if (number == 1) {
      if (r.identifier != std::string(1, '\0') || r.parent != 1)
        problem(kDamaged, where + ": not the root");
      levels.push_back(1);
    } else if (r.parent == 0 || r.parent >= number) {
      return problem(
          kDamaged, where + ": parent number " + std::to_string(r.parent) + " does not precede it");
    } else {
      levels.push_back(levels[r.parent - 1] + 1);
      const IsoPathRecord& before = records.back();
      if (levels.back() < levels[number - 2] ||
          (levels.back() == levels[number - 2] && r.parent < before.parent))
        problem(kDamaged, where + ": out of order");
    }
    if (records.size() >= directories.size())
      return problem(kDamaged, table + ": more records than the " +
                                   std::to_string(directories.size()) +
                                   " directories of the hierarchy");
    records.push_back(r);
    CheckPathRecord(where, records, levels, location);
  }
  if (records.size() != directories.size())
    problem(kDamaged, table + ": " + std::to_string(records.size()) + " records for " +
                          std::to_string(directories.size()) + " directories");
}

void IsoWalk::CheckPathRecord(const std::string& where, const std::vector<IsoPathRecord>& records,
                              const std::vector<uint32_t>& levels, uint64_t sector) {
  const IsoPathRecord& r = records.back();
  const size_t number = records.size();
  auto found = directories.find(r.extent);
  if (found == directories.end()) {
    Problem(kDamaged, "path table", sector,
            where + ": extent " + std::to_string(r.extent) + " is no directory of the hierarchy");
    return;
  }
  const IsoDirectory& d = found->second;
  // The first record's parent number was only checked to be 1, not used.
  const uint32_t parentExtent = number == 1 ? r.extent : records[r.parent - 1].extent;
  if (d.level != levels.back())
    Problem(kDamaged, "path table", sector, where + ": level differs from the directory hierarchy");
  if (number > 1 && (d.parentExtent != parentExtent || d.identifier != r.identifier))
    Problem(kDamaged, "path table", sector,
            where + ": parent or identifier differs from the directory hierarchy");
}

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

// Both path tables, checked against the hierarchy and against each other.
void CheckPathTables(IsoWalk& walk, const IsoPrimaryDescriptor& pvd) {
  std::vector<IsoPathRecord> typeL, typeM;
  walk.CheckPathTable(pvd.typeLTable, pvd.pathTableSize, false, typeL);
  walk.CheckPathTable(pvd.typeMTable, pvd.pathTableSize, true, typeM);
  if (typeL.size() != typeM.size()) return;
  for (size_t i = 0; i < typeL.size(); ++i) {
    if (typeL[i].extent != typeM[i].extent || typeL[i].parent != typeM[i].parent ||
        typeL[i].identifier != typeM[i].identifier) {
      walk.Problem(
          kDamaged, "path table", pvd.typeMTable,
          "type m path table: record " + std::to_string(i + 1) + " differs from the type l table");
      break;
    }
  }
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
  tree.volumeId = names == kIsoJolietNames ? Ucs2Text(pvd.volumeId) : pvd.volumeId;
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
