// The layout plan: where every ISO 9660 (ECMA-119) and UDF (ECMA-167, OSTA UDF 1.02 and
// 2.50) structure and every file's data lies in the image, in 2048-byte sectors. The
// writers emit the image from sector 0 upward exactly as planned here.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "base/disc_constants.h"
#include "layout/checksum_list.h"
#include "layout/entry_attributes.h"
#include "layout/entry_extents.h"
#include "layout/iso_hierarchy.h"
#include "layout/layout_plan.h"
#include "layout/layout_rules.h"
#include "layout/tree_order.h"
#include "platform/text.h"
#include "tree/tree_walk.h"

namespace vellumcast {
namespace {

// Every count is kept in 64 bits and checked before it goes into a 32-bit field.
// One ISO 9660 hierarchy (primary or Joliet).
struct IsoCounters {
  uint64_t ptBytes = 0;     // bytes of one path table
  uint64_t isoSectors = 0;  // directory sectors; next extent's position
  uint32_t nextDirectoryNumber = 1;
};

struct LayoutCounters {
  IsoCounters iso;
  IsoCounters joliet;
  uint64_t dataSectors = 0;  // file data sectors; next file's dataStart
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

// A directory's UDF data (its File Identifier Descriptors) followed by the File Entries
// of its entries in primary order.
bool UdfDirectoryStep(LayoutPlanner& planner, LayoutCounters& c, TreeNode& directory) {
  uint64_t length = kUdfParentIdentifierLength;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    length += UdfIdentifierDescriptorLength(e->udfNameLength);
  }
  if (length > UINT32_MAX) {
    return planner.log.Fail("the folder " + Text(directory.name) + " has too many entries for UDF");
  }
  directory.udfDirLength = uint32_t(length);
  directory.udfDirLocation = uint32_t(c.nextUdfBlock);
  uint64_t k = SectorsFor(length);
  uint64_t block = c.nextUdfBlock + k;
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    if (!planner.settings.IsUdf250() && !e->isDirectory &&
        UdfExtentCount(e->size) > kShortAdsInFileEntry102) {
      return planner.log.Fail("the file " + Text(e->name) +
                              " is too large for UDF 1.02 (more than " +
                              std::to_string(kShortAdsInFileEntry102) + " extents of " +
                              std::to_string(kMaxExtentBytes) + " bytes); use UDF 2.50");
    }
    // The names of one hard-linked file share the File Entry the first of them placed.
    TreeNode& owner = e->sharedData && !e->IsSymbolicLink() ? *e->sharedData : *e;
    if (e->hardLinks && owner.fileEntryLocation != 0) {
      e->fileEntryLocation = owner.fileEntryLocation;
      continue;
    }
    uint32_t sectors = FileEntrySectors(planner.settings, *e);
    e->fileEntryLocation = uint32_t(block);
    owner.fileEntryLocation = uint32_t(block);
    block += sectors;
    if (!e->stereoPair) c.udfExtraEntryBlocks += sectors - 1;
    if (block > kMaxSectorField)
      return planner.log.Fail("the tree has too many entries for one UDF image");
  }
  c.udfDirSectors += k;
  c.nextUdfBlock = block;
  return true;
}

// A directory's ISO 9660 extent in hierarchy `h`: the self and parent records, then one
// record per entry in that hierarchy's order (one per extent for a multi-extent file),
// none crossing a sector; the continuation areas of its records follow the extent.
bool IsoDirectoryStep(LayoutPlanner& planner, const IsoHierarchy& h, IsoCounters& c,
                      TreeNode& directory) {
  if (c.nextDirectoryNumber > kIsoMaxDirectories) {
    return planner.log.Fail("the folder holds more than " + std::to_string(kIsoMaxDirectories) +
                            " directories, more than an ISO 9660 path table can number; "
                            "choose a UDF-only file system");
  }
  c.ptBytes += IsoPathTableRecordLength(directory.IsRoot() ? 1 : directory.*h.nameLength);
  uint64_t offset = 0;
  ForEachIsoRecord(h, directory, [&](const IsoRecordSlot& slot) {
    SystemUseLayout use = RecordSystemUse(planner.settings, planner.tree, h, slot);
    uint32_t length = IsoRecordLength(SlotIdentifierLength(h, slot), use.recordBytes);
    offset = IsoRecordStart(offset, length) + length;
    return true;
  });
  if (offset > UINT32_MAX) {
    return planner.log.Fail("the folder " + Text(directory.name) +
                            " has too many entries for ISO 9660");
  }
  directory.*h.dirSize = uint32_t(offset);
  directory.*h.pathTableNumber = uint16_t(c.nextDirectoryNumber++);
  directory.*h.dirLocation = uint32_t(c.isoSectors);
  c.isoSectors += SectorsFor(offset) + SectorsFor(DirectoryContinuationBytes(
                                           planner.settings, planner.tree, h, directory));
  if (c.isoSectors > kMaxSectorField) {
    return planner.log.Fail("the ISO 9660 directories do not fit one image");
  }
  return true;
}

// File data in depth-first pre-order of directories, primary order within each; unique
// identifiers for every entry in the same order.
bool DataStep(LayoutPlanner& planner, LayoutCounters& c, TreeNode& directory) {
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    // A name sharing another file's data is placed with it (LinkFixUp).
    if (!e->isDirectory && !e->sharedData) {
      switch (e->kind) {
        case Ordinary:
        case StreamClip:
          if (SectorsFor(e->size) > kMaxSectorField) {
            return planner.log.Fail("the file " + Text(e->name) + " is too large for a disc image");
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
        case StereoInterleaved: break;  // placed with the dependent clip's interleaved run
        case ChecksumList: break;       // placed after all other file data (PlaceChecksumList)
      }
      if (c.dataSectors > kMaxSectorField)
        return planner.log.Fail("the files are too large for one disc image");
    }
    if (c.nextUniqueId > UINT32_MAX)
      return planner.log.Fail("the tree has too many entries for UDF");
    if (!e->hardLinks || !e->sharedData) e->uniqueId = uint32_t(c.nextUniqueId++);
  }
  return true;
}

// The checksum list's text names every file under its recorded name, so it is sized once
// the tree is named; its data follows all other file data, so that a writer that emits
// the image in one sequential pass has every digest when the list's turn comes.
void SizeChecksumList(const LayoutPlanner& planner) {
  TreeNode& list = *planner.tree.checksumList;
  list.size = ChecksumListBytes(planner.settings, planner.tree);
  list.sectorCount = uint32_t(SectorsFor(list.size));
}

bool PlaceChecksumList(LayoutPlanner& planner, LayoutCounters& c) {
  TreeNode& list = *planner.tree.checksumList;
  list.dataStart = uint32_t(c.dataSectors);
  c.dataSectors += list.sectorCount;
  if (c.dataSectors > kMaxSectorField)
    return planner.log.Fail("the files are too large for one disc image");
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

// A name that shares another file's data starts where that file's data does; a hard
// link's name also carries that file's unique identifier (its File Entry's).
bool LinkFixUp(TreeNode& directory) {
  for (TreeNode* e = directory.firstChild; e; e = e->nextSibling) {
    if (!e->sharedData) continue;
    e->dataStart = e->sharedData->dataStart;
    if (!e->IsSymbolicLink()) e->uniqueId = e->sharedData->uniqueId;
  }
  return true;
}

// The UDF file-system blocks as the tree's counters give them: 3 fixed blocks, the
// directory data, one File Entry per file and directory, and the extra blocks of files
// with more extents than one entry holds. This must equal the blocks the walk handed out
// (which are what the image uses); a difference means the tree and its counters
// disagree, and the integrity descriptor's file and directory counts would be wrong.
bool CheckUdfBlocks(LayoutPlanner& planner, const LayoutCounters& c) {
  uint64_t expected = kFixedFileSystemBlocks + c.udfDirSectors +
                      planner.tree.extraDescriptorSectors + planner.tree.totalFileCount -
                      planner.tree.sharedFileEntries + planner.tree.totalDirectoryCount +
                      c.udfExtraEntryBlocks;
  if (expected == c.nextUdfBlock) return true;
  char text[200];
  std::snprintf(text, sizeof text,
                "internal layout error: %" PRIu64 " UDF file-system blocks planned, %" PRIu64
                " expected from the tree's counters (%u files, %u directories)",
                c.nextUdfBlock, expected, planner.tree.totalFileCount,
                planner.tree.totalDirectoryCount);
  return planner.log.Fail(text);
}

// Names and orders every directory and places every entry: the UDF directories and
// entries, the ISO 9660 and Joliet directories, the file data after `c.dataSectors`.
bool PlaceTree(LayoutPlanner& planner, LayoutCounters& c) {
  const ImageSettings& settings = planner.settings;
  SourceTree& tree = planner.tree;
  FixReproducibleAttributes(settings, *tree.root);
  WarnDatesIso9660CannotHold(planner, *tree.root);
  if (!NameAndSortTree(planner, *tree.root)) return false;
  if (tree.checksumList) SizeChecksumList(planner);
  WalkDepthFirst(*tree.root, [](TreeNode& d) {
    for (TreeNode* e = d.firstChild; e; e = e->nextSibling)
      if (e->hardLinks) e->fileEntryLocation = 0;  // placed anew by the UDF walk
    return true;
  });
  if (settings.WritesUdf() &&
      !WalkBreadthFirst(*tree.root, &TreeNode::firstChild, &TreeNode::nextSibling,
                        [&](TreeNode& d) { return UdfDirectoryStep(planner, c, d); })) {
    return false;
  }
  if (settings.WritesIso9660() &&
      !WalkBreadthFirst(
          *tree.root, &TreeNode::isoFirstChild, &TreeNode::isoNextSibling,
          [&](TreeNode& d) { return IsoDirectoryStep(planner, kPrimaryHierarchy, c.iso, d); })) {
    return false;
  }
  if (settings.WritesIso9660() && settings.joliet &&
      !WalkBreadthFirst(
          *tree.root, &TreeNode::jolietFirstChild, &TreeNode::jolietNextSibling,
          [&](TreeNode& d) { return IsoDirectoryStep(planner, kJolietHierarchy, c.joliet, d); })) {
    return false;
  }
  if (!WalkDepthFirst(*tree.root, [&](TreeNode& d) { return DataStep(planner, c, d); }))
    return false;
  if (tree.checksumList && !PlaceChecksumList(planner, c)) return false;
  if (tree.ssifDirectory) StereoFixUp(*tree.ssifDirectory);
  WalkDepthFirst(*tree.root, LinkFixUp);
  return true;
}

// The sizes and positions of the image's areas, from the counters of the placement.
struct AreaSizes {
  // ISO 9660: the primary path tables and directories (with their continuation areas),
  // the Joliet path tables and directories, one after another.
  uint64_t p = 0, d = 0, jp = 0, jd = 0, isoArea = 0;
  uint64_t volume = 0, base = 0, offset = 0, partition = 0, metadata = 0, mirrorEntry = 0,
           mirror = 0;
};

// Sizes the areas around the `c.dataSectors` of file data; false when the UDF blocks or
// the image pass what can be recorded.
bool SizeAreas(LayoutPlanner& planner, LayoutCounters& c, AreaSizes& a) {
  const ImageSettings& settings = planner.settings;
  const uint64_t f = c.dataSectors;
  if (settings.WritesIso9660()) {
    a.p = SectorsFor(c.iso.ptBytes);
    a.d = c.iso.isoSectors;
    if (settings.joliet) {
      a.jp = SectorsFor(c.joliet.ptBytes);
      a.jd = c.joliet.isoSectors;
    }
    a.isoArea = 2 * a.p + a.d + 2 * a.jp + a.jd;
    if (settings.formatFlags == FormatIso9660) {
      a.base = uint64_t(planner.plan.pathTableStart);
      a.offset = a.isoArea;
      a.volume =
          RoundUp(a.base + a.offset + f + (settings.boot.hybrid ? 1 : 0), kMetadataAlignment);
    }
  }
  if (settings.WritesUdf()) {
    if (!CheckUdfBlocks(planner, c)) return false;
    const uint64_t b = c.nextUdfBlock;
    if (!settings.IsUdf250()) {
      a.metadata = b;
      a.offset = b;
      a.partition = b + f;
      a.base = kAfterAnchorSector + a.isoArea;
      a.volume = RoundDown(a.base + a.partition + kMetadataAlignment, kMetadataAlignment);
    } else {
      a.base = kUdf250PartitionStart;
      a.metadata = RoundUp(b, kMetadataAlignment);
      a.offset = a.metadata + kMetadataContentOffset;
      a.mirrorEntry = kUdf250PartitionStart + kMetadataContentOffset + a.metadata + f;
      a.mirror = RoundDown(a.mirrorEntry + kMetadataAlignment, kMetadataAlignment);
      a.partition = a.metadata + a.mirror - kUdf250PartitionStart;
      a.volume = a.mirror + a.metadata + kMetadataAlignment;
    }
  }
  // Every other field is below the image size.
  if (a.volume > kMaxSectorField || c.iso.ptBytes > UINT32_MAX || c.joliet.ptBytes > UINT32_MAX) {
    return planner.log.Fail("the image would have " + std::to_string(a.volume) +
                            " sectors; at most " + std::to_string(kMaxSectorField) +
                            " (4 TiB) can be recorded");
  }
  return true;
}

// Records the sizes in the plan.
void FillPlan(const ImageSettings& settings, const LayoutCounters& c, const AreaSizes& a,
              LayoutPlan& plan) {
  plan.fileDataSectors = int32_t(c.dataSectors);
  if (settings.WritesIso9660()) {
    plan.pathTableBytes = uint32_t(c.iso.ptBytes);
    plan.pathTableSectors = int32_t(a.p);
    plan.isoDirectorySectors = int32_t(a.d);
    plan.jolietPathTableStart =
        settings.joliet ? int32_t(IsoFirstDirectorySector(plan) + uint32_t(a.d)) : 0;
    plan.jolietPathTableBytes = uint32_t(c.joliet.ptBytes);
    plan.jolietPathTableSectors = int32_t(a.jp);
    plan.jolietDirectorySectors = int32_t(a.jd);
  }
  plan.dataBase = int32_t(a.base);
  plan.fileDataOffset = int32_t(a.offset);
  plan.partitionLength = int32_t(a.partition);
  plan.metadataBlocks = uint32_t(a.metadata);
  plan.mirrorEntrySector = int32_t(a.mirrorEntry);
  plan.mirrorStart = int32_t(a.mirror);
  plan.volumeSectors = int32_t(a.volume);
}

}  // namespace

std::string IsoExtensionsRefused(const ImageSettings& settings) {
  if (settings.WritesIso9660()) return {};
  if (settings.boot.Any()) {
    return "boot entries and hybrid images are recorded with ISO 9660, which this file system "
           "does not have; choose -filesystem CD or DVD";
  }
  if (!settings.rockRidge && !settings.joliet) return {};
  return std::string(settings.rockRidge ? "Rock Ridge" : "Joliet") +
         " extends ISO 9660, which this file system does not have; choose -filesystem CD or DVD";
}

bool PlanLayout(const ImageSettings& settings, SourceTree& tree, LayoutPlan& plan,
                Diagnostics& log) {
  LayoutPlanner planner{settings, tree, plan, log};
  plan = LayoutPlan{};
  // ISO 9660 alone: the path tables follow the volume descriptors (a Supplementary
  // Volume Descriptor for Joliet adds one); with UDF they follow the anchor at 256.
  const bool elTorito = settings.boot.ElTorito();
  plan.pathTableStart =
      settings.formatFlags == FormatIso9660
          ? int32_t(kIsoOnlyPathTableStart + (settings.joliet ? 1 : 0) + (elTorito ? 1 : 0))
          : int32_t(kAfterAnchorSector);
  if (!tree.root) return log.Fail("there is no source tree to lay out");
  if (const std::string refused = IsoExtensionsRefused(settings); !refused.empty())
    return log.Fail(refused);
  if (settings.WritesIso9660() && settings.WritesUdf() && settings.IsUdf250()) {
    return log.Fail("ISO 9660 is written together with UDF 1.02 only");
  }
  tree.root->fileEntryLocation = kRootFileEntryBlock;

  LayoutCounters c;
  // A hidden boot catalog takes the first sector of the file data area.
  const bool hiddenCatalog = elTorito && !tree.bootCatalog;
  if (hiddenCatalog) c.dataSectors = 1;
  // Then a hybrid image's backup GPT entries, among the sectors UDF readers take as used.
  const uint64_t backupEntries = c.dataSectors;
  if (settings.boot.hybrid) c.dataSectors += kBackupGptEntrySectors;
  AreaSizes a;
  if (!PlaceTree(planner, c) || !SizeAreas(planner, c, a)) return false;
  FillPlan(settings, c, a, plan);
  if (elTorito) {
    plan.bootRecordSector = int32_t(kBootRecordSector);
    plan.bootCatalogSector = int32_t(tree.bootCatalog ? FileDataSector(plan, *tree.bootCatalog)
                                                      : uint32_t(a.base + a.offset));
  }
  if (settings.boot.hybrid) plan.backupGptEntrySector = int32_t(a.base + a.offset + backupEntries);
  return true;
}

}  // namespace vellumcast
