// The ExtensionData block at the end of a Blu-ray movie playlist or clip information
// file, and its decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bluray/sub_path.h"

namespace vellumcast {

struct ExtensionData {
  struct Entry {
    uint16_t id1 = 0;
    uint16_t id2 = 0;
    uint32_t startAddress = 0;  // from the first byte of the ExtensionData (its length field)
    uint32_t dataLength = 0;
  };
  struct LengthAndValue {
    uint32_t length = 0;
    uint16_t value = 0;
  };

  uint32_t length = 0;  // 0: empty
  uint32_t dataBlockStartAddress = 0;
  std::vector<Entry> entries;

  LengthAndValue block11;                   // (1, 1)
  LengthAndValue block12;                   // (1, 2)
  std::vector<uint16_t> stnTableSsLengths;  // (2, 1): one STN_table_SS per PlayItem
  uint32_t subPathEntriesLength = 0;        // (2, 2): SubPath entries
  std::vector<SubPath> subPaths;
  uint8_t block23[4] = {};                  // (2, 3)
  uint32_t extentStartPointsLength = 0;     // (2, 4): ExtentStartPoints (clip information)
  std::vector<uint32_t> extentStartPoints;  // source packet numbers, in file order
  uint32_t block25Length = 0;               // (2, 5)
  uint32_t block26Length = 0;               // (2, 6)
};

namespace extension_ids {
constexpr uint16_t kStnTableSs[2] = {2, 1};
constexpr uint16_t kSubPathEntries[2] = {2, 2};
constexpr uint16_t kExtentStartPoints[2] = {2, 4};
}  // namespace extension_ids

// Decodes `count` bytes of one ExtensionData, from its length field on (`count` 0: no
// ExtensionData). Each data block is read where its entry's start address puts it,
// inside the entry's data length; a block whose place or content does not lie inside
// the ExtensionData is left out (its fields stay 0, its lists unchanged). Blocks of the
// same kind add to the same lists. False when the length or the entry table runs past
// the bytes: the file then is not usable.
[[nodiscard]] bool DecodeExtensionData(const uint8_t* bytes, size_t count, ExtensionData& out);

// The ExtensionData (length field and the bytes it counts) that starts at `start` in a
// control file, copied to `out`; start 0 means none. False when it runs past the bytes.
[[nodiscard]] bool CopyExtensionBytes(const uint8_t* bytes, size_t count, uint32_t start,
                                      std::vector<uint8_t>& out);

}  // namespace vellumcast
