// The layout plan: the image maps of every format, ISO 9660 directory packing, file data
// placement, UDF block allocation and the limits that make the plan fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "base/disc_constants.h"
#include "build/build_job.h"
#include "layout/entry_extents.h"
#include "layout/layout_rules.h"
#include "tree/disc_video_rules.h"
#include "tree_test_support.h"

namespace vellumcast {
namespace {

using test::LayoutTree;

constexpr uint32_t kIsoUdf = FormatIso9660 | FormatUdf;

TEST(LayoutPlan, EmptyFolderImageMaps) {
  struct Case {
    uint32_t flags;
    uint16_t revision;
    int32_t volume, dataBase, fileDataOffset, partitionLength, pathTableStart;
    uint32_t metadataBlocks;
    int32_t mirrorEntry, mirrorStart;
  };
  const Case cases[] = {
      {FormatIso9660, 0x0102, 32, 18, 3, 0, 18, 0, 0, 0},
      {FormatUdf, 0x0102, 288, 257, 4, 4, 257, 4, 0, 0},
      {kIsoUdf, 0x0102, 288, 260, 4, 4, 257, 4, 0, 0},
      {FormatUdf, 0x0250, 448, 288, 64, 128, 257, 32, 352, 384},
  };
  for (const Case& c : cases) {
    LayoutTree t(c.flags, c.revision);
    ASSERT_TRUE(t.builder.PlanLayout());
    const ImageBuilder& b = t.builder;
    EXPECT_EQ(b.plan.volumeSectors, c.volume) << c.flags;
    EXPECT_EQ(b.plan.dataBase, c.dataBase);
    EXPECT_EQ(b.plan.fileDataOffset, c.fileDataOffset);
    EXPECT_EQ(b.plan.partitionLength, c.partitionLength);
    EXPECT_EQ(b.plan.pathTableStart, c.pathTableStart);
    EXPECT_EQ(b.plan.metadataBlocks, c.metadataBlocks);
    EXPECT_EQ(b.plan.mirrorEntrySector, c.mirrorEntry);
    EXPECT_EQ(b.plan.mirrorStart, c.mirrorStart);
    EXPECT_EQ(b.plan.fileDataSectors, 0);
    bool iso = c.flags & FormatIso9660;
    EXPECT_EQ(b.plan.pathTableBytes, iso ? 10u : 0u);
    EXPECT_EQ(b.plan.pathTableSectors, iso ? 1 : 0);
    EXPECT_EQ(b.plan.isoDirectorySectors, iso ? 1 : 0);
    if (iso) {
      EXPECT_EQ(t.root().isoDirSize, 68u);
    }
    if (c.flags & FormatUdf) {
      EXPECT_EQ(t.root().udfDirLocation, 3u);
      EXPECT_EQ(t.root().udfDirLength, 40u);
      EXPECT_EQ(t.root().fileEntryLocation, 2u);
    }
  }
}

TEST(LayoutPlan, IsoDirectoryRecordsNeverCrossASector) {
  struct Case {
    bool dvd;
    int files;
    uint64_t size;
    uint32_t expectedSize;
  };
  const Case cases[] = {
      // 68 bytes of self and parent, 48-byte records: 41 fit the first sector, 19 follow.
      {false, 60, 0, 2048 + 19 * 48},
      // DVD-Video: 80 bytes of self and parent, 54-byte records: 36, then 24.
      {true, 60, 0, 2048 + 24 * 54},
      // Files of 4 GiB and more take one record per extent of at most 0xFFFFF800 bytes.
      {false, 1, (uint64_t(1) << 32) - 1, 68 + 48},
      {false, 1, uint64_t(1) << 32, 68 + 2 * 48},
      {false, 1, 2 * kIsoMaxExtentBytes + 1, 68 + 3 * 48},
  };
  for (const Case& c : cases) {
    LayoutTree t(c.dvd ? kIsoUdf : FormatIso9660, 0x0102, c.dvd);
    for (int i = 0; i < c.files; ++i) {
      char16_t name[] = u"file0000.txt";
      name[6] = char16_t('0' + i / 10);
      name[7] = char16_t('0' + i % 10);
      t.AddFile(t.root(), name, c.size);
    }
    ASSERT_TRUE(t.builder.PlanLayout());
    EXPECT_EQ(t.root().isoDirSize, c.expectedSize) << c.files << " " << c.size;
    EXPECT_EQ(uint64_t(t.builder.plan.isoDirectorySectors), SectorsFor(c.expectedSize));
  }
}

TEST(LayoutPlan, FileDataFollowsPrimaryOrderAndEmptyFilesShareAStart) {
  LayoutTree t(FormatUdf, 0x0102);
  TreeNode* sub = t.AddDir(t.root(), u"sub");
  TreeNode* a = t.AddFile(t.root(), u"a", 1);
  TreeNode* empty = t.AddFile(t.root(), u"b", 0);
  TreeNode* c = t.AddFile(t.root(), u"c", 5000);
  TreeNode* inner = t.AddFile(*sub, u"x", 2048);
  ASSERT_TRUE(t.builder.PlanLayout());
  EXPECT_EQ(a->dataStart, 0u);
  EXPECT_EQ(empty->dataStart, 1u);
  EXPECT_EQ(c->dataStart, 1u);
  EXPECT_EQ(inner->dataStart, 4u);  // the root's files come before the subdirectory's
  EXPECT_EQ(t.builder.plan.fileDataSectors, 5);
  EXPECT_EQ(FileDataSector(t.builder.plan, *c), 257u + t.builder.plan.metadataBlocks + 1);
}

TEST(EntryExtents, Counts) {
  for (auto [extents, sectors] : std::vector<std::pair<uint64_t, uint32_t>>{
           {0, 1}, {1, 1}, {114, 1}, {115, 2}, {239, 2}, {240, 3}, {364, 3}, {365, 4}}) {
    EXPECT_EQ(ExtendedFileEntrySectors(extents), sectors) << extents;
  }
  for (auto [size, records] :
       std::vector<std::pair<uint64_t, uint32_t>>{{0, 1},
                                                  {0xFFFFFFFF, 1},
                                                  {uint64_t(1) << 32, 2},
                                                  {2 * kIsoMaxExtentBytes, 2},
                                                  {2 * kIsoMaxExtentBytes + 1, 3}}) {
    EXPECT_EQ(IsoExtentCount(size), records) << size;
  }
  EXPECT_EQ(UdfExtentCount(kMaxExtentBytes), 1u);
  EXPECT_EQ(UdfExtentCount(uint64_t(kMaxExtentBytes) + 1), 2u);
}

TEST(LayoutPlan, FilesWithManyExtentsGetMoreEntryBlocksOrFail) {
  // UDF 2.50: 115 extents need the entry and one Allocation Extent Descriptor.
  LayoutTree t(FormatUdf, 0x0250);
  TreeNode* big = t.AddFile(t.root(), u"big", 115 * uint64_t(kMaxExtentBytes));
  TreeNode* next = t.AddFile(t.root(), u"next", 1);
  ASSERT_TRUE(t.builder.PlanLayout()) << t.builder.log.error;
  EXPECT_EQ(big->fileEntryLocation, 4u);
  EXPECT_EQ(next->fileEntryLocation, 6u);
  EXPECT_EQ(FileEntrySectors(t.builder.settings, *big), 2u);

  // UDF 1.02: a File Entry holds 217 short_ads.
  for (uint64_t extents : {217, 218}) {
    LayoutTree u(kIsoUdf, 0x0102);
    u.AddFile(u.root(), u"big", extents * kMaxExtentBytes);
    EXPECT_EQ(u.builder.PlanLayout(), extents == 217) << extents;
    if (extents == 218) {
      EXPECT_NE(u.builder.log.error.find("UDF 1.02"), std::string::npos);
    }
  }
}

TEST(LayoutPlan, LimitsOfTheSectorFieldsAndThePathTable) {
  // Two files of 2^30 sectors each: 2^31 sectors do not fit the signed 32-bit fields.
  LayoutTree huge(FormatIso9660);
  for (auto name : {u"a", u"b"}) huge.AddFile(huge.root(), name, uint64_t(1) << 41);
  EXPECT_FALSE(huge.builder.PlanLayout());
  EXPECT_NE(huge.builder.log.error.find("too large"), std::string::npos);

  // 65535 directories (the root included) can be numbered in a path table, 65536 not;
  // UDF alone has no such limit.
  struct Case {
    uint32_t flags;
    uint32_t directories;
    bool ok;
  };
  for (Case c : {Case{FormatIso9660, 65535, true}, Case{kIsoUdf, 65536, false},
                 Case{FormatUdf, 65536, true}}) {
    LayoutTree t(c.flags);
    for (uint32_t i = 1; i < c.directories; ++i) {
      std::u16string name = u"d";
      for (uint32_t v = i; v; v /= 10) name.insert(name.begin() + 1, char16_t('0' + v % 10));
      t.AddDir(t.root(), name);
    }
    EXPECT_EQ(t.builder.PlanLayout(), c.ok) << c.directories;
    if (!c.ok) {
      EXPECT_NE(t.builder.log.error.find("65535"), std::string::npos);
    }
  }
}

// What only ISO 9660 records, asked for in an image without it, is refused by the layout
// in the words the build job and the front end refuse the request with.
TEST(LayoutPlan, RefusesIsoExtensionsWithoutIso9660AsTheBuildJobDoes) {
  for (int asked = 0; asked < 3; ++asked) {
    BuildOptions options;
    (asked == 0 ? options.rockRidge : asked == 1 ? options.joliet : options.boot.hybrid) = true;
    LayoutTree t(FormatUdf, 0x0250);
    t.builder.settings.rockRidge = options.rockRidge;
    t.builder.settings.joliet = options.joliet;
    t.builder.settings.boot = options.boot;
    EXPECT_FALSE(t.builder.PlanLayout());
    const std::string refused = IsoExtensionsRefused(options, FileSystemChoice::Udf250);
    EXPECT_NE(refused, "");
    EXPECT_EQ(t.builder.log.error, refused);
  }
}

TEST(LayoutPlan, StereoscopicClipsShareTheInterleavedRun) {
  LayoutTree t(FormatUdf, 0x0250);
  StereoClipPair pair;
  TreeNode* stream = t.AddDir(t.root(), u"STREAM");
  TreeNode* base = t.AddFile(*stream, u"00001.m2ts", 10 * 2048);
  TreeNode* dependent = t.AddFile(*stream, u"00002.m2ts", 6 * 2048);
  TreeNode* ssif = t.AddDir(*stream, u"SSIF");
  TreeNode* interleaved = t.AddFile(*ssif, u"00001.ssif", 16 * 2048);
  base->kind = StereoBase;
  dependent->kind = StereoDependent;
  interleaved->kind = StereoInterleaved;
  for (TreeNode* n : {base, dependent, interleaved}) {
    n->baseNode = base;
    n->dependentNode = dependent;
  }
  base->stereoPair = dependent->stereoPair = &pair;
  base->descriptorSectors = 3;
  dependent->descriptorSectors = 1;
  t.builder.tree.extraDescriptorSectors = 2;
  t.builder.tree.ssifDirectory = ssif;
  TreeNode* after = t.AddFile(t.root(), u"z", 2048);
  ASSERT_TRUE(t.builder.PlanLayout()) << t.builder.log.error;
  EXPECT_EQ(after->dataStart, 0u);  // the root's files come first
  EXPECT_EQ(dependent->dataStart, 1u);
  EXPECT_EQ(base->dataStart, 1u);
  EXPECT_EQ(interleaved->dataStart, 1u);
  EXPECT_EQ(t.builder.plan.fileDataSectors, 17);
  // Blocks: 3 fixed, root data 3, STREAM and z entries 4-5, STREAM data 6, base 7-9,
  // dependent 10, SSIF 11, SSIF data 12, .ssif entry 13.
  EXPECT_EQ(base->fileEntryLocation, 7u);
  EXPECT_EQ(dependent->fileEntryLocation, 10u);
  EXPECT_EQ(interleaved->fileEntryLocation, 13u);
  EXPECT_EQ(t.builder.plan.metadataBlocks, 32u);
}

TEST(LayoutPlan, UdfBlocksAgreeWithTheTreeCounters) {
  LayoutTree t(FormatUdf, 0x0102);
  t.AddFile(t.root(), u"a", 1);
  ++t.builder.tree.totalFileCount;  // a file counted but not in the tree
  EXPECT_FALSE(t.builder.PlanLayout());
  EXPECT_NE(t.builder.log.error.find("internal layout error"), std::string::npos);
  // The same with a stereoscopic plan: the stream pass keeps the counters exact, and
  // the integrity descriptor records them.
  t.builder.log.error.clear();
  t.builder.tree.stereoPlan = std::make_unique<StereoPlan>();
  EXPECT_FALSE(t.builder.PlanLayout());
  EXPECT_NE(t.builder.log.error.find("internal layout error"), std::string::npos);
}

// Properties of the plan of a generated tree: file data runs follow each other without
// gap or overlap in depth-first primary order; UDF blocks are handed out once each and
// fill the file-system area; ISO 9660 extents follow each other in directory-number order.
TEST(LayoutPlan, GeneratedTreeProperties) {
  struct Format {
    uint32_t flags;
    uint16_t revision;
    bool dvd;
  };
  for (Format f : {Format{FormatIso9660, 0x0102, false}, Format{kIsoUdf, 0x0102, true},
                   Format{FormatUdf, 0x0102, false}, Format{FormatUdf, 0x0250, false}}) {
    LayoutTree t(f.flags, f.revision, f.dvd);
    std::mt19937 random(7);
    std::vector<TreeNode*> dirs{&t.root()};
    for (int i = 0; i < 400; ++i) {
      TreeNode& parent = *dirs[random() % dirs.size()];
      std::u16string name;
      for (int n = 1 + random() % 14; n > 0; --n)
        name.push_back(u"abcXYZ._-09\u00e9"[random() % 12]);
      if (random() % 4 == 0) {
        dirs.push_back(t.AddDir(parent, name));
      } else {
        t.AddFile(parent, name, random() % 3 == 0 ? 0 : random() % 50000);
      }
    }
    ASSERT_TRUE(t.builder.PlanLayout()) << t.builder.log.error;
    const ImageBuilder& b = t.builder;

    uint32_t expectedStart = 0;
    std::set<uint32_t> uniqueIds;
    std::function<void(TreeNode&)> walk = [&](TreeNode& d) {
      for (TreeNode* e = d.firstChild; e; e = e->nextSibling) {
        EXPECT_TRUE(uniqueIds.insert(e->uniqueId).second);
        if (e->isDirectory) continue;
        EXPECT_EQ(e->dataStart, expectedStart);
        expectedStart += e->sectorCount;
      }
      for (TreeNode* e = d.firstChild; e; e = e->nextSibling)
        if (e->isDirectory) walk(*e);
    };
    walk(t.root());
    EXPECT_EQ(uint32_t(b.plan.fileDataSectors), expectedStart);
    EXPECT_GE(*uniqueIds.begin(), 16u);
    EXPECT_EQ(b.plan.volumeSectors % 32, 0);
    EXPECT_GE(b.plan.volumeSectors,
              b.plan.dataBase + b.plan.fileDataOffset + b.plan.fileDataSectors);

    if (f.flags & FormatUdf) {
      std::vector<int> owner(b.plan.metadataBlocks, 0);
      for (uint32_t block = 0; block < 3; ++block) owner[block] = 1;
      std::function<void(TreeNode&)> blocks = [&](TreeNode& d) {
        for (uint32_t i = 0; i < UdfDirectorySectors(d); ++i) ++owner.at(d.udfDirLocation + i);
        for (TreeNode* e = d.firstChild; e; e = e->nextSibling) {
          ++owner.at(e->fileEntryLocation);
          if (e->isDirectory) blocks(*e);
        }
      };
      blocks(t.root());
      uint32_t used = uint32_t(std::count(owner.begin(), owner.end(), 1));
      EXPECT_EQ(std::count_if(owner.begin(), owner.end(), [](int n) { return n > 1; }), 0);
      EXPECT_EQ(std::count(owner.begin(), owner.begin() + used, 0), 0);  // no gap
      if (f.revision < 0x0250) {
        EXPECT_EQ(used, b.plan.metadataBlocks);
      }
    }
    if (f.flags & FormatIso9660) {
      std::map<uint16_t, TreeNode*> byNumber;
      std::function<void(TreeNode&)> collect = [&](TreeNode& d) {
        EXPECT_TRUE(byNumber.emplace(d.pathTableNumber, &d).second);
        std::set<std::string> names;
        for (TreeNode* e = d.isoFirstChild; e; e = e->isoNextSibling) {
          EXPECT_TRUE(names.insert(test::IsoName(e)).second) << test::IsoName(e);
          if (e->isDirectory) collect(*e);
        }
      };
      collect(t.root());
      uint32_t location = 0;
      for (auto& [number, d] : byNumber) {
        EXPECT_EQ(d->isoDirLocation, location) << number;
        location += uint32_t(SectorsFor(d->isoDirSize));
      }
      EXPECT_EQ(byNumber.begin()->first, 1);
      EXPECT_EQ(location, uint32_t(b.plan.isoDirectorySectors));
    }
  }
}

}  // namespace
}  // namespace vellumcast
