// Matching another tool's ISO 9660 identifiers with source names. Its identifiers follow
// its own rules (ISO 9660 levels 1 to 3, its own character mapping), so they are matched
// by reductions common to ISO 9660 writers: upper case (the reader has already dropped the
// version), then d-characters (ECMA-119 7.4.1: every character but A-Z, 0-9 and a file's
// last '.' as '_'), then a long identifier cut from the name keeping its extension.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vellumcast {

// A-z raised.
std::string Reduced(std::string_view name);

// The identifiers of one folder of the image, for the reductions past upper case.
struct ForeignNames {
  static constexpr uint32_t kNone = 0xFFFFFFFF;

  // `names`: the folder's entry names as the reader shows them; `directory`: which of them
  // are folders.
  void Index(const std::vector<std::string_view>& names, const std::vector<bool>& directory);
  // The index of the one entry not yet `matched` whose identifier reduces as the source
  // name `name` does; kNone when none does or more than one could.
  uint32_t Find(std::string_view name, bool directory, const std::vector<bool>& matched) const;

 private:
  std::unordered_map<std::string, uint32_t> byCharacters_;
  std::vector<std::pair<std::string, uint32_t>> longNames_;  // candidates for a cut name
};

}  // namespace vellumcast
