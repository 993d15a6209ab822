// Matching the image's trees with the plan by name, then comparing every file's bytes
// with its source in one pass over the image.
#include "verify/image_check.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

#include "reader/image_survey.h"
#include "reader/iso9660_tree.h"
#include "reader/udf_tree.h"
#include "verify/source_read_ahead.h"

namespace vellumcast {
namespace {

// Bytes of the image compared per read; the image side of a source batch.
constexpr size_t kImageChunkBytes = 2u << 20;
// How far ahead of the comparison the system is asked to read a large file's extents.
constexpr uint64_t kImageReadAheadBytes = 8u << 20;

// One file system of the image as read.
struct CheckedTree {
  std::string name;  // "ISO 9660", "UDF 1.02"
  ImageTree tree;
  std::vector<bool> matched;  // per entry of the tree
};

// Where one planned file lies in the image, and the file systems it was found in there.
struct ByteJob {
  size_t planned = 0;               // index into the plan's entries
  const ImageEntry* entry = nullptr;  // the first file system's entry
  std::vector<std::string> paths;   // its path in each file system it was found in
  std::vector<std::string> systems; // those file systems' names
  bool failed = false;
};

uint64_t FirstSector(const ImageEntry& entry) {
  for (const ImageExtent& e : entry.extents) {
    if (!e.zero) return e.sector;
  }
  return 0;
}

bool SameBytes(const ImageEntry& a, const ImageEntry& b) {
  if (a.embedded != b.embedded || a.extents.size() != b.extents.size()) return false;
  for (size_t i = 0; i < a.extents.size(); ++i) {
    const ImageExtent &x = a.extents[i], &y = b.extents[i];
    if (x.bytes != y.bytes || x.zero != y.zero || (!x.zero && x.sector != y.sector)) return false;
  }
  return true;
}

const char* Kind(bool directory) { return directory ? "a folder" : "a file"; }

// How a difference names an entry: its path in the image from the root.
std::string Shown(const std::string& path) { return "/" + path; }

// True when `path` lies inside the folder `folder` (both below the root).
bool Inside(const std::string& path, const std::string& folder) {
  return !folder.empty() && path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

// Asks the system to read [offset, offset + n) of an entry ahead of its comparison.
void ReadAheadOf(ImageSource& image, const ImageEntry& entry, uint64_t offset, uint64_t n) {
  uint64_t start = 0;
  for (const ImageExtent& e : entry.extents) {
    if (n == 0 || start >= offset + n) break;
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
  std::vector<CheckedTree> trees;
  std::vector<ByteJob> jobs;
  std::vector<size_t> jobOf;  // per planned entry: its first job, or SIZE_MAX

  void ReadTrees(const ImageFileSystems& found);
  void MatchTree(CheckedTree& checked, bool iso);
  void NameExtras(const CheckedTree& checked);
  bool CompareBytes(CheckProgressFn progress, void* context);
  void FailJob(ByteJob& job, const std::string& what);
};

void Checker::ReadTrees(const ImageFileSystems& found) {
  const DiscNaming& plan = disc.naming;
  if (plan.iso9660 && !found.iso9660) outcome.Add("the image has no ISO 9660 file system");
  if (plan.udf && !found.udf) outcome.Add("the image has no UDF file system");
  if (plan.udf && found.udf && found.udfRevision != plan.udfRevision) {
    outcome.Add("the image has " + UdfRevisionName(found.udfRevision) + ", not " + UdfRevisionName(plan.udfRevision));
  }
  auto read = [&](bool iso) {
    CheckedTree checked;
    ReadReport report;
    const bool ok = iso ? ReadIso9660Tree(image, checked.tree, report) : ReadUdfTree(image, checked.tree, report);
    for (std::string& problem : report.problems) outcome.Add(std::move(problem));
    outcome.moreDifferences += report.dropped;
    if (!ok) {
      if (report.Clean()) outcome.Add(std::string(iso ? "iso9660" : "udf") + ": the file system cannot be read");
      return;
    }
    checked.name = iso ? "ISO 9660" : UdfRevisionName(checked.tree.udfRevision);
    checked.matched.assign(checked.tree.entries.size(), false);
    trees.push_back(std::move(checked));
  };
  if (plan.iso9660 && found.iso9660) read(true);
  if (plan.udf && found.udf) read(false);
}

void Checker::MatchTree(CheckedTree& checked, bool iso) {
  std::unordered_map<std::string, size_t> byPath;
  for (size_t i = 0; i < checked.tree.entries.size(); ++i) {
    if (!byPath.emplace(checked.tree.entries[i].path, i).second) {
      outcome.Add(Shown(checked.tree.entries[i].path) + ": recorded twice in " + checked.name);
    }
  }
  std::string missingFolder;  // a missing folder is named once, not with each entry inside it
  for (size_t p = 0; p < disc.entries.size(); ++p) {
    const PlannedEntry& planned = disc.entries[p];
    const std::string& path = iso ? planned.isoPath : planned.udfPath;
    if (path.empty() || Inside(path, missingFolder)) continue;
    auto found = byPath.find(path);
    if (found == byPath.end()) {
      outcome.Add(Shown(path) + ": missing from " + checked.name +
                  (planned.display == path ? "" : " (the source's " + planned.display + ")"));
      if (planned.directory) missingFolder = path;
      continue;
    }
    checked.matched[found->second] = true;
    const ImageEntry& entry = checked.tree.entries[found->second];
    if (entry.directory != planned.directory) {
      outcome.Add(Shown(path) + ": " + Kind(entry.directory) + " in " + checked.name + ", " +
                  Kind(planned.directory) + " in the source");
      continue;
    }
    if (planned.directory) continue;
    if (entry.size != planned.size) {
      outcome.Add(Shown(path) + ": " + std::to_string(entry.size) + " bytes in " + checked.name + ", " +
                  std::to_string(planned.size) + " in the source");
      continue;
    }
    if (planned.size == 0) continue;
    // A file whose entries in two file systems share their extents is read once.
    if (jobOf[p] != SIZE_MAX && SameBytes(*jobs[jobOf[p]].entry, entry)) {
      jobs[jobOf[p]].paths.push_back(path);
      jobs[jobOf[p]].systems.push_back(checked.name);
    } else {
      if (jobOf[p] == SIZE_MAX) jobOf[p] = jobs.size();
      jobs.push_back({p, &entry, {path}, {checked.name}, false});
    }
  }
}

void Checker::NameExtras(const CheckedTree& checked) {
  std::string lastExtraFolder;  // an extra folder is named once, not with each entry inside it
  for (size_t i = 0; i < checked.tree.entries.size(); ++i) {
    if (checked.matched[i]) continue;
    const ImageEntry& entry = checked.tree.entries[i];
    if (Inside(entry.path, lastExtraFolder)) continue;
    outcome.Add(Shown(entry.path) + ": " + Kind(entry.directory) + " in " + checked.name + " that the folder does not have");
    if (entry.directory) lastExtraFolder = entry.path;
  }
}

void Checker::FailJob(ByteJob& job, const std::string& what) {
  if (job.failed) return;
  job.failed = true;
  for (size_t i = 0; i < job.paths.size(); ++i) {
    outcome.Add(Shown(job.paths[i]) + ": " + what + " (" + job.systems[i] + ")");
  }
}

bool Checker::CompareBytes(CheckProgressFn progress, void* context) {
  // In the order of the image's sectors, so that the image is read front to back.
  std::stable_sort(jobs.begin(), jobs.end(),
                   [](const ByteJob& a, const ByteJob& b) { return FirstSector(*a.entry) < FirstSector(*b.entry); });
  std::vector<const std::vector<SourcePiece>*> pieces;
  uint64_t total = 0, done = 0;
  for (const ByteJob& job : jobs) {
    pieces.push_back(&disc.entries[job.planned].pieces);
    total += disc.entries[job.planned].size;
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kImageChunkBytes]);
  SourceReadAhead source;
  if (!buffer || !source.Start(pieces)) return false;
  if (progress && !progress(0, total, context)) return false;
  while (SourceBatch* batch = source.Next()) {
    for (const SourceSegment& segment : batch->segments) {
      ByteJob& job = jobs[segment.job];
      if (job.failed) continue;
      if (!segment.failure.empty()) {
        FailJob(job, segment.failure);
        continue;
      }
      const ImageEntry& entry = *job.entry;
      if (entry.size >= kImageReadAheadBytes) {
        ReadAheadOf(image, entry, segment.offset + segment.bytes, kImageReadAheadBytes);
      }
      if (!ReadEntryBytes(image, entry, segment.offset, buffer.get(), segment.bytes)) {
        FailJob(job, "cannot be read from the image at byte " + std::to_string(segment.offset) + ": " +
                         (image.error.empty() ? "its extents pass the image's end" : image.error));
        continue;
      }
      if (std::memcmp(buffer.get(), segment.data, segment.bytes) != 0) {
        size_t at = 0;
        while (buffer[at] == segment.data[at]) ++at;
        FailJob(job, "byte " + std::to_string(segment.offset + at) + " differs from the source");
      }
    }
    for (const SourceSegment& segment : batch->segments) done += segment.bytes;
    source.Release(batch);
    if (progress && !progress(done, total, context)) return false;
  }
  return true;
}

}  // namespace

bool CheckImage(ImageSource& image, const PlannedDisc& disc, CheckOutcome& outcome, CheckProgressFn progress,
                void* context) {
  outcome = {};
  outcome.files = disc.files;
  outcome.bytes = disc.fileBytes;
  Checker checker{image, disc, outcome, {}, {}, std::vector<size_t>(disc.entries.size(), SIZE_MAX)};
  const ImageFileSystems found = SurveyImage(image);
  checker.ReadTrees(found);
  for (CheckedTree& checked : checker.trees) {
    outcome.fileSystems += (outcome.fileSystems.empty() ? "" : " and ") + checked.name;
  }
  for (size_t i = 0; i < checker.trees.size(); ++i) {
    checker.MatchTree(checker.trees[i], checker.trees[i].name == "ISO 9660");
  }
  for (const CheckedTree& checked : checker.trees) checker.NameExtras(checked);
  return checker.CompareBytes(progress, context);
}

}  // namespace vellumcast
