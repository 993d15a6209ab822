// The UDF walk from the File Set Descriptor through directories and File Entries.
#include "reader/udf_tree.h"

#include <set>
#include <utility>

#include "reader/udf_volume.h"

namespace vellumcast {
namespace {

struct UdfWalk {
  UdfVolume& volume;
  ImageTree& tree;
  const ReadLimits& limits;
  ImageFolderFn visit = nullptr;
  void* context = nullptr;
  std::set<std::pair<uint16_t, uint32_t>> visited;  // directory entries met, against loops
  bool complete = true;                             // false once a limit cut the walk short
  uint32_t listed = 0;                              // entries listed so far

  void Problem(const std::string& what) const { volume.Problem(what); }
  static std::string Entry(const UdfAllocation& icb, const std::string& path) {
    return "file entry at block " + std::to_string(icb.block) + " (" + (path.empty() ? "/" : path) +
           ")";
  }
  // Reads the directory whose entry is `icb` and hands it over as folder `number`; false
  // when its entry or data cannot be read.
  bool ReadDirectory(const UdfAllocation& icb, const UdfAllocation& parent, const std::string& path,
                     uint32_t number, uint32_t depth);
};

// Which partition block holds byte `pos` of a directory whose bytes lie in `pieces`
// (byte start, allocation); for the tag location of a File Identifier Descriptor.
uint32_t BlockOf(const std::vector<std::pair<uint64_t, UdfAllocation>>& pieces, uint64_t pos) {
  uint32_t block = 0;
  for (const auto& [start, a] : pieces) {
    if (pos < start) break;
    block = a.block + uint32_t((pos - start) / kImageSectorSize);
  }
  return block;
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
  if (file.adType == 3) {
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

bool UdfWalk::ReadDirectory(const UdfAllocation& icb, const UdfAllocation& parent,
                            const std::string& path, uint32_t number, uint32_t depth) {
  std::vector<uint8_t> storage;
  UdfFileEntry entry;
  std::string why;
  if (!volume.ReadEntry(icb, storage, entry, why)) {
    Problem(Entry(icb, path) + ": " + why);
    return false;
  }
  if (entry.fileType != kUdfTypeDirectory) {
    Problem(Entry(icb, path) + ": file type " + std::to_string(entry.fileType) +
            " where a directory belongs");
    return false;
  }
  if (entry.informationLength > limits.directoryBytes ||
      entry.informationLength > volume.image->size) {
    Problem(Entry(icb, path) + ": directory of " + std::to_string(entry.informationLength) +
            " bytes is too large");
    return false;
  }
  // The directory's bytes, and where each piece lies in its partition.
  std::vector<uint8_t> bytes;
  std::vector<std::pair<uint64_t, UdfAllocation>> pieces;
  if (entry.adType == 3) {
    if (entry.informationLength > entry.ads.size) {
      Problem(Entry(icb, path) + ": information length passes the embedded data");
      return false;
    }
    bytes.assign(entry.ads.data, entry.ads.data + entry.informationLength);
    pieces.emplace_back(0, UdfAllocation{0, 0, icb.block, icb.partition});
  } else {
    std::vector<UdfAllocation> allocations;
    std::vector<ImageExtent> runs;
    if (!volume.Allocations(entry, icb.partition, allocations, why) ||
        !volume.EntryExtents(entry, icb.partition, entry.informationLength, runs, why)) {
      Problem(Entry(icb, path) + ": " + why);
      return false;
    }
    uint64_t start = 0;
    for (const UdfAllocation& a : allocations) {
      pieces.emplace_back(start, a);
      start += a.bytes;
    }
    ImageEntry whole;
    whole.size = entry.informationLength;
    whole.extents = runs;
    bytes.resize(size_t(entry.informationLength));
    if (!ReadEntryBytes(*volume.image, whole, 0, bytes.data(), bytes.size())) {
      Problem(Entry(icb, path) + ": directory cannot be read: " + volume.image->error);
      return false;
    }
  }
  const ByteSpan span(bytes.data(), bytes.size());
  std::vector<std::pair<UdfAllocation, std::string>> subdirectories;
  ImageFolder folder{path, number, {}};
  for (size_t pos = 0; pos < bytes.size();) {
    UdfFileIdentifier fid;
    UdfTag tag;
    const char* reason = nullptr;
    const uint32_t block = BlockOf(pieces, pos);
    const std::string where = "file identifier at block " + std::to_string(block) + " (" +
                              (path.empty() ? "/" : path) + ")";
    if (!DecodeUdfFileIdentifier(span, pos, fid, reason) ||
        !DecodeUdfTag(span.Sub(pos, std::min<size_t>(fid.length, bytes.size() - pos)),
                      kUdfFileIdentifier, block, tag, reason)) {
      Problem(where + ": " + reason);
      break;  // its length cannot be trusted: neither can what follows
    }
    pos += fid.length;
    if (fid.characteristics & kUdfFidDeleted) continue;
    if (fid.characteristics & kUdfFidParent) {
      if (fid.icb.block != parent.block || fid.icb.partition != parent.partition)
        Problem(where + ": parent entry does not point to the parent directory");
      continue;
    }
    std::string name;
    if (!DecodeCs0(fid.identifier, name)) {
      Problem(where + ": identifier not in compressed unicode");
      continue;
    }
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
      Problem(where + ": identifier not usable as a name");
      continue;
    }
    if (listed >= limits.entries) {
      Problem("more than " + std::to_string(limits.entries) + " entries");
      complete = false;
      visit(folder, context);
      return true;
    }
    const std::string child = path.empty() ? name : path + "/" + name;
    if (fid.characteristics & kUdfFidDirectory) {
      if (!visited.insert({fid.icb.partition, fid.icb.block}).second) {
        Problem(where + ": directory " + child + " loops back");
        continue;
      }
      subdirectories.emplace_back(fid.icb, child);
      continue;
    }
    std::vector<uint8_t> fileStorage;
    UdfFileEntry file;
    if (!volume.ReadEntry(fid.icb, fileStorage, file, why)) {
      Problem(Entry(fid.icb, child) + ": " + why);
      continue;
    }
    ImageEntry e;
    e.posixType = PosixTypeOf(file.fileType);
    if (e.posixType == 0) {
      Problem(Entry(fid.icb, child) + ": file type " + std::to_string(file.fileType) +
              " not supported");
      continue;
    }
    e.path = child;
    e.realTime = file.fileType == kUdfTypeRealTime;
    e.size = file.informationLength;
    e.modified = file.modified;
    e.links = file.linkCount;
    if (file.fileType == kUdfTypeSymbolicLink && !ReadLinkTarget(volume, fid.icb, file, e, why)) {
      Problem(Entry(fid.icb, child) + ": " + why);
      continue;
    }
    if (file.fileType == kUdfTypeSymbolicLink) {
      // Its bytes are its path components, read above.
    } else if (file.adType == 3) {
      if (file.informationLength > file.ads.size) {
        Problem(Entry(fid.icb, child) + ": information length passes the embedded data");
        continue;
      }
      e.embedded.assign(reinterpret_cast<const char*>(file.ads.data),
                        size_t(file.informationLength));
    } else if (!volume.EntryExtents(file, fid.icb.partition, file.informationLength, e.extents,
                                    why)) {
      Problem(Entry(fid.icb, child) + ": " + why);
      continue;
    }
    folder.entries.push_back(std::move(e));
    ++listed;
    ++tree.files;
  }
  if (depth >= limits.depth && !subdirectories.empty()) {
    Problem(Entry(icb, path) + ": deeper than " + std::to_string(limits.depth) + " levels");
    complete = false;
    visit(folder, context);
    return true;
  }
  // The folder's directories follow its files; each is read after the folder is handed
  // over, so that only the folders on the way down are held.
  const uint32_t firstNumber = tree.directories;
  std::vector<uint8_t> childStorage;
  for (const auto& [childIcb, childPath] : subdirectories) {
    UdfFileEntry childEntry;
    ImageEntry e;
    e.path = childPath;
    e.directory = true;
    e.folder = tree.directories;
    if (volume.ReadEntry(childIcb, childStorage, childEntry, why)) {
      e.size = childEntry.informationLength;
      e.modified = childEntry.modified;
    }
    folder.entries.push_back(std::move(e));
    ++listed;
    ++tree.directories;
  }
  visit(folder, context);
  folder = {};
  for (uint32_t i = 0; i < subdirectories.size(); ++i) {
    const auto& [childIcb, childPath] = subdirectories[i];
    ReadDirectory(childIcb, icb, childPath, firstNumber + i, depth + 1);
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
  UdfWalk walk{volume, tree, limits, visit, context, {}, true, 0};
  walk.visited.insert({fileSet.root.partition, fileSet.root.block});
  tree.directories = 1;
  const size_t problemsBefore = report.problems.size() + report.dropped;
  if (!walk.ReadDirectory(fileSet.root, fileSet.root, "", 0, 0)) return false;
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
