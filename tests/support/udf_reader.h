// Reads a UDF image back with libudfread and a source folder from disk into the same
// listing, so tests can compare names, sizes and bytes.
#pragma once

#include <map>
#include <string>

namespace vellumcast::test {

struct ListedEntry {
  bool directory = false;
  std::string bytes;  // a file's content
};

// Paths relative to the root, '/'-separated, UTF-8 (MUTF-8 from libudfread).
using TreeListing = std::map<std::string, ListedEntry>;

// Every directory and file below `folder`.
TreeListing ListSourceFolder(const std::string& folder);

// Every directory and file of the UDF image `image`; false with `error` set when the
// image cannot be opened or a file cannot be read whole.
bool ListUdfImage(const std::string& image, TreeListing& out, std::string& error,
                  std::string* volumeId = nullptr);

}  // namespace vellumcast::test
