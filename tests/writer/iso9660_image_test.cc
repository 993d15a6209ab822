// Whole builds of images with ISO 9660 (alone and with UDF 1.02), read back through
// libiso9660 and compared with the source folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "build/build_job.h"
#include "choice_text.h"
#include "iso_reader.h"
#include "platform/byte_span.h"
#include "platform/text.h"
#include "test_support.h"
#include "writer/byte_order.h"

namespace vellumcast::test {
namespace {

// The progress callback has no context: the test's hooks live here.
struct Hooks {
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  std::function<void()> atFirstCall;
  std::vector<std::string> warnings;
} hooks;

void Progress(uint32_t done, uint32_t total) {
  if (hooks.calls.empty() && hooks.atFirstCall) hooks.atFirstCall();
  hooks.calls.push_back({done, total});
}
void Warning(const std::string& text, void*) { hooks.warnings.push_back(text); }

std::unique_ptr<BuildJob> Build(const std::string& source, const std::string& target,
                                FileSystemChoice choice) {
  hooks.calls.clear();
  hooks.warnings.clear();
  auto job =
      StartImageBuild(Utf8ToUtf16(source).c_str(), u"Test", choice, Utf8ToUtf16(target).c_str(),
                      "Vellumcast ", "vellumcast_console 1.0", false, Progress, Warning);
  hooks.atFirstCall = nullptr;
  return job;
}

void MakeTree(const TempDir& src) {
  WriteFile(src / "README.TXT", "hello\n");
  WriteFile(src / "DATA.BIN", PatternBytes(300000, 1));
  WriteFile(src / "EMPTY.TXT", "");
  WriteFile(src / "DOCS/EXACT.BIN", PatternBytes(2048, 2));
  WriteFile(src / "DOCS/DEEP/NOTE.TXT", PatternBytes(5000, 3));
  std::filesystem::create_directories(src / "HOLLOW");
  for (int i = 0; i < 60; ++i)
    WriteFile(src / ("MANY/F" + std::to_string(i) + ".BIN"), PatternBytes(i * 50, i));
}

TEST(Iso9660Image, ReadsBackAsTheSourceTree) {
  for (FileSystemChoice choice : {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102}) {
    TempDir src, out;
    MakeTree(src);
    std::string target = out / "img.iso";
    auto job = Build(src.path(), target, choice);
    ASSERT_TRUE(job->succeeded) << job->errorMessage;
    EXPECT_EQ(CompareIsoWithFolder(target, src.path()), "") << "choice " << choice;
    ASSERT_FALSE(hooks.calls.empty());
    EXPECT_EQ(hooks.calls.back().first, hooks.calls.back().second);
    EXPECT_EQ(uint64_t(hooks.calls.back().second) * 2048, std::filesystem::file_size(target));
    IsoListing listing = ReadIsoImage(target);
    EXPECT_EQ(listing.volumeId, "TEST");
    EXPECT_EQ(listing.applicationId, "VELLUMCAST_CONSOLE 1.0");
  }
}

TEST(Iso9660Image, SourceChangesDuringTheWrite) {
  {
    TempDir src, out;
    MakeTree(src);
    hooks.atFirstCall = [&] { std::filesystem::remove(src / "DOCS/DEEP/NOTE.TXT"); };
    std::string target = out / "img.iso";
    auto job = Build(src.path(), target, FileSystemChoice::Iso9660);
    EXPECT_FALSE(job->succeeded);
    EXPECT_EQ(job->errorMessage,
              "cannot read " + src / "DOCS/DEEP/NOTE.TXT" + ": No such file or directory");
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()), {}), 0);
  }
  {
    TempDir src, out;
    MakeTree(src);
    hooks.atFirstCall = [&] { WriteFile(src / "DATA.BIN", "short"); };
    std::string target = out / "img.iso";
    auto job = Build(src.path(), target, FileSystemChoice::Iso9660Udf102);
    ASSERT_TRUE(job->succeeded) << job->errorMessage;
    ASSERT_EQ(hooks.warnings.size(), 1u);
    EXPECT_EQ(hooks.warnings[0], src / "DATA.BIN" + " changed size while the image was written");
    // The planned size stays; the missing bytes read as zeros.
    IsoListing listing = ReadIsoImage(target);
    for (const auto& e : listing.entries) {
      if (e.path != "/DATA.BIN") continue;
      EXPECT_EQ(e.size, 300000u);
      EXPECT_EQ(ReadIsoBytes(target, e.firstSector, 0, 10),
                std::string("short") + std::string(5, '\0'));
    }
  }
}

// A file of 4 GiB and more in an ISO 9660 + UDF image: a multi-extent file in ISO 9660.
// Source and image are sparse, so this costs no disk.
TEST(Iso9660Image, FileOfFourGibibytesAndMore) {
  TempDir src, out;
  const uint64_t size = (uint64_t(4) << 30) + 4096 + 17;
  int fd = open((src / "HUGE.BIN").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t(size)), 0);
  std::string tail = PatternBytes(5000, 9);
  ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), off_t(size - tail.size())), ssize_t(tail.size()));
  close(fd);
  WriteFile(src / "SMALL.TXT", "small");
  std::string target = out / "huge.iso";
  auto job = Build(src.path(), target, FileSystemChoice::Iso9660Udf102);
  ASSERT_TRUE(job->succeeded) << job->errorMessage;
  IsoListing listing = ReadIsoImage(target);
  ASSERT_TRUE(listing.ok) << listing.error;
  EXPECT_EQ(CompareIsoWithFolder(target, src.path()), "");

  // The records in the root directory: consecutive extents, the first of the largest
  // size and flagged as not final.
  int image = open(target.c_str(), O_RDONLY);
  ASSERT_GE(image, 0);
  uint8_t pvd[2048], dir[2048];
  ASSERT_EQ(pread(image, pvd, 2048, 16 * 2048), 2048);
  ASSERT_EQ(pread(image, dir, 2048, off_t(ByteSpan(pvd, 2048).U32Le(156 + 2)) * 2048), 2048);
  close(image);
  std::vector<ByteSpan> records;
  for (uint32_t at = 0; at < 2048 && dir[at]; at += dir[at]) {
    if (std::string(reinterpret_cast<const char*>(dir + at + 33), dir[at + 32])
            .rfind("HUGE.BIN", 0) == 0) {
      records.emplace_back(dir + at, 2048 - at);
    }
  }
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].U8(25), 0x80);
  EXPECT_EQ(records[1].U8(25), 0x00);
  EXPECT_EQ(records[0].U32Le(10), 0xFFFFF800u);
  EXPECT_EQ(records[0].U32Be(14), 0xFFFFF800u);
  EXPECT_EQ(records[1].U32Le(10), uint32_t(size - 0xFFFFF800u));
  EXPECT_EQ(records[1].U32Le(2), records[0].U32Le(2) + 0xFFFFF800u / 2048);
  EXPECT_EQ(records[1].U32Be(6), records[1].U32Le(2));
}

// The name the Linux kernel's iso9660 driver (mounted without Rock Ridge and Joliet) shows
// for an identifier: A-Z lowered, a final ";1" or ".;1" dropped, other ';' shown as '.';
// "" when it cannot open the entry: "." and ".." are its own, and a name of one byte is
// compared as a signed char that must be above 1.
std::string KernelName(const std::string& identifier) {
  std::string shown;
  for (size_t i = 0; i < identifier.size(); ++i) {
    std::string rest = identifier.substr(i);
    if (rest == ";1" || rest == ".;1") break;
    char c = identifier[i];
    shown.push_back(c == ';' ? '.' : c >= 'A' && c <= 'Z' ? char(c + 32) : c);
  }
  bool reached = !shown.empty() && shown != "." && shown != ".." &&
                 (shown.size() > 1 || static_cast<signed char>(shown[0]) > 1);
  return reached ? shown : "";
}

// Names the kernel would show alike or could not open: every file stays reachable under a
// name of its own, as the kernel shows it and without its trailing dots (readers that ignore
// case drop them); a name without collision keeps its identifier, numbered variants start at
// ~1. Expected identifiers for the sorted order of ISO 9660 + UDF; an ISO 9660 image keeps
// the listing order, so there only reachability and content are checked.
TEST(Iso9660Image, EveryNameReachableAsTheKernelShowsIt) {
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> identifiers;
  };  // "dir:" a directory
  const Case cases[] = {
      {{"a;b.txt", "a.b.txt"}, {"a.b.txt;1", "a;b~1.txt;1"}},
      {{"...", "x;1.txt", "x;2.txt", "x;1"}, {"..~1.;1", "x;1.;1", "x;1.txt;1", "x;2.txt;1"}},
      {{"\xC3\xA9", "\xC2\xA0", "\xE9"},
       {"?.;1", "\xA0~1.;1", "\xE9~1.;1"}},  // é, no-break space, not UTF-8
      {{"dir:\xC3\xA9", "dir:x;1", "x", "README", "Readme.", "dir:..."},
       {"...~1", "README.;1", "Readme~1.;1", "x.;1", "x;1~1", "\xE9~1"}},
  };
  for (const Case& c : cases) {
    for (FileSystemChoice choice : {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102}) {
      TempDir src, out;
      std::vector<std::string> contents;
      for (const std::string& name : c.names) {
        contents.push_back(name + PatternBytes(3000, int(contents.size())));
        WriteFile(src / (name.starts_with("dir:") ? name.substr(4) + "/in" : name),
                  contents.back());
      }
      std::string target = out / "names.iso";
      auto job = Build(src.path(), target, choice);
      ASSERT_TRUE(job->succeeded) << job->errorMessage;
      IsoListing listing = ReadIsoImage(target);
      ASSERT_TRUE(listing.ok) << listing.error;
      std::vector<std::string> identifiers, read;
      std::set<std::string> shown;  // as the kernel shows them, trailing dots dropped
      for (const IsoEntry& e : listing.entries) {
        if (e.path.find('/', 1) == std::string::npos) {
          identifiers.push_back(e.identifier);
          std::string name = KernelName(e.identifier);
          EXPECT_NE(name, "") << e.identifier;
          while (!name.empty() && name.back() == '.') name.pop_back();
          EXPECT_TRUE(shown.insert(name).second) << e.identifier;
        }
        if (!e.isDirectory) read.push_back(ReadIsoBytes(target, e.firstSector, 0, e.size));
      }
      if (choice == FileSystemChoice::Iso9660Udf102) {
        EXPECT_EQ(identifiers, c.identifiers);
      }
      std::sort(contents.begin(), contents.end());
      std::sort(read.begin(), read.end());
      EXPECT_TRUE(read == contents) << c.names[0] << " choice " << choice;
    }
  }
}

}  // namespace
}  // namespace vellumcast::test
