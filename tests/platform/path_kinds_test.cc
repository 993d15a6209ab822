// Canonical source folders and the kinds of path the front end asks about.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/path_kinds.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "test_support.h"

namespace vellumcast {
namespace {

TEST(CanonicalizeDirectoryPath, ResolvesDotsAndEndsWithSlash) {
  struct Case {
    const char16_t* in;
    const char16_t* out;
  };
  for (Case c : {Case{u"/a/b", u"/a/b/"},
                 {u"/a/b/", u"/a/b/"},
                 {u"/", u"/"},
                 {u"/a/./b/../c", u"/a/c/"},
                 {u"/a/b/..", u"/a/"},
                 {u"/..", u"/"},
                 {u"/../a/../../b", u"/b/"},
                 {u"//a///b//", u"/a/b/"},
                 {u"/a/.../b", u"/a/.../b/"},
                 {u"/a/..b/.c", u"/a/..b/.c/"},
                 {u"", u""}}) {
    EXPECT_EQ(CanonicalizeDirectoryPath(c.in), c.out) << Utf16ToUtf8(c.in);
  }
  std::string cwd = std::filesystem::current_path().string();
  std::u16string base = Utf8ToUtf16(cwd == "/" ? "/" : cwd + "/");
  EXPECT_EQ(CanonicalizeDirectoryPath(u"x/../y"), base + u"y/");
  EXPECT_EQ(CanonicalizeDirectoryPath(u"."), base);
}

TEST(PathKinds, KindsOfPath) {
  test::TempDir dir;
  test::WriteFile(dir / "file", "x");
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink(dir / "folder", dir / "to-folder");
  std::filesystem::create_symlink(dir / "file", dir / "to-file");
  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
  std::filesystem::create_directories(dir / "folder/inner");
  std::filesystem::create_directory(dir / "folder/x");
  std::filesystem::create_symlink(dir / "folder/inner", dir / "deep");
  struct Case {
    std::string path;
    bool directory, exists;
  };
  const Case cases[] = {
      {dir.path(), true, true},
      {dir / "folder", true, true},
      {dir / "folder/", true, true},
      {dir / "to-folder", true, true},
      {dir / "file", false, true},
      {dir / "to-file", false, true},
      {dir / "dangling", false, false},
      {dir / "missing", false, false},
      // "." and ".." as text, as the build resolves the source folder, not as the kernel
      {dir / "missing/../folder", true, false},
      {dir / "file/..", true, false},
      {dir / "deep/../x", false, true},
      {dir / "deep/missing/..", true, false},
      {dir / "file/below", false, false},
      {"", false, false},
      {dir / "\xff\xfe", false, false},
  };
  for (const Case& c : cases) {
    std::u16string path = Utf8ToUtf16(c.path);
    EXPECT_EQ(IsExistingDirectory(path.c_str()), c.directory) << c.path;
    EXPECT_EQ(PathExists(path.c_str()), c.exists) << c.path;
  }
  // A name that is not valid UTF-8 round-trips to the same file.
  test::WriteFile(dir / "\xff\xfe", "x");
  std::u16string odd = Utf8ToUtf16(dir / "\xff\xfe");
  EXPECT_TRUE(PathExists(odd.c_str()));
  EXPECT_FALSE(PathExists(nullptr));
  EXPECT_FALSE(IsExistingDirectory(nullptr));
}

}  // namespace
}  // namespace vellumcast
