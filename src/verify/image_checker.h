// The check of one image against a planned folder as its three files share it
// (image_check.cc: the file systems one after the other; folder_match.cc: each folder of
// a walk matched with its planned folder; byte_compare.cc: every matched file's bytes
// compared with its source). Not for use outside verify/: CheckImage is the entry point.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "reader/image_tree.h"
#include "tree/node_path.h"
#include "verify/expected_names.h"
#include "verify/foreign_names.h"
#include "verify/image_check.h"
#include "verify/record_rules.h"
#include "verify/source_read_ahead.h"

namespace vellumcast {

// Bytes of the image compared per read: the image side of a source segment.
constexpr size_t kImageChunkBytes = kSourceBatchBytes;
// How far ahead of the comparison the system is asked to read a large file's extents.
constexpr uint64_t kImageReadAheadBytes = 8u << 20;

// What a folder of the walk is matched with, besides a planned folder (index + 1; 0:
// the root): nothing to look into (a folder the plan does not have is named once, not
// with its entries; a folder already handed over), or a folder where the plan has a
// file, whose every entry is one the folder does not have.
constexpr uint32_t kUnplanned = 0xFFFFFFFF;
constexpr uint32_t kPlannedFile = 0xFFFFFFFE;
// A folder of another tool's ISO 9660 tree whose name does not reduce to a source name:
// each of its files must hold the bytes of a file checked through a name-keeping tree.
constexpr uint32_t kByContent = 0xFFFFFFFD;

// One planned file to compare with its bytes in the file system being checked: most
// often one recorded extent that holds the whole file, else its extents in
// `Checker::extents`, or (no extents) its bytes embedded in its UDF File Entry, kept in
// `Checker::embedded`.
struct ByteJob {
  uint64_t at = 0;  // the sector of its one extent, its first extent in `extents`, or its first
                    // byte in `embedded`
  uint32_t planned = 0;
  uint32_t extentCount = 0;  // kOneExtent, or the count in `extents` (0: embedded)
};
constexpr uint32_t kOneExtent = 0xFFFFFFFF;

// A digest of where an entry's bytes lie (FNV-1a over its extents or embedded bytes);
// never 0, which stands for "not compared".
uint64_t Fingerprint(const ImageEntry& entry);

inline const char* Kind(bool directory) { return directory ? "a folder" : "a file"; }

// How a difference names an entry: its path in the image from the root.
inline std::string Shown(std::string_view path) {
  std::string shown(1, '/');
  return shown.append(path);
}

// Asks the system to read [offset, offset + n) of a file ahead of its comparison.
void ReadAheadOf(ImageSource& image, std::span<const ImageExtent> extents, uint64_t offset,
                 uint64_t n);

void IndexReductions(const std::vector<ImageEntry>& entries, ForeignNames& reductions);

struct Checker {
  ImageSource& image;
  const PlannedDisc& disc;
  CheckOutcome& outcome;
  CheckProgressFn progress;
  void* context;
  // The planned entries of folder f (index + 1; 0: the root) in plan order:
  // children[childStart[f]] up to children[childStart[f + 1]].
  std::vector<uint32_t> childStart = {}, children = {};
  std::vector<uint64_t> compared = {};  // per planned entry: Fingerprint, 0 when not compared
  std::unordered_map<uint32_t, std::string> failures = {};  // per planned entry: what differed
  uint64_t done = 0;                                        // bytes compared so far

  // The file system being checked.
  PlannedNames treeNames = kPlannedIsoNames;  // which tree: ISO 9660, UDF, Rock Ridge, Joliet
  const ImageTree* walked = nullptr;          // its volume, filled before the first folder comes
  std::string name = {};                      // "ISO 9660", "UDF 1.02"
  std::vector<uint32_t> folders = {};  // per folder number of the walk: what it is matched with
  std::vector<ByteJob> jobs = {};
  std::vector<ImageExtent> extents = {};
  std::string embedded = {};
  CheckOutcome found = {};  // the differences of the matching, reported after the reader's problems
  // Another tool's plain ISO 9660 tree, checked after the name-keeping trees: names by the
  // common reduction, the rest by content through the files those trees compared.
  bool foreign = false;
  std::unordered_map<uint64_t, uint32_t> byPrint = {};  // Fingerprint -> planned entry
  std::vector<bool> reached = {};                       // per planned entry, in this tree
  uint64_t byContent = 0;                               // files matched by content

  void IndexChildren();
  bool CheckFileSystem(PlannedNames names, bool another = false);
  void NameUnreached();
  std::string checked[4] = {};  // per PlannedNames: the name of the file system checked
  void NameFileSystem();
  static void Visit(ImageFolder& folder, void* checker) {
    static_cast<Checker*>(checker)->Match(folder);
  }
  void Match(ImageFolder& folder);
  // Planned entry `p` and the entry of the folder that matched it by name: kind, record
  // fields, links, size; a folder is matched when it comes, a file's bytes later.
  void MatchEntry(uint32_t p, const ImageEntry& entry);
  void MatchFile(uint32_t p, const ImageEntry& entry);
  // The record fields of `entry`, planned entry `p` (record_check.cc).
  void CheckFields(uint32_t p, const ImageEntry& entry, const std::string& path);
  void CheckRoot(const ImageTree& tree);
  MetadataRules rules = {};
  std::vector<uint32_t> isoSectors = {};  // per planned file: its first sector in ISO 9660
  void CheckReaderKeys(const std::vector<ImageEntry>& entries);
  std::string folderPath = {};  // of the folder being matched
  std::string PathOf(const ImageEntry& entry) const {
    return JoinImagePath(folderPath, entry.name);
  }
  std::unordered_map<std::string, uint32_t> NamesOf(const std::vector<ImageEntry>& entries);
  void MatchByContent(const ImageEntry& entry);
  std::string Key(uint32_t p) const {
    return foreign ? Reduced(ExpectedRockRidgeName(*disc.entries[p].node))
                   : disc.NameOf(p, treeNames);
  }
  void Plan(uint32_t number, uint32_t what) {
    if (number >= folders.size()) folders.resize(size_t(number) + 1, kUnplanned);
    folders[number] = what;
  }
  bool InFileSystem(const PlannedEntry& e) const {
    return treeNames == kPlannedUdfNames      ? e.inUdf
           : treeNames == kPlannedJolietNames ? e.inJoliet
                                              : e.inIso;
  }
  void Missing(uint32_t p, const std::string& path) {
    const std::string source = SourcePathText(*disc.entries[p].node, PathFrom::BelowSource);
    found.Add(Shown(path) + ": missing from " + name +
              (source == path ? "" : " (the source's " + source + ")"));
  }
  void NameUnread();
  // Where the tree records file types (Rock Ridge, UDF): a symbolic link with its text,
  // a FIFO, socket or device node of its type, a file's link count; true when the entry
  // is a link or special file in the source or the tree (it has no bytes to compare).
  bool CheckLinkOrSpecialFile(uint32_t p, const ImageEntry& entry, const std::string& path);
  // Bytes [offset, offset + n) of a job's file in the image; false when they cannot be read.
  bool ReadJob(const ByteJob& job, uint64_t offset, uint8_t* out, size_t n, ExtentCursor& cursor);
  bool CompareBytes();
  // Orders the jobs by their first sector in the image.
  void SortJobs();
  // True when a segment of a job's source differs from its bytes in the image or these
  // cannot be read, with `what` saying how.
  bool SegmentDiffers(const ByteJob& job, const SourceSegment& segment, uint8_t* buffer,
                      ExtentCursor& cursor, std::string& what);
  void Differs(CheckOutcome& to, uint32_t planned, const std::string& what) {
    to.Add(Shown(disc.PathOf(planned, treeNames)) + ": " + what + " (" + name + ")");
  }
};

}  // namespace vellumcast
