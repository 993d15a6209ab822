// The ISO 9660 path tables (ECMA-119 9.4, type L then type M) and directory extents
// (ECMA-119 9.1 and 6.8.1), in the breadth-first order of the directory numbers.
#include <algorithm>
#include <cstring>
#include <deque>
#include <string>

#include "build/image_builder.h"
#include "layout/disc_constants.h"
#include "layout/entry_extents.h"
#include "layout/layout_rules.h"
#include "writer/iso9660_records.h"
#include "writer/iso9660_structures.h"

namespace vellumcast {
namespace {

bool Mismatch(ImageBuilder& b, const std::string& what) {
  return b.Fail("the ISO 9660 " + what + " does not match the layout");
}

// Visits every directory breadth-first from the root in ISO 9660 order.
template <typename Step>
bool ForEachDirectoryBreadthFirst(TreeNode* root, Step step) {
  std::deque<TreeNode*> queue{root};
  while (!queue.empty()) {
    TreeNode* dir = queue.front();
    queue.pop_front();
    if (!step(*dir)) return false;
    for (TreeNode* e = dir->isoFirstChild; e; e = e->isoNextSibling) {
      if (e->isDirectory) queue.push_back(e);
    }
  }
  return true;
}

bool WritePathTable(ImageBuilder& b, bool bigEndian) {
  uint32_t capacity = uint32_t(b.pathTableSectors) * kSectorSize;
  uint8_t* table = b.RequestSectors(uint32_t(b.pathTableSectors));
  if (!table) return false;
  std::memset(table, 0, capacity);
  uint32_t offset = 0;
  auto put = [&](const uint8_t* id, uint8_t idLength, uint32_t location, uint16_t parent) {
    if (offset + IsoPathTableRecordLength(idLength) > capacity) return false;
    offset += PutPathTableRecord(table + offset, bigEndian, id, idLength, location, parent);
    return true;
  };
  static const uint8_t kRootIdentifier = 0;
  bool ok = put(&kRootIdentifier, 1, IsoDirectorySector(b, *b.root), 1) &&
            ForEachDirectoryBreadthFirst(b.root, [&](TreeNode& dir) {
              for (TreeNode* e = dir.isoFirstChild; e; e = e->isoNextSibling) {
                if (e->isDirectory &&
                    !put(e->isoName, e->isoNameLength, IsoDirectorySector(b, *e), dir.pathTableNumber)) {
                  return false;
                }
              }
              return true;
            });
  if (!ok || offset != b.pathTableBytes) return Mismatch(b, "path table");
  return b.WriteSectors(table, uint32_t(b.pathTableSectors));
}

// Places a record at `offset`, first moving to the next sector when it would cross a
// sector boundary (ECMA-119 6.8.1.1). False when it does not fit in `capacity`.
bool PlaceRecord(uint8_t* extent, uint32_t capacity, uint32_t& offset, const DirectoryRecord& r) {
  uint32_t length = IsoRecordLength(r.identifierLength, r.systemUseLength);
  offset = uint32_t(IsoRecordStart(offset, length));
  if (offset + length > capacity) return false;
  offset += PutDirectoryRecord(extent + offset, r);
  return true;
}

bool WriteDirectoryExtent(ImageBuilder& b, TreeNode& dir) {
  if (uint32_t(b.sectorsWritten) != IsoDirectorySector(b, dir)) return Mismatch(b, "directory area");
  uint32_t sectors = IsoDirectoryExtentSectors(dir);
  uint32_t capacity = sectors * kSectorSize;
  uint8_t* extent = b.RequestSectors(sectors);
  if (!extent) return false;
  std::memset(extent, 0, capacity);

  const uint8_t systemUse = uint8_t(IsoSystemUseBytes(b));
  static const uint8_t kSelf = dirrec::kSelfIdentifier;
  static const uint8_t kParent = dirrec::kParentIdentifier;
  uint32_t offset = 0;

  auto directoryRecord = [&](const TreeNode& d, const uint8_t* id, uint8_t idLength) {
    DirectoryRecord r;
    r.location = IsoDirectorySector(b, d);
    r.dataLength = d.isoDirSize;
    r.time = d.modifiedTime;
    r.flags = dirrec::kFlagDirectory;
    r.identifier = id;
    r.identifierLength = idLength;
    r.systemUseLength = systemUse;
    return PlaceRecord(extent, capacity, offset, r);
  };

  bool ok = directoryRecord(dir, &kSelf, 1) && directoryRecord(*dir.parent, &kParent, 1);
  for (TreeNode* e = dir.isoFirstChild; ok && e; e = e->isoNextSibling) {
    if (e->isDirectory) {
      ok = directoryRecord(*e, e->isoName, e->isoNameLength);
      continue;
    }
    // A file below 4 GiB is one record; a larger one is a multi-extent file of
    // consecutive extents, each but the last of the largest extent size.
    uint32_t records = IsoExtentCount(e->size);
    uint32_t location = FileDataSector(b, *e);
    uint64_t remaining = e->size;
    for (uint32_t i = 0; ok && i < records; ++i) {
      DirectoryRecord r;
      r.location = location;
      r.dataLength = records == 1 ? uint32_t(e->size) : uint32_t(std::min(remaining, kIsoMaxExtentBytes));
      r.time = e->modifiedTime;
      r.flags = i + 1 < records ? dirrec::kFlagMultiExtent : 0;
      r.identifier = e->isoName;
      r.identifierLength = e->isoNameLength;
      r.systemUseLength = systemUse;
      ok = PlaceRecord(extent, capacity, offset, r);
      location += uint32_t(kIsoMaxExtentBytes / kSectorSize);
      remaining -= std::min(remaining, kIsoMaxExtentBytes);
    }
  }
  if (!ok || offset != dir.isoDirSize) return Mismatch(b, "directory of " + std::to_string(dir.pathTableNumber));
  return b.WriteSectors(extent, sectors);
}

}  // namespace

bool WriteIsoPathTablesAndDirectories(ImageBuilder& b) {
  if (b.pathTableSectors == 0 || !b.root) return true;
  if (!WritePathTable(b, false) || !WritePathTable(b, true)) return false;
  return ForEachDirectoryBreadthFirst(b.root, [&](TreeNode& dir) { return WriteDirectoryExtent(b, dir); });
}

}  // namespace vellumcast
