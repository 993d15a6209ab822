// The ISO 9660 walk as its three files share it (iso9660_tree.cc: the descriptors and the
// directory hierarchy; iso9660_names.cc: names and System Use entries;
// iso9660_path_tables.cc: the path tables checked against the hierarchy). Not for use
// outside the reader: ReadIso9660Tree and WalkIso9660Tree are its entry points.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "reader/ecma119_records.h"
#include "reader/iso9660_tree.h"
#include "reader/susp_entries.h"

namespace vellumcast {

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
  std::string shown = {};  // its path as a problem shows it ("/" for the root)
  std::string self = {};   // "directory <shown> at sector <extent>"
  ImageFolder folder = {};
  std::vector<IsoChild> children = {};
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
    Problem(ReadProblemKind::kLimitReached, structure, sector, what, path);
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
std::string IsoIdentifierText(const std::string& bytes);
// A file identifier without its version (";1") and without a final '.' of an
// identifier that has no extension (ECMA-119 7.5.1).
std::string IsoFileName(std::string id);
// UCS-2 big-endian (a Joliet identifier) as UTF-8.
std::string JolietText(const std::string& bytes);
// "directory record at sector S offset O".
std::string IsoRecordPlace(uint64_t sector, size_t offset);

// Both path tables, checked against the hierarchy and against each other.
void CheckPathTables(IsoWalk& walk, const IsoPrimaryDescriptor& pvd);

}  // namespace vellumcast
