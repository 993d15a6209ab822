// The platform file layer: file handles, whole-file reads and directory listings, with
// results checked against the files on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "platform/file_handle.h"
#include "platform/find_iterator.h"
#include "platform/image_file.h"
#include "platform/text.h"
#include "test_support.h"

namespace vellumcast {
namespace {

using test::PatternBytes;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::u16string U(const std::string& s) { return Utf8ToUtf16(s); }

// A cut never keeps the first half of a surrogate pair; a pair is found only whole.
TEST(Text, HeadUnitsKeepSurrogatePairsWhole) {
  const std::u16string text = u"ab\U0001F600c";  // a, b, high, low, c
  const std::pair<size_t, std::u16string> cases[] = {
      {0, u""}, {2, u"ab"}, {3, u"ab"}, {4, u"ab\U0001F600"}, {9, text}};
  for (const auto& [n, head] : cases) EXPECT_EQ(std::u16string(HeadUnits(text, n)), head) << n;
  EXPECT_TRUE(SurrogatePairAt(text, 2));
  EXPECT_FALSE(SurrogatePairAt(text, 3));
  EXPECT_FALSE(SurrogatePairAt(text.substr(0, 3), 2));  // a high unit at the end
}

TEST(ReadWholeFile, TerminatesContentAndRefusesEmptyOrMissingFiles) {
  TempDir dir;
  WriteFile(dir / "three", "abc");
  WriteFile(dir / "empty", "");
  uint32_t length = 99;
  uint8_t* data = ReadWholeFile(U(dir / "three").c_str(), &length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::memcmp(data, "abc\0\0", 5), 0);
  std::free(data);

  for (const char* name : {"empty", "missing", ""}) {
    length = 99;
    EXPECT_EQ(ReadWholeFile(U(dir / name).c_str(), &length), nullptr)
        << name;  // "" names the folder
    EXPECT_EQ(length, 0u) << name;
  }
}

TEST(ReadWholeFile, DoesNotBlockOnAFifo) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
  uint32_t length = 1;
  EXPECT_EQ(ReadWholeFile(U(dir / "pipe").c_str(), &length), nullptr);
  EXPECT_EQ(length, 0u);
}

// An image is read at any offset, flushed and dropped from the cache; a folder or a
// FIFO is refused, and a read past the end fails.
TEST(ImageFile, ReadsRegularFilesOnly) {
  TempDir dir;
  const std::string bytes = PatternBytes(10000, 3);
  WriteFile(dir / "a.iso", bytes);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  ImageFile image;
  ASSERT_TRUE(image.Open(dir / "a.iso")) << image.error;
  EXPECT_EQ(image.size, bytes.size());
  std::string got(100, '\0');
  ASSERT_TRUE(image.ReadAt(9000, got.data(), got.size()));
  EXPECT_EQ(got, bytes.substr(9000, 100));
  EXPECT_TRUE(image.FlushAndDropCache()) << image.error;
  EXPECT_FALSE(image.ReadAt(9950, got.data(), got.size()));
  for (const char* refused : {"", "fifo", "missing"}) {
    EXPECT_FALSE(image.Open(dir / refused)) << refused;
    EXPECT_FALSE(image.error.empty());
    EXPECT_FALSE(image.IsOpen());
  }
}

TEST(FileHandle, OpenModes) {
  TempDir dir;
  WriteFile(dir / "old", "previous content");
  FileHandle out;
  ASSERT_TRUE(out.Open(U(dir / "old").c_str(), OpenWrite | OpenCreate));
  EXPECT_EQ(out.Size(), 0u);  // emptied
  EXPECT_EQ(out.Write("new", 3), 3u);
  out.Close();
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(ReadFile(dir / "old"), "new");

  ASSERT_TRUE(out.Open(U(dir / "created").c_str(), 6));
  out.Close();
  EXPECT_EQ(ReadFile(dir / "created"), "");

  FileHandle in;
  EXPECT_FALSE(in.Open(U(dir / "missing").c_str(), OpenRead));
  EXPECT_EQ(in.error, ENOENT);
  EXPECT_FALSE(in.Open(U(dir.path()).c_str(), OpenRead));  // a directory is no file
  EXPECT_EQ(in.Read(nullptr, 10), 0u);
  EXPECT_EQ(in.Write("x", 1), 0u);
  EXPECT_EQ(in.Size(), 0u);
}

TEST(FileHandle, ReadDeliversEveryByteInSteps) {
  TempDir dir;
  const std::string bytes = PatternBytes(5000, 7);
  WriteFile(dir / "f", bytes);
  FileHandle in;
  ASSERT_TRUE(in.Open(U(dir / "f").c_str(), OpenRead));
  EXPECT_EQ(in.Size(), 5000u);
  std::string buffer(6000, '\0');
  EXPECT_EQ(in.Read(buffer.data(), 0), 0u);
  EXPECT_EQ(in.Read(buffer.data(), 6000), 5000u);  // stops at the end of the file
  EXPECT_EQ(buffer.substr(0, 5000), bytes);
  EXPECT_EQ(in.Read(buffer.data(), 10), 0u);
}

// Every entry of a listing by name.
std::map<std::string, FindEntry> ListAll(const std::string& path, int* error = nullptr) {
  std::map<std::string, FindEntry> all;
  FindIterator it;
  FindEntry e;
  for (bool more = it.First(U(path).c_str(), e); more; more = it.Next(e))
    all[Utf16ToUtf8(e.name)] = e;
  if (error) *error = it.error;
  return all;
}

TEST(FindIterator, DeliversEveryEntryWithKindSizeAndTime) {
  TempDir dir;
  WriteFile(dir / "file", PatternBytes(3000));
  WriteFile(dir / "epoch", "");
  WriteFile(dir / "before", "");
  WriteFile(dir / "sub/inner", "x");
  WriteFile(dir / ".hidden", "h");
  struct Time {
    const char* name;
    time_t seconds;
  };
  for (Time t : {Time{"epoch", 0}, {"before", -1}, {"file", 1700000000}}) {
    struct timespec times[2] = {{t.seconds, 0}, {t.seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / t.name).c_str(), times, 0), 0);
  }
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
  ASSERT_EQ(symlink("file", (dir / "to-file").c_str()), 0);
  ASSERT_EQ(symlink("sub", (dir / "to-sub").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);

  auto all = ListAll(dir.path());
  std::set<std::string> names;
  for (auto& [name, e] : all) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{".", "..", ".hidden", "before", "dangling", "epoch",
                                          "file", "pipe", "sub", "to-file", "to-sub"}));
  struct Expected {
    const char* name;
    FindEntryType type;
    uint8_t isDirectory;
    uint64_t size;
  };
  for (Expected x : {Expected{"file", FindEntryType::File, 0, 3000},
                     {"to-file", FindEntryType::File, 0, 3000},
                     {"sub", FindEntryType::Directory, 1, 0},
                     {"to-sub", FindEntryType::Directory, 1, 0},
                     {".", FindEntryType::Directory, 1, 0},
                     {"pipe", FindEntryType::Special, 0, 0},
                     {"dangling", FindEntryType::DanglingLink, 0, 0},
                     {".hidden", FindEntryType::File, 0, 1}}) {
    const FindEntry& e = all.at(x.name);
    EXPECT_EQ(e.type, x.type) << x.name;
    EXPECT_EQ(e.isDirectory, x.isDirectory) << x.name;
    EXPECT_EQ(e.size, x.size) << x.name;
  }
  EXPECT_EQ(all.at("epoch").lastWriteTime, 0);
  EXPECT_EQ(all.at("before").lastWriteTime, -1);
  EXPECT_EQ(all.at("file").lastWriteTime, 1700000000);
  EXPECT_EQ(all.at("to-file").inode, all.at("file").inode);  // links followed
  EXPECT_EQ(all.at("dangling").statError, ENOENT);
}

TEST(FindIterator, ReportsWhyAListingFails) {
  TempDir dir;
  WriteFile(dir / "plain", "x");
  struct Case {
    std::string path;
    int error;
  };
  for (const Case& c : {Case{dir / "missing", ENOENT}, Case{dir / "plain", ENOTDIR}, Case{"", 0}}) {
    FindIterator it;
    FindEntry e;
    EXPECT_FALSE(it.First(U(c.path).c_str(), e)) << c.path;
    EXPECT_EQ(it.error, c.error) << c.path;
  }
  FindIterator it;
  FindEntry e;
  EXPECT_FALSE(it.First(nullptr, e));
  EXPECT_FALSE(it.Next(e));
}

}  // namespace
}  // namespace vellumcast
