// The layout plan: where every ISO 9660 (ECMA-119) and UDF (ECMA-167, OSTA UDF 1.02 and
// 2.50) structure and every file's data lies in the image, in 2048-byte sectors. The
// writers emit the image from sector 0 upward exactly as planned here.
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "build/image_builder.h"
#include "layout/disc_constants.h"
#include "layout/entry_extents.h"
#include "layout/identifiers.h"
#include "layout/layout_rules.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

// Every count is kept in 64 bits and checked before it goes into a 32-bit field.
struct LayoutCounters {
  uint64_t ptBytes = 0;            // bytes of one ISO 9660 path table
  uint64_t isoSectors = 0;         // ISO 9660 directory sectors; next extent's position
  uint32_t nextDirectoryNumber = 1;
  uint64_t dataSectors = 0;        // file data sectors; next file's dataStart
  uint64_t udfDirSectors = 0;
  uint64_t nextUdfBlock = kFixedFileSystemBlocks;
  uint64_t nextUniqueId = kFirstUniqueId;
  uint64_t udfExtraEntryBlocks = 0;  // beyond one block, files with many extents
};

// Signed 32-bit sector fields bound every position and size of the image.
constexpr uint64_t kMaxSectorField = 0x7FFFFFFF;

uint64_t RoundUp(uint64_t v, uint64_t m) { return (v + m - 1) / m * m; }
uint64_t RoundDown(uint64_t v, uint64_t m) { return v / m * m; }

std::string Text(const char16_t* name) { return Utf16ToUtf8(name ? name : u""); }

// Visits the root and then every directory in first-in first-out order; a visited
// directory's subdirectories are queued in the primary or the ISO 9660 order.
template <typename Step>
bool WalkBreadthFirst(TreeNode& root, bool isoOrder, Step step) {
  std::deque<TreeNode*> queue{&root};
  while (!queue.empty()) {
    TreeNode* directory = queue.front();
    queue.pop_front();
    if (!step(*directory)) return false;
    for (TreeNode* e = isoOrder ? directory->isoFirstChild : directory->firstChild; e;
         e = isoOrder ? e->isoNextSibling : e->nextSibling) {
      if (e->isDirectory) queue.push_back(e);
    }
  }
  return true;
}

// Visits a directory, then each subdirectory's tree in primary order (pre-order).
template <typename Step>
bool WalkDepthFirst(TreeNode& root, Step step) {
  std::vector<TreeNode*> stack{&root};
  std::vector<TreeNode*> children;
  while (!stack.empty()) {
    TreeNode* directory = stack.back();
    stack.pop_back();
    if (!step(*directory)) return false;
    children.clear();
    for (TreeNode* e = directory->firstChild; e; e = e->nextSibling) {
      if (e->isDirectory) children.push_back(e);
    }
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return true;
}

// A directory's UDF data (its File Identifier Descriptors) followed by the File Entries
// of its entries in primary order.
bool UdfDirectoryStep(ImageBuilder& builder, LayoutCounters& c, TreeNode& directory) {
  uint64_t length = kUdfParentIdentifierLength;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    length += UdfIdentifierDescriptorLength(e->udfNameLength);
  }
  if (length > UINT32_MAX) {
    return builder.Fail("the folder " + Text(directory.name) + " has too many entries for UDF");
  }
  directory.udfDirLength = uint32_t(length);
  directory.udfDirLocation = uint32_t(c.nextUdfBlock);
  uint64_t k = SectorsFor(length);
  uint64_t block = c.nextUdfBlock + k;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    if (!builder.IsUdf250() && !e->isDirectory && UdfExtentCount(e->size) > kShortAdsInFileEntry102) {
      return builder.Fail("the file " + Text(e->name) + " is too large for UDF 1.02 (more than " +
                          std::to_string(kShortAdsInFileEntry102) + " extents of " +
                          std::to_string(kMaxExtentBytes) + " bytes); use UDF 2.50");
    }
    uint32_t sectors = FileEntrySectors(builder, *e);
    e->fileEntryLocation = uint32_t(block);
    block += sectors;
    if (!e->stereoPair) c.udfExtraEntryBlocks += sectors - 1;
    if (block > kMaxSectorField) return builder.Fail("the tree has too many entries for one UDF image");
  }
  c.udfDirSectors += k;
  c.nextUdfBlock = block;
  return true;
}

// A directory's ISO 9660 extent: the self and parent records, then one record per entry
// in ISO 9660 order (one per extent for a multi-extent file), none crossing a sector.
bool IsoDirectoryStep(ImageBuilder& builder, LayoutCounters& c, TreeNode& directory) {
  if (c.nextDirectoryNumber > kIsoMaxDirectories) {
    return builder.Fail("the folder holds more than " + std::to_string(kIsoMaxDirectories) +
                        " directories, more than an ISO 9660 path table can number; "
                        "choose a UDF-only file system");
  }
  c.ptBytes += IsoPathTableRecordLength(directory.IsRoot() ? 1 : directory.isoNameLength);
  uint64_t offset = 0;
  uint32_t self = IsoSelfRecordLength(builder);
  for (int i = 0; i < 2; ++i) offset = IsoRecordStart(offset, self) + self;
  for (TreeNode* e = directory.isoFirstChild; e; e = e->isoNextSibling) {
    uint32_t length = IsoEntryRecordLength(builder, e->isoNameLength);
    uint32_t records = e->isDirectory ? 1 : IsoExtentCount(e->size);
    for (uint32_t r = 0; r < records; ++r) offset = IsoRecordStart(offset, length) + length;
  }
  if (offset > UINT32_MAX) {
    return builder.Fail("the folder " + Text(directory.name) + " has too many entries for ISO 9660");
  }
  directory.isoDirSize = uint32_t(offset);
  directory.pathTableNumber = uint16_t(c.nextDirectoryNumber++);
  directory.isoDirLocation = uint32_t(c.isoSectors);
  c.isoSectors += SectorsFor(offset);
  if (c.isoSectors > kMaxSectorField) return builder.Fail("the ISO 9660 directories do not fit one image");
  return true;
}

// File data in depth-first pre-order of directories, primary order within each; unique
// identifiers for every entry in the same order.
bool DataStep(ImageBuilder& builder, LayoutCounters& c, TreeNode& directory) {
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    if (!e->isDirectory) {
      switch (e->kind) {
        case Ordinary:
        case StreamClip:
          if (SectorsFor(e->size) > kMaxSectorField) {
            return builder.Fail("the file " + Text(e->name) + " is too large for a disc image");
          }
          e->dataStart = uint32_t(c.dataSectors);
          c.dataSectors += e->sectorCount;
          break;
        case StereoDependent:
          e->dataStart = uint32_t(c.dataSectors);
          c.dataSectors += e->sectorCount;
          if (e->baseNode) c.dataSectors += e->baseNode->sectorCount;
          break;
        case StereoBase:
        case StereoInterleaved:
          break;  // placed with the dependent clip's interleaved run
      }
      if (c.dataSectors > kMaxSectorField) return builder.Fail("the files are too large for one disc image");
    }
    if (c.nextUniqueId > UINT32_MAX) return builder.Fail("the tree has too many entries for UDF");
    e->uniqueId = uint32_t(c.nextUniqueId++);
  }
  return true;
}

// The .ssif entries, the base clip and the dependent clip all start at the pair's
// interleaved run, which the data step placed at the dependent clip.
void StereoFixUp(TreeNode& ssifDirectory) {
  for (TreeNode* x = ssifDirectory.firstChild; x; x = x->nextSibling) {
    TreeNode* dependent = x->dependentNode;
    if (x->isDirectory || !dependent) continue;
    x->dataStart = dependent->dataStart;
    if (dependent->baseNode) dependent->baseNode->dataStart = dependent->dataStart;
  }
}

// The UDF file-system blocks as the tree's counters give them: 3 fixed blocks, the
// directory data, one File Entry per file and directory, and the extra blocks of files
// with more extents than one entry holds. This must equal the blocks the walk handed out
// (which are what the image uses); a difference means the tree and its counters
// disagree, and the integrity descriptor's file and directory counts would be wrong.
bool CheckUdfBlocks(ImageBuilder& builder, const LayoutCounters& c) {
  uint64_t expected = kFixedFileSystemBlocks + c.udfDirSectors + builder.extraDescriptorSectors +
                      builder.totalFileCount + builder.totalDirectoryCount + c.udfExtraEntryBlocks;
  if (expected == c.nextUdfBlock) return true;
  char text[200];
  std::snprintf(text, sizeof text,
                "internal layout error: %" PRIu64 " UDF file-system blocks planned, %" PRIu64
                " expected from the tree's counters (%u files, %u directories)",
                c.nextUdfBlock, expected, builder.totalFileCount, builder.totalDirectoryCount);
  return builder.Fail(text);
}

}  // namespace

bool ImageBuilder::PlanLayout() {
  volumeSectors = 0;
  sectorsWritten = 0;
  pathTableStart = formatFlags == FormatIso9660 ? int32_t(kIsoOnlyPathTableStart) : int32_t(kAfterAnchorSector);
  fileDataSectors = 0;
  pathTableBytes = 0;
  pathTableSectors = 0;
  isoDirectorySectors = 0;
  fileDataOffset = 0;
  dataBase = 0;
  partitionLength = 0;
  metadataBlocks = 0;
  mirrorEntrySector = 0;
  mirrorStart = 0;
  if (!root) return Fail("there is no source tree to lay out");
  if (WritesIso9660() && WritesUdf() && IsUdf250()) {
    return Fail("ISO 9660 is written together with UDF 1.02 only");
  }
  root->fileEntryLocation = kRootFileEntryBlock;

  LayoutCounters c;
  if (!NameAndSortTree(*this, *root)) return false;
  if (WritesUdf() &&
      !WalkBreadthFirst(*root, false, [&](TreeNode& d) { return UdfDirectoryStep(*this, c, d); })) {
    return false;
  }
  if (WritesIso9660() &&
      !WalkBreadthFirst(*root, true, [&](TreeNode& d) { return IsoDirectoryStep(*this, c, d); })) {
    return false;
  }
  if (!WalkDepthFirst(*root, [&](TreeNode& d) { return DataStep(*this, c, d); })) return false;
  if (ssifDirectory) StereoFixUp(*ssifDirectory);

  const uint64_t f = c.dataSectors;
  uint64_t p = 0, d = 0;
  uint64_t volume = 0, base = 0, offset = 0, partition = 0, metadata = 0, mirrorEntry = 0, mirror = 0;
  if (WritesIso9660()) {
    p = SectorsFor(c.ptBytes);
    d = c.isoSectors;
    if (formatFlags == FormatIso9660) {
      base = kIsoOnlyPathTableStart;
      offset = 2 * p + d;
      volume = RoundUp(base + offset + f, kMetadataAlignment);
    }
  }
  if (WritesUdf()) {
    if (!CheckUdfBlocks(*this, c)) return false;
    const uint64_t b = c.nextUdfBlock;
    if (!IsUdf250()) {
      metadata = b;
      offset = b;
      partition = b + f;
      base = kAfterAnchorSector + 2 * p + d;
      volume = RoundDown(base + partition + kMetadataAlignment, kMetadataAlignment);
    } else {
      base = kUdf250PartitionStart;
      metadata = RoundUp(b, kMetadataAlignment);
      offset = metadata + kMetadataContentOffset;
      mirrorEntry = kUdf250PartitionStart + kMetadataContentOffset + metadata + f;
      mirror = RoundDown(mirrorEntry + kMetadataAlignment, kMetadataAlignment);
      partition = metadata + mirror - kUdf250PartitionStart;
      volume = mirror + metadata + kMetadataAlignment;
    }
  }
  // Every other field is below the image size.
  if (volume > kMaxSectorField || c.ptBytes > UINT32_MAX) {
    return Fail("the image would have " + std::to_string(volume) + " sectors; at most " +
                std::to_string(kMaxSectorField) + " (4 TiB) can be recorded");
  }
  fileDataSectors = int32_t(f);
  if (WritesIso9660()) {
    pathTableBytes = uint32_t(c.ptBytes);
    pathTableSectors = int32_t(p);
    isoDirectorySectors = int32_t(d);
  }
  dataBase = int32_t(base);
  fileDataOffset = int32_t(offset);
  partitionLength = int32_t(partition);
  metadataBlocks = uint32_t(metadata);
  mirrorEntrySector = int32_t(mirrorEntry);
  mirrorStart = int32_t(mirror);
  volumeSectors = int32_t(volume);
  return true;
}

}  // namespace vellumcast
