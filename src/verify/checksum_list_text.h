// Reading a checksum list (SHA256SUMS) as `sha256sum -c` reads it: "HASH  PATH" lines,
// a line beginning with a backslash holding an escaped path ("\\", "\n", "\r").
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/sha256.h"
#include "reader/image_source.h"
#include "reader/image_tree.h"

namespace vellumcast {

// A list larger than this is not read (about 2.5 million files of 100-byte paths).
constexpr uint64_t kMaxChecksumListBytes = 256u << 20;

struct ListedDigest {
  std::string path;  // below the root, without "./"
  Sha256Digest digest{};
  bool seen = false;
};

struct ChecksumListText {
  std::vector<ListedDigest> entries;
  std::vector<std::string> problems;  // lines that are no checksum line, paths listed twice
  std::unordered_map<std::string, uint32_t> index;  // by path (see Key)
  bool plain = false;  // the paths are Linux's view of plain ISO 9660 identifiers

  // The listed digest of `path`, a path of the tree the list names; null when none.
  ListedDigest* Find(const std::string& path);
  // Takes the list's text; every line that is not a checksum line is a problem.
  void Parse(const std::string& text);
};

// Reads the list file `entry` and parses it; false with `why` when it cannot be read.
[[nodiscard]] bool ReadChecksumList(ImageSource& image, const ImageEntry& entry,
                                    ChecksumListText& list, std::string& why);

}  // namespace vellumcast
