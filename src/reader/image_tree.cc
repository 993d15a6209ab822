// Reading an entry's bytes through its extents; gathering a walk's folders.
#include "reader/image_tree.h"

#include <algorithm>
#include <cstring>

namespace vellumcast {

std::string JoinImagePath(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

void GatherFolder(ImageFolder& folder, void* tree) {
  std::vector<ImageEntry>& entries = static_cast<ImageTree*>(tree)->entries;
  for (ImageEntry& e : folder.entries) {
    e.path = JoinImagePath(folder.path, e.name);
    entries.push_back(std::move(e));
  }
}

uint64_t HeldBytes(const ImageEntry& entry) {
  return sizeof entry + entry.name.capacity() + entry.path.capacity() + entry.embedded.capacity() +
         entry.extents.capacity() * sizeof(ImageExtent);
}

bool ReadEntryBytes(ImageSource& image, const ImageEntry& entry, uint64_t offset, uint8_t* out,
                    size_t n) {
  if (offset > entry.size || n > entry.size - offset) return false;
  if (!entry.embedded.empty() || entry.extents.empty()) {
    if (entry.embedded.size() < offset + n) return false;
    std::memcpy(out, entry.embedded.data() + offset, n);
    return true;
  }
  return ReadExtentBytes(image, entry.extents.data(), entry.extents.size(), offset, out, n);
}

bool ReadExtentBytes(ImageSource& image, const ImageExtent* extents, size_t count, uint64_t offset,
                     uint8_t* out, size_t n, ExtentCursor* cursor) {
  ExtentCursor from;
  if (cursor && cursor->index < count && cursor->start <= offset) from = *cursor;
  uint64_t start = from.start;  // the file's byte at which the current extent begins
  for (size_t i = from.index; i < count; ++i) {
    const ImageExtent& e = extents[i];
    if (n == 0) break;
    if (offset < start + e.bytes) {
      if (cursor) *cursor = ExtentCursor{i, start};
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
