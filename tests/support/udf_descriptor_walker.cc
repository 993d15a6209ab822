// Walks a UDF image from its anchors and checks every descriptor tag it reaches
// (libudfread does not check CRCs).
#include "udf_descriptor_walker.h"

#include <cstring>
#include <set>

#include "udf_tag_check.h"

namespace vellumcast::test {
namespace {

constexpr size_t kBlock = 2048;

struct Walker {
  explicit Walker(const std::string& bytes) : image(bytes) {}
  const std::string& image;
  UdfWalkReport report;
  uint32_t partitionStart = 0;
  uint32_t metadataStart = 0;  // sector of metadata partition block 0 (UDF 2.50)
  bool hasMetadataPartition = false;
  std::set<uint64_t> visited;

  const uint8_t* Sector(uint64_t s, size_t n = 1) {
    if ((s + n) * kBlock > image.size()) return nullptr;
    return reinterpret_cast<const uint8_t*>(image.data()) + s * kBlock;
  }

  void Problem(const std::string& text) { report.problems.push_back(text); }

  // Tag check; `id` 0 accepts any identifier. Returns the identifier, 0 on failure.
  uint16_t Check(const uint8_t* d, uint16_t id, uint32_t location, size_t available,
                 const std::string& what) {
    if (!d) {
      Problem(what + ": outside the image");
      return 0;
    }
    const uint16_t found = Le16(d);
    const uint16_t version = Le16(d + 2);
    auto result = ValidTag(d, id ? id : found, location, version, available);
    if (!result || (version != 2 && version != 3)) {
      Problem(what + ": " + result.message());
      return 0;
    }
    return found;
  }

  uint64_t Resolve(uint16_t partition, uint32_t block) {
    if (partition == 1 && hasMetadataPartition) return uint64_t(metadataStart) + block;
    return uint64_t(partitionStart) + block;
  }

  // Reads the six descriptors of a Volume Descriptor Sequence; returns their bytes.
  std::string Sequence(uint32_t first, uint32_t sectors, const char* which) {
    std::string bytes;
    for (uint32_t s = first; s < first + sectors; ++s) {
      const uint8_t* d = Sector(s);
      const uint16_t id = Check(d, 0, s, kBlock, std::string(which) + " VDS sector " + std::to_string(s));
      if (!id) break;
      bytes.append(reinterpret_cast<const char*>(d), kBlock);
      if (id == 8) break;
    }
    return bytes;
  }

  struct Extent {
    uint32_t length;
    uint16_t partition;
    uint32_t block;
  };

  void Entry(uint16_t partition, uint32_t block, int depth) {
    const std::string what = "entry at block " + std::to_string(block);
    if (depth > 64 || !visited.insert(uint64_t(partition) << 32 | block).second) {
      Problem(what + ": reached twice");
      return;
    }
    const uint8_t* e = Sector(Resolve(partition, block));
    const uint16_t id = Check(e, 0, block, kBlock, what);
    if (id != 261 && id != 266) {
      if (id) Problem(what + ": not a File Entry");
      return;
    }
    const bool extended = id == 266;
    const uint32_t eaLength = Le32(e + (extended ? 208 : 168));
    const uint32_t adLength = Le32(e + (extended ? 212 : 172));
    const size_t adStart = (extended ? 216 : 176) + eaLength;
    if (!extended && eaLength) Check(e + 176, 262, block, eaLength, what + " EA header");
    const uint8_t fileType = e[16 + 11];
    const uint16_t adType = Le16(e + 16 + 18) & 7;
    const uint64_t informationLength = Le64(e + 56);
    std::vector<Extent> extents;
    const uint8_t* ads = e + adStart;
    uint32_t length = adLength;
    for (int chain = 0; chain < 100000; ++chain) {
      bool continued = false;
      const size_t size = adType == 1 ? 16 : 8;
      for (uint32_t o = 0; o + size <= length; o += uint32_t(size)) {
        const uint32_t raw = Le32(ads + o);
        Extent x{raw & 0x3FFFFFFF, adType == 1 ? Le16(ads + o + 8) : partition, Le32(ads + o + 4)};
        if (raw >> 30 == 3) {
          const uint8_t* aed = Sector(Resolve(x.partition, x.block));
          if (Check(aed, 258, x.block, kBlock, what + " allocation extent") != 258) return;
          ++report.allocationExtents;
          ads = aed + 24;
          length = Le32(aed + 20);
          continued = true;
          break;
        }
        extents.push_back(x);
      }
      if (!continued) break;
    }
    uint64_t recorded = 0;
    for (const Extent& x : extents) recorded += x.length;
    if (recorded != informationLength)
      Problem(what + ": extents hold " + std::to_string(recorded) + " bytes, length " +
              std::to_string(informationLength));
    if (fileType != 4) {
      ++report.files;
      return;
    }
    ++report.directories;
    if (extents.size() != 1) {
      Problem(what + ": directory not in one extent");
      return;
    }
    const Extent dir = extents[0];
    const uint8_t* data = Sector(Resolve(dir.partition, dir.block), (dir.length + kBlock - 1) / kBlock);
    if (!data) {
      Problem(what + ": directory outside the image");
      return;
    }
    uint32_t subdirectories = 0;
    for (uint32_t offset = 0; offset < dir.length;) {
      const uint8_t* f = data + offset;
      const std::string fidWhat = what + " identifier at offset " + std::to_string(offset);
      if (Check(f, 257, dir.block + offset / kBlock, dir.length - offset, fidWhat) != 257) return;
      const uint32_t l = (38 + f[19] + Le16(f + 36) + 3) / 4 * 4;
      if (!(f[18] & 0x08)) {
        subdirectories += (f[18] & 0x02) ? 1 : 0;
        Entry(Le16(f + 28), Le32(f + 24), depth + 1);
      }
      offset += l;
    }
    if (Le16(e + 48) != subdirectories + 1)  // File Link Count: the parent's FID and the children's
      Problem(what + ": link count " + std::to_string(Le16(e + 48)) + ", " + std::to_string(subdirectories) +
              " subdirectories");
  }

  void Run() {
    const uint64_t total = image.size() / kBlock;
    if (total < 257) {
      Problem("image too small");
      return;
    }
    const uint8_t* anchor = Sector(256);
    const uint8_t* closing = Sector(total - 1);
    if (!Check(anchor, 2, 256, kBlock, "anchor 256") ||
        !Check(closing, 2, uint32_t(total - 1), kBlock, "closing anchor"))
      return;
    if (std::memcmp(anchor + 16, closing + 16, kBlock - 16) != 0) Problem("anchors differ");
    const std::string main = Sequence(Le32(anchor + 20), Le32(anchor + 16) / kBlock, "main");
    const std::string reserve = Sequence(Le32(anchor + 28), Le32(anchor + 24) / kBlock, "reserve");
    if (main.size() != reserve.size()) Problem("main and reserve sequences differ in length");
    for (size_t i = 0; i < main.size() && i < reserve.size(); ++i) {
      const size_t k = i % kBlock;
      if (k != 4 && (k < 12 || k > 15) && main[i] != reserve[i]) {
        Problem("main and reserve sequences differ at byte " + std::to_string(i));
        break;
      }
    }
    const uint8_t* pd = nullptr;
    const uint8_t* lvd = nullptr;
    for (size_t i = 0; i < main.size(); i += kBlock) {
      auto* d = reinterpret_cast<const uint8_t*>(main.data()) + i;
      if (Le16(d) == 5) pd = d;
      if (Le16(d) == 6) lvd = d;
    }
    if (!pd || !lvd) {
      Problem("no Partition or Logical Volume Descriptor");
      return;
    }
    partitionStart = Le32(pd + 188);
    const uint32_t integrity = Le32(lvd + 436);
    const uint8_t* lvid = Sector(integrity);
    if (Check(lvid, 9, integrity, kBlock, "integrity descriptor") == 9) {
      const uint32_t n = Le32(lvid + 72);
      if (Le32(lvid + 28) != 1) Problem("integrity not closed");
      report.lvidFiles = Le32(lvid + 80 + 8 * n + 32);
      report.lvidDirectories = Le32(lvid + 80 + 8 * n + 36);
      report.revision = Le16(lvid + 80 + 8 * n + 40);
    }
    Check(Sector(integrity + 1), 8, integrity + 1, kBlock, "integrity terminator");

    // Partition maps: a metadata partition map names the metadata file and its mirror.
    const uint32_t maps = Le32(lvd + 268);
    const uint8_t* map = lvd + 440;
    for (uint32_t m = 0; m < maps; ++m) {
      if (map[0] == 2 && std::memcmp(map + 5, "*UDF Metadata Partition", 23) == 0) {
        const uint32_t file = Le32(map + 40), mirror = Le32(map + 44);
        const uint8_t* fe = Sector(uint64_t(partitionStart) + file);
        const uint8_t* me = Sector(uint64_t(partitionStart) + mirror);
        if (Check(fe, 266, file, kBlock, "metadata file") != 266 ||
            Check(me, 266, mirror, kBlock, "metadata mirror file") != 266)
          return;
        const uint32_t length = Le32(fe + 216);
        metadataStart = partitionStart + Le32(fe + 220);
        const uint32_t mirrorStart = partitionStart + Le32(me + 220);
        const uint8_t* a = Sector(metadataStart, length / kBlock);
        const uint8_t* b = Sector(mirrorStart, length / kBlock);
        if (!a || !b || Le32(me + 216) != length || std::memcmp(a, b, length) != 0)
          Problem("metadata and mirror copies differ");
        hasMetadataPartition = true;
      }
      map += map[1] ? map[1] : 6;
    }
    const uint32_t fsdBlock = Le32(lvd + 252);
    const uint16_t fsdPartition = Le16(lvd + 256);
    const uint8_t* fsd = Sector(Resolve(fsdPartition, fsdBlock));
    if (Check(fsd, 256, fsdBlock, kBlock, "file set descriptor") != 256) return;
    Check(Sector(Resolve(fsdPartition, fsdBlock + 1)), 8, fsdBlock + 1, kBlock, "file set terminator");
    Entry(Le16(fsd + 408), Le32(fsd + 404), 0);
  }
};

}  // namespace

UdfWalkReport WalkUdfDescriptors(const std::string& image) {
  Walker walker(image);
  walker.Run();
  return walker.report;
}

}  // namespace vellumcast::test
