// UDF file structures: File Set Descriptor, File Entries, Extended File Entries,
// allocation descriptors and their continuation, File Identifier Descriptors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/disc_constants.h"
#include "bluray/stereo_clip_pair.h"
#include "build/image_builder.h"
#include "layout/entry_extents.h"
#include "tree_test_support.h"
#include "udf_tag_check.h"
#include "writer/allocation_descriptors.h"
#include "writer/file_entries.h"
#include "writer/file_identifiers.h"
#include "writer/file_set.h"
#include "writer_view.h"

namespace vellumcast {
namespace {

using test::LayoutTree;
using test::Le16;
using test::Le32;
using test::Le64;
using test::Text;
using test::ValidTag;

void Configure(ImageBuilder& b, uint16_t revision) {
  b.settings.formatFlags = 4;
  b.settings.udfRevision = revision;
  for (int i = 0; i < 12; ++i) b.settings.buildTimeStamp[i] = uint8_t(0xA0 + i);
  b.SetImplementationId("Vellumcast ");
  b.settings.volumeLabel[0] = 8;
  std::memcpy(b.settings.volumeLabel + 1, "Film", 4);
  b.settings.volumeLabel[127] = 5;
  b.plan.fileDataOffset = revision >= 0x0250 ? 64 : 20;
}

// Appends an entry to `dir` with its UDF identifier already set (see WithUdfName).
TreeNode* Add(LayoutTree& t, TreeNode* dir, const std::u16string& name, bool directory,
              uint64_t size = 0, bool eightBit = false) {
  return t.WithUdfName(directory ? t.AddDir(*dir, name) : t.AddFile(*dir, name, size), eightBit);
}

uint16_t Version(const ImageBuilder& b) { return b.settings.IsUdf250() ? 3 : 2; }

// The entry of `node` at `block`, built into the blocks it takes.
std::vector<uint8_t> Entry(ImageBuilder& b, const TreeNode& node, uint32_t block) {
  std::vector<uint8_t> s(size_t(FileEntrySectors(b.settings, node)) * 2048, 0);
  const bool ok = b.settings.IsUdf250()
                      ? BuildExtendedFileEntry(test::WriterView(b), node, block, s.data())
                      : BuildFileEntry(test::WriterView(b), node, block, s.data());
  EXPECT_TRUE(ok) << b.log.error;
  return s;
}

// Allocation descriptors of an entry: (length, position or block) pairs.
struct Ad {
  uint32_t length, block;
  uint16_t partition;
};
std::vector<Ad> EntryAds(const ImageBuilder& b, const uint8_t* e) {
  std::vector<Ad> ads;
  if (b.settings.IsUdf250()) {
    const bool longAds = (Le16(e + 16 + 18) & 7) == 1;
    const uint32_t n = Le32(e + 212);
    for (uint32_t o = 0; o < n; o += longAds ? 16 : 8)
      ads.push_back(
          {Le32(e + 216 + o), Le32(e + 220 + o), longAds ? Le16(e + 224 + o) : uint16_t(1)});
  } else {
    const uint32_t n = Le32(e + 172);
    for (uint32_t o = 0; o < n; o += 8) ads.push_back({Le32(e + 308 + o), Le32(e + 312 + o), 0});
  }
  return ads;
}

TEST(FileSet, FileSetDescriptor) {
  for (uint16_t revision : {uint16_t(0x0102), uint16_t(0x0250)}) {
    ImageBuilder b;
    Configure(b, revision);
    std::vector<uint8_t> s(2048, 0);
    BuildFileSetDescriptor(test::WriterView(b), s.data());
    EXPECT_TRUE(ValidTag(s.data(), 256, 0, Version(b)));
    EXPECT_EQ(Le16(&s[10]), 496);
    EXPECT_EQ(s[16], 0xA0);
    EXPECT_EQ(Le16(&s[28]), 3);
    EXPECT_EQ(Le16(&s[30]), 3);
    EXPECT_EQ(Le32(&s[32]), 1u);
    EXPECT_EQ(Le32(&s[36]), 1u);
    EXPECT_EQ(Text(&s[49], 23), "OSTA Compressed Unicode");
    EXPECT_EQ(0, std::memcmp(&s[112], b.settings.volumeLabel, 128));
    EXPECT_EQ(Text(&s[241], 23), "OSTA Compressed Unicode");
    EXPECT_EQ(Le32(&s[400]), 2048u);
    EXPECT_EQ(Le32(&s[404]), 2u);
    EXPECT_EQ(Le16(&s[408]), revision >= 0x0250 ? 1 : 0);
    EXPECT_EQ(Text(&s[417], 19), "*OSTA UDF Compliant");
    EXPECT_EQ(Le16(&s[440]), revision);
    EXPECT_EQ(s[442], 3);
    EXPECT_EQ(std::count(&s[448], &s[2048], 0), 2048 - 448);
  }
}

TEST(FileEntry, EmptyRootDirectoryUdf102) {
  ImageBuilder b;
  Configure(b, 0x0102);
  LayoutTree t(FormatUdf);
  TreeNode* root = &t.root();
  root->udfDirLocation = 3;
  root->udfDirLength = 40;
  std::vector<uint8_t> e = Entry(b, *root, 2);
  EXPECT_TRUE(ValidTag(e.data(), 261, 2, 2));
  EXPECT_EQ(Le16(&e[10]), 160 + 132 + 8);
  EXPECT_EQ(Le16(&e[16 + 4]), 4);
  EXPECT_EQ(Le16(&e[16 + 8]), 1);
  EXPECT_EQ(e[16 + 11], 4);
  EXPECT_EQ(Le16(&e[16 + 18]), 0x20);
  EXPECT_EQ(Le32(&e[36]), 0xFFFFFFFFu);
  EXPECT_EQ(Le32(&e[40]), 0xFFFFFFFFu);
  EXPECT_EQ(Le32(&e[44]), 0x14A5u);
  EXPECT_EQ(Le16(&e[48]), 1);
  EXPECT_EQ(Le64(&e[56]), 40u);
  EXPECT_EQ(Le64(&e[64]), 1u);
  for (size_t t0 : {72, 84, 96}) EXPECT_EQ(0, std::memcmp(&e[t0], b.settings.buildTimeStamp, 12));
  EXPECT_EQ(Le32(&e[108]), 1u);
  EXPECT_EQ(Text(&e[129], 12), "*Vellumcast ");
  EXPECT_EQ(Le64(&e[160]), 0u);
  EXPECT_EQ(Le32(&e[168]), 132u);
  EXPECT_EQ(Le32(&e[172]), 8u);
  EXPECT_EQ(Le32(&e[308]), 40u);
  EXPECT_EQ(Le32(&e[312]), 3u);
  // Extended attributes: header descriptor, free EA space, DVD CGMS information.
  EXPECT_TRUE(ValidTag(&e[176], 262, 2, 2, 24));
  EXPECT_EQ(Le32(&e[192]), 24u);
  EXPECT_EQ(Le32(&e[196]), 132u);
  struct Attribute {
    size_t at;
    uint32_t length, iuLength;
    const char* id;
  } attributes[] = {{200, 52, 4, "*UDF FreeEASpace"}, {252, 56, 8, "*UDF DVD CGMS Info"}};
  for (const Attribute& a : attributes) {
    EXPECT_EQ(Le32(&e[a.at]), 2048u);
    EXPECT_EQ(e[a.at + 4], 1);
    EXPECT_EQ(Le32(&e[a.at + 8]), a.length);
    EXPECT_EQ(Le32(&e[a.at + 12]), a.iuLength);
    EXPECT_EQ(Text(&e[a.at + 17], std::strlen(a.id)), a.id);
    EXPECT_EQ(Le16(&e[a.at + 16 + 24]), 0x0102);
    uint16_t sum = 0;
    for (int i = 0; i < 48; ++i) sum = uint16_t(sum + e[a.at + i]);
    EXPECT_EQ(Le16(&e[a.at + 48]), sum);
  }
  EXPECT_EQ(std::count(&e[316], &e[2048], 0), 2048 - 316);
}

TEST(FileEntry, ExtentSplittingAndEmptyFiles) {
  struct Case {
    uint64_t size;
    std::vector<Ad> expected;  // relative to the file's first block
  } cases[] = {
      {0, {{0, 0, 0}}},
      {1, {{1, 0, 0}}},
      {1073737728, {{1073737728, 0, 0}}},
      {1073737729, {{1073737728, 0, 0}, {1, 524286, 0}}},
      {3 * uint64_t(1073737728) + 4096,
       {{1073737728, 0, 0},
        {1073737728, 524286, 0},
        {1073737728, 2 * 524286, 0},
        {4096, 3 * 524286, 0}}},
  };
  for (uint16_t revision : {uint16_t(0x0102), uint16_t(0x0250)}) {
    for (const Case& c : cases) {
      ImageBuilder b;
      Configure(b, revision);
      LayoutTree t(FormatUdf);
      TreeNode* f = Add(t, &t.root(), u"f", false, c.size);
      f->dataStart = 7;
      f->uniqueId = 16;
      const uint32_t first = uint32_t(b.plan.fileDataOffset) + 7;
      std::vector<uint8_t> e = Entry(b, *f, 5);
      EXPECT_TRUE(ValidTag(e.data(), revision >= 0x0250 ? 266 : 261, 5, Version(b)));
      std::vector<Ad> ads = EntryAds(b, e.data());
      ASSERT_EQ(ads.size(), c.expected.size()) << c.size;
      for (size_t i = 0; i < ads.size(); ++i) {
        EXPECT_EQ(ads[i].length, c.expected[i].length);
        EXPECT_EQ(ads[i].block, c.size ? first + c.expected[i].block : 0u);
        EXPECT_EQ(ads[i].partition, 0);
      }
      const size_t lbr = revision >= 0x0250 ? 72 : 64;
      EXPECT_EQ(Le64(&e[56]), c.size);
      EXPECT_EQ(Le64(&e[lbr]), (c.size + 2047) / 2048);
      EXPECT_EQ(Le64(&e[revision >= 0x0250 ? 200 : 160]), 16u);
      EXPECT_EQ(e[16 + 11], 5);
      EXPECT_EQ(Le16(&e[16 + 18]), revision >= 0x0250 ? 0x21 : 0x20);
      EXPECT_EQ(Le16(&e[48]), 1);
      if (revision >= 0x0250) {
        EXPECT_EQ(Le64(&e[64]), c.size);
      }
    }
  }
}

TEST(FileEntry, FileTypesAndLinkCounts) {
  for (uint16_t revision : {uint16_t(0x0102), uint16_t(0x0250)}) {
    ImageBuilder b;
    Configure(b, revision);
    LayoutTree t(FormatUdf);
    TreeNode* dir = Add(t, &t.root(), u"d", true);
    Add(t, dir, u"a", true);
    Add(t, dir, u"b", true);
    Add(t, dir, u"c", false, 10);
    dir->udfDirLength = 40 + 3 * 44;
    dir->udfDirLocation = 9;
    dir->uniqueId = 16;
    std::vector<uint8_t> e = Entry(b, *dir, 8);
    EXPECT_EQ(e[16 + 11], 4);
    EXPECT_EQ(Le16(&e[16 + 18]), 0x20);
    EXPECT_EQ(Le16(&e[48]), 3);
    EXPECT_EQ(Le64(&e[56]), 172u);
    std::vector<Ad> ads = EntryAds(b, e.data());
    ASSERT_EQ(ads.size(), 1u);
    EXPECT_EQ(ads[0].length, 172u);
    EXPECT_EQ(ads[0].block, 9u);
    for (TreeNodeKind kind : {StereoInterleaved, StreamClip, StereoBase, StereoDependent}) {
      TreeNode* clip = Add(t, &t.root(), u"x.m2ts", false, 6144);
      clip->kind = kind;
      EXPECT_EQ(Entry(b, *clip, 20)[16 + 11], 249) << int(kind);
    }
  }
}

// A clip of `count` one-sector dependent extents interleaved with base extents.
StereoClipPair PairOf(uint32_t count) {
  StereoClipPair pair;
  for (uint32_t i = 0; i < count; ++i) {
    pair.dependentExtents.push_back(1);
    pair.baseExtents.push_back(2);
  }
  pair.dependentSectors = count;
  pair.baseSectors = 2 * count;
  return pair;
}

TEST(AllocationExtents, ContinuationChains) {
  struct Case {
    uint32_t extents, blocks;
    std::vector<uint32_t> perAed;  // allocation descriptors in each AED (continuation counted)
  } cases[] = {{114, 1, {}},
               {115, 2, {2}},
               {239, 2, {126}},
               {240, 3, {126, 2}},
               {500, 5, {126, 126, 126, 12}}};
  for (const Case& c : cases) {
    ImageBuilder b;
    Configure(b, 0x0250);
    LayoutTree t(FormatUdf);
    StereoClipPair pair = PairOf(c.extents);
    TreeNode* clip = Add(t, &t.root(), u"00001.m2ts", false, uint64_t(c.extents) * 2048);
    clip->kind = StereoDependent;
    clip->stereoPair = &pair;
    clip->extentCount = uint16_t(c.extents);
    clip->descriptorSectors = c.blocks;
    clip->dataStart = 100;
    EXPECT_EQ(ExtendedFileEntrySectors(c.extents), c.blocks);
    const uint32_t block = 40;
    std::vector<uint8_t> run = Entry(b, *clip, block);
    ASSERT_EQ(run.size(), c.blocks * 2048u);
    EXPECT_TRUE(ValidTag(run.data(), 266, block, 3));
    // Gather every extent along the chain.
    std::vector<Ad> all;
    std::vector<Ad> ads = EntryAds(b, run.data());
    EXPECT_EQ(Le16(&run[10]), 200 + ads.size() * 16);
    for (size_t k = 0;; ++k) {
      const bool continued = !ads.empty() && (ads.back().length >> 30) == 3;
      all.insert(all.end(), ads.begin(), ads.end() - (continued ? 1 : 0));
      if (!continued) {
        EXPECT_EQ(k, c.perAed.size());
        break;
      }
      EXPECT_EQ(ads.back().length, 0xC0000800u);
      EXPECT_EQ(ads.back().block, block + k + 1);
      EXPECT_EQ(ads.back().partition, 1);
      ASSERT_LT(k, c.perAed.size());
      const uint8_t* aed = &run[(k + 1) * 2048];
      EXPECT_TRUE(ValidTag(aed, 258, block + k + 1, 3));
      const uint32_t length = Le32(aed + 20);
      EXPECT_EQ(length, c.perAed[k] * 16);
      EXPECT_EQ(Le16(aed + 10), 8 + length);
      EXPECT_EQ(Le32(aed + 16), 0u);
      ads.clear();
      for (uint32_t o = 0; o < length; o += 16)
        ads.push_back({Le32(aed + 24 + o), Le32(aed + 28 + o), Le16(aed + 32 + o)});
    }
    ASSERT_EQ(all.size(), c.extents);
    for (uint32_t i = 0; i < c.extents; ++i) {
      EXPECT_EQ(all[i].length, 2048u);
      EXPECT_EQ(all[i].block, uint32_t(b.plan.fileDataOffset) + 100 + 3 * i);
      EXPECT_EQ(all[i].partition, 0);
    }
  }
}

// A plain UDF 2.50 file beyond 114 extents (over 114 GiB) continues in Allocation
// Extent Descriptors like a stereoscopic clip; UDF 1.02 refuses more than 217 short_ads.
TEST(AllocationExtents, LargePlainFiles) {
  ImageBuilder b;
  Configure(b, 0x0250);
  LayoutTree t(FormatUdf);
  TreeNode* big = Add(t, &t.root(), u"big", false, 114 * uint64_t(kMaxExtentBytes) + 1);
  EXPECT_EQ(FileEntrySectors(b.settings, *big), 2u);
  std::vector<uint8_t> run = Entry(b, *big, 10);
  EXPECT_EQ(Le32(&run[212]), 114u * 16);
  EXPECT_EQ(Le32(&run[216 + 113 * 16]), 0xC0000800u);
  EXPECT_TRUE(ValidTag(&run[2048], 258, 11, 3));
  EXPECT_EQ(Le32(&run[2048 + 20]), 32u);
  EXPECT_EQ(Le32(&run[2048 + 24 + 16]), 1u);  // the last byte, alone in extent 115
  EXPECT_EQ(Le32(&run[2048 + 28 + 16]), uint32_t(b.plan.fileDataOffset) + 114 * kMaxExtentSectors);

  ImageBuilder old;
  Configure(old, 0x0102);
  TreeNode* fits = Add(t, &t.root(), u"fits", false, 217 * uint64_t(kMaxExtentBytes));
  TreeNode* over = Add(t, &t.root(), u"over", false, 217 * uint64_t(kMaxExtentBytes) + 1);
  std::vector<uint8_t> s(2048, 0);
  EXPECT_TRUE(BuildFileEntry(test::WriterView(old), *fits, 3, s.data()));
  EXPECT_EQ(Le32(&s[172]), 217u * 8);
  EXPECT_EQ(old.log.error, "");
  EXPECT_FALSE(BuildFileEntry(test::WriterView(old), *over, 3, s.data()));
  EXPECT_EQ(old.log.error, "a file has more extents than one UDF 1.02 File Entry can record");
}

TEST(FileIdentifiers, ParentChildrenNamesAndBlockCrossing) {
  struct Case {
    uint16_t revision;
    uint8_t dvdVideo;
  } cases[] = {{0x0102, 0}, {0x0102, 1}, {0x0250, 0}};
  for (const Case& c : cases) {
    ImageBuilder b;
    Configure(b, c.revision);
    b.tree.dvdVideoMode = c.dvdVideo;
    LayoutTree t(FormatUdf);
    TreeNode* dir = Add(t, &t.root(), u"dir", true);
    dir->fileEntryLocation = 7;
    dir->uniqueId = 20;
    // 60 entries of 20-character names: 38 + 41 (16-bit) = 80 bytes each, so the
    // descriptors run across the block boundary at 2048 = 40 + 25 × 80 + 8.
    std::vector<TreeNode*> children;
    uint32_t length = 40;
    for (int i = 0; i < 60; ++i) {
      std::u16string name =
          u"name-" + std::u16string(14, u'a' + (i % 26)) + char16_t(u'A' + i % 26);
      TreeNode* child = Add(t, dir, name, i % 7 == 0, 5, c.dvdVideo);
      child->fileEntryLocation = 100 + i;
      child->uniqueId = 30 + i;
      length += (child->udfNameLength + 42) / 4 * 4;
      children.push_back(child);
    }
    dir->udfDirLength = length;
    const uint32_t blocks = (length + 2047) / 2048;
    std::vector<uint8_t> s(blocks * 2048, 0);
    ASSERT_TRUE(BuildDirectoryIdentifiers(test::WriterView(b), *dir, 50, s.data())) << b.log.error;
    const uint16_t partition = c.revision >= 0x0250 ? 1 : 0;
    // Parent entry.
    EXPECT_TRUE(ValidTag(s.data(), 257, 50, Version(b)));
    EXPECT_EQ(Le16(&s[10]), 24);
    EXPECT_EQ(Le16(&s[16]), 1);
    EXPECT_EQ(s[18], 0x0A);
    EXPECT_EQ(s[19], 0);
    EXPECT_EQ(Le32(&s[20]), 2048u);
    EXPECT_EQ(Le32(&s[24]), 2u);  // the root's entry
    EXPECT_EQ(Le16(&s[28]), partition);
    EXPECT_EQ(Le32(&s[32]), 0u);  // the root's unique ID is 0
    size_t offset = 40;
    bool crossed = false;
    for (const TreeNode* child : children) {
      const uint8_t* d = &s[offset];
      const uint32_t l = (38 + child->udfNameLength + 1 + 3) / 4 * 4;
      crossed |= offset / 2048 != (offset + l - 1) / 2048;
      EXPECT_TRUE(ValidTag(d, 257, 50 + uint32_t(offset / 2048), Version(b), s.size() - offset));
      EXPECT_EQ(Le16(d + 10), l - 16);
      EXPECT_EQ(d[18], child->isDirectory ? 0x02 : 0x00);
      EXPECT_EQ(d[19], child->udfNameLength + 1);
      EXPECT_EQ(Le32(d + 24), child->fileEntryLocation);
      EXPECT_EQ(Le16(d + 28), partition);
      EXPECT_EQ(Le32(d + 32), child->uniqueId);
      EXPECT_EQ(Le16(d + 36), 0);
      std::u16string name = child->name;
      if (c.dvdVideo) {
        EXPECT_EQ(d[38], 8);
        for (size_t i = 0; i < name.size(); ++i) EXPECT_EQ(d[39 + i], uint8_t(name[i]));
      } else {
        EXPECT_EQ(d[38], 16);
        for (size_t i = 0; i < name.size(); ++i)
          EXPECT_EQ(test::Le16(d + 39 + 2 * i), uint16_t(name[i] << 8 | name[i] >> 8));
      }
      offset += l;
    }
    EXPECT_TRUE(crossed);
    EXPECT_EQ(offset, length);
    EXPECT_EQ(std::count(s.begin() + length, s.end(), 0), ptrdiff_t(s.size() - length));

    // The parent entry of a subdirectory names its parent; UDF 2.50 records its ID.
    TreeNode* sub = children[0];
    sub->udfDirLength = 40;
    std::vector<uint8_t> p(2048, 0);
    ASSERT_TRUE(BuildDirectoryIdentifiers(test::WriterView(b), *sub, 60, p.data())) << b.log.error;
    EXPECT_EQ(Le32(&p[24]), 7u);
    EXPECT_EQ(Le32(&p[32]), c.revision >= 0x0250 ? 20u : 0u);

    dir->udfDirLength = length - 4;  // a plan that disagrees is refused
    EXPECT_FALSE(BuildDirectoryIdentifiers(test::WriterView(b), *dir, 50, s.data()));
    EXPECT_EQ(b.log.error, "a UDF directory does not match its planned length");
    b.log.error.clear();
    sub->udfDirLength = 0;  // not even room for the parent entry: nothing is written
    EXPECT_FALSE(BuildDirectoryIdentifiers(test::WriterView(b), *sub, 60, nullptr));
    EXPECT_EQ(b.log.error, "a UDF directory does not match its planned length");
  }
}

TEST(FileIdentifiers, EscapedBytesShowAsReplacementCharacter) {
  ImageBuilder b;
  Configure(b, 0x0250);
  LayoutTree t(FormatUdf);
  TreeNode* root = &t.root();
  Add(t, root, std::u16string(u"a") + char16_t(0xDCE9), false);
  root->udfDirLength = 40 + 44;
  std::vector<uint8_t> s(2048, 0);
  ASSERT_TRUE(BuildDirectoryIdentifiers(test::WriterView(b), *root, 3, s.data())) << b.log.error;
  EXPECT_EQ(s[40 + 39], 0x00);
  EXPECT_EQ(s[40 + 40], 'a');
  EXPECT_EQ(s[40 + 41], 0xFF);
  EXPECT_EQ(s[40 + 42], 0xFD);
}

}  // namespace
}  // namespace vellumcast
