// Reads an ISO 9660 image back through libiso9660 (libcdio) and compares what it
// finds, names, sizes and bytes, with a source folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumcast::test {

struct IsoEntry {
  std::string path;        // '/'-separated identifiers below the root, version ";1" removed
  std::string identifier;  // the entry's own identifier as recorded
  bool isDirectory = false;
  uint64_t size = 0;  // all extents of a multi-extent file together
  uint32_t firstSector = 0;
};

struct IsoListing {
  bool ok = false;
  std::string error;
  std::string volumeId;
  std::string applicationId;
  std::vector<IsoEntry> entries;  // depth first, as the directories list them
};

// Every directory and file of the image, through libiso9660.
IsoListing ReadIsoImage(const std::string& imagePath);

// Bytes [offset, offset + length) of a file that starts at `firstSector`.
std::string ReadIsoBytes(const std::string& imagePath, uint32_t firstSector, uint64_t offset,
                         uint64_t length);

// Empty when the image holds exactly the folder's tree: the same names (compared
// ignoring ASCII case), sizes and bytes; otherwise what differs. Files larger than
// `compareLimit` bytes are compared by size and by their first and last MiB.
std::string CompareIsoWithFolder(const std::string& imagePath, const std::string& folder,
                                 uint64_t compareLimit = 64u << 20);

}  // namespace vellumcast::test
