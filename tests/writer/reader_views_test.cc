// What every reader sees of one folder: characters beyond U+FFFF in names and label,
// names that are one name to Windows or Linux, a DVD-Video root file named like its
// folder, dates ISO 9660 cannot hold, and one image from one folder with a fixed time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "build/build_job.h"
#include "choice_text.h"
#include "platform/text.h"
#include "reader/image_source.h"
#include "reader/iso9660_tree.h"
#include "reader/udf_tree.h"
#include "reader_images.h"
#include "test_support.h"

namespace vellumcast::test {
namespace {

constexpr int64_t kFixedTime = 1700000000;  // 2023-11-14T22:13:20Z
std::vector<std::string> collected;

void Collect(const std::string& text, void*) { collected.push_back(text); }

struct Built {
  bool ok = false;
  std::string error, differences;
  std::vector<std::string> warnings;
};

bool WritesIso(FileSystemChoice c) {
  return c == FileSystemChoice::Iso9660 || c == FileSystemChoice::Iso9660Udf102;
}

// A build with -verify (and Rock Ridge and Joliet where ISO 9660 is written), or with
// `compare` a -compare of `target`.
Built Build(const std::string& source, const std::string& target, FileSystemChoice choice,
            std::optional<int64_t> time = kFixedTime, bool compare = false,
            const char16_t* label = u"Pinned") {
  BuildOptions options;
  options.buildTime = time;
  options.verify = !compare;
  if (compare) options.compareImage = Utf8ToUtf16(target);
  options.rockRidge = options.joliet = compare || WritesIso(choice);
  collected.clear();
  auto job = StartImageBuild(Utf8ToUtf16(source).c_str(), label, choice,
                             compare ? u"" : Utf8ToUtf16(target).c_str(), "Vellumcast ",
                             "vellumcast_console 1.0", false, nullptr, Collect, options);
  Built b{job->succeeded, job->errorMessage, {}, collected};
  for (const std::string& d : job->check.differences) b.differences += d + "\n";
  if (b.ok && !job->check.Matches()) b.ok = false;
  return b;
}

// The paths of one tree of the image (sorted) and its volume identifier.
std::vector<std::string> Paths(const std::string& image, int names, std::string* volume = nullptr) {
  ImageSource source;
  EXPECT_TRUE(source.Open(image)) << source.error;
  ImageTree tree;
  ReadReport report;
  const bool read = names < 0 ? ReadUdfTree(source, tree, report)
                              : ReadIso9660Tree(source, tree, report, {}, IsoNames(names));
  EXPECT_TRUE(read && report.Clean()) << (report.problems.empty() ? "" : report.problems[0].text);
  std::vector<std::string> out;
  for (const ImageEntry& e : tree.entries) out.push_back(e.path);
  std::sort(out.begin(), out.end());
  if (volume) *volume = tree.volumeId;
  return out;
}
constexpr int kUdf = -1;

size_t Count(const std::vector<std::string>& texts, const std::string& part) {
  return size_t(std::count_if(texts.begin(), texts.end(), [&](const std::string& t) {
    return t.find(part) != std::string::npos;
  }));
}

void SetTime(const std::string& path, int64_t time) {
  const timespec times[2] = {{time, 0}, {time, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// 💿 U+1F4BF, 📀 U+1F4C0 and 📷 U+1F4F7: low surrogates in DC80-DCFF, kept whole in UDF
// and Rock Ridge names and in the UDF label; '_' in Joliet, with a warning each.
TEST(ReaderViews, SupplementaryCharactersInEveryTree) {
  TempDir src;
  WriteFile(src / "\xF0\x9F\x92\xBF disc.txt", "disc");
  WriteFile(src / "\xF0\x9F\x93\x80/\xF0\x9F\x93\xB7.jpg", "photo");
  const std::vector<std::string> full = {"\xF0\x9F\x92\xBF disc.txt", "\xF0\x9F\x93\x80",
                                         "\xF0\x9F\x93\x80/\xF0\x9F\x93\xB7.jpg"};
  const std::vector<std::string> joliet = {"_", "_ disc.txt", "_/_.jpg"};
  for (FileSystemChoice choice : {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102,
                                  FileSystemChoice::Udf102, FileSystemChoice::Udf250}) {
    TempDir out;
    Built b = Build(src.path(), out / "img.iso", choice, kFixedTime, false, u"Disc \U0001F4BF");
    ASSERT_TRUE(b.ok) << b.error << b.differences;
    std::string volume;
    if (choice != FileSystemChoice::Iso9660) {
      EXPECT_EQ(Paths(out / "img.iso", kUdf, &volume), full) << choice;
      EXPECT_EQ(volume, "Disc \xF0\x9F\x92\xBF");
    }
    if (!WritesIso(choice)) continue;
    EXPECT_EQ(Paths(out / "img.iso", kIsoRockRidgeNames), full) << choice;
    EXPECT_EQ(Paths(out / "img.iso", kIsoJolietNames, &volume), joliet) << choice;
    EXPECT_EQ(volume, "Disc _");
    EXPECT_EQ(Count(b.warnings, "beyond U+FFFF"), 3u) << choice;
  }
}

// Names Windows (letter case, trailing dots and spaces aside) or Linux's Joliet driver
// (trailing dots dropped) would show as one are numbered in Joliet; UDF and Rock Ridge
// keep every name as it is.
TEST(ReaderViews, JolietNamesThatAreOneNameToAReader) {
  TempDir src, out;
  const std::vector<std::string> names = {"...",          "B.txt",    "a",       "a ",
                                          "a.",           "a..",      "b.TXT",   "\xC3\x89.txt",
                                          "\xC3\xA9.txt", "\xCE\xA9", "\xCF\x89"};
  for (const std::string& name : names) WriteFile(src / ("d/" + name), name);
  Built b = Build(src.path(), out / "img.iso", FileSystemChoice::Iso9660Udf102);
  ASSERT_TRUE(b.ok) << b.error << b.differences;
  std::vector<std::string> joliet = {"d",
                                     "d/.._",
                                     "d/B.txt",
                                     "d/a",
                                     "d/a~1",
                                     "d/a~2",
                                     "d/a~3",
                                     "d/b~1.TXT",
                                     "d/\xC3\x89.txt",
                                     "d/\xC3\xA9~1.txt",
                                     "d/\xCE\xA9",
                                     "d/\xCF\x89~1"};
  std::sort(joliet.begin(), joliet.end());
  EXPECT_EQ(Paths(out / "img.iso", kIsoJolietNames), joliet);
  std::vector<std::string> full = {"d"};
  for (const std::string& name : names) full.push_back("d/" + name);
  std::sort(full.begin(), full.end());
  EXPECT_EQ(Paths(out / "img.iso", kIsoRockRidgeNames), full);
  EXPECT_EQ(Paths(out / "img.iso", kUdf), full);
  EXPECT_EQ(Count(b.warnings, "in Joliet"), 7u);
  EXPECT_EQ(Count(b.warnings, "d/a.. is named \"a~3\" in Joliet"), 1u);
}

// A root file named like a folder of the DVD-Video structure (made up, or read from
// another letter case) takes a numbered Rock Ridge name; -verify and -compare agree.
TEST(ReaderViews, DvdVideoRootFileNamedLikeItsFolder) {
  struct Case {
    const char* folder;
    std::vector<std::string> root;
  };
  const Case cases[] = {{"VIDEO_TS", {"AUDIO_TS", "AUDIO_TS~1", "VIDEO_TS"}},
                        {"video_ts", {"AUDIO_TS", "AUDIO_TS~1", "VIDEO_TS", "VIDEO_TS~1"}}};
  for (const Case& c : cases) {
    TempDir src, out;
    MakeDvdVideoFolder(src.path());
    std::filesystem::rename(src / "VIDEO_TS", src / c.folder);
    WriteFile(src / "AUDIO_TS", "a file");
    if (c.root.size() == 4) WriteFile(src / "VIDEO_TS", "another file");
    Built b = Build(src.path(), out / "img.iso", FileSystemChoice::Iso9660Udf102);
    ASSERT_TRUE(b.ok) << b.error << b.differences;
    std::vector<std::string> root;
    for (const std::string& p : Paths(out / "img.iso", kIsoRockRidgeNames))
      if (p.find('/') == std::string::npos) root.push_back(p);
    EXPECT_EQ(root, c.root);
    EXPECT_EQ(Count(b.warnings, "in Rock Ridge"), c.root.size() - 2);
    Built compared = Build(src.path(), out / "img.iso", FileSystemChoice::OfImage, {}, true);
    EXPECT_TRUE(compared.ok) << compared.error << compared.differences;
  }
}

// The 7 date bytes of the ISO 9660 record of the root file `identifier`, and those of
// the modification time in its Rock Ridge TF entry.
std::pair<std::string, std::string> RootFileDates(const std::string& image,
                                                  const std::string& identifier) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(image.data());
  const std::string extent = image.substr(size_t(Le32(bytes + 16 * 2048 + 156 + 2)) * 2048, 2048);
  for (size_t at = 0; at < extent.size() && extent[at];) {
    const uint8_t length = uint8_t(extent[at]), n = uint8_t(extent[at + 32]);
    if (extent.compare(at + 33, n, identifier) == 0) {
      const std::string record = extent.substr(at, length);
      const size_t tf = record.find("TF", 33 + n);
      return {record.substr(18, 7), tf == std::string::npos ? "" : record.substr(tf + 5, 7)};
    }
    at += length;
  }
  ADD_FAILURE() << identifier;
  return {};
}

// After 2155 the 7-byte dates hold the nearest date they can (before 1900 too, which the
// file systems of the tests cannot keep), with a warning naming the path (after 20, one
// line with the count); UDF keeps the date.
TEST(ReaderViews, DatesIso9660CannotHoldAreClamped) {
  TempDir src, out;
  WriteFile(src / "late.txt", "late");
  SetTime(src / "late.txt", 7258118400);  // 2200-01-01 00:00:00 UTC
  for (int i = 0; i < 21; ++i) {
    WriteFile(src / ("many/" + std::to_string(i)), "x");
    SetTime(src / ("many/" + std::to_string(i)), 7258118400);
  }
  Built b = Build(src.path(), out / "img.iso", FileSystemChoice::Iso9660Udf102, std::nullopt);
  ASSERT_TRUE(b.ok) << b.error << b.differences;
  const std::string image = ReadFile(out / "img.iso");
  const std::string latest("\xFF\x0C\x1F\x17\x3B\x3B\x00", 7);
  EXPECT_EQ(RootFileDates(image, "late.txt;1"), std::make_pair(latest, latest));
  EXPECT_EQ(Count(b.warnings, "late.txt is dated 2200-01-01 00:00:00 UTC, which ISO 9660"), 1u);
  EXPECT_EQ(Count(b.warnings, "which ISO 9660 cannot hold"), 20u);
  EXPECT_EQ(Count(b.warnings, "2 more entries have dates ISO 9660 cannot hold (22 in all)"), 1u);
  ImageSource source;
  ASSERT_TRUE(source.Open(out / "img.iso"));
  ImageTree udf;
  ReadReport report;
  ASSERT_TRUE(ReadUdfTree(source, udf, report));
  for (const ImageEntry& e : udf.entries)
    if (e.path == "late.txt") {
      EXPECT_EQ(e.modified, 7258118400);
    }
}

// One folder written twice in different orders, its file times after the build time
// different in the two copies: with a fixed time every choice gives the same bytes.
TEST(ReaderViews, SameFolderSameImageWithAFixedTime) {
  TempDir first, second, out;
  const std::vector<std::string> files = {"b.bin", "a.bin", "sub/c.txt", "sub/a.txt", "z.sh"};
  for (size_t i = 0; i < files.size(); ++i) {
    WriteFile(first / files[i], PatternBytes(3000 + 700 * i, uint32_t(i)));
    const size_t j = files.size() - 1 - i;
    WriteFile(second / files[j], PatternBytes(3000 + 700 * j, uint32_t(j)));
  }
  for (const TempDir* d : {&first, &second}) {
    chmod((*d / "z.sh").c_str(), d == &first ? 0750 : 0700);
    for (const std::string& f : files) SetTime(*d / f, kFixedTime + (d == &first ? 60 : 86400));
    SetTime(*d / "a.bin", kFixedTime - 3600);  // before the build time: kept
    SetTime(*d / "sub", kFixedTime + (d == &first ? 1 : 2));
  }
  for (FileSystemChoice choice : {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102,
                                  FileSystemChoice::Udf102, FileSystemChoice::Udf250}) {
    Built a = Build(first.path(), out / "a.iso", choice);
    Built b = Build(second.path(), out / "b.iso", choice);
    ASSERT_TRUE(a.ok && b.ok) << a.error << a.differences << b.error << b.differences;
    EXPECT_TRUE(ReadFile(out / "a.iso") == ReadFile(out / "b.iso")) << choice;
  }
}

}  // namespace
}  // namespace vellumcast::test
