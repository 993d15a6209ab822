// Matching each file system's tree with the plan by name, then comparing every file's
// bytes with its source in one pass over the image. The file systems are checked one
// after the other, so that only one tree is held at a time; a file whose extents a
// file system shares with one checked before (both trees of a bridge image point at one
// copy of the data) is not read again.
#include "verify/image_check.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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

// One planned file to compare with its entry in the tree being checked.
struct ByteJob {
  uint32_t planned = 0;
  const ImageEntry* entry = nullptr;
  bool failed = false;
};

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

uint64_t FirstSector(const ImageEntry& entry) {
  for (const ImageExtent& e : entry.extents) {
    if (!e.zero) return e.sector;
  }
  return 0;
}

const char* Kind(bool directory) { return directory ? "a folder" : "a file"; }

// How a difference names an entry: its path in the image from the root.
std::string Shown(std::string_view path) { return "/" + std::string(path); }

std::string_view FolderOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// Asks the system to read [offset, offset + n) of an entry ahead of its comparison.
void ReadAheadOf(ImageSource& image, const ImageEntry& entry, uint64_t offset, uint64_t n) {
  uint64_t start = 0;
  for (const ImageExtent& e : entry.extents) {
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
  std::vector<uint64_t> compared;                     // per planned entry: Fingerprint, 0 when not compared
  std::unordered_map<uint32_t, std::string> failures;  // per planned entry: what differed
  uint64_t done = 0;                                   // bytes compared so far

  bool CheckFileSystem(PlannedNames names);
  void Match(const ImageTree& tree, PlannedNames iso, const std::string& name, std::vector<ByteJob>& jobs);
  void NameExtras(const ImageTree& tree, const std::string& name);
  bool CompareBytes(std::vector<ByteJob>& jobs, PlannedNames iso, const std::string& name);
  void Differs(uint32_t planned, PlannedNames iso, const std::string& name, const std::string& what) {
    outcome.Add(Shown(disc.PathOf(planned, iso)) + ": " + what + " (" + name + ")");
  }
};

void Checker::Match(const ImageTree& tree, PlannedNames iso, const std::string& name, std::vector<ByteJob>& jobs) {
  std::unordered_map<std::string_view, uint32_t> byPath;
  byPath.reserve(tree.entries.size());
  for (uint32_t i = 0; i < tree.entries.size(); ++i) {
    if (!byPath.emplace(tree.entries[i].path, i).second) {
      outcome.Add(Shown(tree.entries[i].path) + ": recorded twice in " + name);
    }
  }
  std::unordered_map<uint32_t, std::string> folderPaths;  // planned folders found, by index + 1
  std::vector<bool> matched(tree.entries.size(), false);
  for (uint32_t p = 0; p < disc.entries.size(); ++p) {
    const PlannedEntry& planned = disc.entries[p];
    if (!(iso == kPlannedUdfNames ? planned.inUdf : iso == kPlannedJolietNames ? planned.inJoliet : planned.inIso)) continue;
    auto folder = folderPaths.find(planned.parent);
    if (planned.parent && folder == folderPaths.end()) continue;  // its folder is missing
    const std::string own = disc.NameOf(p, iso);
    const std::string path = planned.parent ? folder->second + "/" + own : own;
    auto found = byPath.find(path);
    if (found == byPath.end()) {
      const std::string source = SourceDisplayPath(*planned.node);
      outcome.Add(Shown(path) + ": missing from " + name + (source == path ? "" : " (the source's " + source + ")"));
      continue;
    }
    matched[found->second] = true;
    const ImageEntry& entry = tree.entries[found->second];
    if (entry.directory != planned.directory) {
      outcome.Add(Shown(path) + ": " + Kind(entry.directory) + " in " + name + ", " + Kind(planned.directory) +
                  " in the source");
      continue;
    }
    if (planned.directory) {
      folderPaths[p + 1] = path;
      continue;
    }
    if (entry.size != planned.size) {
      outcome.Add(Shown(path) + ": " + std::to_string(entry.size) + " bytes in " + name + ", " +
                  std::to_string(planned.size) + " in the source");
      continue;
    }
    if (planned.size == 0) continue;
    const uint64_t print = Fingerprint(entry);
    if (compared[p] == print) {  // the same bytes of the image, compared before
      auto failure = failures.find(p);
      if (failure != failures.end()) Differs(p, iso, name, failure->second);
      continue;
    }
    compared[p] = print;
    jobs.push_back({p, &entry, false});
  }
  // Every entry the folder does not have; a folder is named once, not with its entries.
  std::unordered_set<std::string_view> extraFolders;
  for (uint32_t i = 0; i < tree.entries.size(); ++i) {
    if (matched[i]) continue;
    const ImageEntry& entry = tree.entries[i];
    const bool inExtra = extraFolders.count(FolderOf(entry.path)) != 0;
    if (entry.directory) extraFolders.insert(entry.path);
    if (inExtra) continue;
    outcome.Add(Shown(entry.path) + ": " + Kind(entry.directory) + " in " + name + " that the folder does not have");
  }
}

bool Checker::CompareBytes(std::vector<ByteJob>& jobs, PlannedNames iso, const std::string& name) {
  // In the order of the image's sectors, so that the image is read front to back.
  std::stable_sort(jobs.begin(), jobs.end(),
                   [](const ByteJob& a, const ByteJob& b) { return FirstSector(*a.entry) < FirstSector(*b.entry); });
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
  auto fail = [&](ByteJob& job, const std::string& what) {
    if (job.failed) return;
    job.failed = true;
    failures[job.planned] = what;
    Differs(job.planned, iso, name, what);
  };
  while (SourceBatch* batch = source.Next()) {
    for (const SourceSegment& segment : batch->segments) {
      ByteJob& job = jobs[segment.job];
      if (job.failed) continue;
      if (!segment.failure.empty()) {
        fail(job, segment.failure);
        continue;
      }
      const ImageEntry& entry = *job.entry;
      if (entry.size >= kImageReadAheadBytes) {
        ReadAheadOf(image, entry, segment.offset + segment.bytes, kImageReadAheadBytes);
      }
      if (!ReadEntryBytes(image, entry, segment.offset, buffer.get(), segment.bytes)) {
        fail(job, "cannot be read from the image at byte " + std::to_string(segment.offset) + ": " +
                      (image.error.empty() ? "its extents pass the image's end" : image.error));
        continue;
      }
      if (std::memcmp(buffer.get(), segment.data, segment.bytes) != 0) {
        size_t at = 0;
        while (buffer[at] == segment.data[at]) ++at;
        fail(job, "byte " + std::to_string(segment.offset + at) + " differs from the source");
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
  return names == kPlannedRockRidgeNames ? kIsoRockRidgeNames : names == kPlannedJolietNames ? kIsoJolietNames : kIsoPlainNames;
}

bool Checker::CheckFileSystem(PlannedNames iso) {
  ImageTree tree;
  ReadReport report;
  const bool udf = iso == kPlannedUdfNames;
  const bool ok = udf ? ReadUdfTree(image, tree, report) : ReadIso9660Tree(image, tree, report, {}, IsoNamesOf(iso));
  for (std::string& problem : report.problems) outcome.Add(std::move(problem));
  outcome.moreDifferences += report.dropped;
  if (!ok) {
    if (report.Clean()) outcome.Add(std::string(udf ? "udf" : IsoNamesLabel(IsoNamesOf(iso))) + ": the file system cannot be read");
    return true;
  }
  const std::string name = udf ? UdfRevisionName(tree.udfRevision)
                           : iso == kPlannedRockRidgeNames ? "Rock Ridge"
                           : iso == kPlannedJolietNames    ? "Joliet"
                                                           : "ISO 9660";
  outcome.fileSystems += (outcome.fileSystems.empty() ? "" : ", ") + name;
  std::vector<ByteJob> jobs;
  Match(tree, iso, name, jobs);
  return CompareBytes(jobs, iso, name);
}

}  // namespace

bool CheckImage(ImageSource& image, const PlannedDisc& disc, CheckOutcome& outcome, CheckProgressFn progress,
                void* context) {
  outcome = {};
  outcome.files = disc.files;
  outcome.bytes = disc.fileBytes;
  const DiscNaming& plan = disc.naming;
  const ImageFileSystems found = SurveyImage(image);
  if (plan.iso9660 && !found.iso9660) outcome.Add("the image has no ISO 9660 file system");
  if (plan.udf && !found.udf) outcome.Add("the image has no UDF file system");
  if (plan.udf && found.udf && found.udfRevision != plan.udfRevision) {
    outcome.Add("the image has " + UdfRevisionName(found.udfRevision) + ", not " + UdfRevisionName(plan.udfRevision));
  }
  Checker checker{image, disc, outcome, progress, context, std::vector<uint64_t>(disc.entries.size(), 0), {}, 0};
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
  // "ISO 9660, Rock Ridge, Joliet and UDF 1.02"
  const size_t last = outcome.fileSystems.rfind(", ");
  if (last != std::string::npos) outcome.fileSystems.replace(last, 2, " and ");
  if (progress && !progress(checker.done, checker.done, context)) return false;
  return true;
}

}  // namespace vellumcast
