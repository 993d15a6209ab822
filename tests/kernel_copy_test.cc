// File data copied inside the kernel (copy_file_range) into a regular-file image must
// give exactly the image that reading and writing every byte gives: for every file
// system, for file sizes around the sector, threshold and chunk boundaries, and for
// files that changed size after the scan.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "build/image_builder.h"
#include "layout/volume_time.h"
#include "platform/output_file.h"
#include "platform/text.h"
#include "test_support.h"

namespace vellumcast::test {
namespace {

struct Choice {
  uint32_t formatFlags;
  uint16_t udfRevision;
};
constexpr Choice kChoices[] = {
    {FormatIso9660, 0x0102}, {FormatIso9660 | FormatUdf, 0x0102}, {FormatUdf, 0x0102}, {FormatUdf, 0x0250}};

// Scans and plans `source` once; `change` may then alter the source before the image
// is written, so both writes see the same plan and the same changed files.
struct PlannedBuild {
  ImageBuilder b;
  PlannedBuild(const std::string& source, Choice choice, int64_t time) {
    b.Initialize();
    b.buildTime = time;
    MakeUdfTimestamp(time, b.buildTimeStamp);
    b.formatFlags = choice.formatFlags;
    b.udfRevision = choice.udfRevision;
    b.warning = [](const std::string&, void*) {};
    EXPECT_TRUE(b.ScanSourceTree(Utf8ToUtf16(source + "/").c_str())) << b.errorMessage;
    EXPECT_TRUE(b.PlanLayout()) << b.errorMessage;
  }
  std::string Write(const std::string& target, bool plain) {
    b.plainDataCopy = plain;
    EXPECT_TRUE(b.WriteImage(Utf8ToUtf16(target).c_str(), nullptr, nullptr)) << b.errorMessage;
    return ReadFile(target);
  }
};

constexpr size_t kSector = 2048;
constexpr size_t kThreshold = 64 * kSector;    // smallest file copied by the kernel
constexpr size_t kChunk = 8192 * kSector;      // bytes copied between progress reports

void FillSource(const TempDir& src) {
  const size_t sizes[] = {0, 1, kSector + 1, kThreshold - 1, kThreshold, kThreshold + 1,
                          3 * kThreshold + 700, kChunk + kSector + 5};
  uint32_t seed = 1;
  for (size_t size : sizes) {
    WriteFile(src / ("top/f" + std::to_string(seed) + ".bin"), PatternBytes(size, seed));
    ++seed;
  }
  WriteFile(src / "a/b/deep.bin", PatternBytes(5 * kThreshold + 3, 99));
  WriteFile(src / "a/zeros.bin", std::string(4 * kThreshold, '\0'));
}

TEST(KernelCopy, ImagesEqualTheReadAndWritePathForEveryFileSystem) {
  TempDir src, out;
  FillSource(src);
  const std::string big = PatternBytes(kChunk + kSector + 5, 8);
  for (Choice choice : kChoices) {
    SCOPED_TRACE(choice.formatFlags * 0x10000 + choice.udfRevision);
    PlannedBuild fast(src.path(), choice, 1700000000);
    std::string fastImage = fast.Write(out / "fast.iso", false);
    PlannedBuild plain(src.path(), choice, 1700000000);
    std::string plainImage = plain.Write(out / "plain.iso", true);
    ASSERT_EQ(fastImage.size(), plainImage.size());
    EXPECT_TRUE(fastImage == plainImage) << "the two images differ";
    size_t at = fastImage.find(big.substr(0, 4096));
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(at % kSector, 0u);
    EXPECT_EQ(fastImage.compare(at, big.size(), big), 0);
    EXPECT_EQ(fastImage.compare(at + big.size(), kSector - 5, std::string(kSector - 5, '\0')), 0);
  }
}

TEST(KernelCopy, FilesThatChangedSizeKeepTheirPlannedSectors) {
  TempDir src, out;
  const std::string shrunk = PatternBytes(kThreshold + 777, 5);
  const std::string grown = PatternBytes(6 * kThreshold, 6);
  std::string images[2];
  for (bool plain : {false, true}) {
    WriteFile(src / "s.bin", PatternBytes(3 * kThreshold, 5));
    WriteFile(src / "g.bin", PatternBytes(2 * kThreshold + 10, 6));
    WriteFile(src / "z.bin", PatternBytes(kThreshold, 7));
    // The File Entries carry each file's own time: the same in both builds.
    for (const char* name : {"s.bin", "g.bin", "z.bin"}) {
      std::filesystem::last_write_time(src / name, std::filesystem::file_time_type{});
    }
    PlannedBuild build(src.path(), {FormatUdf, 0x0102}, 1700000000);
    WriteFile(src / "s.bin", shrunk);
    WriteFile(src / "g.bin", grown);
    images[plain] = build.Write(out / "img.iso", plain);
  }
  EXPECT_TRUE(images[0] == images[1]) << "the two images differ";
  const std::string& image = images[0];
  size_t s = image.find(shrunk.substr(0, 4096));
  ASSERT_NE(s, std::string::npos);
  EXPECT_EQ(image.compare(s, shrunk.size(), shrunk), 0);
  EXPECT_EQ(image.compare(s + shrunk.size(), 3 * kThreshold - shrunk.size(),
                          std::string(3 * kThreshold - shrunk.size(), '\0')), 0);
  size_t g = image.find(grown.substr(0, 4096));
  ASSERT_NE(g, std::string::npos);
  const size_t plannedG = (2 * kThreshold / kSector + 1) * kSector;
  EXPECT_EQ(image.compare(g, plannedG, grown.substr(0, plannedG)), 0);
  EXPECT_NE(image.compare(g + plannedG, kSector, grown.substr(plannedG, kSector)), 0);
  size_t z = image.find(PatternBytes(kThreshold, 7));
  EXPECT_NE(z, std::string::npos);
  EXPECT_EQ(z % kSector, 0u);
}

// CopyFrom appends at the end of what was written and advances both files; a source
// that is not a regular file makes it hand over to reading and writing.
TEST(KernelCopy, OutputFileCopyFrom) {
  TempDir dir;
  const std::string data = PatternBytes(100000, 3);
  WriteFile(dir / "src", data);
  struct Case {
    bool pipeSource;
    uint64_t asked;
    int64_t expected;
  };
  for (Case c : {Case{false, 60000, 60000}, Case{false, 500000, 100000}, Case{true, 5000, 0}}) {
    OutputFile target;
    ASSERT_TRUE(target.Open(Utf8ToUtf16(dir / "img")));
    ASSERT_TRUE(target.Write(reinterpret_cast<const uint8_t*>("head"), 4));
    int fds[2] = {-1, -1};
    int source = -1;
    if (c.pipeSource) {
      ASSERT_EQ(pipe(fds), 0);
      ASSERT_EQ(write(fds[1], "xyz", 3), 3);
      source = fds[0];
    } else {
      source = open((dir / "src").c_str(), O_RDONLY);
    }
    EXPECT_EQ(target.CopyFrom(source, c.asked), c.expected);
    EXPECT_EQ(target.kernelCopy, !c.pipeSource);
    EXPECT_EQ(lseek(source, 0, SEEK_CUR), c.pipeSource ? -1 : c.expected);
    ASSERT_TRUE(target.Write(reinterpret_cast<const uint8_t*>("tail"), 4));
    ASSERT_TRUE(target.Finish());
    EXPECT_EQ(ReadFile(dir / "img"), "head" + data.substr(0, size_t(c.expected)) + "tail");
    close(source);
    if (c.pipeSource) close(fds[1]);
  }
}

}  // namespace
}  // namespace vellumcast::test
