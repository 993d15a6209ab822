// System use of ISO 9660 directory records: the Rock Ridge entries each record carries
// and how they are split between the record and a continuation area.
#include "layout/iso_hierarchy.h"

#include "layout/link_records.h"
#include "platform/text.h"

namespace vellumcast {
namespace {

// RRIP 1.10 (the "RRIP_1991A" extension) names itself with these texts in ER.
constexpr uint32_t kErIdentifierBytes = 10;
constexpr uint32_t kErDescriptorBytes = 84;
constexpr uint32_t kErSourceBytes = 135;

uint32_t Even(uint32_t n) { return n + n % 2; }

}  // namespace

std::string RockRidgeName(const TreeNode& node) {
  const char16_t* name = node.rockRidgeName ? node.rockRidgeName : node.name;
  return Utf16ToUtf8(name ? name : u"");
}

uint32_t RockRidgeNameEntriesBytes(uint32_t nameBytes) {
  uint32_t pieces =
      nameBytes == 0 ? 1 : (nameBytes + kRripNmMaxNameBytes - 1) / kRripNmMaxNameBytes;
  return pieces * kRripNmHeaderBytes + nameBytes;
}

uint32_t RockRidgeErBytes() {
  return kSuspErHeaderBytes + kErIdentifierBytes + kErDescriptorBytes + kErSourceBytes;
}

// In the record: [SP] PX TF [PN] [NM...] [SL...] when they fit the 254 bytes of a record;
// otherwise [SP] PX TF [PN], as much of the name as fits in one NM, and CE, with the rest
// of the name and a link's SL entries in the continuation area. The root's "." record
// always continues, with ER.
SystemUseLayout RecordSystemUse(const ImageSettings& settings, const SourceTree& tree,
                                const IsoHierarchy& h, const IsoRecordSlot& slot) {
  SystemUseLayout out;
  if (h.joliet) return out;
  if (!settings.rockRidge) {
    out.recordBytes = IsoSystemUseBytes(tree);
    return out;
  }
  const uint32_t fixed = IsoRecordLength(SlotIdentifierLength(h, slot), 0);
  const uint32_t room = kIsoMaxRecordBytes - fixed;
  uint32_t attributes = kRripPxBytes + kRripTfBytes;
  if (slot.role == IsoRecordRole::Self && slot.node->IsRoot()) {
    out.recordBytes = Even(kSuspSpBytes + attributes + kSuspCeBytes);
    out.continuationBytes = RockRidgeErBytes();
    return out;
  }
  if (slot.role != IsoRecordRole::Entry) {
    out.recordBytes = attributes;
    return out;
  }
  if (slot.node->IsDevice()) attributes += kRripPnBytes;
  const uint32_t link =
      slot.node->IsSymbolicLink() ? uint32_t(RockRidgeSlEntries(slot.node->linkTarget).size()) : 0;
  const uint32_t name = uint32_t(RockRidgeName(*slot.node).size());
  const uint32_t whole = attributes + RockRidgeNameEntriesBytes(name) + link;
  if (Even(whole) <= room) {
    out.recordBytes = Even(whole);
    out.nameInRecord = name;
    return out;
  }
  const uint32_t nameRoom = room - attributes - kRripNmHeaderBytes - kSuspCeBytes;  // room is even
  out.nameInRecord = name < nameRoom ? name : nameRoom;
  out.recordBytes = Even(attributes + RockRidgeNameEntriesBytes(out.nameInRecord) + kSuspCeBytes);
  const uint32_t rest = name - out.nameInRecord;
  out.continuationBytes = (rest ? RockRidgeNameEntriesBytes(rest) : 0) + link;
  return out;
}

uint64_t DirectoryContinuationBytes(const ImageSettings& settings, const SourceTree& tree,
                                    const IsoHierarchy& h, const TreeNode& directory) {
  uint64_t cursor = 0;
  if (h.joliet || !settings.rockRidge) return 0;
  ForEachIsoRecord(h, directory, [&](const IsoRecordSlot& slot) {
    const SystemUseLayout use = RecordSystemUse(settings, tree, h, slot);
    if (use.continuationBytes) ContinuationPlace(cursor, use);
    return true;
  });
  return cursor;
}

}  // namespace vellumcast
