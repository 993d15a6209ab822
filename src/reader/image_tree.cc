// Reading an entry's bytes through its extents.
#include "reader/image_tree.h"

#include <algorithm>
#include <cstring>

namespace vellumcast {

bool ReadEntryBytes(ImageSource& image, const ImageEntry& entry, uint64_t offset, uint8_t* out, size_t n) {
  if (offset > entry.size || n > entry.size - offset) return false;
  if (!entry.embedded.empty() || entry.extents.empty()) {
    if (entry.embedded.size() < offset + n) return false;
    std::memcpy(out, entry.embedded.data() + offset, n);
    return true;
  }
  uint64_t start = 0;  // the entry's byte at which the current extent begins
  for (const ImageExtent& e : entry.extents) {
    if (n == 0) break;
    if (offset < start + e.bytes) {
      const uint64_t within = offset - start;
      const size_t take = size_t(std::min<uint64_t>(n, e.bytes - within));
      if (e.zero) {
        std::memset(out, 0, take);
      } else if (!image.ReadBytes(e.sector * kImageSectorSize + within, out, take)) {
        return false;
      }
      out += take;
      offset += take;
      n -= take;
    }
    start += e.bytes;
  }
  return n == 0;
}

}  // namespace vellumcast
