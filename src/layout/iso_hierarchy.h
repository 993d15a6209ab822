// The ISO 9660 directory hierarchies of an image and what their records hold: the
// primary hierarchy of the Primary Volume Descriptor (8.3 identifiers, Rock Ridge entries
// when asked) and the Joliet hierarchy of the Supplementary Volume Descriptor (UCS-2
// identifiers). Both describe the same tree and the same file data; they differ in
// identifiers, order, directory positions and system use. The layout plan and the
// writers walk both through these definitions, so what is written is what was planned.
#pragma once

#include <cstdint>
#include <string>

#include "layout/entry_extents.h"
#include "layout/layout_plan.h"
#include "layout/layout_rules.h"
#include "tree/tree_node.h"

namespace vellumcast {

// Which TreeNode fields one hierarchy uses.
struct IsoHierarchy {
  bool joliet;
  TreeNode* TreeNode::*firstChild;
  TreeNode* TreeNode::*nextSibling;
  const uint8_t* TreeNode::*name;
  uint8_t TreeNode::*nameLength;
  uint32_t TreeNode::*dirLocation;  // relative to the hierarchy's first directory sector
  uint32_t TreeNode::*dirSize;
  uint16_t TreeNode::*pathTableNumber;
};

inline constexpr IsoHierarchy kPrimaryHierarchy = {false,
                                                   &TreeNode::isoFirstChild,
                                                   &TreeNode::isoNextSibling,
                                                   &TreeNode::isoName,
                                                   &TreeNode::isoNameLength,
                                                   &TreeNode::isoDirLocation,
                                                   &TreeNode::isoDirSize,
                                                   &TreeNode::pathTableNumber};
inline constexpr IsoHierarchy kJolietHierarchy = {true,
                                                  &TreeNode::jolietFirstChild,
                                                  &TreeNode::jolietNextSibling,
                                                  &TreeNode::jolietName,
                                                  &TreeNode::jolietNameLength,
                                                  &TreeNode::jolietDirLocation,
                                                  &TreeNode::jolietDirSize,
                                                  &TreeNode::jolietPathTableNumber};

// Where the planned areas of ISO 9660 lie: type L and type M path tables of the primary
// hierarchy, its directories (each followed by its Rock Ridge continuation areas), then
// the Joliet path tables and directories.
inline uint32_t PathTableStart(const LayoutPlan& plan, const IsoHierarchy& h) {
  return uint32_t(h.joliet ? plan.jolietPathTableStart : plan.pathTableStart);
}
inline uint32_t PathTableSectors(const LayoutPlan& plan, const IsoHierarchy& h) {
  return uint32_t(h.joliet ? plan.jolietPathTableSectors : plan.pathTableSectors);
}
inline uint32_t PathTableBytes(const LayoutPlan& plan, const IsoHierarchy& h) {
  return h.joliet ? plan.jolietPathTableBytes : plan.pathTableBytes;
}
inline uint32_t FirstDirectorySector(const LayoutPlan& plan, const IsoHierarchy& h) {
  return PathTableStart(plan, h) + 2 * PathTableSectors(plan, h);
}
inline uint32_t DirectorySector(const LayoutPlan& plan, const IsoHierarchy& h,
                                const TreeNode& directory) {
  return FirstDirectorySector(plan, h) + directory.*h.dirLocation;
}

// One record of a directory extent, in recorded order: the directory itself (identifier
// 0x00), its parent (0x01), then every entry, a file of 4 GiB or more with one record
// per extent.
enum class IsoRecordRole : uint8_t { Self, Parent, Entry };
struct IsoRecordSlot {
  const TreeNode* node;  // what the record describes (the parent for Parent)
  IsoRecordRole role;
  uint32_t extent;   // Entry: which extent of the file, from 0
  uint32_t extents;  // Entry: extents of the file (1 for a directory)
};

template <typename Visit>
bool ForEachIsoRecord(const IsoHierarchy& h, const TreeNode& directory, Visit visit) {
  if (!visit(IsoRecordSlot{&directory, IsoRecordRole::Self, 0, 1})) return false;
  if (!visit(IsoRecordSlot{directory.parent, IsoRecordRole::Parent, 0, 1})) return false;
  for (const TreeNode* e = directory.*h.firstChild; e; e = e->*h.nextSibling) {
    uint32_t extents = e->isDirectory ? 1 : IsoExtentCount(e->size);
    for (uint32_t i = 0; i < extents; ++i) {
      if (!visit(IsoRecordSlot{e, IsoRecordRole::Entry, i, extents})) return false;
    }
  }
  return true;
}

inline uint8_t SlotIdentifierLength(const IsoHierarchy& h, const IsoRecordSlot& slot) {
  return slot.role == IsoRecordRole::Entry ? slot.node->*h.nameLength : 1;
}

// SUSP / Rock Ridge sizes (IEEE P1281, IEEE P1282 as RRIP 1.10 "RRIP_1991A").
constexpr uint32_t kSuspSpBytes = 7;
constexpr uint32_t kSuspCeBytes = 28;
constexpr uint32_t kSuspErHeaderBytes = 8;
constexpr uint32_t kRripPxBytes = 36;         // mode, links, uid, gid (RRIP 1.10)
constexpr uint32_t kRripTfBytes = 5 + 3 * 7;  // modify, access, attributes; 7-byte dates
constexpr uint32_t kRripNmHeaderBytes = 5;
constexpr uint32_t kRripNmMaxNameBytes = 255 - kRripNmHeaderBytes;
// A record's length is one byte and kept even (ECMA-119 9.1.1, 9.1.13).
constexpr uint32_t kIsoMaxRecordBytes = 254;

// The System Use bytes of one record and its continuation area.
struct SystemUseLayout {
  uint32_t recordBytes = 0;        // in the record, even
  uint32_t nameInRecord = 0;       // NM name bytes carried in the record
  uint32_t continuationBytes = 0;  // 0: the record has no continuation area
};

// The name an entry has under Rock Ridge: its full name in UTF-8 (the host's bytes), or
// the numbered name NameRockRidgeEntries gave it.
std::string RockRidgeName(const TreeNode& node);
// The bytes of NM entries carrying `nameBytes` of name, split in pieces of at most 250.
uint32_t RockRidgeNameEntriesBytes(uint32_t nameBytes);
// The ER entry of the root's "." record.
uint32_t RockRidgeErBytes();

// What the record of `slot` in hierarchy `h` carries after its identifier: with Rock
// Ridge on the primary hierarchy, SP (root "." only), PX, TF and the entry's NM; what
// does not fit the record goes to a continuation area named by CE (ER always does).
// Without Rock Ridge: the six zero bytes of DVD-Video mode, or nothing; Joliet records
// carry nothing.
SystemUseLayout RecordSystemUse(const ImageSettings& settings, const SourceTree& tree,
                                const IsoHierarchy& h, const IsoRecordSlot& slot);

// The continuation areas of one directory's records lie right after the directory's
// extent, packed in record order, none crossing a sector: a reader going forward
// through the image (a stream reader such as libarchive) meets each area before any
// later directory. ContinuationPlace moves `cursor` (bytes from the start of the
// directory's areas) past the area of `use` and returns where that area starts.
inline uint64_t ContinuationPlace(uint64_t& cursor, const SystemUseLayout& use) {
  const uint64_t place = IsoRecordStart(cursor, use.continuationBytes);
  cursor = place + use.continuationBytes;
  return place;
}
// Bytes of the continuation areas of `directory` in hierarchy `h` (0 without Rock Ridge
// and in the Joliet hierarchy).
uint64_t DirectoryContinuationBytes(const ImageSettings& settings, const SourceTree& tree,
                                    const IsoHierarchy& h, const TreeNode& directory);
// The first sector of a directory's continuation areas: after its extent.
inline uint32_t ContinuationSector(const LayoutPlan& plan, const IsoHierarchy& h,
                                   const TreeNode& directory) {
  return DirectorySector(plan, h, directory) + uint32_t(SectorsFor(directory.*h.dirSize));
}

}  // namespace vellumcast
