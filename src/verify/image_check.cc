// Matching each file system's folders with the planned folders by name as the reader
// walks them, then comparing every file's bytes with its source in one pass over the
// image. Only the folders on the reader's way down and, per planned file, a compact job
// (where its bytes lie in the image) are held, never the paths of all entries. The file
// systems are checked one after the other; a file whose extents a file system shares
// with one checked before (both trees of a bridge image point at one copy of the data)
// is not read again.
#include "verify/image_check.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <unordered_map>

#include "reader/image_survey.h"
#include "reader/iso9660_tree.h"
#include "reader/udf_tree.h"
#include "reader/volume_labels.h"
#include "tree/tree_node.h"
#include "verify/expected_names.h"
#include "verify/foreign_names.h"
#include "verify/descriptor_check.h"
#include "verify/label_check.h"
#include "verify/source_read_ahead.h"

namespace vellumcast {
namespace {

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
uint64_t Fingerprint(const ImageEntry& entry) {
  uint64_t h = 14695981039346656037ull;
  auto mix = [&](uint64_t v) {
    for (int i = 0; i < 8; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
  };
  for (const ImageExtent& e : entry.extents) {
    mix(e.zero ? ~uint64_t(0) : e.sector);
    mix(e.bytes);
  }
  for (char c : entry.embedded) mix(uint8_t(c));
  mix(entry.size);
  return h | 1;
}

const char* Kind(bool directory) { return directory ? "a folder" : "a file"; }

// How a difference names an entry: its path in the image from the root.
std::string Shown(std::string_view path) {
  std::string shown(1, '/');
  return shown.append(path);
}

// Asks the system to read [offset, offset + n) of a file ahead of its comparison.
void ReadAheadOf(ImageSource& image, std::span<const ImageExtent> extents, uint64_t offset,
                 uint64_t n) {
  uint64_t start = 0;
  for (const ImageExtent& e : extents) {
    if (start >= offset + n) break;
    const uint64_t end = start + e.bytes;
    if (!e.zero && end > offset) {
      const uint64_t from = std::max(start, offset), to = std::min(end, offset + n);
      image.ReadAhead(e.sector * kImageSectorSize + (from - start), to - from);
    }
    start = end;
  }
}

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
  PlannedNames iso = kPlannedIsoNames;
  const ImageTree* walked = nullptr;   // its volume, filled before the first folder comes
  std::string name = {};               // "ISO 9660", "UDF 1.02"
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
    return foreign ? Reduced(ExpectedRockRidgeName(*disc.entries[p].node)) : disc.NameOf(p, iso);
  }
  void Plan(uint32_t number, uint32_t what) {
    if (number >= folders.size()) folders.resize(size_t(number) + 1, kUnplanned);
    folders[number] = what;
  }
  bool InFileSystem(const PlannedEntry& e) const {
    return iso == kPlannedUdfNames ? e.inUdf : iso == kPlannedJolietNames ? e.inJoliet : e.inIso;
  }
  void Missing(uint32_t p, const std::string& path) {
    const std::string source = SourceDisplayPath(*disc.entries[p].node);
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
  void Differs(CheckOutcome& to, uint32_t planned, const std::string& what) {
    to.Add(Shown(disc.PathOf(planned, iso)) + ": " + what + " (" + name + ")");
  }
};

void Checker::IndexChildren() {
  const size_t n = disc.entries.size();
  childStart.assign(n + 2, 0);
  for (const PlannedEntry& e : disc.entries) ++childStart[e.parent + 1];
  for (size_t f = 1; f < childStart.size(); ++f) childStart[f] += childStart[f - 1];
  children.resize(n);
  std::vector<uint32_t> next(childStart.begin(), childStart.end() - 1);
  for (uint32_t p = 0; p < n; ++p) children[next[disc.entries[p].parent]++] = p;
}

void Checker::NameFileSystem() {
  name = iso == kPlannedUdfNames         ? UdfRevisionName(walked->udfRevision)
         : iso == kPlannedRockRidgeNames ? "Rock Ridge"
         : iso == kPlannedJolietNames    ? "Joliet"
                                         : "ISO 9660";
}

void Checker::Match(ImageFolder& folder) {
  if (name.empty()) NameFileSystem();
  if (folder.number >= folders.size()) return;
  const uint32_t plan = folders[folder.number];
  folders[folder.number] = kUnplanned;
  if (plan == kUnplanned) return;
  const std::vector<ImageEntry>& entries = folder.entries;
  folderPath = folder.path;
  if (iso == kPlannedIsoNames) CheckReaderKeys(entries);
  if (plan == kByContent) {
    for (const ImageEntry& entry : entries) MatchByContent(entry);
    return;
  }
  const std::unordered_map<std::string, uint32_t> byName = NamesOf(entries);
  std::vector<bool> matched(entries.size(), false);
  // Another tool's identifiers: when upper case finds none, the further reductions.
  ForeignNames reductions;
  if (foreign) IndexReductions(entries, reductions);
  const uint32_t first = plan == kPlannedFile ? 0 : childStart[plan],
                 end = plan == kPlannedFile ? 0 : childStart[plan + 1];
  for (uint32_t c = first; c < end; ++c) {
    const uint32_t p = children[c];
    const PlannedEntry& planned = disc.entries[p];
    if (!InFileSystem(planned)) continue;
    auto at = byName.find(Key(p));
    uint32_t index = at == byName.end() || matched[at->second] ? kUnplanned : at->second;
    if (index == kUnplanned && foreign) {
      index = reductions.Find(ExpectedRockRidgeName(*planned.node), planned.directory, matched);
      if (index == ForeignNames::kNone) index = kUnplanned;
    }
    if (index == kUnplanned) {
      const std::string own = disc.NameOf(p, iso);
      if (!foreign) Missing(p, folder.path.empty() ? own : folder.path + "/" + own);
      continue;
    }
    matched[index] = true;
    const ImageEntry& entry = entries[index];
    const std::string path = PathOf(entry);
    if (entry.directory != planned.directory) {
      found.Add(Shown(path) + ": " + Kind(entry.directory) + " in " + name + ", " +
                Kind(planned.directory) + " in the source");
      if (entry.directory) Plan(entry.folder, kPlannedFile);
      continue;
    }
    CheckFields(p, entry, path);
    if (foreign) reached[p] = true;
    if (planned.directory) {
      Plan(entry.folder, p + 1);
      continue;
    }
    if (CheckLinkOrSpecialFile(p, entry, path)) continue;
    if (entry.size != planned.size) {
      found.Add(Shown(path) + ": " + std::to_string(entry.size) + " bytes in " + name + ", " +
                std::to_string(planned.size) + " in the source");
      continue;
    }
    if (planned.size != 0) MatchFile(p, entry);
  }
  // Every entry the folder does not have; a folder is named once, not with its entries.
  for (uint32_t i = 0; i < entries.size(); ++i) {
    if (matched[i]) continue;
    if (foreign) {
      MatchByContent(entries[i]);
      continue;
    }
    found.Add(Shown(JoinImagePath(folder.path, entries[i].name)) + ": " +
              Kind(entries[i].directory) + " in " + name + " that the folder does not have");
  }
}

RecordTree TreeOf(PlannedNames names) {
  return names == kPlannedUdfNames         ? RecordTree::kUdf
         : names == kPlannedRockRidgeNames ? RecordTree::kRockRidge
         : names == kPlannedJolietNames    ? RecordTree::kJoliet
                                           : RecordTree::kIso9660;
}

void Checker::CheckFields(uint32_t p, const ImageEntry& entry, const std::string& path) {
  const TreeNode& node = *disc.entries[p].node;
  const RecordTree tree = TreeOf(iso);
  if (tree == RecordTree::kRockRidge) DecideFixed(entry.fields, node, rules);
  std::vector<std::string> differences;
  CompareRecordFields(entry.fields, entry.modified, ExpectedMetadataOf(node, rules, tree), tree,
                      rules.sourceMetadata, differences);
  // Joliet records point at the file data of the ISO 9660 records.
  if (!entry.directory && entry.size > 0 && !entry.extents.empty() && !entry.extents[0].zero) {
    const uint64_t sector = entry.extents[0].sector;
    if (iso == kPlannedIsoNames) {
      isoSectors[p] = uint32_t(sector);
    } else if (iso == kPlannedJolietNames && isoSectors[p] && sector != isoSectors[p]) {
      differences.push_back("extent at sector " + std::to_string(sector) +
                            ", the ISO 9660 record's at " + std::to_string(isoSectors[p]));
    }
  }
  for (const std::string& d : differences) found.Add(Shown(path) + ": " + d + " (" + name + ")");
}

// The root's own records: its "." record (time; Rock Ridge PX and TF) or its File Entry.
void Checker::CheckRoot(const ImageTree& tree) {
  if (disc.entries.empty()) return;
  const TreeNode& root = *disc.entries[0].node->parent;
  const RecordTree kind = TreeOf(iso);
  const ExpectedMetadata want = ExpectedMetadataOf(root, rules, kind);
  ImageRecordFields fields = tree.root;
  if (kind == RecordTree::kIso9660 || kind == RecordTree::kJoliet) fields.flags = want.flags;
  std::vector<std::string> differences;
  CompareRecordFields(fields, tree.rootModified, want, kind, rules.sourceMetadata, differences);
  for (const std::string& d : differences) found.Add("/: " + d + " (" + name + ")");
}

// The folder's entries by name (upper case for another tool's identifiers); a name
// recorded twice is named.
std::unordered_map<std::string, uint32_t> Checker::NamesOf(const std::vector<ImageEntry>& entries) {
  std::unordered_map<std::string, uint32_t> byName;
  byName.reserve(entries.size());
  for (uint32_t i = 0; i < entries.size(); ++i) {
    const std::string_view own = std::string_view(entries[i].name);
    if (!byName.emplace(foreign ? Reduced(own) : std::string(own), i).second) {
      found.Add(Shown(PathOf(entries[i])) + ": recorded twice in " + name);
    }
  }
  return byName;
}

void IndexReductions(const std::vector<ImageEntry>& entries, ForeignNames& reductions) {
  std::vector<std::string_view> names;
  std::vector<bool> directory;
  for (const ImageEntry& entry : entries) {
    names.push_back(entry.name);
    directory.push_back(entry.directory);
  }
  reductions.Index(names, directory);
}

// ECMA-119 asks for unique identifiers in a folder; readers need them unique as they
// show them (the kernel: lower case, ';' as '.'; Windows: case and trailing dots ignored)
// and need a name they can open.
void Checker::CheckReaderKeys(const std::vector<ImageEntry>& entries) {
  std::unordered_map<std::string, std::string> keys;
  for (const ImageEntry& entry : entries) {
    const std::string key = IsoReaderKey(entry.name);
    if (key.empty()) {
      found.Add(Shown(PathOf(entry)) + ": a name readers cannot open (" + name + ")");
    } else if (auto [at, added] = keys.emplace(key, PathOf(entry)); !added) {
      found.Add(Shown(PathOf(entry)) + ": readers show it under the name of " + Shown(at->second) +
                " (" + name + ")");
    }
  }
}

// An entry of another tool's ISO 9660 tree whose name does not reduce to a source name:
// a file must point at the bytes of a file a name-keeping tree compared, a folder's
// entries likewise.
void Checker::MatchByContent(const ImageEntry& entry) {
  if (entry.directory) {
    Plan(entry.folder, kByContent);
    return;
  }
  auto at = byPrint.find(Fingerprint(entry));
  if (at == byPrint.end() && entry.size != 0) {
    found.Add(Shown(PathOf(entry)) + ": a file in " + name +
              " that holds the bytes of no file of the folder");
    return;
  }
  ++byContent;
  if (at != byPrint.end()) reached[at->second] = true;
}

void Checker::MatchFile(uint32_t p, const ImageEntry& entry) {
  const uint64_t print = Fingerprint(entry);
  if (compared[p] == print) {  // the same bytes of the image, compared before
    auto failure = failures.find(p);
    if (failure != failures.end()) Differs(found, p, failure->second);
    return;
  }
  compared[p] = print;
  byPrint.emplace(print, p);
  ByteJob job;
  job.planned = p;
  if (!entry.embedded.empty() || entry.extents.empty()) {
    job.at = embedded.size();
    embedded += entry.embedded;
  } else if (entry.extents.size() == 1 && !entry.extents[0].zero) {
    job.at = entry.extents[0].sector;
    job.extentCount = kOneExtent;
  } else {
    job.at = extents.size();
    job.extentCount = uint32_t(entry.extents.size());
    extents.insert(extents.end(), entry.extents.begin(), entry.extents.end());
  }
  jobs.push_back(job);
}

bool Checker::CheckLinkOrSpecialFile(uint32_t p, const ImageEntry& entry, const std::string& path) {
  if (entry.posixType == 0) return false;  // ISO 9660, Joliet: recorded as plain files
  const TreeNode& node = *disc.entries[p].node;
  const uint32_t planned =
      node.IsSymbolicLink() || node.IsSpecialFile() ? node.PosixType() : kPosixRegular;
  if (entry.posixType != planned) {
    auto octal = [](uint32_t type) {
      char text[16];
      std::snprintf(text, sizeof text, "%06o", type);
      return std::string(text);
    };
    found.Add(Shown(path) + ": file type " + octal(entry.posixType) + " in " + name + ", " +
              octal(planned) + " in the source");
    return true;
  }
  if (node.IsSymbolicLink()) {
    const std::string target = ExpectedLinkText(node.linkTarget);
    if (entry.linkTarget != target)
      found.Add(Shown(path) + ": links to \"" + entry.linkTarget + "\" in " + name + ", to \"" +
                target + "\" in the source");
  }
  const uint32_t links = node.hardLinks ? node.hardLinks : 1;
  if (entry.links != 0 && entry.links != links)
    found.Add(Shown(path) + ": " + std::to_string(entry.links) + " links in " + name + ", " +
              std::to_string(links) + " in the source");
  return planned != kPosixRegular;
}

// The planned entries of every planned folder that the walk listed but could not read
// (or that lay past a limit): each is missing, as its folder shows nothing.
void Checker::NameUnread() {
  for (uint32_t what : folders) {
    if (what >= kPlannedFile) continue;
    for (uint32_t c = childStart[what]; c < childStart[what + 1]; ++c) {
      if (InFileSystem(disc.entries[children[c]]))
        Missing(children[c], disc.PathOf(children[c], iso));
    }
  }
}

bool Checker::ReadJob(const ByteJob& job, uint64_t offset, uint8_t* out, size_t n,
                      ExtentCursor& cursor) {
  const uint64_t size = disc.entries[job.planned].size;
  if (offset > size || n > size - offset) return false;
  if (job.extentCount == 0) {
    if (job.at + offset + n > embedded.size()) return false;
    std::memcpy(out, embedded.data() + job.at + offset, n);
    return true;
  }
  const ImageExtent one{job.at, size, false};
  const std::span<const ImageExtent> runs =
      job.extentCount == kOneExtent ? std::span(&one, 1)
                                    : std::span(extents.data() + job.at, job.extentCount);
  if (size >= kImageReadAheadBytes) ReadAheadOf(image, runs, offset + n, kImageReadAheadBytes);
  return ReadExtentBytes(image, runs.data(), runs.size(), offset, out, n, &cursor);
}

bool Checker::CompareBytes() {
  // In the order of the image's sectors, so that the image is read front to back.
  auto firstSector = [&](const ByteJob& job) -> uint64_t {
    if (job.extentCount == kOneExtent) return job.at;
    for (uint32_t i = 0; i < job.extentCount; ++i) {
      if (!extents[job.at + i].zero) return extents[job.at + i].sector;
    }
    return 0;
  };
  std::stable_sort(jobs.begin(), jobs.end(), [&](const ByteJob& a, const ByteJob& b) {
    return firstSector(a) < firstSector(b);
  });
  std::vector<const TreeNode*> nodes;
  nodes.reserve(jobs.size());
  uint64_t total = done;
  for (const ByteJob& job : jobs) {
    nodes.push_back(disc.entries[job.planned].node);
    total += disc.entries[job.planned].size;
  }
  if (jobs.empty()) return true;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kImageChunkBytes]);
  SourceReadAhead source;
  if (!buffer || !source.Start(nodes)) return false;
  if (progress && !progress(done, total, context)) return false;
  std::vector<bool> failed(jobs.size(), false);
  std::vector<ExtentCursor> cursors(jobs.size());  // each file's bytes are compared in order
  auto fail = [&](uint32_t index, const std::string& what) {
    if (failed[index]) return;
    failed[index] = true;
    failures[jobs[index].planned] = what;
    Differs(outcome, jobs[index].planned, what);
  };
  while (SourceBatch* batch = source.Next()) {
    for (const SourceSegment& segment : batch->segments) {
      const ByteJob& job = jobs[segment.job];
      if (failed[segment.job]) continue;
      if (!segment.failure.empty()) {
        fail(segment.job, segment.failure);
        continue;
      }
      if (!segment.data) continue;  // made by the writer: the boot check reads it
      image.failed = false;
      if (!ReadJob(job, segment.offset, buffer.get(), segment.bytes, cursors[segment.job])) {
        fail(segment.job,
             "cannot be read from the image at byte " + std::to_string(segment.offset) + ": " +
                 (image.failed ? image.error : "its extents pass the image's end"));
        continue;
      }
      if (std::memcmp(buffer.get(), segment.data, segment.bytes) != 0) {
        size_t at = 0;
        while (buffer[at] == segment.data[at]) ++at;
        fail(segment.job,
             "byte " + std::to_string(segment.offset + at) + " differs from the source");
      }
    }
    for (const SourceSegment& segment : batch->segments) done += segment.bytes;
    source.Release(batch);
    if (progress && !progress(done, total, context)) return false;
  }
  return true;
}

// The reader's tree for the names of a plan.
IsoNames IsoNamesOf(PlannedNames names) {
  return names == kPlannedRockRidgeNames ? kIsoRockRidgeNames
         : names == kPlannedJolietNames  ? kIsoJolietNames
                                         : kIsoPlainNames;
}

bool Checker::CheckFileSystem(PlannedNames names, bool another) {
  iso = names;
  foreign = another;
  name.clear();
  folders.assign(1, 0);  // the root, matched with the planned root
  jobs = {};
  jobs.reserve(disc.files);
  extents = {};
  embedded = {};
  found = {};
  if (foreign) reached.assign(disc.entries.size(), false);
  ImageTree tree;
  walked = &tree;
  ReadReport report;
  const bool udf = iso == kPlannedUdfNames;
  const bool ok = udf ? WalkUdfTree(image, tree, report, Visit, this)
                      : WalkIso9660Tree(image, tree, report, Visit, this, {}, IsoNamesOf(iso));
  for (ReadProblem& problem : report.problems) outcome.Add(std::move(problem.text));
  outcome.moreDifferences += report.dropped;
  if (!ok) {
    if (report.Clean())
      outcome.Add(std::string(udf ? "udf" : IsoNamesLabel(IsoNamesOf(iso))) +
                  ": the file system cannot be read");
    return true;
  }
  if (name.empty()) NameFileSystem();
  CheckRoot(tree);
  checked[iso] = name;
  NameUnread();
  if (foreign) NameUnreached();
  for (std::string& difference : found.differences) outcome.Add(std::move(difference));
  outcome.moreDifferences += found.moreDifferences;
  found = {};
  folders = {};
  const bool finished = CompareBytes();
  jobs = {};
  extents = {};
  embedded = {};
  return finished;
}

// Another tool's ISO 9660 tree: the files of the folder that it holds neither under a
// reduced name nor by content are missing; one notice says how many were matched by
// content.
void Checker::NameUnreached() {
  uint64_t missing = 0;
  for (uint32_t p = 0; p < disc.entries.size(); ++p) {
    if (!disc.entries[p].directory && !reached[p] && disc.entries[p].size != 0) ++missing;
  }
  if (missing)
    found.Add(std::to_string(missing) + (missing == 1 ? " file" : " files") +
              " of the folder not found in " + name + ", neither by name nor by content");
  if (byContent)
    outcome.notices.push_back(
        name + ": the image was made by another tool; " + std::to_string(byContent) +
        (byContent == 1 ? " file whose name does" : " files whose names do") +
        " not reduce to a source name (upper case, d-characters, cut) checked by content "
        "through the other file systems");
  reached = {};
  byContent = 0;
}

}  // namespace

bool CheckImage(ImageSource& image, const PlannedDisc& disc, CheckOutcome& outcome,
                CheckProgressFn progress, void* context) {
  outcome = {};
  outcome.files = disc.files;
  outcome.bytes = disc.fileBytes;
  const DiscNaming& plan = disc.naming;
  const ImageFileSystems found = SurveyImage(image);
  if (plan.iso9660 && !found.iso9660) outcome.Add("the image has no ISO 9660 file system");
  if (plan.udf && !found.udf) {
    const std::string why = found.UnreadableUdf();
    outcome.Add(why.empty() ? "the image has no UDF file system" : "the image's " + why);
  }
  if (plan.udf && found.udf && plan.udfRevision && found.udfRevision != plan.udfRevision) {
    outcome.Add("the image has " + UdfRevisionName(found.udfRevision) + ", not " +
                UdfRevisionName(plan.udfRevision));
  }
  Checker checker{
      .image = image, .disc = disc, .outcome = outcome, .progress = progress, .context = context};
  checker.compared.assign(disc.entries.size(), 0);
  checker.isoSectors.assign(disc.entries.size(), 0);
  checker.rules = disc.metadata;
  checker.IndexChildren();
  const VolumeLabels labels = ReadVolumeLabels(image);
  for (std::string& difference : LabelDifferences(plan, labels)) outcome.Add(std::move(difference));
  const bool iso = plan.iso9660 && found.iso9660;
  const bool rockRidge = iso && plan.rockRidge && HasIsoTree(image, kIsoRockRidgeNames);
  const bool joliet = iso && plan.joliet && HasIsoTree(image, kIsoJolietNames);
  if (iso && plan.rockRidge && !rockRidge) outcome.Add("the image has no Rock Ridge names");
  if (iso && plan.joliet && !joliet) outcome.Add("the image has no Joliet tree");
  // Another tool's identifiers are not 8.3 names: its plain tree comes last, matched
  // through what the name-keeping trees compared.
  const bool ours = plan.written || WrittenByThisProgram(labels);
  for (std::string& difference :
       DescriptorDifferences(image, {.ours = ours, .udf = plan.udf && found.udf}))
    outcome.Add(std::move(difference));
  const bool foreign = iso && !ours;
  // Another tool records times, owners and permissions by its own rules, not this build's.
  if (!ours) checker.rules.sourceMetadata = false;
  // A build time recorded in UTC leaves open whether it was fixed; the Rock Ridge
  // attributes decide it, so that tree goes first then.
  const bool rockRidgeFirst = rockRidge && !checker.rules.fixedKnown;
  if (rockRidgeFirst && !checker.CheckFileSystem(kPlannedRockRidgeNames)) return false;
  if (iso && !foreign && !checker.CheckFileSystem(kPlannedIsoNames)) return false;
  if (rockRidge && !rockRidgeFirst && !checker.CheckFileSystem(kPlannedRockRidgeNames))
    return false;
  if (joliet && !checker.CheckFileSystem(kPlannedJolietNames)) return false;
  if (plan.udf && found.udf && !checker.CheckFileSystem(kPlannedUdfNames)) return false;
  if (foreign && !checker.CheckFileSystem(kPlannedIsoNames, true)) return false;
  if (disc.boot.Any()) CheckBootStructures(image, disc.boot, outcome);
  // "ISO 9660, Rock Ridge, Joliet and UDF 1.02"
  for (PlannedNames n :
       {kPlannedIsoNames, kPlannedRockRidgeNames, kPlannedJolietNames, kPlannedUdfNames}) {
    if (checker.checked[n].empty()) continue;
    outcome.fileSystems += (outcome.fileSystems.empty() ? "" : ", ") + checker.checked[n];
  }
  const size_t last = outcome.fileSystems.rfind(", ");
  if (last != std::string::npos) outcome.fileSystems.replace(last, 2, " and ");
  if (progress && !progress(checker.done, checker.done, context)) return false;
  return true;
}

}  // namespace vellumcast
