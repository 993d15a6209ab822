// Damaged copies of real images: each damage is reported with its reason, naming the
// structure and its sector or block.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "choice_text.h"
#include "reader/ecma167_descriptors.h"
#include "reader/image_survey.h"
#include "reader/iso9660_tree.h"
#include "reader/udf_tree.h"
#include "reader_images.h"

namespace vellumcast {
namespace {

using Image = std::string;
using test::At;
using test::FindTag;
using test::Le16;
using test::Le32;

using enum ReadProblemKind;

void PutBoth32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = p[7 - i] = uint8_t(v >> (8 * i));
}

// Sets the tag's CRC and checksum again after a change of the descriptor's fields.
void Reseal(uint8_t* d) {
  const uint16_t crc = UdfCrc(d + 16, Le16(d + 10));
  d[8] = uint8_t(crc);
  d[9] = uint8_t(crc >> 8);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = uint8_t(sum + d[i]);
  d[4] = sum;
}

struct DamageCase {
  const char* name;
  int base;  // 0: ISO 9660 + UDF 1.02, 1: UDF 2.50
  std::function<void(Image&)> damage;
  const char* expected;   // a problem holds this text
  ReadProblemKind kind;   // and is of this kind
  const char* structure;  // in this structure
};

const DamageCase kDamageCases[] = {
    {"AnchorsDisagree", 0,
     [](Image& i) {
       uint8_t* last = At(i, i.size() / 2048 - 1);
       last[20] ^= 1;
       Reseal(last);
     },
     "anchor volume descriptor pointers at sector 256 and sector ", kDamaged,
     "anchor volume descriptor pointer"},
    {"FileEntry", 0, [](Image& i) { At(i, FindTag(i, 261, 257, 5))[60] ^= 1; }, "tag crc wrong",
     kDamaged, "file entry"},
    {"ExtendedFileEntry", 1, [](Image& i) { At(i, FindTag(i, 266, 257, 5))[60] ^= 1; },
     "tag crc wrong", kDamaged, "file entry"},
    {"FileIdentifier", 0, [](Image& i) { At(i, FindTag(i, 257, 257))[18] ^= 0x10; },
     "udf: file identifier at block", kDamaged, "file identifier"},
    {"DirectoryRecord", 0,
     [](Image& i) {
       uint8_t* root = At(i, Le32(At(i, 16) + 158));
       root[root[0] + root[root[0]]] = 33;
     },
     "record length too small", kDamaged, "directory record"},
    {"PathTable", 0, [](Image& i) { At(i, Le32(At(i, 16) + 140))[10 + 3] ^= 0x40; },
     "is no directory of the hierarchy", kDamaged, "path table"},
    {"TypeMPathTable", 0,
     [](Image& i) { At(i, __builtin_bswap32(Le32(At(i, 16) + 148)))[10 + 7] ^= 1; },
     "type m path table at sector", kDamaged, "path table"},
    {"WrongCrc", 0, [](Image& i) { At(i, FindTag(i, 6))[8] ^= 1; },
     "main volume descriptor sequence: descriptor at sector", kDamaged,
     "volume descriptor sequence"},
    {"Truncated", 0, [](Image& i) { i.resize(i.size() - 64 * 2048); },
     "anchor volume descriptor pointer at the last sector", kAbsent,
     "anchor volume descriptor pointer"},
    {"TruncatedIso", 0, [](Image& i) { i.resize(i.size() - 64 * 2048); }, "volume space size",
     kUnreadable, "volume descriptor"},
    {"MetadataMirror", 1,
     [](Image& i) {
       const uint8_t* mirror = At(i, FindTag(i, 266, 257, 251));
       const uint32_t block = Le32(mirror + 216 + Le32(mirror + 208) + 4);
       At(i, Le32(At(i, FindTag(i, 5)) + 188) + block)[300] ^= 1;
     },
     "differs from the metadata file at byte 300", kDamaged, "metadata mirror file"},
    {"IntegrityCounts", 1,
     [](Image& i) {
       uint8_t* lvid = At(i, FindTag(i, 9));
       lvid[80 + 8 * Le32(lvid + 72) + 32] += 1;
       Reseal(lvid);
     },
     "files and", kDamaged, "logical volume integrity descriptor"},
    {"IsoLoop", 0,
     [](Image& i) {
       uint8_t* root = At(i, Le32(At(i, 16) + 158));
       uint8_t* child = root + root[0] + root[root[0]];
       std::memcpy(child + 2, root + 2, 8);  // the first subdirectory's extent: the root
     },
     "loops back", kDamaged, "directory record"},
    {"UdfLoop", 0,
     [](Image& i) {
       uint8_t* parent = At(i, FindTag(i, 257, 257));
       uint8_t* child = parent + 40;  // the first named identifier after the parent entry
       child[18] |= 0x02;             // a directory
       std::memcpy(child + 24, parent + 24, 6);  // whose entry is the parent entry's
       Reseal(child);
     },
     "loops back", kDamaged, "file identifier"},
    {"TagLocation", 0,
     [](Image& i) {
       uint8_t* fe = At(i, FindTag(i, 261, 257, 5));
       fe[12] += 1;
       Reseal(fe);
     },
     "tag location wrong", kDamaged, "file entry"},
    {"NoJolietTree", 0, [](Image&) {}, "joliet: no supplementary volume descriptor", kAbsent,
     "volume descriptor"},
    {"NoRockRidge", 0, [](Image&) {}, "no sp entry and rock ridge er entry", kAbsent,
     "directory record"},
    {"IsoExtentPastTheEnd", 0,
     [](Image& i) {
       uint8_t* root = At(i, Le32(At(i, 16) + 158));
       PutBoth32(root + root[0] + root[root[0]] + 10, 100u << 20);  // the first entry's length
     },
     "passes the end of the image", kUnreadable, "directory record"},
    {"UdfDirectoryTooLarge", 0,
     [](Image& i) {
       uint8_t* fe = At(i, FindTag(i, 261, 257, 4));
       for (int b = 0; b < 8; ++b) fe[56 + b] = uint8_t(uint64_t(100u << 20) >> (8 * b));
       Reseal(fe);
     },
     "directory of 104857600 bytes is too large", kLimitReached, "file entry"},
    {"IsoInterleaved", 0,
     [](Image& i) {
       uint8_t* root = At(i, Le32(At(i, 16) + 158));
       root[root[0] + root[root[0]] + 26] = 1;  // the first subdirectory's unit size
     },
     "interleaved file not supported", kUnsupported, "directory record"},
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class ReaderDamage : public ::testing::TestWithParam<DamageCase> {
 public:
  static void SetUpTestSuite() {
    test::TempDir source, out;
    test::MakeReaderTree(source.path());
    images[0] =
        test::BuildReaderImage(source.path(), out / "a.iso", FileSystemChoice::Iso9660Udf102);
    images[1] = test::BuildReaderImage(source.path(), out / "b.iso", FileSystemChoice::Udf250);
  }
  static Image images[2];
};
Image ReaderDamage::images[2];

TEST_P(ReaderDamage, IsReportedWithItsReason) {
  const DamageCase& c = GetParam();
  ASSERT_FALSE(images[c.base].empty());
  Image img = images[c.base];
  c.damage(img);
  ImageSource image;
  image.OpenMemory(reinterpret_cast<const uint8_t*>(img.data()), img.size());
  ImageTree tree;
  ReadReport report;
  if (c.base == 0) {
    for (IsoNames names : {kIsoPlainNames, kIsoRockRidgeNames, kIsoJolietNames})
      (void)ReadIso9660Tree(image, tree, report, {}, names);
  }
  (void)ReadUdfTree(image, tree, report);
  std::string all;
  const ReadProblem* found = nullptr;
  for (const ReadProblem& p : report.problems) {
    all += p.text + "\n";
    if (!found && p.text.find(c.expected) != std::string::npos) found = &p;
  }
  ASSERT_TRUE(found) << all;
  EXPECT_EQ(found->kind, c.kind) << found->text;
  EXPECT_STREQ(found->structure, c.structure) << found->text;
}

// A problem names where it lies: the image sector of its structure and the entry.
TEST(ReadProblem, NamesItsSectorAndEntry) {
  test::TempDir source, out;
  test::WriteFile(source / "dir/file.txt", "x");
  Image img = test::BuildReaderImage(source.path(), out / "a.iso", FileSystemChoice::Udf102);
  ASSERT_FALSE(img.empty());
  const size_t entry = FindTag(img, 261, 257, 5);  // the File Entry of dir/file.txt
  At(img, entry)[60] ^= 1;
  ImageSource image;
  image.OpenMemory(reinterpret_cast<const uint8_t*>(img.data()), img.size());
  ImageTree tree;
  ReadReport report;
  ASSERT_TRUE(ReadUdfTree(image, tree, report));
  ASSERT_EQ(report.problems.size(), 1u);
  const ReadProblem& p = report.problems[0];
  EXPECT_EQ(p.kind, kDamaged);
  EXPECT_EQ(p.sector, entry);
  EXPECT_EQ(p.path, "dir/file.txt");
  EXPECT_EQ(p.text, "udf: file entry at block " + std::to_string(Le32(At(img, entry) + 12)) +
                        " (dir/file.txt): tag crc wrong");
}

INSTANTIATE_TEST_SUITE_P(Copies, ReaderDamage, ::testing::ValuesIn(kDamageCases),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace vellumcast

namespace vellumcast {
namespace {

// ECMA-119 6.5.1: a file of two extents, made from the one record of a real image.
// Without a final record (every record flagged multi-extent) it is reported.
TEST(ReaderIso9660, MultiExtentFile) {
  test::TempDir source, out;
  const std::string bytes = test::PatternBytes(5000, 9);
  test::WriteFile(source / "BIG.BIN", bytes);
  Image original = test::BuildReaderImage(source.path(), out / "a.iso", FileSystemChoice::Iso9660);
  ASSERT_FALSE(original.empty());
  for (bool final : {true, false}) {
    Image img = original;
    uint8_t* root = At(img, Le32(At(img, 16) + 158));
    uint8_t* first = root + root[0] + root[root[0]];
    uint8_t* second = first + first[0];
    std::memcpy(second, first, first[0]);
    first[25] |= 0x80;
    PutBoth32(first + 10, 2048);
    PutBoth32(second + 2, Le32(first + 2) + 1);
    PutBoth32(second + 10, 5000 - 2048);
    if (!final) second[25] |= 0x80;
    // The root's data length (in its "." and ".." records and in the volume descriptor)
    // grows by the record.
    PutBoth32(root + 10, Le32(root + 10) + second[0]);
    PutBoth32(root + root[0] + 10, Le32(root + 10));
    PutBoth32(At(img, 16) + 156 + 10, Le32(root + 10));
    ImageSource image;
    image.OpenMemory(reinterpret_cast<const uint8_t*>(img.data()), img.size());
    ImageTree tree;
    ReadReport report;
    ASSERT_TRUE(ReadIso9660Tree(image, tree, report));
    ASSERT_EQ(tree.entries.size(), 1u);
    const ImageEntry& e = tree.entries[0];
    EXPECT_EQ(e.path, "BIG.BIN");
    EXPECT_EQ(e.extents.size(), 2u);
    std::string read(5000, '\0');
    ASSERT_TRUE(ReadEntryBytes(image, e, 0, reinterpret_cast<uint8_t*>(read.data()), read.size()));
    EXPECT_TRUE(read == bytes);
    if (final) {
      EXPECT_TRUE(report.Clean()) << report.problems[0].text;
    } else {
      ASSERT_EQ(report.problems.size(), 1u);
      EXPECT_EQ(report.problems[0].text,
                "iso9660: directory /: multi-extent file BIG.BIN has no final record");
    }
  }
}

}  // namespace
}  // namespace vellumcast

namespace vellumcast {
namespace {

// An image followed by sectors it does not own (a device's or a disc's run-out, here
// left-over anchors of a longer image): its own descriptors say where it ends.
TEST(RecordedSectors, EndWhereTheDescriptorsSay) {
  test::TempDir source, out;
  test::MakeReaderTree(source.path());
  for (FileSystemChoice choice : {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102,
                                  FileSystemChoice::Udf102, FileSystemChoice::Udf250}) {
    SCOPED_TRACE(ChoiceText(choice));
    Image image = test::BuildReaderImage(source.path(), out / "a.iso", choice);
    ASSERT_FALSE(image.empty());
    const uint64_t sectors = image.size() / kImageSectorSize;
    // Past the image, an anchor of an earlier, longer image: its last sector copied there,
    // then its tag location made that sector's, then its main sequence moved as well.
    for (int stale = 0; stale < 3; ++stale) {
      Image device = image + Image(200 * kImageSectorSize, '\0');
      uint8_t* last = reinterpret_cast<uint8_t*>(device.data()) + device.size() - 2048;
      std::memcpy(last, image.data() + image.size() - 2048, 2048);
      if (choice != FileSystemChoice::Iso9660 && stale > 0) {
        for (int i = 0; i < 4; ++i) last[12 + i] = uint8_t((sectors + 199) >> (8 * i));
        if (stale == 2) last[20] ^= 1;
        Reseal(last);
      }
      ImageSource source;
      source.OpenMemory(reinterpret_cast<const uint8_t*>(device.data()), device.size());
      EXPECT_EQ(RecordedSectors(source), sectors) << stale;
    }
  }
}

}  // namespace
}  // namespace vellumcast
