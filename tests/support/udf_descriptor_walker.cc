// Walks a UDF image from its anchors and checks every descriptor tag it reaches
// (libudfread does not check CRCs).
#include "udf_descriptor_walker.h"

#include <algorithm>
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

  // Sectors [s, s + n) of the image; an empty failed span when they pass its end.
  ByteSpan Sector(uint64_t s, size_t n = 1) const {
    return ByteSpan(reinterpret_cast<const uint8_t*>(image.data()), image.size())
        .Sub(s * kBlock, n * kBlock);
  }

  void Problem(const std::string& text) { report.problems.push_back(text); }

  // Tag check; `id` 0 accepts any identifier. Returns the identifier, 0 on failure.
  uint16_t Check(ByteSpan d, uint16_t id, uint32_t location, size_t available,
                 const std::string& what) {
    if (!d.ok) {
      Problem(what + ": outside the image");
      return 0;
    }
    const uint16_t found = d.U16Le(0);
    const uint16_t version = d.U16Le(2);
    auto result =
        ValidTag(d.Sub(0, std::min(available, d.size)), id ? id : found, location, version);
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
      const ByteSpan d = Sector(s);
      const uint16_t id =
          Check(d, 0, s, kBlock, std::string(which) + " VDS sector " + std::to_string(s));
      if (!id) break;
      bytes.append(reinterpret_cast<const char*>(d.data), kBlock);
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
    const ByteSpan e = Sector(Resolve(partition, block));
    const uint16_t id = Check(e, 0, block, kBlock, what);
    if (id != 261 && id != 266) {
      if (id) Problem(what + ": not a File Entry");
      return;
    }
    const bool extended = id == 266;
    const uint32_t eaLength = e.U32Le(extended ? 208 : 168);
    const uint32_t adLength = e.U32Le(extended ? 212 : 172);
    const size_t adStart = (extended ? 216 : 176) + size_t(eaLength);
    if (!extended && eaLength)
      Check(e.Sub(176, eaLength), 262, block, eaLength, what + " EA header");
    const uint8_t fileType = e.U8(16 + 11);
    const uint16_t adType = e.U16Le(16 + 18) & 7;
    const uint64_t informationLength = e.U64Le(56);
    std::vector<Extent> extents;
    ByteSpan ads = e.Sub(adStart, adLength);
    if (!ads.ok) {
      Problem(what + ": allocation descriptors pass the block");
      return;
    }
    for (int chain = 0; chain < 100000; ++chain) {
      bool continued = false;
      const size_t size = adType == 1 ? 16 : 8;
      for (uint32_t o = 0; o + size <= ads.size; o += uint32_t(size)) {
        const uint32_t raw = ads.U32Le(o);
        Extent x{raw & 0x3FFFFFFF, adType == 1 ? ads.U16Le(o + 8) : partition, ads.U32Le(o + 4)};
        if (raw >> 30 == 3) {
          const ByteSpan aed = Sector(Resolve(x.partition, x.block));
          if (Check(aed, 258, x.block, kBlock, what + " allocation extent") != 258) return;
          ++report.allocationExtents;
          ads = aed.Sub(24, aed.U32Le(20));
          if (!ads.ok) {
            Problem(what + ": allocation extent passes its block");
            return;
          }
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
    const ByteSpan data =
        Sector(Resolve(dir.partition, dir.block), (dir.length + kBlock - 1) / kBlock);
    if (!data.ok) {
      Problem(what + ": directory outside the image");
      return;
    }
    uint32_t subdirectories = 0;
    for (uint32_t offset = 0; offset < dir.length;) {
      const ByteSpan f = data.Sub(offset, dir.length - offset);
      const std::string fidWhat = what + " identifier at offset " + std::to_string(offset);
      if (Check(f, 257, dir.block + offset / kBlock, dir.length - offset, fidWhat) != 257) return;
      const uint32_t l = (38 + f.U8(19) + f.U16Le(36) + 3) / 4 * 4;
      if (!f.Has(0, l)) {
        Problem(fidWhat + ": passes the directory");
        return;
      }
      if (!(f.U8(18) & 0x08)) {
        subdirectories += (f.U8(18) & 0x02) ? 1 : 0;
        Entry(f.U16Le(28), f.U32Le(24), depth + 1);
      }
      offset += l;
    }
    if (e.U16Le(48) != subdirectories + 1)  // File Link Count: the parent's FID and the children's
      Problem(what + ": link count " + std::to_string(e.U16Le(48)) + ", " +
              std::to_string(subdirectories) + " subdirectories");
  }

  void Run() {
    const uint64_t total = image.size() / kBlock;
    if (total < 257) {
      Problem("image too small");
      return;
    }
    const ByteSpan anchor = Sector(256);
    const ByteSpan closing = Sector(total - 1);
    if (!Check(anchor, 2, 256, kBlock, "anchor 256") ||
        !Check(closing, 2, uint32_t(total - 1), kBlock, "closing anchor"))
      return;
    if (std::memcmp(anchor.data + 16, closing.data + 16, kBlock - 16) != 0)
      Problem("anchors differ");
    const std::string main = Sequence(anchor.U32Le(20), anchor.U32Le(16) / kBlock, "main");
    const std::string reserve = Sequence(anchor.U32Le(28), anchor.U32Le(24) / kBlock, "reserve");
    if (main.size() != reserve.size()) Problem("main and reserve sequences differ in length");
    for (size_t i = 0; i < main.size() && i < reserve.size(); ++i) {
      const size_t k = i % kBlock;
      if (k != 4 && (k < 12 || k > 15) && main[i] != reserve[i]) {
        Problem("main and reserve sequences differ at byte " + std::to_string(i));
        break;
      }
    }
    ByteSpan pd, lvd;
    pd.ok = lvd.ok = false;
    for (size_t i = 0; i < main.size(); i += kBlock) {
      const ByteSpan d(reinterpret_cast<const uint8_t*>(main.data()) + i, kBlock);
      if (d.U16Le(0) == 5) pd = d;
      if (d.U16Le(0) == 6) lvd = d;
    }
    if (!pd.ok || !lvd.ok) {
      Problem("no Partition or Logical Volume Descriptor");
      return;
    }
    partitionStart = pd.U32Le(188);
    const uint32_t integrity = lvd.U32Le(436);
    const ByteSpan lvid = Sector(integrity);
    if (Check(lvid, 9, integrity, kBlock, "integrity descriptor") == 9) {
      const uint64_t n = lvid.U32Le(72);
      if (lvid.U32Le(28) != 1) Problem("integrity not closed");
      report.lvidFiles = lvid.U32Le(80 + 8 * n + 32);
      report.lvidDirectories = lvid.U32Le(80 + 8 * n + 36);
      report.revision = lvid.U16Le(80 + 8 * n + 40);
      if (!lvid.ok) Problem("integrity descriptor: implementation use passes the block");
    }
    Check(Sector(integrity + 1), 8, integrity + 1, kBlock, "integrity terminator");

    // Partition maps: a metadata partition map names the metadata file and its mirror.
    const uint32_t maps = lvd.U32Le(268);
    size_t map = 440;
    for (uint32_t m = 0; m < maps && lvd.ok; ++m) {
      if (lvd.U8(map) == 2 && lvd.Equals(map + 5, "*UDF Metadata Partition", 23)) {
        const uint32_t file = lvd.U32Le(map + 40), mirror = lvd.U32Le(map + 44);
        const ByteSpan fe = Sector(uint64_t(partitionStart) + file);
        const ByteSpan me = Sector(uint64_t(partitionStart) + mirror);
        if (Check(fe, 266, file, kBlock, "metadata file") != 266 ||
            Check(me, 266, mirror, kBlock, "metadata mirror file") != 266)
          return;
        const uint32_t length = fe.U32Le(216);
        metadataStart = partitionStart + fe.U32Le(220);
        const uint32_t mirrorStart = partitionStart + me.U32Le(220);
        const ByteSpan a = Sector(metadataStart, length / kBlock);
        const ByteSpan b = Sector(mirrorStart, length / kBlock);
        if (!a.ok || !b.ok || me.U32Le(216) != length || std::memcmp(a.data, b.data, length) != 0)
          Problem("metadata and mirror copies differ");
        hasMetadataPartition = true;
      }
      map += lvd.U8(map + 1) ? lvd.U8(map + 1) : 6;
    }
    if (!lvd.ok) Problem("partition maps pass the logical volume descriptor");
    const uint32_t fsdBlock = lvd.U32Le(252);
    const uint16_t fsdPartition = lvd.U16Le(256);
    const ByteSpan fsd = Sector(Resolve(fsdPartition, fsdBlock));
    if (Check(fsd, 256, fsdBlock, kBlock, "file set descriptor") != 256) return;
    Check(Sector(Resolve(fsdPartition, fsdBlock + 1)), 8, fsdBlock + 1, kBlock,
          "file set terminator");
    Entry(fsd.U16Le(408), fsd.U32Le(404), 0);
  }
};

}  // namespace

UdfWalkReport WalkUdfDescriptors(const std::string& image) {
  Walker walker(image);
  walker.Run();
  return walker.report;
}

}  // namespace vellumcast::test
