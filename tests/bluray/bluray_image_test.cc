// Whole builds of generated BDMV folders with the default file system, read back with
// libudfread: every file equals its source, each .ssif file is a view onto the sectors of
// its two stream files, and a folder whose analysis fails is imaged as a plain one.
#include <gtest/gtest.h>
#include <udfread/udfread.h>

#include <filesystem>

#include "bdmv_fixture.h"
#include "test_support.h"

namespace vellumcast {
namespace {

struct UdfImage {
  udfread* udf = udfread_init();
  explicit UdfImage(const std::string& path) {
    if (udfread_open(udf, path.c_str()) < 0) {
      udfread_close(udf);
      udf = nullptr;
    }
  }
  ~UdfImage() {
    if (udf) udfread_close(udf);
  }
  // Content of the file, or "<missing>".
  std::string Read(const std::string& path) {
    UDFFILE* f = udfread_file_open(udf, path.c_str());
    if (!f) return "<missing>";
    std::string bytes(size_t(udfread_file_size(f)), '\0');
    ssize_t n = udfread_file_read(f, bytes.data(), bytes.size());
    udfread_file_close(f);
    return n == ssize_t(bytes.size()) ? bytes : "<short read>";
  }
  // Logical block of block `block` of the file.
  uint32_t Block(const std::string& path, uint32_t block) {
    UDFFILE* f = udfread_file_open(udf, path.c_str());
    uint32_t lba = f ? udfread_file_lba(f, block) : 0;
    if (f) udfread_file_close(f);
    return lba;
  }
};

std::string Build(const std::string& source, const std::string& image,
                  const std::string& options = "") {
  auto r = test::RunCommand(test::Quote(test::Binary()) + " " + test::Quote(source) + " " +
                            test::Quote(image) + " " + options);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  return image;
}

void ExpectSameFiles(const std::string& source, UdfImage& image) {
  for (const auto& e : std::filesystem::recursive_directory_iterator(source)) {
    if (!e.is_regular_file()) continue;
    std::string relative = e.path().string().substr(source.size());
    EXPECT_TRUE(image.Read(relative) == test::ReadFile(e.path().string())) << relative;
  }
}

TEST(BlurayImage, StereoscopicFolder) {
  test::TempDir dir;
  test::BdmvFixture f = test::StereoscopicFixture();
  f.Write(dir / "src");
  Build(dir / "src", dir / "3d.iso");
  Build(dir / "src", dir / "bd.iso", "-filesystem BD");
  UdfImage image(dir / "3d.iso");
  ASSERT_NE(image.udf, nullptr);
  ExpectSameFiles(dir / "src", image);

  // 00001.ssif: dependent extent 6, base extent 9, ... on the stream files' own blocks.
  const std::string ssif = "/BDMV/STREAM/SSIF/00001.ssif";
  const uint32_t dependent = image.Block("/BDMV/STREAM/00002.m2ts", 0);
  const uint32_t base = image.Block("/BDMV/STREAM/00001.m2ts", 0);
  EXPECT_EQ(image.Block(ssif, 0), dependent);
  EXPECT_EQ(image.Block(ssif, 6), base);
  EXPECT_EQ(image.Block(ssif, 15), dependent + 15);
  EXPECT_EQ(image.Block("/BDMV/STREAM/00002.m2ts", 6), dependent + 15);
  EXPECT_EQ(image.Block("/BDMV/STREAM/00001.m2ts", 9), base + 15);

  // The SSIF data is stored once: the image is smaller than one that copies it, by the
  // SSIF bytes within the 32-sector growth step of UDF 2.50 images.
  int64_t ssifBytes = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir / "src/BDMV/STREAM/SSIF")) {
    ssifBytes += int64_t(e.file_size());
  }
  int64_t saved = int64_t(std::filesystem::file_size(dir / "bd.iso")) -
                  int64_t(std::filesystem::file_size(dir / "3d.iso"));
  EXPECT_GE(saved, ssifBytes - 65536);
  EXPECT_LE(saved, ssifBytes + 65536);
}

TEST(BlurayImage, FolderWhoseAnalysisFailsIsImagedPlainly) {
  test::TempDir dir;
  test::BdmvFixture f = test::StereoscopicFixture();
  f.clips[3].startPoints = {0, 32, 32};  // clip 4: not strictly increasing
  f.Write(dir / "src");
  Build(dir / "src", dir / "3d.iso");
  Build(dir / "src", dir / "bd.iso", "-filesystem BD");
  UdfImage image(dir / "3d.iso");
  ASSERT_NE(image.udf, nullptr);
  ExpectSameFiles(dir / "src", image);
  EXPECT_EQ(std::filesystem::file_size(dir / "3d.iso"), std::filesystem::file_size(dir / "bd.iso"));
  EXPECT_NE(image.Block("/BDMV/STREAM/SSIF/00001.ssif", 0),
            image.Block("/BDMV/STREAM/00002.m2ts", 0));
}

}  // namespace
}  // namespace vellumcast
