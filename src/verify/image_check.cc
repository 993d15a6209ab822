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
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <unordered_map>

#include "reader/image_survey.h"
#include "reader/iso9660_tree.h"
#include "reader/udf_tree.h"
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

std::string_view NameIn(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
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

  void IndexChildren();
  bool CheckFileSystem(PlannedNames names);
  void NameFileSystem();
  static void Visit(ImageFolder& folder, void* checker) {
    static_cast<Checker*>(checker)->Match(folder);
  }
  void Match(ImageFolder& folder);
  void MatchFile(uint32_t p, const ImageEntry& entry);
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
  // Bytes [offset, offset + n) of a job's file in the image; false when they cannot be read.
  bool ReadJob(const ByteJob& job, uint64_t offset, uint8_t* out, size_t n);
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
  std::unordered_map<std::string_view, uint32_t> byName;
  byName.reserve(entries.size());
  for (uint32_t i = 0; i < entries.size(); ++i) {
    if (!byName.emplace(NameIn(entries[i].path), i).second) {
      found.Add(Shown(entries[i].path) + ": recorded twice in " + name);
    }
  }
  std::vector<bool> matched(entries.size(), false);
  const uint32_t first = plan == kPlannedFile ? 0 : childStart[plan],
                 end = plan == kPlannedFile ? 0 : childStart[plan + 1];
  for (uint32_t c = first; c < end; ++c) {
    const uint32_t p = children[c];
    const PlannedEntry& planned = disc.entries[p];
    if (!InFileSystem(planned)) continue;
    const std::string own = disc.NameOf(p, iso);
    const std::string path = folder.path.empty() ? own : folder.path + "/" + own;
    auto at = byName.find(own);
    if (at == byName.end()) {
      Missing(p, path);
      continue;
    }
    matched[at->second] = true;
    const ImageEntry& entry = entries[at->second];
    if (entry.directory != planned.directory) {
      found.Add(Shown(path) + ": " + Kind(entry.directory) + " in " + name + ", " +
                Kind(planned.directory) + " in the source");
      if (entry.directory) Plan(entry.folder, kPlannedFile);
      continue;
    }
    if (planned.directory) {
      Plan(entry.folder, p + 1);
      continue;
    }
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
    found.Add(Shown(entries[i].path) + ": " + Kind(entries[i].directory) + " in " + name +
              " that the folder does not have");
  }
}

void Checker::MatchFile(uint32_t p, const ImageEntry& entry) {
  const uint64_t print = Fingerprint(entry);
  if (compared[p] == print) {  // the same bytes of the image, compared before
    auto failure = failures.find(p);
    if (failure != failures.end()) Differs(found, p, failure->second);
    return;
  }
  compared[p] = print;
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

bool Checker::ReadJob(const ByteJob& job, uint64_t offset, uint8_t* out, size_t n) {
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
  return ReadExtentBytes(image, runs.data(), runs.size(), offset, out, n);
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
      if (!ReadJob(job, segment.offset, buffer.get(), segment.bytes)) {
        fail(segment.job,
             "cannot be read from the image at byte " + std::to_string(segment.offset) + ": " +
                 (image.error.empty() ? "its extents pass the image's end" : image.error));
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

bool Checker::CheckFileSystem(PlannedNames names) {
  iso = names;
  name.clear();
  folders.assign(1, 0);  // the root, matched with the planned root
  jobs = {};
  jobs.reserve(disc.files);
  extents = {};
  embedded = {};
  found = {};
  ImageTree tree;
  walked = &tree;
  ReadReport report;
  const bool udf = iso == kPlannedUdfNames;
  const bool ok = udf ? WalkUdfTree(image, tree, report, Visit, this)
                      : WalkIso9660Tree(image, tree, report, Visit, this, {}, IsoNamesOf(iso));
  for (std::string& problem : report.problems) outcome.Add(std::move(problem));
  outcome.moreDifferences += report.dropped;
  if (!ok) {
    if (report.Clean())
      outcome.Add(std::string(udf ? "udf" : IsoNamesLabel(IsoNamesOf(iso))) +
                  ": the file system cannot be read");
    return true;
  }
  if (name.empty()) NameFileSystem();
  outcome.fileSystems += (outcome.fileSystems.empty() ? "" : ", ") + name;
  NameUnread();
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

}  // namespace

bool CheckImage(ImageSource& image, const PlannedDisc& disc, CheckOutcome& outcome,
                CheckProgressFn progress, void* context) {
  outcome = {};
  outcome.files = disc.files;
  outcome.bytes = disc.fileBytes;
  const DiscNaming& plan = disc.naming;
  const ImageFileSystems found = SurveyImage(image);
  if (plan.iso9660 && !found.iso9660) outcome.Add("the image has no ISO 9660 file system");
  if (plan.udf && !found.udf) outcome.Add("the image has no UDF file system");
  if (plan.udf && found.udf && found.udfRevision != plan.udfRevision) {
    outcome.Add("the image has " + UdfRevisionName(found.udfRevision) + ", not " +
                UdfRevisionName(plan.udfRevision));
  }
  Checker checker{
      .image = image, .disc = disc, .outcome = outcome, .progress = progress, .context = context};
  checker.compared.assign(disc.entries.size(), 0);
  checker.IndexChildren();
  if (plan.iso9660 && found.iso9660 && plan.rockRidge && !HasIsoTree(image, kIsoRockRidgeNames))
    outcome.Add("the image has no Rock Ridge names");
  if (plan.iso9660 && found.iso9660 && plan.joliet && !HasIsoTree(image, kIsoJolietNames))
    outcome.Add("the image has no Joliet tree");
  if (plan.iso9660 && found.iso9660 && !checker.CheckFileSystem(kPlannedIsoNames)) return false;
  if (plan.iso9660 && found.iso9660 && plan.rockRidge && HasIsoTree(image, kIsoRockRidgeNames) &&
      !checker.CheckFileSystem(kPlannedRockRidgeNames))
    return false;
  if (plan.iso9660 && found.iso9660 && plan.joliet && HasIsoTree(image, kIsoJolietNames) &&
      !checker.CheckFileSystem(kPlannedJolietNames))
    return false;
  if (plan.udf && found.udf && !checker.CheckFileSystem(kPlannedUdfNames)) return false;
  if (disc.boot.Any()) CheckBootStructures(image, disc.boot, outcome);
  // "ISO 9660, Rock Ridge, Joliet and UDF 1.02"
  const size_t last = outcome.fileSystems.rfind(", ");
  if (last != std::string::npos) outcome.fileSystems.replace(last, 2, " and ");
  if (progress && !progress(checker.done, checker.done, context)) return false;
  return true;
}

}  // namespace vellumcast
