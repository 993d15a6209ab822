// The UDF walk from the File Set Descriptor through directories and File Entries.
#include "reader/udf_tree.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "reader/udf_file_fields.h"
#include "reader/udf_volume.h"

namespace vellumcast {
namespace {

using enum ReadProblemKind;

// ECMA-167 4/14.4: the longest File Identifier Descriptor (38 bytes, an implementation
// use field of up to 65535 bytes, an identifier of up to 255, padding to 4). A
// directory is read through a buffer of a few of them, never whole.
constexpr size_t kMaxIdentifierBytes = 38 + 65535 + 255 + 3;
constexpr size_t kDirectoryChunkBytes = 4 * kMaxIdentifierBytes;

// Directory bytes one walk reads beyond the image's own size: directories whose extents
// overlap are refused once they cost this much.
constexpr uint64_t kRereadAllowance = 64u << 20;

// Extents of one directory at most (a writer records a directory in one or a few).
constexpr size_t kMaxDirectoryPieces = 65536;

// A directory listed in its parent and still to be read.
struct UdfChild {
  UdfAllocation icb;
  uint32_t number = 0;
  std::string name;
  uint8_t characteristics = 0;  // of its File Identifier Descriptor
};

// What the extents of a File Entry whose allocations continue in Allocation Extent
// Descriptors came to: expanded once, however many identifiers name the entry.
struct ExpandedEntry {
  bool ok = false;
  std::vector<ImageExtent> extents = {};
  ReadProblem why = {};  // when not `ok`
};

// One directory while its identifiers are read: its entry, where its bytes lie, what it
// lists and what it holds.
struct UdfDirectoryRead {
  const UdfAllocation& icb;
  const UdfAllocation& parent;
  uint32_t number = 0;
  uint32_t depth = 0;
  std::vector<uint8_t> storage = {};  // the block of its File Entry
  UdfFileEntry entry = {};
  ImageEntry whole = {};  // its bytes as one entry: extents, or embedded bytes
  // Where each piece of its bytes lies in its partition: (byte start, allocation).
  std::vector<std::pair<uint64_t, UdfAllocation>> pieces = {};
  std::vector<UdfChild> subdirectories = {};
  uint64_t childBytes = 0;   // held by `subdirectories`
  uint64_t folderBytes = 0;  // held by `folder`
  ImageFolder folder = {};
};

struct UdfWalk {
  UdfVolume& volume;
  ImageTree& tree;
  const ReadLimits& limits;
  ImageFolderFn visit = nullptr;
  void* context = nullptr;
  std::vector<std::vector<bool>> visited = {};  // directory entries met, against loops
  std::unordered_map<uint64_t, ExpandedEntry> expanded = {};  // by partition << 32 | block
  bool complete = true;         // false once a limit cut the walk short
  bool stopped = false;         // a limit of the whole walk was reached
  uint32_t listed = 0;          // entries listed so far
  uint64_t extents = 0;         // extents handed over or kept in `expanded`
  uint64_t held = 0;            // bytes of the directories still to be read
  uint64_t directoryBytes = 0;  // bytes of directories read
  std::string path = {};        // the path of the directory being read

  std::string Entry(const UdfAllocation& icb, const std::string& name = {}) const {
    return "file entry at block " + std::to_string(icb.block) + " (" + Shown(name) + ")";
  }
  // The path of the directory being read ("/" for the root), or of `name` in it.
  std::string Shown(const std::string& name = {}) const {
    return name.empty() ? (path.empty() ? "/" : path) : JoinImagePath(path, name);
  }
  // Reports `why`, met at the entry `icb` that `name` (or the directory being read)
  // names: placed at the entry's sector unless `why` has its own.
  void EntryProblem(ReadProblem why, const UdfAllocation& icb, const std::string& name = {}) const {
    if (why.sector == kNoSector) why.sector = volume.SectorOf(icb.partition, icb.block);
    if (!*why.structure) why.structure = "file entry";
    why.path = name.empty() ? path : JoinImagePath(path, name);
    volume.Problem(why.Within(Entry(icb, name)));
  }
  void EntryProblem(ReadProblemKind kind, const UdfAllocation& icb, const std::string& what,
                    const std::string& name = {}) const {
    EntryProblem(Fault(kind, what), icb, name);
  }
  // Reports a problem of the File Identifier Descriptor at `block` of directory `d`,
  // about the entry `name` it names when given.
  void IdentifierProblem(const UdfDirectoryRead& d, ReadProblemKind kind, uint32_t block,
                         const std::string& what, const std::string& name = {}) const {
    volume.Problem(ReadProblem{
        kind, "file identifier", volume.SectorOf(d.icb.partition, block),
        name.empty() ? path : JoinImagePath(path, name),
        "file identifier at block " + std::to_string(block) + " (" + Shown() + "): " + what});
  }
  void Stop(const UdfAllocation& icb, const std::string& what, const std::string& name = {}) {
    EntryProblem(ReadProblemKind::kLimitReached, icb, what, name);
    complete = false;
    stopped = true;
  }
  // The extents of a file's `size` bytes, from the cache when its entry was expanded
  // before; false with `why` set.
  bool FileExtents(const UdfAllocation& icb, const UdfFileEntry& file,
                   std::vector<ImageExtent>& out, ReadProblem& why);
  // Reads the directory at `path` whose entry is `icb`, hands it over as folder
  // `number` and reads its subdirectories; false when its entry or data cannot be read.
  bool ReadDirectory(const UdfAllocation& icb, const UdfAllocation& parent, uint32_t number,
                     uint32_t depth);
  // Reads the directory's File Entry; false when it is refused, true with the walk
  // stopped when directories overlap too much.
  bool ReadDirectoryEntry(UdfDirectoryRead& d);
  // Finds where the directory's bytes lie; false when they cannot be had.
  bool LocateDirectory(UdfDirectoryRead& d);
  // Reads the directory's File Identifier Descriptors a few at a time; false when its
  // first bytes cannot be read.
  bool ReadIdentifiers(UdfDirectoryRead& d);
  // Takes one identifier (at partition block `block`); false when the rest of the
  // directory is not to be read.
  bool TakeIdentifier(UdfDirectoryRead& d, const UdfFileIdentifier& fid, uint32_t block);
  // Lists the subdirectories after the files, hands the folder over and reads them.
  void Descend(UdfDirectoryRead& d);
  // Adds the file an identifier names to `folder`; false when a limit stops the walk.
  bool AddFile(const UdfFileIdentifier& fid, std::string& name, ImageFolder& folder,
               uint64_t& folderBytes);
};

// Which partition block holds byte `pos` of a directory whose bytes lie in `pieces`
// (byte start, allocation, in order of start); for the tag location of a File
// Identifier Descriptor.
uint32_t BlockOf(const std::vector<std::pair<uint64_t, UdfAllocation>>& pieces, uint64_t pos) {
  auto after = std::upper_bound(pieces.begin(), pieces.end(), pos,
                                [](uint64_t p, const auto& piece) { return p < piece.first; });
  if (after == pieces.begin()) return 0;
  const auto& [start, a] = *(after - 1);
  return a.block + uint32_t((pos - start) / kImageSectorSize);
}

bool UdfWalk::FileExtents(const UdfAllocation& icb, const UdfFileEntry& file,
                          std::vector<ImageExtent>& out, ReadProblem& why) {
  const uint64_t key = uint64_t(icb.partition) << 32 | icb.block;
  if (auto found = expanded.find(key); found != expanded.end()) {
    if (!found->second.ok) {
      why = found->second.why;
      return false;
    }
    out = found->second.extents;
    return true;
  }
  const uint64_t before = volume.extentBlocksRead;
  const bool ok = volume.EntryExtents(file, icb.partition, file.informationLength, out, why);
  if (volume.extentBlocksRead != before) {
    // Expanded through Allocation Extent Descriptors, which belong to this entry only:
    // kept, so that another identifier naming the entry does not read them again.
    ExpandedEntry& kept = expanded[key];
    kept.ok = ok;
    if (ok) kept.extents = out;
    if (!ok) kept.why = why;
    extents += kept.extents.size();
  }
  return ok;
}

bool UdfWalk::AddFile(const UdfFileIdentifier& fid, std::string& name, ImageFolder& folder,
                      uint64_t& folderBytes) {
  std::vector<uint8_t> fileStorage;
  UdfFileEntry file;
  ReadProblem why;
  if (!volume.ReadEntry(fid.icb, fileStorage, file, why)) {
    EntryProblem(why, fid.icb, name);
    return true;
  }
  ImageEntry e;
  e.posixType = PosixTypeOf(file.fileType);
  if (e.posixType == 0) {
    EntryProblem(kUnsupported, fid.icb,
                 "file type " + std::to_string(file.fileType) + " not supported", name);
    return true;
  }
  e.realTime = file.fileType == kUdfTypeRealTime;
  e.size = file.informationLength;
  e.modified = file.modified;
  e.links = file.links;
  FillUdfRecordFields(file, fid.characteristics, e.fields);
  if (file.fileType == kUdfTypeSymbolicLink) {
    // Its bytes are its path components.
    if (!ReadLinkTarget(volume, fid.icb, file, e, why)) {
      EntryProblem(why, fid.icb, name);
      return true;
    }
  } else if (file.adType == kUdfDataInEntry) {
    if (file.informationLength > file.ads.size) {
      EntryProblem(kDamaged, fid.icb, "information length passes the embedded data", name);
      return true;
    }
    e.embedded.assign(reinterpret_cast<const char*>(file.ads.data), size_t(file.informationLength));
  } else if (!FileExtents(fid.icb, file, e.extents, why)) {
    EntryProblem(why, fid.icb, name);
    return true;
  }
  extents += e.extents.size();
  if (extents > limits.extents) {
    Stop(fid.icb, "more than " + std::to_string(limits.extents) + " extents in the tree", name);
    return false;
  }
  e.name = std::move(name);
  folderBytes += HeldBytes(e);
  folder.entries.push_back(std::move(e));
  ++listed;
  ++tree.files;
  return true;
}

bool UdfWalk::ReadDirectory(const UdfAllocation& icb, const UdfAllocation& parent, uint32_t number,
                            uint32_t depth) {
  UdfDirectoryRead d{icb, parent, number, depth};
  d.folder = ImageFolder{path, number, {}};
  if (!ReadDirectoryEntry(d)) return false;
  if (stopped) return true;
  if (!LocateDirectory(d) || !ReadIdentifiers(d)) return false;
  Descend(d);
  return true;
}

bool UdfWalk::ReadDirectoryEntry(UdfDirectoryRead& d) {
  ReadProblem why;
  UdfFileEntry& entry = d.entry;
  if (!volume.ReadEntry(d.icb, d.storage, entry, why)) {
    EntryProblem(why, d.icb);
    return false;
  }
  if (entry.fileType != kUdfTypeDirectory) {
    EntryProblem(kDamaged, d.icb,
                 "file type " + std::to_string(entry.fileType) + " where a directory belongs");
    return false;
  }
  if (d.depth == 0) {
    FillUdfRecordFields(entry, kUdfFidDirectory, tree.root);
    tree.rootModified = entry.modified;
  }
  if (entry.informationLength > limits.directoryBytes ||
      entry.informationLength > volume.image->size) {
    EntryProblem(kLimitReached, d.icb,
                 "directory of " + std::to_string(entry.informationLength) + " bytes is too large");
    return false;
  }
  directoryBytes += entry.informationLength;
  if (directoryBytes > volume.image->size + kRereadAllowance)
    Stop(d.icb, "directories of more bytes than the image holds, their extents overlap");
  return true;
}

bool UdfWalk::LocateDirectory(UdfDirectoryRead& d) {
  const UdfFileEntry& entry = d.entry;
  d.whole.size = entry.informationLength;
  if (entry.adType == kUdfDataInEntry) {
    if (entry.informationLength > entry.ads.size) {
      EntryProblem(kDamaged, d.icb, "information length passes the embedded data");
      return false;
    }
    d.whole.embedded.assign(reinterpret_cast<const char*>(entry.ads.data),
                            size_t(entry.informationLength));
    d.pieces.emplace_back(0, UdfAllocation{0, 0, d.icb.block, d.icb.partition});
    return true;
  }
  std::vector<UdfAllocation> allocations;
  ReadProblem why;
  if (!volume.Allocations(entry, d.icb.partition, allocations, why) ||
      !volume.AllocationExtents(allocations, entry.informationLength, d.whole.extents, why)) {
    EntryProblem(why, d.icb);
    return false;
  }
  if (allocations.size() > kMaxDirectoryPieces) {
    EntryProblem(kLimitReached, d.icb,
                 "directory in more than " + std::to_string(kMaxDirectoryPieces) + " extents");
    return false;
  }
  uint64_t start = 0;
  for (const UdfAllocation& a : allocations) {
    d.pieces.emplace_back(start, a);
    start += a.bytes;
  }
  return true;
}

bool UdfWalk::ReadIdentifiers(UdfDirectoryRead& d) {
  std::vector<uint8_t> chunk;
  uint64_t chunkStart = 0;
  const uint64_t size = d.whole.size;
  for (uint64_t pos = 0; pos < size && !stopped;) {
    const size_t need = size_t(std::min<uint64_t>(kMaxIdentifierBytes, size - pos));
    if (pos - chunkStart + need > chunk.size()) {
      chunkStart = pos;
      chunk.resize(size_t(std::min<uint64_t>(kDirectoryChunkBytes, size - pos)));
      volume.image->failed = false;
      if (!ReadEntryBytes(*volume.image, d.whole, pos, chunk.data(), chunk.size())) {
        EntryProblem(Fault(kUnreadable, "directory cannot be read: " + volume.image->error,
                           volume.image->failed ? volume.image->failedSector : kNoSector),
                     d.icb);
        if (pos == 0) return false;
        break;
      }
    }
    const ByteSpan span(chunk.data(), chunk.size());
    const size_t local = size_t(pos - chunkStart);
    UdfFileIdentifier fid;
    UdfTag tag;
    const char* reason = nullptr;
    const uint32_t block = BlockOf(d.pieces, pos);
    if (!DecodeUdfFileIdentifier(span, local, fid, reason) ||
        !DecodeUdfTag(span.Sub(local, std::min<size_t>(fid.length, chunk.size() - local)),
                      kUdfFileIdentifier, block, tag, reason)) {
      IdentifierProblem(d, kDamaged, block, reason);
      break;  // its length cannot be trusted: neither can what follows
    }
    pos += fid.length;
    if (!TakeIdentifier(d, fid, block)) break;
  }
  return true;
}

bool UdfWalk::TakeIdentifier(UdfDirectoryRead& d, const UdfFileIdentifier& fid, uint32_t block) {
  if (fid.characteristics & kUdfFidDeleted) return true;
  if (fid.characteristics & kUdfFidParent) {
    if (fid.icb.block != d.parent.block || fid.icb.partition != d.parent.partition)
      IdentifierProblem(d, kDamaged, block, "parent entry does not point to the parent directory");
    if (fid.characteristics != (kUdfFidParent | kUdfFidDirectory))
      IdentifierProblem(d, kDamaged, block,
                        "parent entry's characteristics are not a directory's alone");
    return true;
  }
  std::string name;
  if (!DecodeCs0(fid.identifier, name)) {
    IdentifierProblem(d, kDamaged, block, "identifier not in compressed unicode");
    return true;
  }
  const bool tooLong = name.size() > limits.nameBytes;
  if (tooLong || name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
    IdentifierProblem(d, tooLong ? kLimitReached : kDamaged, block,
                      "identifier not usable as a name");
    return true;
  }
  if (listed >= limits.entries) {
    volume.Problem(kLimitReached, "file identifier", kNoSector,
                   "more than " + std::to_string(limits.entries) + " entries");
    complete = false;
    stopped = true;
    return false;
  }
  if (held + d.childBytes + d.folderBytes > limits.heldBytes) {
    Stop(d.icb, "its entries need more than " + std::to_string(limits.heldBytes >> 20) + " MiB");
    return false;
  }
  if (!(fid.characteristics & kUdfFidDirectory)) return AddFile(fid, name, d.folder, d.folderBytes);
  if (!volume.Mark(visited, fid.icb.partition, fid.icb.block)) {
    IdentifierProblem(d, kDamaged, block, "directory " + JoinImagePath(path, name) + " loops back",
                      name);
    return true;
  }
  d.subdirectories.push_back(UdfChild{fid.icb, 0, std::move(name), fid.characteristics});
  d.childBytes += sizeof(UdfChild) + d.subdirectories.back().name.capacity();
  return true;
}

void UdfWalk::Descend(UdfDirectoryRead& d) {
  if (!stopped && d.depth >= limits.depth && !d.subdirectories.empty()) {
    EntryProblem(kLimitReached, d.icb, "deeper than " + std::to_string(limits.depth) + " levels");
    complete = false;
    d.subdirectories.clear();
  }
  // The folder's directories follow its files; each is read after the folder is handed
  // over, so that only the folders on the way down are held.
  std::vector<uint8_t> childStorage;
  ReadProblem ignored;  // the subdirectory's own read names it
  for (UdfChild& child : d.subdirectories) {
    UdfFileEntry childEntry;
    ImageEntry e;
    e.name = child.name;
    e.directory = true;
    e.folder = child.number = tree.directories;
    if (volume.ReadEntry(child.icb, childStorage, childEntry, ignored)) {
      e.size = childEntry.informationLength;
      e.modified = childEntry.modified;
      FillUdfRecordFields(childEntry, child.characteristics, e.fields);
    }
    d.folder.entries.push_back(std::move(e));
    ++listed;
    ++tree.directories;
  }
  visit(d.folder, context);
  // Only the subdirectories still to read are held on the way down.
  d.folder = {};
  d.pieces = {};
  d.whole = {};
  d.storage = {};
  held += d.childBytes;
  const size_t mark = path.size();
  for (UdfChild& child : d.subdirectories) {
    const uint64_t bytes = sizeof(UdfChild) + child.name.capacity();
    if (!stopped) {
      path += (mark == 0 ? "" : "/") + child.name;
      child.name = {};
      ReadDirectory(child.icb, d.icb, child.number, d.depth + 1);
      path.resize(mark);
    }
    held -= bytes;
  }
}

}  // namespace

bool ReadUdfTree(ImageSource& image, ImageTree& tree, ReadReport& report,
                 const ReadLimits& limits) {
  return WalkUdfTree(image, tree, report, GatherFolder, &tree, limits);
}

namespace {

// The root's entry from the File Set Descriptor; false with the problem given.
bool ReadFileSet(UdfVolume& volume, UdfFileSet& fileSet) {
  std::vector<uint8_t> block(kImageSectorSize);
  const UdfAllocation& fsd = volume.logical.fileSet;
  const std::string where = "file set descriptor at block " + std::to_string(fsd.block);
  ReadProblem why;
  if (!volume.ReadBlock(fsd.partition, fsd.block, block.data(), why)) {
    why.structure = "file set descriptor";
    volume.Problem(why.Within(where));
    return false;
  }
  UdfTag tag;
  const char* reason = nullptr;
  if (!DecodeUdfTag(ByteSpan(block.data(), block.size()), kUdfFileSet, fsd.block, tag, reason)) {
    volume.Problem(kDamaged, "file set descriptor", volume.SectorOf(fsd.partition, fsd.block),
                   where + ": " + reason);
    return false;
  }
  DecodeUdfFileSet(ByteSpan(block.data(), block.size()), fileSet);
  return true;
}

}  // namespace

bool WalkUdfTree(ImageSource& image, ImageTree& tree, ReadReport& report, ImageFolderFn visit,
                 void* context, const ReadLimits& limits) {
  tree = {};
  UdfVolume volume;
  if (!ReadUdfVolume(image, volume, report, limits)) return false;
  tree.volumeId = volume.logical.volumeId;
  tree.udfRevision = volume.logical.domainRevision;
  UdfFileSet fileSet;
  if (!ReadFileSet(volume, fileSet)) return false;
  UdfWalk walk{volume, tree, limits, visit, context};
  (void)volume.Mark(walk.visited, fileSet.root.partition, fileSet.root.block);
  tree.directories = 1;
  const size_t problemsBefore = report.Count();
  if (!walk.ReadDirectory(fileSet.root, fileSet.root, 0, 0)) return false;
  // The counts are checked against a whole tree only: a damaged entry already has its
  // own problem, and the counts would differ for its sake alone.
  const bool whole = walk.complete && report.Count() == problemsBefore;
  if (volume.haveIntegrity && whole &&
      (volume.integrity.files != tree.files || volume.integrity.directories != tree.directories)) {
    volume.Problem(kDamaged, "logical volume integrity descriptor", volume.integritySector,
                   "logical volume integrity descriptor at sector " +
                       std::to_string(volume.integritySector) + ": " +
                       std::to_string(volume.integrity.files) + " files and " +
                       std::to_string(volume.integrity.directories) +
                       " directories recorded, the tree holds " + std::to_string(tree.files) +
                       " and " + std::to_string(tree.directories));
  }
  return true;
}

}  // namespace vellumcast
