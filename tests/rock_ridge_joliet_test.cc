// Rock Ridge (IEEE P1282 over SUSP, IEEE P1281) and Joliet on the ISO 9660 tree: entry
// bytes, the Supplementary Volume Descriptor, Joliet names, reproducible images, and
// images without either switch that stay byte for byte what they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "build/build_job.h"
#include "platform/text.h"
#include "test_support.h"

namespace vellumcast::test {
namespace {

constexpr int64_t kFixedTime = 1700000000;  // 2023-11-14T22:13:20Z

// Sets the access and modification times of every entry below `root` (and of `root`).
void FixTimes(const std::string& root) {
  std::vector<std::string> paths{root};
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) paths.push_back(e.path().string());
  const timespec times[2] = {{kFixedTime, 0}, {kFixedTime, 0}};
  for (const std::string& p : paths) utimensat(AT_FDCWD, p.c_str(), times, 0);
}

// Names an ISO 9660 reader sees shortened, in several scripts, with a ';' and ten levels.
void MakeNamesTree(const TempDir& src) {
  WriteFile(src / "README.TXT", "hello\n");
  WriteFile(src / "a very long file name for a photo taken at sunset.jpeg", PatternBytes(5000, 1));
  WriteFile(src / "日本語の写真.jpg", PatternBytes(3000, 2));
  WriteFile(src / "a;b.txt", "semicolon\n");
  WriteFile(src / "docs/deep/note.txt", PatternBytes(70000, 3));
  std::filesystem::create_directories(src / "Empty Folder");
  std::string deep = "l1/l2/l3/l4/l5/l6/l7/l8/l9/l10";
  WriteFile(src / (deep + "/bottom.txt"), "ten levels down\n");
  FixTimes(src.path());
}

void MakeDvdVideoTree(const TempDir& src) {
  WriteFile(src / "VIDEO_TS/VIDEO_TS.IFO", PatternBytes(4096, 4));
  WriteFile(src / "VIDEO_TS/VTS_01_1.VOB", PatternBytes(10000, 5));
  WriteFile(src / "extras/notes about the film.txt", "notes\n");
  FixTimes(src.path());
}

// FNV-1a, 64 bits, over the whole image.
uint64_t ImageHash(const std::string& path) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : ReadFile(path)) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::string BuildImage(const std::string& source, const std::string& target, FileSystemChoice choice) {
  BuildOptions options;
  options.buildTime = kFixedTime;
  auto job = StartImageBuild(Utf8ToUtf16(source).c_str(), u"Pinned", choice, Utf8ToUtf16(target).c_str(),
                             "Vellumcast ", "vellumcast_console 1.0", false, nullptr, nullptr, options);
  return job->succeeded ? "" : job->errorMessage;
}

// The images of fixed trees with a fixed build time, hashed when neither Rock Ridge nor
// Joliet existed: without the two switches every image stays byte for byte the same.
TEST(RockRidgeJoliet, ImagesWithoutTheSwitchesAreUnchanged) {
  struct Case {
    void (*make)(const TempDir&);
    FileSystemChoice choice;
    uint64_t hash;
  };
  const Case cases[] = {
      {MakeNamesTree, 1, 0xa9609ee390030f6dull},    {MakeNamesTree, 2, 0xce86862f5cdab087ull},
      {MakeNamesTree, 4, 0xad75063f935b17d4ull},    {MakeNamesTree, 5, 0x6386d9851f81679cull},
      {MakeDvdVideoTree, 2, 0xba0de85a86264461ull},
  };
  for (const Case& c : cases) {
    TempDir src, out;
    c.make(src);
    std::string target = out / "img.iso";
    ASSERT_EQ(BuildImage(src.path(), target, c.choice), "");
    EXPECT_EQ(ImageHash(target), c.hash) << "choice " << c.choice;
  }
}

}  // namespace
}  // namespace vellumcast::test
