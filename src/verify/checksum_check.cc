// The self-check of an image: its trees are walked as a comparison walks them; every
// distinct run of file bytes (the trees of a bridge image share one copy, a .ssif file
// overlaps its two clips) is hashed while the image is read once from its first file
// sector to its last, each read serving every file that covers it; then the digests are
// held against the checksum list the image carries.
#include "verify/checksum_check.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/sha256.h"
#include "reader/image_survey.h"
#include "reader/iso9660_tree.h"
#include "reader/udf_tree.h"
#include "verify/checksum_list_text.h"

namespace vellumcast {
namespace {

constexpr uint64_t kChunkBytes = 4u << 20;
// A sector whose read fails is read this many times in all before it is named.
constexpr int kReadTries = 2;
constexpr uint64_t kPosixRegularType = 0100000;

enum TreeId : uint8_t { kUdfTree, kRockRidgeTree, kJolietTree, kPlainTree, kTreeCount };
constexpr const char* kTreeNames[kTreeCount] = {"UDF", "Rock Ridge", "Joliet", "ISO 9660"};

// One distinct run of file bytes in the image, read once.
struct FileData {
  uint64_t size = 0;
  uint32_t firstExtent = 0;  // in SumChecker::extents
  uint32_t extentCount = 0;
  uint32_t nextExtent = 0;  // the next extent to feed its digest
  std::string embedded;     // bytes recorded in a UDF File Entry
  std::string path;         // the first name it was found under, for messages
  Sha256Digest digest{};
  bool scattered = false;  // extents out of order: read on their own after the pass
  bool unreadable = false;
  bool hashed = false;
  bool named = false;  // a file of the tree the list names (or the list itself)
};

// A byte range of one extent of one run, in the pass's order.
struct Segment {
  uint64_t start;
  uint64_t end;
  uint32_t data;
  uint32_t extent;
};

uint64_t Fingerprint(const ImageEntry& entry) {
  uint64_t h = 14695981039346656037ull;
  auto mix = [&](uint64_t v) { h = (h ^ v) * 1099511628211ull; };
  for (const ImageExtent& e : entry.extents) {
    mix(e.zero ? ~uint64_t(0) : e.sector);
    mix(e.bytes);
  }
  for (char c : entry.embedded) mix(uint8_t(c));
  mix(entry.size);
  return h;
}

struct SumChecker {
  ImageSource& image;
  CheckOutcome& outcome;
  SumCheck& sums;
  CheckProgressFn progress;
  void* context;

  std::vector<FileData> data = {};
  std::vector<ImageExtent> extents = {};
  std::unordered_multimap<uint64_t, uint32_t> dataByPlace = {};
  std::unordered_map<uint32_t, Sha256> running = {};  // digests of the runs being read
  // The files of the tree the list names: path (below the root, no leading '/') and run.
  std::vector<std::pair<std::string, uint32_t>> files = {};
  TreeId walking = kUdfTree;
  TreeId primary = kTreeCount;
  bool haveList = false;
  ImageEntry list = {};
  std::unique_ptr<uint8_t[]> buffer = {};

  static void Visit(ImageFolder& folder, void* self) {
    static_cast<SumChecker*>(self)->Take(folder);
  }
  void Take(ImageFolder& folder);
  uint32_t DataOf(const ImageEntry& entry, const std::string& path);
  bool WalkTree(TreeId tree);
  void Feed(uint32_t d, const uint8_t* bytes, uint64_t n);
  void FeedZeros(uint32_t d, uint32_t upTo);
  void Finish(uint32_t d);
  void Unreadable(uint32_t d, uint64_t sector);
  bool ReadRange(uint64_t offset, uint64_t n, uint64_t& badSector);
  bool Pass();
  void ReadScattered(uint32_t d);
  void HashAll();
  void CheckList();
};

bool IsListName(TreeId tree, const std::string& name) {
  return name == (tree == kPlainTree ? kChecksumListPlainFile : kChecksumListFile);
}

uint32_t SumChecker::DataOf(const ImageEntry& entry, const std::string& path) {
  const uint64_t place = Fingerprint(entry);
  for (auto [at, end] = dataByPlace.equal_range(place); at != end; ++at) {
    const FileData& d = data[at->second];
    if (d.size != entry.size || d.extentCount != entry.extents.size() ||
        d.embedded != entry.embedded)
      continue;
    bool same = true;
    for (uint32_t i = 0; same && i < d.extentCount; ++i) {
      const ImageExtent& a = extents[d.firstExtent + i];
      const ImageExtent& b = entry.extents[i];
      same = a.zero == b.zero && a.bytes == b.bytes && (a.zero || a.sector == b.sector);
    }
    if (same) return at->second;
  }
  FileData d;
  d.size = entry.size;
  d.firstExtent = uint32_t(extents.size());
  d.extentCount = uint32_t(entry.extents.size());
  d.embedded = entry.embedded;
  d.path = path;
  uint64_t lastEnd = 0;
  for (const ImageExtent& e : entry.extents) {
    extents.push_back(e);
    if (e.zero) continue;
    if (e.sector * kImageSectorSize < lastEnd) d.scattered = true;
    lastEnd = e.sector * kImageSectorSize + e.bytes;
  }
  data.push_back(std::move(d));
  dataByPlace.emplace(place, uint32_t(data.size() - 1));
  return uint32_t(data.size() - 1);
}

void SumChecker::Take(ImageFolder& folder) {
  for (const ImageEntry& e : folder.entries) {
    if (e.directory) continue;
    // Symbolic links and special files hold no bytes of a file of their own.
    if (e.posixType != 0 && e.posixType != kPosixRegularType) continue;
    const std::string path = JoinImagePath(folder.path, e.name);
    const uint32_t d = DataOf(e, path);
    if (walking != primary) continue;
    data[d].named = true;
    if (folder.path.empty() && IsListName(walking, e.name)) {
      haveList = true;
      list = e;
      continue;
    }
    files.emplace_back(path, d);
  }
}

bool SumChecker::WalkTree(TreeId tree) {
  walking = tree;
  ImageTree walked;
  ReadReport report;
  const bool ok = tree == kUdfTree ? WalkUdfTree(image, walked, report, Visit, this)
                                   : WalkIso9660Tree(image, walked, report, Visit, this, {},
                                                     tree == kRockRidgeTree ? kIsoRockRidgeNames
                                                     : tree == kJolietTree  ? kIsoJolietNames
                                                                            : kIsoPlainNames);
  sums.damaged = sums.damaged || !ok || !report.Clean();
  if (!sums.reportStructures) return ok;
  for (ReadProblem& problem : report.problems) outcome.Add(std::move(problem.text));
  outcome.moreDifferences += report.dropped;
  if (!ok && report.Clean())
    outcome.Add(std::string(kTreeNames[tree]) + ": the file system cannot be read");
  return ok;
}

void SumChecker::Feed(uint32_t d, const uint8_t* bytes, uint64_t n) {
  running[d].Update(bytes, size_t(n));
}

// Feeds the zero extents of run `d` before extent `upTo`.
void SumChecker::FeedZeros(uint32_t d, uint32_t upTo) {
  static const uint8_t kZeros[kImageSectorSize] = {};
  FileData& f = data[d];
  for (; f.nextExtent < upTo; ++f.nextExtent) {
    const ImageExtent& e = extents[f.firstExtent + f.nextExtent];
    if (!e.zero) break;
    for (uint64_t left = e.bytes; left;) {
      const uint64_t n = std::min<uint64_t>(left, sizeof kZeros);
      Feed(d, kZeros, n);
      left -= n;
    }
  }
}

void SumChecker::Finish(uint32_t d) {
  FeedZeros(d, data[d].extentCount);
  data[d].digest = running[d].Finish();
  data[d].hashed = true;
  running.erase(d);
}

void SumChecker::Unreadable(uint32_t d, uint64_t sector) {
  FileData& f = data[d];
  if (f.unreadable) return;
  f.unreadable = true;
  running.erase(d);
  outcome.Add("/" + f.path + ": unreadable sector " + std::to_string(sector));
}

// Reads [offset, offset + n) into the buffer; when the read fails, sector by sector up to
// the first that cannot be read in kReadTries reads (`badSector`). A sector that reads on
// a second try leaves the range whole.
bool SumChecker::ReadRange(uint64_t offset, uint64_t n, uint64_t& badSector) {
  if (image.ReadBytes(offset, buffer.get(), size_t(n))) return true;
  for (uint64_t at = offset; at < offset + n;) {
    const uint64_t sector = at / kImageSectorSize;
    const uint64_t end = std::min(offset + n, (sector + 1) * kImageSectorSize);
    bool read = false;
    for (int t = 0; t < kReadTries && !read; ++t)
      read = image.ReadBytes(at, buffer.get() + (at - offset), size_t(end - at));
    if (!read) {
      badSector = sector;
      ++sums.unreadableSectors;
      return false;
    }
    at = end;
  }
  return true;
}

// One forward pass: the extents of every run in order of their place in the image; each
// read covers a range that lies inside every extent it serves, so one read feeds a .ssif
// file and the clip it overlaps alike, and no byte is read twice.
bool SumChecker::Pass() {
  std::vector<Segment> segments;
  for (uint32_t d = 0; d < data.size(); ++d) {
    const FileData& f = data[d];
    if (f.scattered) continue;
    for (uint32_t i = 0; i < f.extentCount; ++i) {
      const ImageExtent& e = extents[f.firstExtent + i];
      if (e.zero || e.bytes == 0) continue;
      const uint64_t start = e.sector * kImageSectorSize;
      segments.push_back({start, start + e.bytes, d, i});
    }
  }
  std::sort(segments.begin(), segments.end(), [](const Segment& a, const Segment& b) {
    return a.start != b.start ? a.start < b.start : a.data < b.data;
  });
  std::vector<uint32_t> lastSegment(data.size(), UINT32_MAX);
  for (uint32_t s = 0; s < segments.size(); ++s) lastSegment[segments[s].data] = s;
  std::vector<uint32_t> active;
  size_t next = 0;
  uint64_t pos = 0;
  while (next < segments.size() || !active.empty()) {
    if (active.empty()) pos = segments[next].start;
    while (next < segments.size() && segments[next].start <= pos) {
      const Segment& s = segments[next];
      if (!data[s.data].unreadable) {
        FeedZeros(s.data, s.extent);
        active.push_back(uint32_t(next));
      }
      ++next;
    }
    uint64_t end = pos + kChunkBytes;
    if (next < segments.size()) end = std::min(end, segments[next].start);
    for (uint32_t a : active) end = std::min(end, segments[a].end);
    if (!active.empty()) {
      uint64_t badSector = 0;
      if (!ReadRange(pos, end - pos, badSector)) {
        for (uint32_t a : active) Unreadable(segments[a].data, badSector);
      } else {
        for (uint32_t a : active) Feed(segments[a].data, buffer.get(), end - pos);
      }
    }
    pos = end;
    std::erase_if(active, [&](uint32_t a) {
      const Segment& s = segments[a];
      if (data[s.data].unreadable) return true;
      if (s.end > pos) return false;
      data[s.data].nextExtent = s.extent + 1;
      if (lastSegment[s.data] == a) Finish(s.data);
      return true;
    });
    if (progress && !progress(pos, image.size, context)) return false;
  }
  return true;
}

// A run whose extents go back and forth is read extent by extent in its own order.
void SumChecker::ReadScattered(uint32_t d) {
  FileData& f = data[d];
  for (uint32_t i = 0; i < f.extentCount && !f.unreadable; ++i) {
    FeedZeros(d, i);
    const ImageExtent& e = extents[f.firstExtent + i];
    if (e.zero) continue;
    for (uint64_t done = 0; done < e.bytes && !f.unreadable;) {
      const uint64_t n = std::min(kChunkBytes, e.bytes - done);
      uint64_t badSector = 0;
      if (!ReadRange(e.sector * kImageSectorSize + done, n, badSector)) {
        Unreadable(d, badSector);
      } else {
        Feed(d, buffer.get(), n);
      }
      done += n;
    }
    f.nextExtent = i + 1;
  }
  if (!f.unreadable) Finish(d);
}

void SumChecker::HashAll() {
  for (uint32_t d = 0; d < data.size(); ++d) {
    FileData& f = data[d];
    if (f.extentCount == 0) {
      Sha256 h;
      h.Update(reinterpret_cast<const uint8_t*>(f.embedded.data()), f.embedded.size());
      f.digest = h.Finish();
      f.hashed = true;
    }
  }
}

void SumChecker::CheckList() {
  ChecksumListText text;
  text.plain = primary == kPlainTree;
  std::string why;
  if (!ReadChecksumList(image, list, text, why)) {
    outcome.Add("/" +
                std::string(primary == kPlainTree ? kChecksumListPlainFile : kChecksumListFile) +
                ": " + why);
    return;
  }
  for (const auto& [path, d] : files) {
    const FileData& f = data[d];
    ListedDigest* listed = text.Find(path);
    if (!listed) {
      outcome.Add("/" + path + ": not in SHA256SUMS");
      continue;
    }
    listed->seen = true;
    ++outcome.files;
    outcome.bytes += f.size;
    if (f.hashed && f.digest != listed->digest)
      outcome.Add("/" + path + ": its bytes differ from its SHA-256 in SHA256SUMS");
  }
  for (const ListedDigest& listed : text.entries) {
    if (!listed.seen) outcome.Add("/" + listed.path + ": in SHA256SUMS but not in the image");
  }
  for (std::string& problem : text.problems) outcome.Add(std::move(problem));
}

// The trees the image has, in the order in which the first names the list's paths.
void PresentTrees(ImageSource& image, const ImageFileSystems& found, bool present[kTreeCount]) {
  present[kUdfTree] = found.udf;
  present[kRockRidgeTree] = found.iso9660 && HasIsoTree(image, kIsoRockRidgeNames);
  present[kJolietTree] = found.iso9660 && HasIsoTree(image, kIsoJolietNames);
  present[kPlainTree] = found.iso9660;
}

TreeId FirstTree(const bool present[kTreeCount]) {
  for (int t = 0; t < kTreeCount; ++t)
    if (present[t]) return TreeId(t);
  return kTreeCount;
}

struct RootLook {
  TreeId tree;
  bool found = false;
};

void LookAtRoot(ImageFolder& folder, void* look) {
  auto& l = *static_cast<RootLook*>(look);
  if (!folder.path.empty()) return;
  for (const ImageEntry& e : folder.entries)
    if (!e.directory && IsListName(l.tree, e.name)) l.found = true;
}

}  // namespace

bool HasChecksumList(ImageSource& image) {
  bool present[kTreeCount];
  PresentTrees(image, SurveyImage(image), present);
  RootLook look{FirstTree(present)};
  if (look.tree == kTreeCount) return false;
  ImageTree tree;
  ReadReport ignored;  // a check reads the trees again and reports their problems
  ReadLimits rootOnly;
  rootOnly.depth = 0;
  const IsoNames names = look.tree == kRockRidgeTree ? kIsoRockRidgeNames
                         : look.tree == kJolietTree  ? kIsoJolietNames
                                                     : kIsoPlainNames;
  if (look.tree == kUdfTree) {
    (void)WalkUdfTree(image, tree, ignored, LookAtRoot, &look, rootOnly);
  } else {
    (void)WalkIso9660Tree(image, tree, ignored, LookAtRoot, &look, rootOnly, names);
  }
  return look.found;
}

bool CheckImageChecksums(ImageSource& image, CheckOutcome& outcome, SumCheck& sums,
                         CheckProgressFn progress, void* context) {
  outcome = {};
  sums = SumCheck{.reportStructures = sums.reportStructures};
  SumChecker checker{
      .image = image, .outcome = outcome, .sums = sums, .progress = progress, .context = context};
  checker.buffer.reset(new (std::nothrow) uint8_t[kChunkBytes]);
  if (!checker.buffer) return false;
  const ImageFileSystems found = SurveyImage(image);
  bool present[kTreeCount];
  PresentTrees(image, found, present);
  if (!found.udf && found.udfUnreadable) outcome.Add("the image's " + found.UnreadableUdf());
  if (!found.udf && !found.iso9660) {
    outcome.Add("the image has neither an ISO 9660 nor a UDF file system");
    return true;
  }
  checker.primary = FirstTree(present);
  for (int t = 0; t < kTreeCount; ++t) {
    if (!present[t]) continue;
    checker.WalkTree(TreeId(t));
    outcome.fileSystems += (outcome.fileSystems.empty() ? "" : ", ") + std::string(kTreeNames[t]);
  }
  checker.HashAll();
  if (!checker.Pass()) return false;
  for (uint32_t d = 0; d < checker.data.size(); ++d) {
    if (checker.data[d].scattered) checker.ReadScattered(d);
  }
  // Runs that no file of the named tree holds: another tree with files of its own.
  for (const FileData& f : checker.data) {
    if (checker.haveList && !f.named && f.size != 0)
      outcome.Add("/" + f.path + ": not in SHA256SUMS");
  }
  sums.listFound = checker.haveList;
  sums.listTree = kTreeNames[checker.primary];
  if (checker.haveList) {
    checker.CheckList();
  } else {
    for (const auto& [path, d] : checker.files) {
      ++outcome.files;
      outcome.bytes += checker.data[d].size;
    }
  }
  return true;
}

}  // namespace vellumcast
