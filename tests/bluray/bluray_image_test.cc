// Whole builds of generated BDMV folders with the default file system, read back with
// libudfread: every file equals its source, each .ssif file is a view onto the sectors of
// its two stream files, and a folder whose analysis fails is imaged as a plain one.
#include <gtest/gtest.h>
#include <udfread/udfread.h>

#include <filesystem>
#include <functional>

#include "bdmv_fixture.h"
#include "test_support.h"
#include "udf_descriptor_walker.h"

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

// Folders whose stereoscopic plan the tree cannot carry exactly give the plan up with one
// warning naming the clip: the image is then the plain UDF 2.50 image of the folder, byte
// for byte. Folders whose plan fits keep every other file, SSIF folders included.
struct PlanCase {
  const char* name;
  std::function<void(test::BdmvFixture&)> change;
  std::function<void(const std::string& src)> afterWrite;
  const char* warning;  // part of the one warning; null: the plan applies
};

void AppendBytes(const std::string& path, const std::string& bytes) {
  test::WriteFile(path, test::ReadFile(path) + bytes);
}

TEST(BlurayImage, PlansThatDoNotFitAreGivenUpWholly) {
  const PlanCase cases[] = {
      {"start point off the 32-packet grid",
       [](auto& f) {
         f.clips[0].startPoints = {0, 100, 192};
       },
       nullptr, "BDMV/CLIPINF/00001.clpi: extent start point 100 is not a multiple of 32"},
      {"first start point not 0",
       [](auto& f) {
         f.clips[2].startPoints = {32, 160};
       },
       nullptr, "BDMV/CLIPINF/00003.clpi: the first extent start point is 32, not 0"},
      {"packet count wrapping at 2^32 bytes",
       [](auto& f) {
         f.clips[1].packets = 0x40000001;
         f.clips[1].startPoints = {0};
         f.clips[1].streamBytes = 192 * 192;
       },
       nullptr, "BDMV/STREAM/00002.m2ts holds 36864 bytes"},
      {"stream file shorter than its packets",
       [](auto& f) { f.clips[3].streamBytes = 128 * 192 - 100; }, nullptr,
       "BDMV/STREAM/00004.m2ts holds 24476 bytes"},
      {"stream file a sector longer than its packets",
       [](auto& f) { f.clips[3].streamBytes = 13 * 2048; }, nullptr,
       "BDMV/STREAM/00004.m2ts holds 26624 bytes"},
      {"dependent clip of two pairs",
       [](auto& f) {
         f.playlists[0].subPlayItems = test::ClipNames({2, 2});
       },
       nullptr, "clip 00002 belongs to two pairs"},
      {"chained pairs",
       [](auto& f) {
         f.clips[2].startPoints = {0, 96, 192, 288};
         f.playlists[0].playItems = test::ClipNames({1, 2});
         f.playlists[0].subPlayItems = test::ClipNames({2, 3});
         f.pairs = {{1, 2}, {2, 3}};
       },
       nullptr, "clip 00002 belongs to two pairs"},
      {"SSIF is a file", [](auto& f) { f.writeSsif = false; },
       [](const std::string& src) { test::WriteFile(src + "/BDMV/STREAM/SSIF", "not a folder"); },
       "BDMV/STREAM/SSIF is not a folder"},
      {"a source .ssif file of another size", nullptr,
       [](const std::string& src) { AppendBytes(src + "/BDMV/STREAM/SSIF/00003.ssif", "x"); },
       "BDMV/STREAM/SSIF/00003.ssif holds 86017 bytes, not the 86016 of BDMV/STREAM/00004.m2ts and "
       "BDMV/STREAM/00003.m2ts interleaved"},
      {"other SSIF folders and files are kept", nullptr,
       [](const std::string& src) {
         std::filesystem::create_directories(src + "/docs/extra/SSIF");
         std::filesystem::create_directories(src + "/BDMV/Stream/SSIF");
         test::WriteFile(src + "/docs/extra/SSIF/important.txt", "keep me");
         test::WriteFile(src + "/BDMV/Stream/SSIF/00001.ssif", "other case");
         test::WriteFile(src + "/BDMV/STREAM/SSIF/notes.txt", "beside the interleaves");
       },
       nullptr},
      {"clips ending inside a sector",
       [](auto& f) {
         f.clips[0].packets = 300;
         f.clips[1].packets = 200;
         f.writeSsif = false;
       },
       nullptr, nullptr},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    test::BdmvFixture f = test::StereoscopicFixture();
    if (c.change) c.change(f);
    f.Write(dir / "src");
    if (c.afterWrite) c.afterWrite(dir / "src");
    const std::string fixed = "SOURCE_DATE_EPOCH=1700000000 ";
    auto r = test::RunCommand(fixed + test::Quote(test::Binary()) + " " + test::Quote(dir / "src") +
                              " " + test::Quote(dir / "3d.iso"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string warning = "stereoscopic (3D) layout not applied: ";
    size_t at = r.err.find(warning);
    if (c.warning) {
      EXPECT_NE(at, std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find(warning, at + 1), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(at, std::string::npos) << r.err;
    }
    UdfImage image(dir / "3d.iso");
    ASSERT_NE(image.udf, nullptr);
    ExpectSameFiles(dir / "src", image);
    test::UdfWalkReport walk = test::WalkUdfDescriptors(test::ReadFile(dir / "3d.iso"));
    EXPECT_TRUE(walk.problems.empty()) << walk.problems.front();
    EXPECT_EQ(walk.lvidFiles, walk.files);
    EXPECT_EQ(walk.lvidDirectories, walk.directories);
    if (c.warning) {
      auto plain =
          test::RunCommand(fixed + test::Quote(test::Binary()) + " " + test::Quote(dir / "src") +
                           " " + test::Quote(dir / "bd.iso") + " -filesystem BD");
      EXPECT_EQ(plain.exitCode, 0) << plain.err;
      EXPECT_TRUE(test::ReadFile(dir / "3d.iso") == test::ReadFile(dir / "bd.iso"));
      continue;
    }
    for (const auto& [base, dependent] : f.pairs) {
      const std::string name = "/BDMV/STREAM/0000" + std::to_string(base);
      EXPECT_TRUE(image.Read("/BDMV/STREAM/SSIF/0000" + std::to_string(base) + ".ssif") ==
                  f.Interleave(base, dependent, true));
      EXPECT_EQ(image.Block(name + ".m2ts", 0),
                image.Block("/BDMV/STREAM/SSIF/0000" + std::to_string(base) + ".ssif",
                            uint32_t(f.Clip(dependent)->startPoints[1] * 3 / 32)));
    }
  }
}

}  // namespace
}  // namespace vellumcast
