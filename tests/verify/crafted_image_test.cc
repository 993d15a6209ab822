// Crafted hostile images, each made in milliseconds from a small image of the tool's own
// by writing records and descriptors by hand: -compare of every one ends with a named
// problem (never "Verified"), without a crash, within a memory limit (the binary runs
// under ASan with an RSS limit and a largest allocation) and a CPU-time limit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "reader/ecma167_descriptors.h"
#include "reader_images.h"

namespace vellumcast {
namespace {

using Image = std::string;
using test::At;
using test::FindTag;
using test::Le16;
using test::Le32;

void Put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
void Put32(uint8_t* p, uint32_t v) { Put16(p, uint16_t(v)), Put16(p + 2, uint16_t(v >> 16)); }
void Put64(uint8_t* p, uint64_t v) { Put32(p, uint32_t(v)), Put32(p + 4, uint32_t(v >> 32)); }
void PutBoth32(uint8_t* p, uint32_t v) {
  Put32(p, v);
  for (int i = 0; i < 4; ++i) p[4 + i] = uint8_t(v >> (24 - 8 * i));
}

// Grows the image to `sectors` sectors (zeros).
void Grow(Image& img, size_t sectors) {
  if (img.size() < sectors * 2048) img.resize(sectors * 2048, '\0');
}

// ECMA-119 9.1: a directory record at `p`; returns its length.
size_t PutRecord(uint8_t* p, uint32_t extent, uint32_t length, bool directory,
                 const std::string& id, const std::string& systemUse = {}) {
  const size_t n = 33 + id.size() + (id.size() % 2 == 0 ? 1 : 0) + systemUse.size();
  std::memset(p, 0, n);
  p[0] = uint8_t(n);
  PutBoth32(p + 2, extent);
  PutBoth32(p + 10, length);
  p[18] = 100, p[19] = 1, p[20] = 1;  // 2000-01-01
  p[25] = directory ? 2 : 0;
  Put16(p + 28, 1), p[30] = 0, p[31] = 1;  // volume sequence number 1, both byte orders
  p[32] = uint8_t(id.size());
  std::memcpy(p + 33, id.data(), id.size());
  std::memcpy(p + n - systemUse.size(), systemUse.data(), systemUse.size());
  return n;
}

// Points the root record of the Primary Volume Descriptor at `extent`, `length`.
void SetIsoRoot(Image& img, uint32_t extent, uint32_t length) {
  PutBoth32(At(img, 16) + 156 + 2, extent);
  PutBoth32(At(img, 16) + 156 + 10, length);
}

// SUSP CE (IEEE P1281 5.1) to `length` bytes at the start of `sector`.
std::string ContinuationEntry(uint32_t sector, uint32_t length) {
  std::string ce(28, '\0');
  uint8_t* p = reinterpret_cast<uint8_t*>(ce.data());
  p[0] = 'C', p[1] = 'E', p[2] = 28, p[3] = 1;
  PutBoth32(p + 4, sector), PutBoth32(p + 12, 0), PutBoth32(p + 20, length);
  return ce;
}

// `levels` nested directories, each of `length` bytes and each before its parent, so
// that with a length past one sector a directory's extent overlaps its ancestors'; the
// deepest holds `files` files. Identifiers of `idBytes` bytes; each directory record
// carries `systemUse`, the root's "." record `dotSystemUse`.
void NestIsoDirectories(Image& img, uint32_t levels, uint32_t length, uint32_t files,
                        size_t idBytes, const std::string& systemUse = {},
                        const std::string& dotSystemUse = {}) {
  const uint32_t base = uint32_t(img.size() / 2048), filesBase = base + levels;
  const uint32_t fileSectors = (files + 7) / 8;
  Grow(img, std::max(base + levels + length / 2048, filesBase + 1 + fileSectors));
  auto sectorOf = [&](uint32_t k) {
    return files > 0 && k + 1 == levels ? filesBase : base + (levels - 1 - k);
  };
  auto sizeOf = [&](uint32_t k) {
    return files > 0 && k + 1 == levels ? (1 + fileSectors) * 2048 : length;
  };
  for (uint32_t k = 0; k < levels; ++k) {
    uint8_t* s = At(img, sectorOf(k));
    size_t pos = PutRecord(s, sectorOf(k), sizeOf(k), true, std::string(1, '\0'),
                           k == 0 ? dotSystemUse : std::string());
    pos += PutRecord(s + pos, sectorOf(k == 0 ? 0 : k - 1), length, true, std::string(1, '\1'));
    if (k + 1 < levels)
      PutRecord(s + pos, sectorOf(k + 1), sizeOf(k + 1), true, std::string(idBytes, 'D'),
                systemUse);
  }
  // The deepest directory's files, eight records of 236 bytes to a sector.
  for (uint32_t f = 0; f < files; ++f) {
    const std::string number = std::to_string(100000 + f);
    const std::string id = std::string(idBytes - number.size(), 'F') + number + ";1";
    PutRecord(At(img, filesBase + 1 + f / 8) + (f % 8) * 236, 18, 0, false, id);
  }
  SetIsoRoot(img, sectorOf(0), sizeOf(0));
}

// ---- UDF ----

// Writes a tag for the descriptor at `d` (identifier, CRC over `crcLength` bytes, location).
void Seal(uint8_t* d, uint16_t id, uint32_t location, uint16_t crcLength) {
  Put16(d, id), Put16(d + 2, 2), Put16(d + 6, 1), Put16(d + 10, crcLength), Put32(d + 12, location);
  const uint16_t crc = UdfCrc(d + 16, crcLength);
  Put16(d + 8, crc);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = uint8_t(sum + d[i]);
  d[4] = sum;
}

// The free blocks of a UDF 1.02 image of one 4 MB file: the file's data, in partition
// blocks, and the sector of partition block 0.
struct UdfSpace {
  uint32_t partitionStart = 0;
  uint32_t next = 0;  // the next free partition block
  uint8_t* Block(Image& img, uint32_t block) { return At(img, partitionStart + block); }
};

UdfSpace FindSpace(Image& img) {
  UdfSpace space;
  space.partitionStart = Le32(At(img, FindTag(img, 5)) + 188);
  const uint8_t* fe = At(img, FindTag(img, 261, 257, 5));
  space.next = Le32(fe + 176 + Le32(fe + 168) + 4);
  return space;
}

// ECMA-167 4/14.9: a File Entry with short_ads `ads` at partition block `block`.
void PutFileEntry(UdfSpace& s, Image& img, uint32_t block, uint8_t type, uint64_t length,
                  const std::string& ads) {
  uint8_t* d = s.Block(img, block);
  std::memset(d, 0, 2048);
  Put16(d + 16 + 4, 4), Put16(d + 16 + 8, 1);  // strategy 4, one entry
  d[27] = type;
  Put32(d + 48, 1);  // link count
  Put64(d + 56, length);
  Put32(d + 172, uint32_t(ads.size()));
  std::memcpy(d + 176, ads.data(), ads.size());
  Seal(d, 261, block, uint16_t(176 + ads.size() - 16));
}

std::string ShortAd(uint32_t bytes, uint32_t type, uint32_t block) {
  std::string ad(8, '\0');
  Put32(reinterpret_cast<uint8_t*>(ad.data()), bytes | type << 30);
  Put32(reinterpret_cast<uint8_t*>(ad.data()) + 4, block);
  return ad;
}

// A directory at the next free blocks: its parent entry, then `count` identifiers naming
// the entry at `target` (`directory`: as directories); its File Entry at `entryBlock`
// becomes the root.
void PutRootDirectory(UdfSpace& s, Image& img, uint32_t entryBlock, uint32_t count, uint32_t target,
                      bool directory = false) {
  std::string bytes;
  auto fid = [&](uint8_t flags, uint32_t icb, const std::string& name) {
    const size_t length = (38 + name.size() + 3) / 4 * 4;
    const uint32_t block = s.next + uint32_t(bytes.size() / 2048);
    std::string f(length, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(f.data());
    Put16(p + 16, 1), p[18] = flags, p[19] = uint8_t(name.size());
    Put32(p + 20, 2048), Put32(p + 24, icb);
    std::memcpy(p + 38, name.data(), name.size());
    Seal(p, 257, block, uint16_t(length - 16));
    bytes += f;
  };
  fid(8, entryBlock, "");
  for (uint32_t i = 0; i < count; ++i)
    fid(directory ? 2 : 0, target,
        "\x08"
        "f" +
            std::to_string(100000 + i));
  const uint32_t first = s.next;
  std::memcpy(s.Block(img, first), bytes.data(), bytes.size());
  s.next += uint32_t(bytes.size() / 2048 + 1);
  PutFileEntry(s, img, entryBlock, 4, bytes.size(), ShortAd(uint32_t(bytes.size()), 0, first));
  uint8_t* fsd = At(img, FindTag(img, 256));
  Put32(fsd + 400 + 4, entryBlock);
  Seal(fsd, 256, Le32(fsd + 12), Le16(fsd + 10));
}

// A File Entry at the next free block whose allocations continue in `aeds` Allocation
// Extent Descriptors of 252 extents of a sector each; with `loop`, one descriptor that
// continues in itself.
uint32_t PutChainedEntry(UdfSpace& s, Image& img, uint32_t aeds, bool loop) {
  const uint32_t entry = s.next++;
  const uint32_t extents = loop ? 1 : aeds * 252;
  PutFileEntry(s, img, entry, 5, uint64_t(extents) * 2048, ShortAd(2048, 3, s.next));
  for (uint32_t a = 0; a < aeds; ++a) {
    const uint32_t block = s.next++;
    std::string ads;
    for (uint32_t e = 0; e < (loop ? 1u : 252u); ++e) ads += ShortAd(2048, 0, 0);
    if (loop || a + 1 < aeds) ads += ShortAd(2048, 3, loop ? block : block + 1);
    uint8_t* d = s.Block(img, block);
    std::memset(d, 0, 2048);
    Put32(d + 20, uint32_t(ads.size()));
    std::memcpy(d + 24, ads.data(), ads.size());
    Seal(d, 258, block, uint16_t(8 + ads.size()));
  }
  return entry;
}

struct CraftedCase {
  const char* name;
  FileSystemChoice choice;
  bool rockRidge;
  std::function<void(Image&)> craft;
  const char* expected;  // the named problem -compare gives
};

const CraftedCase kCases[] = {
    {"PathTableParentZero", FileSystemChoice::Iso9660, false,
     [](Image& i) { Put16(At(i, Le32(At(i, 16) + 140)) + 6, 0); }, "not the root"},
    {"PathTableParentPastTable", FileSystemChoice::Iso9660, false,
     [](Image& i) { Put16(At(i, Le32(At(i, 16) + 140)) + 6, 0xFFFF); }, "not the root"},
    {"NestedOverlappingDirectories", FileSystemChoice::Iso9660, false,
     [](Image& i) { NestIsoDirectories(i, 300, 32u << 20, 0, 1); }, "their extents overlap"},
    {"LongPathManyEntries", FileSystemChoice::Iso9660, false,
     [](Image& i) { NestIsoDirectories(i, 120, 2048, 16000, 200); }, "missing from ISO 9660"},
    {"RockRidgeNamesOf56000Bytes", FileSystemChoice::Iso9660, true,
     [](Image& i) {
       // A chain of 32 continuation areas of seven NM pieces, shared by every record.
       const uint32_t chain = uint32_t(i.size() / 2048);
       Grow(i, chain + 32);
       for (uint32_t a = 0; a < 32; ++a) {
         uint8_t* p = At(i, chain + a);
         for (int n = 0; n < 7; ++n, p += 255) {
           p[0] = 'N', p[1] = 'M', p[2] = 255, p[3] = 1, p[4] = (a < 31 || n < 6) ? 1 : 0;
           std::memset(p + 5, 'n', 250);
         }
         if (a < 31)
           std::memcpy(p, ContinuationEntry(chain + a + 1, 7 * 255 + (a < 30 ? 28 : 0)).data(), 28);
       }
       const uint8_t* root = At(i, Le32(At(i, 16) + 158));
       const std::string dot(reinterpret_cast<const char*>(root) + 34, root[0] - 34);
       NestIsoDirectories(i, 128, 2048, 0, 1, ContinuationEntry(chain, 7 * 255 + 28), dot);
     },
     "longer than 1024"},
    {"ContinuationAreaLoop", FileSystemChoice::Iso9660, true,
     [](Image& i) {
       const uint32_t area = uint32_t(i.size() / 2048);
       Grow(i, area + 1);
       std::memcpy(At(i, area), ContinuationEntry(area, 28).data(), 28);
       const uint8_t* root = At(i, Le32(At(i, 16) + 158));
       const std::string dot(reinterpret_cast<const char*>(root) + 34, root[0] - 34);
       NestIsoDirectories(i, 2, 2048, 0, 1, ContinuationEntry(area, 28), dot);
     },
     "continuation areas loops back"},
    {"EntryOf100000ExtentsNamed1000Times", FileSystemChoice::Udf102, false,
     [](Image& i) {
       UdfSpace s = FindSpace(i);
       const uint32_t entry = PutChainedEntry(s, i, 397, false);
       PutRootDirectory(s, i, s.next++, 1000, entry);
     },
     "extents in the tree"},
    {"SelfContinuingAedNamed40000Times", FileSystemChoice::Udf102, false,
     [](Image& i) {
       UdfSpace s = FindSpace(i);
       const uint32_t entry = PutChainedEntry(s, i, 1, true);
       PutRootDirectory(s, i, s.next++, 40000, entry);
     },
     "loops back or runs into another entry's"},
    {"DirectoryNamed40000Times", FileSystemChoice::Udf102, false,
     [](Image& i) {
       UdfSpace s = FindSpace(i);
       const uint32_t root = s.next++;
       PutRootDirectory(s, i, root, 40000, root, true);
     },
     "loops back"},
    {"VolumeDescriptorPointerLoop", FileSystemChoice::Udf102, false,
     [](Image& i) {
       const uint32_t at = uint32_t(i.size() / 2048);
       Grow(i, at + 4096);
       for (uint32_t k = 0; k + 1 < 4096; ++k) Seal(At(i, at + k), 4, at + k, 0);  // ignored
       uint8_t* vdp = At(i, at + 4095);
       Put32(vdp + 20, 4096 * 2048), Put32(vdp + 24, at);
       Seal(vdp, 3, at + 4095, 512 - 16);
       uint8_t* anchor = At(i, 256);
       Put32(anchor + 16, 4096 * 2048), Put32(anchor + 20, at);
       Seal(anchor, 2, 256, Le16(anchor + 10));
     },
     "volume descriptor pointer loops back"},
    {"IntegritySequenceLoop", FileSystemChoice::Udf102, false,
     [](Image& i) {
       const size_t s = FindTag(i, 9);
       Put32(At(i, s) + 32, 2048), Put32(At(i, s) + 36, uint32_t(s));
       Seal(At(i, s), 9, uint32_t(s), Le16(At(i, s) + 10));
     },
     "next extent loops back"},
};

class Crafted : public ::testing::TestWithParam<CraftedCase> {};

TEST_P(Crafted, CompareNamesTheProblemWithinLimits) {
  const CraftedCase& c = GetParam();
  test::TempDir source, out;
  test::WriteFile(source / "big.bin", test::PatternBytes(4u << 20, 7));
  Image img = test::BuildReaderImage(source.path(), out / "base.iso", c.choice, c.rockRidge);
  ASSERT_FALSE(img.empty());
  c.craft(img);
  test::WriteFile(out / "crafted.iso", img);
  // VELLUMCAST_KEEP_CRAFTED=dir keeps the images (and their folder) for measuring by hand.
  if (const char* keep = std::getenv("VELLUMCAST_KEEP_CRAFTED")) {
    test::WriteFile(std::string(keep) + "/" + c.name + ".iso", img);
    test::WriteFile(std::string(keep) + "/folder/big.bin", test::PatternBytes(4u << 20, 7));
  }
  // ASan: RSS past 512 MB (the allocator's redzones and shadow on top of the program's
  // own bytes) or a single allocation past 256 MB ends the run with exit code 99.
  const test::CommandResult r = test::RunCommand(
      "ulimit -t 60; ASAN_OPTIONS=hard_rss_limit_mb=512:max_allocation_size_mb=256:"
      "quarantine_size_mb=16:exitcode=99 " +
      test::Quote(test::Binary()) + " " + test::Quote(source.path()) + (c.rockRidge ? " -R" : "") +
      " -compare " + test::Quote(out / "crafted.iso"));
  EXPECT_NE(r.exitCode, 0) << r.out;
  EXPECT_NE(r.exitCode, 99) << r.err;
  EXPECT_NE(r.exitCode, -1) << "killed: " << r.err;
  EXPECT_EQ(r.out.find("Verified"), std::string::npos) << r.out;
  EXPECT_NE((r.out + r.err).find(c.expected), std::string::npos) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(Images, Crafted, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vellumcast
