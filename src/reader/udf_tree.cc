// The UDF walk from the File Set Descriptor through directories and File Entries.
#include "reader/udf_tree.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "reader/udf_volume.h"

namespace vellumcast {
namespace {

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
  std::vector<ImageExtent> extents;
  std::string why;  // empty when the extents were read
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

  void Problem(const std::string& what) const { volume.Problem(what); }
  void Stop(const std::string& what) {
    Problem(what);
    complete = false;
    stopped = true;
  }
  std::string Entry(const UdfAllocation& icb, const std::string& name = {}) const {
    const std::string shown =
        name.empty() ? (path.empty() ? "/" : path) : JoinImagePath(path, name);
    return "file entry at block " + std::to_string(icb.block) + " (" + shown + ")";
  }
  // The extents of a file's `size` bytes, from the cache when its entry was expanded
  // before; false with `why` set.
  bool FileExtents(const UdfAllocation& icb, const UdfFileEntry& file,
                   std::vector<ImageExtent>& out, std::string& why);
  // Reads the directory at `path` whose entry is `icb`, hands it over as folder
  // `number` and reads its subdirectories; false when its entry or data cannot be read.
  bool ReadDirectory(const UdfAllocation& icb, const UdfAllocation& parent, uint32_t number,
                     uint32_t depth);
  // Adds the file an identifier names to `folder`; false when a limit stops the walk.
  bool AddFile(const UdfFileIdentifier& fid, std::string& name, ImageFolder& folder,
               uint64_t& folderBytes);
};

// The fields readers use of an entry: its FID's characteristics and its File Entry's
// type, owner, permissions, link count and modification time.
void FillUdfRecordFields(const UdfFileEntry& entry, uint8_t characteristics,
                         ImageRecordFields& out) {
  out.flags = characteristics;
  out.posix = true;
  out.permissions = entry.permissions;
  out.links = entry.links;
  out.uid = entry.uid;
  out.gid = entry.gid;
  out.fileType = entry.fileType;
  out.timed = true;
  out.micros = entry.modifiedMicros;
}

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
                          std::vector<ImageExtent>& out, std::string& why) {
  const uint64_t key = uint64_t(icb.partition) << 32 | icb.block;
  if (auto found = expanded.find(key); found != expanded.end()) {
    why = found->second.why;
    if (!why.empty()) return false;
    out = found->second.extents;
    return true;
  }
  const uint64_t before = volume.extentBlocksRead;
  const bool ok = volume.EntryExtents(file, icb.partition, file.informationLength, out, why);
  if (volume.extentBlocksRead != before) {
    // Expanded through Allocation Extent Descriptors, which belong to this entry only:
    // kept, so that another identifier naming the entry does not read them again.
    ExpandedEntry& kept = expanded[key];
    kept.why = ok ? std::string() : why;
    if (ok) kept.extents = out;
    extents += kept.extents.size();
  }
  return ok;
}

// The POSIX file type of a file's ICB file type (ECMA-167 4/14.6.6); 0 for a type a
// file entry of a directory's file cannot have.
uint32_t PosixTypeOf(uint8_t fileType) {
  switch (fileType) {
    case kUdfTypeRegular:
    case kUdfTypeRealTime: return 0100000;
    case kUdfTypeSymbolicLink: return 0120000;
    case kUdfTypeFifo: return 0010000;
    case kUdfTypeSocket: return 0140000;
    case kUdfTypeCharacterDevice: return 0020000;
    case kUdfTypeBlockDevice: return 0060000;
  }
  return 0;
}

// A symbolic link's text from its path components (embedded or in one extent).
bool ReadLinkTarget(UdfVolume& volume, const UdfAllocation& icb, const UdfFileEntry& file,
                    ImageEntry& e, std::string& why) {
  constexpr uint64_t kMaxLinkBytes = 64 * 1024;
  std::vector<uint8_t> bytes;
  if (file.informationLength > kMaxLinkBytes) {
    why = "symbolic link of " + std::to_string(file.informationLength) + " bytes is too large";
    return false;
  }
  if (file.adType == kUdfDataInEntry) {
    if (file.informationLength > file.ads.size) {
      why = "information length passes the embedded data";
      return false;
    }
    bytes.assign(file.ads.data, file.ads.data + file.informationLength);
  } else {
    if (!volume.EntryExtents(file, icb.partition, file.informationLength, e.extents, why))
      return false;
    bytes.resize(size_t(file.informationLength));
    e.size = file.informationLength;
    if (!ReadEntryBytes(*volume.image, e, 0, bytes.data(), bytes.size())) {
      why = "symbolic link cannot be read";
      return false;
    }
    e.extents.clear();
  }
  if (!DecodeUdfPathComponents(ByteSpan(bytes.data(), bytes.size()), e.linkTarget)) {
    why = "symbolic link's path components damaged";
    return false;
  }
  return true;
}

bool UdfWalk::AddFile(const UdfFileIdentifier& fid, std::string& name, ImageFolder& folder,
                      uint64_t& folderBytes) {
  std::vector<uint8_t> fileStorage;
  UdfFileEntry file;
  std::string why;
  if (!volume.ReadEntry(fid.icb, fileStorage, file, why)) {
    Problem(Entry(fid.icb, name) + ": " + why);
    return true;
  }
  ImageEntry e;
  e.posixType = PosixTypeOf(file.fileType);
  if (e.posixType == 0) {
    Problem(Entry(fid.icb, name) + ": file type " + std::to_string(file.fileType) +
            " not supported");
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
      Problem(Entry(fid.icb, name) + ": " + why);
      return true;
    }
  } else if (file.adType == kUdfDataInEntry) {
    if (file.informationLength > file.ads.size) {
      Problem(Entry(fid.icb, name) + ": information length passes the embedded data");
      return true;
    }
    e.embedded.assign(reinterpret_cast<const char*>(file.ads.data), size_t(file.informationLength));
  } else if (!FileExtents(fid.icb, file, e.extents, why)) {
    Problem(Entry(fid.icb, name) + ": " + why);
    return true;
  }
  extents += e.extents.size();
  if (extents > limits.extents) {
    Stop(Entry(fid.icb, name) + ": more than " + std::to_string(limits.extents) +
         " extents in the tree");
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
  std::vector<uint8_t> storage;
  UdfFileEntry entry;
  std::string why;
  if (!volume.ReadEntry(icb, storage, entry, why)) {
    Problem(Entry(icb) + ": " + why);
    return false;
  }
  if (entry.fileType != kUdfTypeDirectory) {
    Problem(Entry(icb) + ": file type " + std::to_string(entry.fileType) +
            " where a directory belongs");
    return false;
  }
  if (depth == 0) {
    FillUdfRecordFields(entry, kUdfFidDirectory, tree.root);
    tree.rootModified = entry.modified;
  }
  if (entry.informationLength > limits.directoryBytes ||
      entry.informationLength > volume.image->size) {
    Problem(Entry(icb) + ": directory of " + std::to_string(entry.informationLength) +
            " bytes is too large");
    return false;
  }
  directoryBytes += entry.informationLength;
  if (directoryBytes > volume.image->size + kRereadAllowance) {
    Stop(Entry(icb) + ": directories of more bytes than the image holds, their extents overlap");
    return true;
  }
  // The directory's bytes, and where each piece lies in its partition.
  ImageEntry whole;
  whole.size = entry.informationLength;
  std::vector<std::pair<uint64_t, UdfAllocation>> pieces;
  if (entry.adType == kUdfDataInEntry) {
    if (entry.informationLength > entry.ads.size) {
      Problem(Entry(icb) + ": information length passes the embedded data");
      return false;
    }
    whole.embedded.assign(reinterpret_cast<const char*>(entry.ads.data),
                          size_t(entry.informationLength));
    pieces.emplace_back(0, UdfAllocation{0, 0, icb.block, icb.partition});
  } else {
    std::vector<UdfAllocation> allocations;
    if (!volume.Allocations(entry, icb.partition, allocations, why) ||
        !volume.AllocationExtents(allocations, entry.informationLength, whole.extents, why)) {
      Problem(Entry(icb) + ": " + why);
      return false;
    }
    if (allocations.size() > kMaxDirectoryPieces) {
      Problem(Entry(icb) + ": directory in more than " + std::to_string(kMaxDirectoryPieces) +
              " extents");
      return false;
    }
    uint64_t start = 0;
    for (const UdfAllocation& a : allocations) {
      pieces.emplace_back(start, a);
      start += a.bytes;
    }
  }
  std::vector<UdfChild> subdirectories;
  uint64_t childBytes = 0, folderBytes = 0;  // held by `subdirectories` and by `folder`
  ImageFolder folder{path, number, {}};
  std::vector<uint8_t> chunk;
  uint64_t chunkStart = 0;
  for (uint64_t pos = 0; pos < whole.size && !stopped;) {
    const size_t need = size_t(std::min<uint64_t>(kMaxIdentifierBytes, whole.size - pos));
    if (pos - chunkStart + need > chunk.size()) {
      chunkStart = pos;
      chunk.resize(size_t(std::min<uint64_t>(kDirectoryChunkBytes, whole.size - pos)));
      if (!ReadEntryBytes(*volume.image, whole, pos, chunk.data(), chunk.size())) {
        Problem(Entry(icb) + ": directory cannot be read: " + volume.image->error);
        if (pos == 0) return false;
        break;
      }
    }
    const ByteSpan span(chunk.data(), chunk.size());
    const size_t local = size_t(pos - chunkStart);
    UdfFileIdentifier fid;
    UdfTag tag;
    const char* reason = nullptr;
    const uint32_t block = BlockOf(pieces, pos);
    const std::string where = "file identifier at block " + std::to_string(block) + " (" +
                              (path.empty() ? "/" : path) + ")";
    if (!DecodeUdfFileIdentifier(span, local, fid, reason) ||
        !DecodeUdfTag(span.Sub(local, std::min<size_t>(fid.length, chunk.size() - local)),
                      kUdfFileIdentifier, block, tag, reason)) {
      Problem(where + ": " + reason);
      break;  // its length cannot be trusted: neither can what follows
    }
    pos += fid.length;
    if (fid.characteristics & kUdfFidDeleted) continue;
    if (fid.characteristics & kUdfFidParent) {
      if (fid.icb.block != parent.block || fid.icb.partition != parent.partition)
        Problem(where + ": parent entry does not point to the parent directory");
      if (fid.characteristics != (kUdfFidParent | kUdfFidDirectory))
        Problem(where + ": parent entry's characteristics are not a directory's alone");
      continue;
    }
    std::string name;
    if (!DecodeCs0(fid.identifier, name)) {
      Problem(where + ": identifier not in compressed unicode");
      continue;
    }
    if (name.size() > limits.nameBytes || name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
      Problem(where + ": identifier not usable as a name");
      continue;
    }
    if (listed >= limits.entries) {
      Stop("more than " + std::to_string(limits.entries) + " entries");
      break;
    }
    if (held + childBytes + folderBytes > limits.heldBytes) {
      Stop(Entry(icb) + ": its entries need more than " + std::to_string(limits.heldBytes >> 20) +
           " MiB");
      break;
    }
    if (fid.characteristics & kUdfFidDirectory) {
      if (!volume.Mark(visited, fid.icb.partition, fid.icb.block)) {
        Problem(where + ": directory " + JoinImagePath(path, name) + " loops back");
        continue;
      }
      subdirectories.push_back(UdfChild{fid.icb, 0, std::move(name), fid.characteristics});
      childBytes += sizeof(UdfChild) + subdirectories.back().name.capacity();
      continue;
    }
    if (!AddFile(fid, name, folder, folderBytes)) break;
  }
  if (!stopped && depth >= limits.depth && !subdirectories.empty()) {
    Problem(Entry(icb) + ": deeper than " + std::to_string(limits.depth) + " levels");
    complete = false;
    subdirectories.clear();
  }
  // The folder's directories follow its files; each is read after the folder is handed
  // over, so that only the folders on the way down are held.
  std::vector<uint8_t> childStorage;
  for (UdfChild& child : subdirectories) {
    UdfFileEntry childEntry;
    ImageEntry e;
    e.name = child.name;
    e.directory = true;
    e.folder = child.number = tree.directories;
    if (volume.ReadEntry(child.icb, childStorage, childEntry, why)) {
      e.size = childEntry.informationLength;
      e.modified = childEntry.modified;
      FillUdfRecordFields(childEntry, child.characteristics, e.fields);
    }
    folder.entries.push_back(std::move(e));
    ++listed;
    ++tree.directories;
  }
  visit(folder, context);
  // Only the subdirectories still to read are held on the way down.
  folder = {};
  chunk = {};
  pieces = {};
  whole = {};
  storage = {};
  childStorage = {};
  held += childBytes;
  const size_t mark = path.size();
  for (UdfChild& child : subdirectories) {
    const uint64_t bytes = sizeof(UdfChild) + child.name.capacity();
    if (!stopped) {
      path += (mark == 0 ? "" : "/") + child.name;
      child.name = {};
      ReadDirectory(child.icb, icb, child.number, depth + 1);
      path.resize(mark);
    }
    held -= bytes;
  }
  return true;
}

}  // namespace

bool ReadUdfTree(ImageSource& image, ImageTree& tree, ReadReport& report,
                 const ReadLimits& limits) {
  return WalkUdfTree(image, tree, report, GatherFolder, &tree, limits);
}

bool WalkUdfTree(ImageSource& image, ImageTree& tree, ReadReport& report, ImageFolderFn visit,
                 void* context, const ReadLimits& limits) {
  tree = {};
  UdfVolume volume;
  if (!ReadUdfVolume(image, volume, report, limits)) return false;
  tree.volumeId = volume.logical.volumeId;
  tree.udfRevision = volume.logical.domainRevision;
  std::vector<uint8_t> block(kImageSectorSize);
  std::string why;
  const UdfAllocation& fsd = volume.logical.fileSet;
  UdfTag tag;
  const char* reason = nullptr;
  if (!volume.ReadBlock(fsd.partition, fsd.block, block.data(), why)) {
    volume.Problem("file set descriptor at block " + std::to_string(fsd.block) + ": " + why);
    return false;
  }
  if (!DecodeUdfTag(ByteSpan(block.data(), block.size()), kUdfFileSet, fsd.block, tag, reason)) {
    volume.Problem("file set descriptor at block " + std::to_string(fsd.block) + ": " + reason);
    return false;
  }
  UdfFileSet fileSet;
  DecodeUdfFileSet(ByteSpan(block.data(), block.size()), fileSet);
  UdfWalk walk{volume, tree, limits, visit, context};
  (void)volume.Mark(walk.visited, fileSet.root.partition, fileSet.root.block);
  tree.directories = 1;
  const size_t problemsBefore = report.problems.size() + report.dropped;
  if (!walk.ReadDirectory(fileSet.root, fileSet.root, 0, 0)) return false;
  // The counts are checked against a whole tree only: a damaged entry already has its
  // own problem, and the counts would differ for its sake alone.
  const bool whole = walk.complete && report.problems.size() + report.dropped == problemsBefore;
  if (volume.haveIntegrity && whole &&
      (volume.integrity.files != tree.files || volume.integrity.directories != tree.directories)) {
    volume.Problem(
        "logical volume integrity descriptor at sector " + std::to_string(volume.integritySector) +
        ": " + std::to_string(volume.integrity.files) + " files and " +
        std::to_string(volume.integrity.directories) + " directories recorded, the tree holds " +
        std::to_string(tree.files) + " and " + std::to_string(tree.directories));
  }
  return true;
}

}  // namespace vellumcast
