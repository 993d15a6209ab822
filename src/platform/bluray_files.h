// Reading the small Blu-ray control files whole and listing one folder, for the
// BDMV analysis.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast {

// The whole content of the file at `path`. False (and `bytes` empty) when the file is
// missing, cannot be opened or read in full, is not a regular file, is empty, or is
// larger than 64 MiB.
bool ReadControlFile(std::u16string_view path, std::vector<uint8_t>& bytes);

// One entry of a folder listing.
struct ListedEntry {
  std::u16string name;
  bool isDirectory = false;
};

// The entries of the folder at `path` in the order the file system lists them, "." and
// ".." left out. False when the folder cannot be listed.
bool ListFolder(std::u16string_view path, std::vector<ListedEntry>& entries);

}  // namespace vellumcast
