// Decodes the ExtensionData of Blu-ray movie playlists and clip information files
// (BD-ROM audio-visual format): the entry table and the data blocks it points at.
#include "bluray/extension_data.h"

#include <utility>

namespace vellumcast {
namespace {

namespace extension {
constexpr uint64_t kLength = 0;
constexpr uint64_t kDataBlockStartAddress = 4;
constexpr uint64_t kEntryCount = 8;  // 32-bit word, low 8 bits: number_of_ext_data_entries
constexpr uint64_t kFirstEntry = 12;
constexpr uint64_t kEntrySize = 12;  // ID1 2, ID2 2, start address 4, data length 4
constexpr uint64_t kLengthFieldSize = 4;
}  // namespace extension

// Each decoder sees only its own block and changes `out` only when the whole block
// decodes inside it.
bool DecodeLengthAndValue(ByteSpan r, ExtensionData::LengthAndValue& out) {
  ExtensionData::LengthAndValue v{r.U32Be(0), r.U16Be(4)};
  if (r.ok) out = v;
  return r.ok;
}

// One STN_table_SS per PlayItem, each a 16-bit length and that many bytes.
bool DecodeStnTablesSs(ByteSpan r, std::vector<uint16_t>& lengths) {
  std::vector<uint16_t> found;
  for (uint64_t pos = 0; pos < r.size && r.ok;) {
    uint16_t length = r.U16Be(pos);
    r.Need(pos + 2, length);
    found.push_back(length);
    pos += 2 + uint64_t(length);
  }
  if (r.ok) lengths.insert(lengths.end(), found.begin(), found.end());
  return r.ok;
}

bool DecodeSubPathEntries(ByteSpan r, ExtensionData& out) {
  uint32_t length = r.U32Be(0);
  uint16_t count = r.U16Be(4);
  std::vector<SubPath> found;
  uint64_t pos = 6;
  for (uint16_t i = 0; i < count && r.ok; ++i) {
    SubPath subPath;
    DecodeSubPath(r, pos, subPath, pos);
    found.push_back(std::move(subPath));
  }
  if (!r.ok) return false;
  out.subPathEntriesLength = length;
  for (auto& subPath : found) out.subPaths.push_back(std::move(subPath));
  return true;
}

bool DecodeExtentStartPoints(ByteSpan r, ExtensionData& out) {
  uint32_t length = r.U32Be(0);
  uint32_t count = r.U32Be(4);
  if (!r.Need(8, uint64_t(count) * 4)) return false;
  out.extentStartPointsLength = length;
  out.extentStartPoints.reserve(out.extentStartPoints.size() + count);
  for (uint32_t i = 0; i < count; ++i)
    out.extentStartPoints.push_back(r.U32Be(8 + uint64_t(i) * 4));
  return true;
}

bool DecodeLength(ByteSpan r, uint32_t& length) {
  uint32_t v = r.U32Be(0);
  if (r.ok) length = v;
  return r.ok;
}

void DecodeBlock(const ExtensionData::Entry& entry, ByteSpan block, ExtensionData& out) {
  switch ((uint32_t(entry.id1) << 16) | entry.id2) {
    case 0x10001: DecodeLengthAndValue(block, out.block11); break;
    case 0x10002: DecodeLengthAndValue(block, out.block12); break;
    case 0x20001: DecodeStnTablesSs(block, out.stnTableSsLengths); break;
    case 0x20002: DecodeSubPathEntries(block, out); break;
    case 0x20003:
      if (block.Need(0, 4)) {
        for (int i = 0; i < 4; ++i) out.block23[i] = block.data[i];
      }
      break;
    case 0x20004: DecodeExtentStartPoints(block, out); break;
    case 0x20005: DecodeLength(block, out.block25Length); break;
    case 0x20006: DecodeLength(block, out.block26Length); break;
    default: break;  // a block of another kind is of no use here
  }
}

}  // namespace

bool DecodeExtensionData(const uint8_t* bytes, size_t count, ExtensionData& out) {
  namespace f = extension;
  out = ExtensionData{};
  if (count == 0) return true;
  ByteSpan r(bytes, count);
  uint32_t length = r.U32Be(f::kLength);
  if (!r.ok) return false;
  if (length == 0) return true;
  uint64_t end = f::kLengthFieldSize + uint64_t(length);
  if (!r.Need(0, end)) return false;
  r.size = size_t(end);  // nothing after the ExtensionData belongs to it

  out.length = length;
  out.dataBlockStartAddress = r.U32Be(f::kDataBlockStartAddress);
  uint8_t entryCount = uint8_t(r.U32Be(f::kEntryCount));
  r.Need(f::kFirstEntry, uint64_t(entryCount) * f::kEntrySize);
  if (!r.ok) {
    out = ExtensionData{};
    return false;
  }
  for (uint8_t i = 0; i < entryCount; ++i) {
    uint64_t pos = f::kFirstEntry + uint64_t(i) * f::kEntrySize;
    out.entries.push_back({r.U16Be(pos), r.U16Be(pos + 2), r.U32Be(pos + 4), r.U32Be(pos + 8)});
  }
  for (const auto& entry : out.entries) {
    if (!r.Has(entry.startAddress, entry.dataLength)) continue;  // outside: the block is absent
    DecodeBlock(entry, ByteSpan(r.data + entry.startAddress, entry.dataLength), out);
  }
  return true;
}

bool CopyExtensionBytes(const uint8_t* bytes, size_t count, uint32_t start,
                        std::vector<uint8_t>& out) {
  out.clear();
  if (start == 0) return true;
  ByteSpan r(bytes, count);
  uint32_t length = r.U32Be(start);
  if (!r.Need(start, 4 + uint64_t(length))) return false;
  out.assign(bytes + start, bytes + start + 4 + length);
  return true;
}

}  // namespace vellumcast
