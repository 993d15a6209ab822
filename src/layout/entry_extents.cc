// Placeholder until the layout plan is built: record and descriptor counts per entry.
#include "layout/entry_extents.h"

#include "build/image_builder.h"
#include "layout/disc_constants.h"

namespace vellumcast {

uint32_t IsoExtentCount(uint64_t size) {
  if (size < (uint64_t(1) << 32)) return 1;
  return uint32_t((size + kIsoMaxExtentBytes - 1) / kIsoMaxExtentBytes);
}

uint32_t FileEntrySectors(const ImageBuilder&, const TreeNode& node) {
  return node.stereoPair ? node.descriptorSectors : 1;
}

}  // namespace vellumcast
