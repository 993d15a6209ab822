// The SHA-256 digests of the checksum list, taken from the file data as it is emitted:
// while a file's data goes out, every emitted sector is fed to the digests open for it,
// each up to its file's size, so no byte is read twice and a pipe target still gets the
// image in one sequential pass.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/sha256.h"
#include "tree/tree_node.h"

namespace vellumcast {

struct DataDigests {
  struct Tap {
    const TreeNode* node;
    Sha256 digest;
    uint64_t remaining;  // bytes of the file still to come
    bool active;         // fed by the sectors emitted now
  };
  std::vector<Tap> taps;
  // Finished digests by the node whose data they are (the first name of a hard link).
  std::unordered_map<const TreeNode*, Sha256Digest> finished;

  // Starts a digest of `node`'s `size` bytes, active at once unless `active` is false.
  void Open(const TreeNode& node, uint64_t size, bool active = true);
  // Makes `node`'s open digest fed (or not) by the sectors emitted from now on.
  void SetActive(const TreeNode& node, bool active);
  // Ends every open digest and keeps it under its node.
  void FinishAll();
  // Feeds `sectors` emitted sectors to every active digest.
  void Feed(const uint8_t* bytes, uint32_t sectors);
  // The digest of `node`'s data: the one taken, or for a file without data the empty
  // text's; false when the data of a file with bytes was never seen.
  [[nodiscard]] bool Of(const TreeNode& node, Sha256Digest& digest) const;
};

}  // namespace vellumcast
