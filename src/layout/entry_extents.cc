// Record and block counts of one entry's data, shared by the layout plan and the ISO 9660
// and UDF writers (ECMA-119 9.1 multi-extent files, ECMA-167 4/14.9 and 4/14.5).
#include "layout/entry_extents.h"

#include "base/disc_constants.h"
#include "base/image_settings.h"
#include "tree/tree_node.h"

namespace vellumcast {

uint32_t IsoExtentCount(uint64_t size) {
  if (size < kIsoMultiExtentThreshold) return 1;
  return static_cast<uint32_t>((size + kIsoMaxExtentBytes - 1) / kIsoMaxExtentBytes);
}

uint64_t UdfExtentCount(uint64_t size) { return (size + kMaxExtentBytes - 1) / kMaxExtentBytes; }

uint32_t FileEntrySectors(const ImageSettings& settings, const TreeNode& node) {
  if (node.stereoPair) return node.descriptorSectors ? node.descriptorSectors : 1;
  if (node.isDirectory) return 1;
  if (settings.IsUdf250()) return ExtendedFileEntrySectors(UdfExtentCount(node.size));
  // UDF 1.02: one block; PlanLayout refuses a file with more than 217 extents.
  return 1;
}

}  // namespace vellumcast
