// The sector maps of whole images: where each volume structure, the file-system areas
// and the file data land for ISO 9660, ISO 9660 + UDF 1.02, UDF 1.02 and UDF 2.50.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build/build_job.h"
#include "choice_text.h"
#include "platform/byte_span.h"
#include "platform/text.h"
#include "test_support.h"

namespace vellumcast::test {
namespace {

std::vector<std::pair<uint32_t, uint32_t>> progressCalls;
void Progress(uint32_t done, uint32_t total) { progressCalls.push_back({done, total}); }

struct Image {
  std::string bytes;
  uint32_t sectors() const { return uint32_t(bytes.size() / 2048); }
  ByteSpan At(uint32_t sector) const {
    return ByteSpan(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())
        .Sub(size_t(sector) * 2048, 2048);
  }
  std::string Sector(uint32_t sector) const { return bytes.substr(size_t(sector) * 2048, 2048); }
  uint16_t Tag(uint32_t sector) const { return At(sector).U16Le(0); }
  bool Zero(uint32_t first, uint32_t end) const {
    return bytes.substr(size_t(first) * 2048, size_t(end - first) * 2048) ==
           std::string(size_t(end - first) * 2048, '\0');
  }
};

constexpr uint16_t kPrimaryVolumeDescriptor = 1, kAnchor = 2, kTerminating = 8, kIntegrity = 9,
                   kFileSet = 256, kExtendedFileEntry = 266;

Image Build(FileSystemChoice choice, const TempDir& src, const TempDir& out) {
  progressCalls.clear();
  std::string target = out / "img";
  auto job =
      StartImageBuild(Utf8ToUtf16(src.path()).c_str(), u"", choice, Utf8ToUtf16(target).c_str(),
                      "Vellumcast ", "vellumcast_console 1.0", false, Progress);
  EXPECT_TRUE(job->succeeded) << job->errorMessage;
  return Image{ReadFile(target)};
}

void MakeSource(const TempDir& src) {
  WriteFile(src / "a.bin", PatternBytes(10000, 1));
  WriteFile(src / "dir/b.bin", PatternBytes(70000, 2));
}

TEST(ImageSectorMaps, VolumeStructuresAtTheirSectors) {
  struct Case {
    FileSystemChoice choice;
    bool iso;
    const char* nsr;
  } cases[] = {{FileSystemChoice::Iso9660Udf102, true, "NSR02"},
               {FileSystemChoice::Udf102, false, "NSR02"},
               {FileSystemChoice::Udf250, false, "NSR03"}};
  for (const auto& c : cases) {
    TempDir src, out;
    MakeSource(src);
    Image image = Build(c.choice, src, out);
    const uint32_t v = image.sectors();
    ASSERT_GT(v, 288u) << c.choice;
    EXPECT_EQ(v % 32, 0u);
    EXPECT_TRUE(image.Zero(0, 16));
    const uint32_t vrs = c.iso ? 18 : 16;
    if (c.iso) {
      EXPECT_EQ(image.Sector(16).substr(0, 6),
                "\x01"
                "CD001");
      EXPECT_EQ(image.Sector(17).substr(0, 6),
                "\xff"
                "CD001");
    }
    EXPECT_EQ(image.Sector(vrs).substr(1, 5), "BEA01");
    EXPECT_EQ(image.Sector(vrs + 1).substr(1, 5), c.nsr);
    EXPECT_EQ(image.Sector(vrs + 2).substr(1, 5), "TEA01");
    EXPECT_TRUE(image.Zero(vrs + 3, 32));
    EXPECT_EQ(image.Tag(32), kPrimaryVolumeDescriptor);
    EXPECT_EQ(image.Tag(37), kTerminating);
    const bool udf250 = c.choice == FileSystemChoice::Udf250;
    if (!udf250) {
      EXPECT_TRUE(image.Zero(38, 48));
      EXPECT_EQ(image.Tag(48), kPrimaryVolumeDescriptor);
      EXPECT_EQ(image.At(48).U32Le(12), 48u);
      EXPECT_TRUE(image.Zero(54, 64));
    } else {
      EXPECT_TRUE(image.Zero(38, 64));
    }
    EXPECT_EQ(image.Tag(64), kIntegrity);
    EXPECT_EQ(image.Tag(65), kTerminating);
    EXPECT_TRUE(image.Zero(66, 256));
    EXPECT_EQ(image.Tag(256), kAnchor);
    EXPECT_EQ(image.Tag(v - 1), kAnchor);
    EXPECT_EQ(image.At(v - 1).U32Le(12), v - 1);
    ASSERT_FALSE(progressCalls.empty());
    EXPECT_EQ(progressCalls.back(), std::make_pair(v, v));

    if (udf250) {
      // Metadata file entry at 288, content from 320; the mirror copy of the content
      // is identical and followed by the reserve sequence.
      EXPECT_TRUE(image.Zero(257, 288));
      EXPECT_EQ(image.Tag(288), kExtendedFileEntry);
      EXPECT_TRUE(image.Zero(289, 320));
      EXPECT_EQ(image.Tag(320), kFileSet);
      uint32_t mirrorStart = 321;
      while (mirrorStart < v && image.Tag(mirrorStart) != kFileSet) ++mirrorStart;
      ASSERT_LT(mirrorStart, v);
      EXPECT_EQ(mirrorStart % 32, 0u);
      const uint32_t m = v - 32 - mirrorStart;
      EXPECT_EQ(image.bytes.substr(320 * 2048, size_t(m) * 2048),
                image.bytes.substr(size_t(mirrorStart) * 2048, size_t(m) * 2048));
      EXPECT_EQ(image.Tag(mirrorStart + m), kPrimaryVolumeDescriptor);
      EXPECT_EQ(image.At(mirrorStart + m).U32Le(12), mirrorStart + m);
      uint32_t mirrorEntry = mirrorStart - 1;
      while (image.Zero(mirrorEntry, mirrorEntry + 1)) --mirrorEntry;
      EXPECT_EQ(image.Tag(mirrorEntry), kExtendedFileEntry);
      EXPECT_TRUE(image.Zero(mirrorStart + m + 6, v - 1));
    }
    // The file data is found whole in the image, in sector-aligned runs.
    std::string b = PatternBytes(70000, 2);
    size_t at = image.bytes.find(b);
    ASSERT_NE(at, std::string::npos) << c.choice;
    EXPECT_EQ(at % 2048, 0u);
  }
}

}  // namespace
}  // namespace vellumcast::test
