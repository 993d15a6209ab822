// Whole-file reading and folder listing used by the BDMV analysis.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/bluray_files.h"
#include "platform/text.h"
#include "test_support.h"

namespace vellumcast {
namespace {

TEST(BlurayFiles, ReadControlFile) {
  test::TempDir dir;
  test::WriteFile(dir / "three", "abc");
  test::WriteFile(dir / "empty", "");
  std::filesystem::create_directories(dir / "folder");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  struct Case {
    const char* name;
    bool ok;
    std::string bytes;
  };
  const Case cases[] = {
      {"three", true, "abc"}, {"empty", false, ""},  {"missing", false, ""},
      {"folder", false, ""},  {"fifo", false, ""},  // neither blocks nor reads
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes{1, 2};
    EXPECT_EQ(ReadControlFile(Utf8ToUtf16(dir / c.name), bytes), c.ok);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.bytes);
  }
}

TEST(BlurayFiles, ListFolder) {
  test::TempDir dir;
  test::WriteFile(dir / "a.mpls", "x");
  std::filesystem::create_directories(dir / "b.mpls");
  std::filesystem::create_directory_symlink(dir / "b.mpls", dir / "c.mpls");
  std::vector<ListedEntry> entries;
  ASSERT_TRUE(ListFolder(Utf8ToUtf16(dir.path() + "/"), entries));
  std::sort(entries.begin(), entries.end(),
            [](const ListedEntry& x, const ListedEntry& y) { return x.name < y.name; });
  ASSERT_EQ(entries.size(), 3u);  // no "." or ".."
  EXPECT_EQ(entries[0].name, u"a.mpls");
  EXPECT_FALSE(entries[0].isDirectory);
  EXPECT_TRUE(entries[1].isDirectory);
  EXPECT_TRUE(entries[2].isDirectory);  // a link to a folder is a folder
  EXPECT_FALSE(ListFolder(Utf8ToUtf16(dir / "missing"), entries));
  EXPECT_FALSE(ListFolder(Utf8ToUtf16(dir / "a.mpls"), entries));
}

}  // namespace
}  // namespace vellumcast
