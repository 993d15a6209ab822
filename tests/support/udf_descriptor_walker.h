// A test-only walk over a UDF image from its anchors that checks the tag (identifier,
// checksum, CRC, location) of every descriptor it reaches: volume descriptor
// sequences, integrity sequence, metadata files, file set, entries, extended
// attribute headers, allocation extent descriptors and file identifiers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumcast::test {

struct UdfWalkReport {
  std::vector<std::string> problems;            // empty for a sound image
  uint32_t files = 0;                           // entries reached through File Identifiers
  uint32_t directories = 0;                     // the root included
  uint32_t allocationExtents = 0;               // Allocation Extent Descriptors followed
  uint32_t lvidFiles = 0, lvidDirectories = 0;  // as the integrity descriptor records them
  uint16_t revision = 0;                        // minimum read revision of the integrity descriptor
};

UdfWalkReport WalkUdfDescriptors(const std::string& image);

}  // namespace vellumcast::test
