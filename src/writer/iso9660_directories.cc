// Emits the ISO 9660 path tables (ECMA-119 9.4, type L then type M) and directory
// extents (ECMA-119 9.1 and 6.8.1), in the breadth-first order of the directory numbers:
// of the primary hierarchy, each directory followed by its Rock Ridge continuation areas
// (IEEE P1281 SUSP CE), then of the Joliet one.
#include "writer/iso9660_directories.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/disc_constants.h"
#include "layout/entry_extents.h"
#include "layout/iso_hierarchy.h"
#include "layout/layout_rules.h"
#include "tree/tree_walk.h"
#include "writer/image_writer.h"
#include "writer/iso9660_records.h"
#include "writer/rock_ridge_entries.h"
#include "writer/sector_emit.h"

namespace vellumcast {
namespace {

bool BuildPathTable(const ImageEmitter& emitter, const IsoHierarchy& h, bool bigEndian,
                    uint8_t* table) {
  const uint32_t capacity = PathTableSectors(emitter.plan, h) * kSectorSize;
  uint32_t offset = 0;
  auto put = [&](const uint8_t* id, uint8_t idLength, uint32_t location, uint16_t parent) {
    if (offset + IsoPathTableRecordLength(idLength) > capacity) return false;
    offset += PutPathTableRecord(table + offset, bigEndian, id, idLength, location, parent);
    return true;
  };
  static const uint8_t kRootIdentifier = 0;
  bool ok = put(&kRootIdentifier, 1, DirectorySector(emitter.plan, h, *emitter.tree.root), 1) &&
            WalkBreadthFirst(*emitter.tree.root, h.firstChild, h.nextSibling, [&](TreeNode& dir) {
              for (TreeNode* e = dir.*h.firstChild; e; e = e->*h.nextSibling) {
                if (e->isDirectory &&
                    !put(e->*h.name, e->*h.nameLength, DirectorySector(emitter.plan, h, *e),
                         dir.*h.pathTableNumber)) {
                  return false;
                }
              }
              return true;
            });
  return (ok && offset == PathTableBytes(emitter.plan, h)) ||
         Mismatch(emitter, "the ISO 9660 path table");
}

bool EmitPathTable(ImageEmitter& emitter, const IsoHierarchy& h, bool bigEndian) {
  return EmitFilledSectors(emitter, PathTableSectors(emitter.plan, h), [&](uint8_t* table) {
    return BuildPathTable(emitter, h, bigEndian, table);
  });
}

// The record of `slot` as hierarchy `h` describes it, without its system use.
DirectoryRecord RecordFor(const ImageEmitter& emitter, const IsoHierarchy& h,
                          const IsoRecordSlot& slot) {
  static const uint8_t kSelf = dirrec::kSelfIdentifier;
  static const uint8_t kParent = dirrec::kParentIdentifier;
  const TreeNode& node = *slot.node;
  DirectoryRecord r;
  r.time = node.modifiedTime;
  r.utc = emitter.settings.datesInUtc;
  r.identifier = slot.role == IsoRecordRole::Self     ? &kSelf
                 : slot.role == IsoRecordRole::Parent ? &kParent
                                                      : node.*h.name;
  r.identifierLength = SlotIdentifierLength(h, slot);
  if (node.isDirectory) {
    r.location = DirectorySector(emitter.plan, h, node);
    r.dataLength = node.*h.dirSize;
    r.flags = dirrec::kFlagDirectory;
    return r;
  }
  // A file below 4 GiB is one record; a larger one is a multi-extent file of
  // consecutive extents, each but the last of the largest extent size. A hard link's
  // name, and a link to a file of the image, record the data of the file they share.
  const uint64_t before = uint64_t(slot.extent) * kIsoMaxExtentBytes;
  const TreeNode& data = node.sharedData ? *node.sharedData : node;
  r.location =
      FileDataSector(emitter.plan, data) + slot.extent * uint32_t(kIsoMaxExtentBytes / kSectorSize);
  r.dataLength = slot.extents == 1 ? uint32_t(node.size)
                                   : uint32_t(std::min(node.size - before, kIsoMaxExtentBytes));
  r.flags = slot.extent + 1 < slot.extents ? dirrec::kFlagMultiExtent : 0;
  return r;
}

// Places a record at `offset`, first moving to the next sector when it would cross a
// sector boundary (ECMA-119 6.8.1.1). Returns where it starts, or null when it does not
// fit in `capacity`.
uint8_t* PlaceRecord(uint8_t* extent, uint32_t capacity, uint32_t& offset,
                     const DirectoryRecord& r) {
  uint32_t length = IsoRecordLength(r.identifierLength, r.systemUseLength);
  offset = uint32_t(IsoRecordStart(offset, length));
  if (offset + length > capacity) return nullptr;
  uint8_t* at = extent + offset;
  offset += PutDirectoryRecord(at, r);
  return at;
}

// One directory extent of hierarchy `h` into its zeroed sectors; the CE entries of its
// records point into the directory's continuation areas right after it.
bool BuildDirectoryExtent(const ImageEmitter& emitter, const IsoHierarchy& h, TreeNode& dir,
                          uint8_t* extent) {
  const uint32_t capacity = uint32_t(SectorsFor(dir.*h.dirSize)) * kSectorSize;
  const uint32_t areaSector = ContinuationSector(emitter.plan, h, dir);
  uint32_t offset = 0;
  uint64_t continuation = 0;
  uint8_t unused[kSectorSize];
  bool ok = ForEachIsoRecord(h, dir, [&](const IsoRecordSlot& slot) {
    SystemUseLayout use = RecordSystemUse(emitter.settings, emitter.tree, h, slot);
    DirectoryRecord r = RecordFor(emitter, h, slot);
    r.systemUseLength = uint8_t(use.recordBytes);
    uint8_t* at = PlaceRecord(extent, capacity, offset, r);
    if (!at) return false;
    if (h.joliet || !emitter.settings.rockRidge) return true;  // the system use stays zero
    const uint64_t place = use.continuationBytes ? ContinuationPlace(continuation, use) : 0;
    return PutRockRidgeSystemUse(
        emitter.settings, slot, use, at + IsoRecordLength(r.identifierLength, 0), unused,
        areaSector + uint32_t(place / kSectorSize), uint32_t(place % kSectorSize));
  });
  return (ok && offset == dir.*h.dirSize) ||
         Mismatch(emitter, "the ISO 9660 directory of " + std::to_string(dir.*h.pathTableNumber));
}

// The continuation areas of a directory's records into their zeroed sectors, packed in
// record order as the extent's CE entries name them.
bool BuildContinuationAreas(const ImageEmitter& emitter, const IsoHierarchy& h, const TreeNode& dir,
                            uint64_t bytes, uint8_t* area) {
  const uint32_t areaSector = ContinuationSector(emitter.plan, h, dir);
  uint64_t cursor = 0;
  uint8_t unused[kIsoMaxRecordBytes];
  bool ok = ForEachIsoRecord(h, dir, [&](const IsoRecordSlot& slot) {
    SystemUseLayout use = RecordSystemUse(emitter.settings, emitter.tree, h, slot);
    if (!use.continuationBytes) return true;
    const uint64_t place = ContinuationPlace(cursor, use);
    if (cursor > bytes) return false;
    std::memset(unused, 0, sizeof unused);
    return PutRockRidgeSystemUse(emitter.settings, slot, use, unused, area + place,
                                 areaSector + uint32_t(place / kSectorSize),
                                 uint32_t(place % kSectorSize));
  });
  return (ok && cursor == bytes) || Mismatch(emitter, "the ISO 9660 continuation area");
}

// A directory's extent, then its continuation areas; each starts at its planned sector.
bool EmitDirectoryExtent(ImageEmitter& emitter, const IsoHierarchy& h, TreeNode& dir) {
  if (uint32_t(emitter.sink.sectorsWritten) != DirectorySector(emitter.plan, h, dir))
    return Mismatch(emitter, "the ISO 9660 directory area");
  if (!EmitFilledSectors(emitter, uint32_t(SectorsFor(dir.*h.dirSize)), [&](uint8_t* extent) {
        return BuildDirectoryExtent(emitter, h, dir, extent);
      })) {
    return false;
  }
  const uint64_t bytes = DirectoryContinuationBytes(emitter.settings, emitter.tree, h, dir);
  if (bytes == 0) return true;
  if (uint32_t(emitter.sink.sectorsWritten) != ContinuationSector(emitter.plan, h, dir))
    return Mismatch(emitter, "the ISO 9660 continuation area");
  return EmitFilledSectors(emitter, uint32_t(SectorsFor(bytes)), [&](uint8_t* area) {
    return BuildContinuationAreas(emitter, h, dir, bytes, area);
  });
}

bool EmitHierarchy(ImageEmitter& emitter, const IsoHierarchy& h) {
  const uint32_t end =
      FirstDirectorySector(emitter.plan, h) +
      uint32_t(h.joliet ? emitter.plan.jolietDirectorySectors : emitter.plan.isoDirectorySectors);
  return EmitPathTable(emitter, h, false) && EmitPathTable(emitter, h, true) &&
         WalkBreadthFirst(*emitter.tree.root, h.firstChild, h.nextSibling,
                          [&](TreeNode& dir) { return EmitDirectoryExtent(emitter, h, dir); }) &&
         (uint32_t(emitter.sink.sectorsWritten) == end ||
          Mismatch(emitter, "the ISO 9660 directory area"));
}

}  // namespace

bool EmitIsoPathTablesAndDirectories(ImageEmitter& emitter) {
  if (emitter.plan.pathTableSectors == 0 || !emitter.tree.root) return true;
  if (!EmitHierarchy(emitter, kPrimaryHierarchy)) return false;
  if (!emitter.settings.joliet) return true;
  if (uint32_t(emitter.sink.sectorsWritten) != PathTableStart(emitter.plan, kJolietHierarchy))
    return Mismatch(emitter, "the ISO 9660 Joliet path table");
  return EmitHierarchy(emitter, kJolietHierarchy);
}

}  // namespace vellumcast
