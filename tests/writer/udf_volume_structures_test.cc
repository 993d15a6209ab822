// UDF descriptor tag, CRC and the volume structures, checked byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "build/image_builder.h"
#include "udf_tag_check.h"
#include "writer/descriptor_tag.h"
#include "writer/integrity.h"
#include "writer/metadata_file.h"
#include "writer/volume_descriptors.h"
#include "writer_view.h"

namespace vellumcast {
namespace {

using test::Le16;
using test::Le32;
using test::Le64;
using test::Text;
using test::ValidTag;

using Sector = std::vector<uint8_t>;

// A builder planned as the layout would plan an image of 5 files and 2 directories.
void Plan(ImageBuilder& b, uint16_t revision) {
  b.settings.formatFlags = 4;
  b.settings.udfRevision = revision;
  b.settings.buildTime = 0x12345678;
  for (int i = 0; i < 12; ++i) b.settings.buildTimeStamp[i] = uint8_t(0xA0 + i);
  b.SetImplementationId("Vellumcast ");
  b.SetApplicationId("vellumcast_console 1.0");
  std::memset(b.settings.volumeLabel, 0, 128);
  b.settings.volumeLabel[0] = 8;
  std::memcpy(b.settings.volumeLabel + 1, "Film", 4);
  b.settings.volumeLabel[127] = 5;
  b.tree.totalFileCount = 5;
  b.tree.totalDirectoryCount = 2;
  if (revision >= 0x0250) {
    b.plan.dataBase = 288;
    b.plan.metadataBlocks = 32;
    b.plan.fileDataOffset = 64;
    b.plan.fileDataSectors = 10;
    b.plan.mirrorEntrySector = 320 + 32 + 10;
    b.plan.mirrorStart = 384;
    b.plan.partitionLength = 32 + 384 - 288;
    b.plan.volumeSectors = 384 + 32 + 32;
  } else {
    b.plan.dataBase = 257;
    b.plan.metadataBlocks = 12;
    b.plan.fileDataOffset = 12;
    b.plan.fileDataSectors = 10;
    b.plan.partitionLength = 22;
    b.plan.volumeSectors = 288;
  }
}

template <typename Build>
Sector Built(Build build) {
  Sector s(2048, 0);
  build(s.data());
  return s;
}

TEST(DescriptorTag, CrcOfCheckStringAndTableEntries) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(DescriptorCrc(digits, 9), 0x31C3);
  const uint8_t one = 1, all = 255;
  EXPECT_EQ(DescriptorCrc(&one, 1), 0x1021);
  EXPECT_EQ(DescriptorCrc(&all, 1), 0x1EF0);
  EXPECT_EQ(DescriptorCrc(digits, 0), 0);
  EXPECT_EQ(DescriptorCrc(digits, -5), 0);
  std::string pattern(1000, '\0');
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = char(i * 7 + 3);
  auto* bytes = reinterpret_cast<const uint8_t*>(pattern.data());
  // Every length from 0 to 40 (whole eight-byte steps and every tail) and a long run.
  for (int64_t n = 0; n <= 40; ++n)
    EXPECT_EQ(DescriptorCrc(bytes + 3, n), test::BitwiseCrc(bytes + 3, n)) << n;
  EXPECT_EQ(DescriptorCrc(bytes, 1000), test::BitwiseCrc(bytes, 1000));
}

TEST(DescriptorTag, PutDescriptorTagFieldsAndChecksum) {
  for (uint16_t revision : {uint16_t(0x0102), uint16_t(0x0250)}) {
    Sector d(2048, 0);
    for (int i = 16; i < 40; ++i) d[i] = uint8_t(i);
    uint8_t* after = PutDescriptorTag(d.data(), 261, 24, 0x01020304, revision);
    EXPECT_EQ(after, d.data() + 16);
    EXPECT_TRUE(ValidTag(d.data(), 261, 0x01020304, revision >= 0x0250 ? 3 : 2));
    EXPECT_EQ(Le16(d.data() + 10), 24);
    EXPECT_EQ(d[5], 0);
    d[39] ^= 1;  // a body byte changed after tagging breaks the CRC
    EXPECT_FALSE(ValidTag(d.data(), 261, 0x01020304, revision >= 0x0250 ? 3 : 2));
  }
}

TEST(DescriptorTag, EaHeaderChecksumSumsTheFirst48Bytes) {
  std::vector<uint8_t> bytes(60, 0xFF);
  EXPECT_EQ(EaHeaderChecksum(bytes.data()), 48 * 255);
  std::vector<uint8_t> big(60, 0);
  for (int i = 0; i < 48; ++i) big[i] = uint8_t(i + 200);
  EXPECT_EQ(EaHeaderChecksum(big.data()), 48 * 200 + 47 * 48 / 2);
}

TEST(VolumeRecognition, StructureDescriptors) {
  Sector s = Built([](uint8_t* p) { BuildVolumeStructureDescriptor(p, "NSR03"); });
  EXPECT_EQ(s[0], 0);
  EXPECT_EQ(Text(&s[1], 5), "NSR03");
  EXPECT_EQ(s[6], 1);
  EXPECT_EQ(std::count(s.begin() + 7, s.end(), 0), 2048 - 7);
}

// Main and Reserve sequences differ only in tag location (12-15) and checksum (4).
TEST(VolumeDescriptorSequence, MainAndReserveDifferOnlyInLocationAndChecksum) {
  using Build = void (*)(const ImageEmitter&, uint8_t*, uint32_t);
  const Build sequence[] = {BuildPrimaryVolumeDescriptor,    BuildImplementationUseVolumeDescriptor,
                            BuildPartitionDescriptor,        BuildLogicalVolumeDescriptor,
                            BuildUnallocatedSpaceDescriptor, BuildTerminatingDescriptor};
  const uint16_t ids[] = {1, 4, 5, 6, 7, 8};
  for (uint16_t revision : {uint16_t(0x0102), uint16_t(0x0250)}) {
    ImageBuilder b;
    Plan(b, revision);
    const uint32_t reserve =
        revision >= 0x0250 ? uint32_t(b.plan.mirrorStart) + b.plan.metadataBlocks : 48;
    for (int i = 0; i < 6; ++i) {
      Sector main = Built([&](uint8_t* p) { sequence[i](test::WriterView(b), p, 32 + i); });
      Sector copy = Built([&](uint8_t* p) { sequence[i](test::WriterView(b), p, reserve + i); });
      EXPECT_TRUE(ValidTag(main.data(), ids[i], 32 + i, revision >= 0x0250 ? 3 : 2));
      EXPECT_TRUE(ValidTag(copy.data(), ids[i], reserve + i, revision >= 0x0250 ? 3 : 2));
      for (size_t k = 0; k < 2048; ++k)
        if (k != 4 && (k < 12 || k > 15)) {
          ASSERT_EQ(main[k], copy[k]) << "descriptor " << i << " byte " << k;
        }
      if (ids[i] != 8) {
        EXPECT_EQ(Le32(&main[16]), uint32_t(i)) << "sequence number";
      }
    }
  }
}

TEST(VolumeDescriptorSequence, PrimaryVolumeDescriptor) {
  ImageBuilder b;
  Plan(b, 0x0102);
  Sector s = Built([&](uint8_t* p) { BuildPrimaryVolumeDescriptor(test::WriterView(b), p, 32); });
  EXPECT_EQ(Le16(&s[10]), 496);
  EXPECT_EQ(Le16(&s[56]), 1);
  EXPECT_EQ(Le16(&s[58]), 1);
  EXPECT_EQ(Le16(&s[60]), 2);
  EXPECT_EQ(Le16(&s[62]), 2);
  EXPECT_EQ(Le32(&s[64]), 1u);
  EXPECT_EQ(Le32(&s[68]), 1u);
  EXPECT_EQ(s[72], 8);
  EXPECT_EQ(Text(&s[73], 16), "1234567800000120");  // buildTime, then 288 sectors
  EXPECT_EQ(s[72 + 127], 17);
  EXPECT_EQ(s[200], 0);
  EXPECT_EQ(Text(&s[201], 23), "OSTA Compressed Unicode");
  EXPECT_EQ(Text(&s[265], 23), "OSTA Compressed Unicode");
  EXPECT_EQ(Text(&s[345], 23), "*vellumcast_console 1.0");
  EXPECT_EQ(s[376], 0xA0);
  EXPECT_EQ(s[387], 0xAB);
  EXPECT_EQ(Text(&s[389], 12), "*Vellumcast ");
  EXPECT_EQ(s[401], 0);
  EXPECT_EQ(Le16(&s[488]), 0);
}

TEST(VolumeDescriptorSequence, PartitionAndLogicalVolumeByRevision) {
  struct Case {
    uint16_t revision;
    uint8_t dvdVideo;
    const char* contents;
    uint8_t contentsFlags;
    uint32_t start, length;
    uint16_t lvdCrcLength;
    uint32_t maps;
    uint16_t fileSetPartition;
  } cases[] = {
      {0x0102, 0, "+NSR02", 0, 257, 22, 430, 1, 0},
      {0x0102, 1, "+NSR02", 2, 257, 22, 430, 1, 0},
      {0x0250, 0, "+NSR03", 0, 288, 128, 494, 2, 1},
  };
  for (const Case& c : cases) {
    ImageBuilder b;
    Plan(b, c.revision);
    b.tree.dvdVideoMode = c.dvdVideo;
    Sector pd = Built([&](uint8_t* p) { BuildPartitionDescriptor(test::WriterView(b), p, 34); });
    EXPECT_EQ(Le16(&pd[20]), 1);
    EXPECT_EQ(Le16(&pd[22]), 0);
    EXPECT_EQ(pd[24], c.contentsFlags);
    EXPECT_EQ(Text(&pd[25], 6), c.contents);
    EXPECT_EQ(Le32(&pd[184]), 1u);
    EXPECT_EQ(Le32(&pd[188]), c.start);
    EXPECT_EQ(Le32(&pd[192]), c.length);
    EXPECT_EQ(std::count(&pd[56], &pd[184], 0), 128);

    Sector lvd =
        Built([&](uint8_t* p) { BuildLogicalVolumeDescriptor(test::WriterView(b), p, 35); });
    EXPECT_TRUE(ValidTag(lvd.data(), 6, 35, c.revision >= 0x0250 ? 3 : 2));
    EXPECT_EQ(Le16(&lvd[10]), c.lvdCrcLength);
    EXPECT_EQ(0, std::memcmp(&lvd[84], b.settings.volumeLabel, 128));
    EXPECT_EQ(Le32(&lvd[212]), 2048u);
    EXPECT_EQ(Text(&lvd[217], 19), "*OSTA UDF Compliant");
    EXPECT_EQ(Le16(&lvd[216 + 24]), c.revision);
    EXPECT_EQ(lvd[216 + 26], 3);
    EXPECT_EQ(Le32(&lvd[248]), 4096u);
    EXPECT_EQ(Le32(&lvd[252]), 0u);
    EXPECT_EQ(Le16(&lvd[256]), c.fileSetPartition);
    EXPECT_EQ(Le32(&lvd[264]), c.maps == 2 ? 70u : 6u);
    EXPECT_EQ(Le32(&lvd[268]), c.maps);
    EXPECT_EQ(Le32(&lvd[432]), 4096u);
    EXPECT_EQ(Le32(&lvd[436]), 64u);
    const uint8_t type1[] = {1, 6, 1, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&lvd[440], type1, 6));
    if (c.maps == 2) {
      const uint8_t* m = &lvd[446];
      EXPECT_EQ(m[0], 2);
      EXPECT_EQ(m[1], 64);
      EXPECT_EQ(Text(m + 5, 23), "*UDF Metadata Partition");
      EXPECT_EQ(Le16(m + 28), 0x0250);
      EXPECT_EQ(Le16(m + 36), 1);
      EXPECT_EQ(Le16(m + 38), 0);
      EXPECT_EQ(Le32(m + 40), 0u);
      EXPECT_EQ(Le32(m + 44), uint32_t(b.plan.mirrorEntrySector - 288));
      EXPECT_EQ(Le32(m + 48), 0xFFFFFFFFu);
      EXPECT_EQ(Le32(m + 52), 32u);
      EXPECT_EQ(Le16(m + 56), 32);
      EXPECT_EQ(m[58], 1);
    } else {
      EXPECT_EQ(std::count(&lvd[446], &lvd[2048], 0), 2048 - 446);
    }
  }
}

TEST(VolumeDescriptorSequence, ImplementationUseAndUnallocatedSpace) {
  ImageBuilder b;
  Plan(b, 0x0102);
  Sector iu = Built(
      [&](uint8_t* p) { BuildImplementationUseVolumeDescriptor(test::WriterView(b), p, 33); });
  EXPECT_EQ(Text(&iu[21], 12), "*UDF LV Info");
  EXPECT_EQ(Le16(&iu[20 + 24]), 0x0102);
  EXPECT_EQ(Text(&iu[53], 23), "OSTA Compressed Unicode");
  EXPECT_EQ(0, std::memcmp(&iu[116], b.settings.volumeLabel, 128));
  EXPECT_EQ(Text(&iu[353], 12), "*Vellumcast ");
  Sector usd =
      Built([&](uint8_t* p) { BuildUnallocatedSpaceDescriptor(test::WriterView(b), p, 36); });
  EXPECT_EQ(Le16(&usd[10]), 8);
  EXPECT_EQ(Le32(&usd[20]), 0u);
}

TEST(IntegritySequence, LogicalVolumeIntegrityDescriptor) {
  for (uint16_t revision : {uint16_t(0x0102), uint16_t(0x0250)}) {
    ImageBuilder b;
    Plan(b, revision);
    const uint32_t n = revision >= 0x0250 ? 2 : 1;
    Sector s = Built(
        [&](uint8_t* p) { BuildLogicalVolumeIntegrityDescriptor(test::WriterView(b), p, 64); });
    EXPECT_TRUE(ValidTag(s.data(), 9, 64, n == 2 ? 3 : 2));
    EXPECT_EQ(Le16(&s[10]), 110 + 8 * n);
    EXPECT_EQ(s[16], 0xA0);
    EXPECT_EQ(Le32(&s[28]), 1u);
    EXPECT_EQ(Le64(&s[32]), 0u);
    EXPECT_EQ(Le64(&s[40]), 5u + 2 + 16);
    EXPECT_EQ(Le32(&s[72]), n);
    EXPECT_EQ(Le32(&s[76]), 46u);
    for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(Le32(&s[80 + 4 * i]), 0u);
    EXPECT_EQ(Le32(&s[80 + 4 * n]), uint32_t(b.plan.partitionLength));
    if (n == 2) {
      EXPECT_EQ(Le32(&s[88 + 4]), 32u);
    }
    const uint8_t* iu = &s[80 + 8 * n];
    EXPECT_EQ(Text(iu + 1, 12), "*Vellumcast ");
    EXPECT_EQ(Le32(iu + 32), 5u);
    EXPECT_EQ(Le32(iu + 36), 3u);
    EXPECT_EQ(Le16(iu + 40), revision);
    EXPECT_EQ(Le16(iu + 42), revision);
    EXPECT_EQ(Le16(iu + 44), revision);
  }
}

TEST(Anchor, PointsToBothSequencesAndCopiesDifferOnlyInLocation) {
  for (uint16_t revision : {uint16_t(0x0102), uint16_t(0x0250)}) {
    ImageBuilder b;
    Plan(b, revision);
    const uint32_t last = uint32_t(b.plan.volumeSectors) - 1;
    Sector first =
        Built([&](uint8_t* p) { BuildAnchorVolumeDescriptorPointer(test::WriterView(b), p, 256); });
    Sector closing = Built(
        [&](uint8_t* p) { BuildAnchorVolumeDescriptorPointer(test::WriterView(b), p, last); });
    EXPECT_TRUE(ValidTag(first.data(), 2, 256, revision >= 0x0250 ? 3 : 2));
    EXPECT_TRUE(ValidTag(closing.data(), 2, last, revision >= 0x0250 ? 3 : 2));
    EXPECT_EQ(Le32(&first[16]), 32768u);
    EXPECT_EQ(Le32(&first[20]), 32u);
    EXPECT_EQ(Le32(&first[24]), 32768u);
    EXPECT_EQ(Le32(&first[28]), revision >= 0x0250 ? 384u + 32 : 48u);
    EXPECT_TRUE(std::equal(first.begin() + 16, first.end(), closing.begin() + 16));
  }
}

TEST(MetadataFile, MainAndMirrorEntries) {
  ImageBuilder b;
  Plan(b, 0x0250);
  Sector main =
      Built([&](uint8_t* p) { BuildMetadataFileEntry(test::WriterView(b), p, false, 288); });
  Sector mirror = Built([&](uint8_t* p) {
    BuildMetadataFileEntry(test::WriterView(b), p, true, uint32_t(b.plan.mirrorEntrySector));
  });
  EXPECT_TRUE(ValidTag(main.data(), 266, 0, 3));
  EXPECT_TRUE(ValidTag(mirror.data(), 266, uint32_t(b.plan.mirrorEntrySector) - 288, 3));
  EXPECT_EQ(Le16(&main[10]), 208);
  EXPECT_EQ(main[16 + 11], 250);
  EXPECT_EQ(mirror[16 + 11], 251);
  for (const Sector* s : {&main, &mirror}) {
    const uint8_t* e = s->data();
    EXPECT_EQ(Le16(e + 16 + 4), 4);  // strategy
    EXPECT_EQ(Le16(e + 16 + 8), 1);  // maximum entries
    EXPECT_EQ(Le16(e + 16 + 18), 0x20);
    EXPECT_EQ(Le32(e + 36), 0xFFFFFFFFu);
    EXPECT_EQ(Le32(e + 40), 0xFFFFFFFFu);
    EXPECT_EQ(Le32(e + 44), 0x14A5u);
    EXPECT_EQ(Le16(e + 48), 0);
    EXPECT_EQ(Le64(e + 56), 32u * 2048);
    EXPECT_EQ(Le64(e + 64), 32u * 2048);
    EXPECT_EQ(Le64(e + 72), 32u);
    EXPECT_EQ(e[80], 0xA0);
    EXPECT_EQ(e[116 + 11], 0xAB);
    EXPECT_EQ(Le32(e + 128), 1u);
    EXPECT_EQ(Text(e + 169, 12), "*Vellumcast ");
    EXPECT_EQ(Le64(e + 200), 0u);
    EXPECT_EQ(Le32(e + 208), 0u);
    EXPECT_EQ(Le32(e + 212), 8u);
    EXPECT_EQ(Le32(e + 216), 32u * 2048);
  }
  EXPECT_EQ(Le32(&main[220]), 32u);
  EXPECT_EQ(Le32(&mirror[220]), uint32_t(b.plan.mirrorStart - 288));
}

}  // namespace
}  // namespace vellumcast
