// Digests of file data taken from the emitted sectors (FIPS 180-4 SHA-256).
#include "writer/data_digests.h"

#include <algorithm>

#include "base/disc_constants.h"

namespace vellumcast {

void DataDigests::Open(const TreeNode& node, uint64_t size, bool active) {
  taps.push_back(Tap{&node, Sha256(), size, active});
}

void DataDigests::SetActive(const TreeNode& node, bool active) {
  for (Tap& tap : taps) {
    if (tap.node == &node) tap.active = active;
  }
}

void DataDigests::FinishAll() {
  for (Tap& tap : taps) finished[tap.node] = tap.digest.Finish();
  taps.clear();
}

void DataDigests::Feed(const uint8_t* bytes, uint32_t sectors) {
  const uint64_t n = uint64_t(sectors) * kSectorSize;
  for (Tap& tap : taps) {
    if (!tap.active || tap.remaining == 0) continue;
    const uint64_t take = std::min(n, tap.remaining);
    tap.digest.Update(bytes, size_t(take));
    tap.remaining -= take;
  }
}

bool DataDigests::Of(const TreeNode& node, Sha256Digest& digest) const {
  const auto found = finished.find(&node);
  if (found != finished.end()) {
    digest = found->second;
    return true;
  }
  if (node.size != 0) return false;
  digest = Sha256Of(nullptr, 0);
  return true;
}

}  // namespace vellumcast
