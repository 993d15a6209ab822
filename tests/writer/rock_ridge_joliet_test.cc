// Rock Ridge (IEEE P1282 over SUSP, IEEE P1281) and Joliet on the ISO 9660 tree: entry
// bytes, the Supplementary Volume Descriptor, Joliet names, reproducible images, and
// images without either switch that stay byte for byte what they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <filesystem>
#include <string>
#include <vector>

#include "build/build_job.h"
#include "choice_text.h"
#include "platform/byte_span.h"
#include "platform/text.h"
#include "reader/iso9660_tree.h"
#include "test_support.h"

namespace vellumcast::test {
namespace {

constexpr int64_t kFixedTime = 1700000000;  // 2023-11-14T22:13:20Z
std::vector<std::string> collected;         // warnings of the last build

// Sets the access and modification times of every entry below `root` (and of `root`).
void FixTimes(const std::string& root) {
  std::vector<std::string> paths{root};
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    paths.push_back(e.path().string());
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

std::string BuildImage(const std::string& source, const std::string& target,
                       FileSystemChoice choice) {
  BuildOptions options;
  options.buildTime = kFixedTime;
  auto job =
      StartImageBuild(Utf8ToUtf16(source).c_str(), u"Pinned", choice, Utf8ToUtf16(target).c_str(),
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
      // Rehashed when every folder came to be read in name order (the file data with it).
      {MakeNamesTree, FileSystemChoice::Iso9660, 0x0057c68e3b2d4aa5ull},
      {MakeNamesTree, FileSystemChoice::Iso9660Udf102, 0xce86862f5cdab087ull},
      {MakeNamesTree, FileSystemChoice::Udf102, 0xad75063f935b17d4ull},
      {MakeNamesTree, FileSystemChoice::Udf250, 0x6386d9851f81679cull},
      {MakeDvdVideoTree, FileSystemChoice::Iso9660Udf102, 0xba0de85a86264461ull},
  };
  for (const Case& c : cases) {
    TempDir src, out;
    c.make(src);
    std::string target = out / "img.iso";
    ASSERT_EQ(BuildImage(src.path(), target, c.choice), "");
    EXPECT_EQ(ImageHash(target), c.hash) << "choice " << c.choice;
  }
}

// ---- Reading the image back: directory records and their SUSP entries, by hand.

struct Record {
  std::string identifier;
  std::string systemUse;  // the record's System Use field, padding included
  uint32_t location = 0;
  uint32_t size = 0;
  bool isDirectory = false;
};

// A little-endian field of `b`, bounded: a field past the bytes reads as 0.
uint32_t Le32(const std::string& b, size_t at) {
  return ByteSpan(reinterpret_cast<const uint8_t*>(b.data()), b.size()).U32Le(at);
}

// The records of the directory extent at `sector` of `size` bytes.
std::vector<Record> Records(const std::string& image, uint32_t sector, uint32_t size) {
  std::vector<Record> out;
  const std::string extent = image.substr(size_t(sector) * 2048, size);
  for (size_t at = 0; at < extent.size();) {
    uint8_t length = uint8_t(extent[at]);
    if (length == 0) {
      at = (at / 2048 + 1) * 2048;
      continue;
    }
    uint8_t n = uint8_t(extent[at + 32]);
    size_t su = 33 + n + (n % 2 == 0 ? 1 : 0);
    out.push_back({extent.substr(at + 33, n), extent.substr(at + su, length - su),
                   Le32(extent, at + 2), Le32(extent, at + 10),
                   (uint8_t(extent[at + 25]) & 2) != 0});
    at += length;
  }
  return out;
}

// The SUSP entries of a System Use field and of the continuation areas its CE entries
// name, in order: signature followed by the entry's bytes.
std::vector<std::string> SuspEntries(const std::string& image, std::string field) {
  std::vector<std::string> out;
  for (int continuations = 0; continuations < 8; ++continuations) {
    std::string next;
    for (size_t at = 0; at + 4 <= field.size() && uint8_t(field[at + 2]) >= 4;) {
      std::string entry = field.substr(at, uint8_t(field[at + 2]));
      out.push_back(entry);
      if (entry.compare(0, 2, "CE") == 0)
        next = image.substr(size_t(Le32(entry, 4)) * 2048 + Le32(entry, 12), Le32(entry, 20));
      at += entry.size();
    }
    if (next.empty()) break;
    field = next;
  }
  return out;
}

std::string RockRidgeName(const std::string& image, const Record& r) {
  std::string name;
  for (const std::string& e : SuspEntries(image, r.systemUse)) {
    if (e.compare(0, 2, "NM") == 0) name += e.substr(5);
  }
  return name;
}

std::string JolietName(const Record& r) {
  std::u16string units;
  for (size_t i = 0; i + 1 < r.identifier.size(); i += 2) {
    units += char16_t(uint8_t(r.identifier[i]) << 8 | uint8_t(r.identifier[i + 1]));
  }
  return Utf16ToUtf8(units);
}

// Every path below the root of the hierarchy whose volume descriptor is at `sector`,
// named by Rock Ridge (primary) or Joliet (supplementary).
void Walk(const std::string& image, uint32_t location, uint32_t size, bool joliet,
          const std::string& path, std::vector<std::string>& out) {
  std::vector<Record> records = Records(image, location, size);
  for (size_t i = 2; i < records.size(); ++i) {
    std::string name = joliet ? JolietName(records[i]) : RockRidgeName(image, records[i]);
    out.push_back(path + name);
    if (records[i].isDirectory)
      Walk(image, records[i].location, records[i].size, joliet, path + name + "/", out);
  }
}
std::vector<std::string> Tree(const std::string& image, uint32_t descriptorSector) {
  std::vector<std::string> out;
  const size_t root = size_t(descriptorSector) * 2048 + 156;
  Walk(image, Le32(image, root + 2), Le32(image, root + 10), descriptorSector != 16, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> SourceTree(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    out.push_back(std::filesystem::relative(e.path(), folder).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

struct Built {
  bool ok = false;
  std::string error, image;
  int32_t plannedSectors = 0;
  std::vector<std::string> warnings;
};

void Collect(const std::string& text, void*) { collected.push_back(text); }

Built BuildWith(const std::string& source, const std::string& target, FileSystemChoice choice,
                bool rockRidge, bool joliet, bool fixedTime = true) {
  BuildOptions options;
  if (fixedTime) options.buildTime = kFixedTime;
  options.rockRidge = rockRidge;
  options.joliet = joliet;
  collected.clear();
  auto job =
      StartImageBuild(Utf8ToUtf16(source).c_str(), u"Pinned", choice, Utf8ToUtf16(target).c_str(),
                      "Vellumcast ", "vellumcast_console 1.0", false, nullptr, Collect, options);
  Built b;
  b.ok = job->succeeded;
  b.error = job->errorMessage;
  b.plannedSectors = job->volumeSectors;
  b.warnings = collected;
  if (b.ok) b.image = ReadFile(target);
  return b;
}

// Rock Ridge names (NM, continuation areas followed) and Joliet names read back as the
// source has them, ten levels deep, on CD and on the bridge; the planned size is the
// image's size.
TEST(RockRidgeJoliet, BothTreesReadBackAsTheSource) {
  TempDir src;
  MakeNamesTree(src);
  std::vector<std::string> want = SourceTree(src.path());
  for (FileSystemChoice choice : {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102}) {
    TempDir out;
    Built b = BuildWith(src.path(), out / "img.iso", choice, true, true);
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_EQ(size_t(b.plannedSectors) * 2048, b.image.size());
    EXPECT_EQ(Tree(b.image, 16), want) << "choice " << choice;
    std::vector<std::string> joliet = Tree(b.image, 17);
    EXPECT_EQ(joliet.size(), want.size());
    EXPECT_TRUE(std::count(joliet.begin(), joliet.end(), "a_b.txt")) << "choice " << choice;
    EXPECT_TRUE(std::count(joliet.begin(), joliet.end(), "日本語の写真.jpg"));
    EXPECT_TRUE(
        std::count(joliet.begin(), joliet.end(), "l1/l2/l3/l4/l5/l6/l7/l8/l9/l10/bottom.txt"));
    // The program's own reader finds nothing wrong with the primary tree.
    ImageSource reader;
    ASSERT_TRUE(reader.Open(out / "img.iso")) << reader.error;
    ImageTree tree;
    ReadReport report;
    EXPECT_TRUE(ReadIso9660Tree(reader, tree, report));
    for (const ReadProblem& p : report.problems)
      ADD_FAILURE() << "choice " << choice << ": " << p.text;
  }
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += char(v);
  return s;
}

// The SUSP and Rock Ridge entries of a name of 244 bytes: PX, TF, the first part of the
// name in an NM that continues, CE; the continuation area holds the root's ER and then the
// rest of the name in a last NM. The root's "." record starts with SP.
TEST(RockRidgeJoliet, EntryBytesOfANameInTwoNmEntriesAndAContinuationArea) {
  TempDir src, out;
  const std::string name = std::string(240, 'n') + ".txt";
  WriteFile(src / name, "x");
  FixTimes(src.path());
  Built b = BuildWith(src.path(), out / "img.iso", FileSystemChoice::Iso9660, true, false);
  ASSERT_TRUE(b.ok) << b.error;
  // Sector 16 PVD, 17 terminator, 18 and 19 path tables, 20 the root, 21 continuation.
  std::vector<Record> root = Records(b.image, 20, 2048);
  ASSERT_EQ(root.size(), 3u);
  const std::string& self = root[0].systemUse;
  EXPECT_EQ(self.substr(0, 7), Bytes({'S', 'P', 7, 1, 0xBE, 0xEF, 0}));
  EXPECT_EQ(self.substr(7, 4), Bytes({'P', 'X', 36, 1}));
  EXPECT_EQ(Le32(self, 11), 040555u);
  EXPECT_EQ(Le32(self, 19), 2u);  // links
  EXPECT_EQ(self.substr(43, 5), Bytes({'T', 'F', 26, 1, 0x0E}));
  EXPECT_EQ(self.substr(69, 4), Bytes({'C', 'E', 28, 1}));
  EXPECT_EQ(Le32(self, 73), 21u);
  EXPECT_EQ(Le32(self, 81), 0u);
  EXPECT_EQ(Le32(self, 89), 237u);
  const std::string er = b.image.substr(21 * 2048, 237);
  EXPECT_EQ(er.substr(0, 8), Bytes({'E', 'R', 237, 1, 10, 84, 135, 1}));
  EXPECT_EQ(er.substr(8, 10), "RRIP_1991A");

  // The file's record: identifier nnnnnnnn.txt;1 (14 bytes, one padding byte), so
  // 254 - 48 = 206 bytes of system use: PX 36, TF 26, NM 5 + 111, CE 28.
  const std::string& su = root[2].systemUse;
  ASSERT_EQ(su.size(), 206u);
  EXPECT_EQ(su.substr(0, 4), Bytes({'P', 'X', 36, 1}));
  EXPECT_EQ(Le32(su, 4), 0100444u);
  EXPECT_EQ(su.substr(36, 5), Bytes({'T', 'F', 26, 1, 0x0E}));
  EXPECT_EQ(su.substr(62, 5), Bytes({'N', 'M', 5 + 111, 1, 1}));  // CONTINUE
  EXPECT_EQ(su.substr(67, 111), name.substr(0, 111));
  EXPECT_EQ(su.substr(178, 4), Bytes({'C', 'E', 28, 1}));
  EXPECT_EQ(Le32(su, 182), 21u);
  EXPECT_EQ(Le32(su, 190), 237u);
  EXPECT_EQ(Le32(su, 198), 5u + 133);
  const std::string rest = b.image.substr(21 * 2048 + 237, 138);
  EXPECT_EQ(rest.substr(0, 5), Bytes({'N', 'M', 138, 1, 0}));
  EXPECT_EQ(rest.substr(5), name.substr(111));
  EXPECT_EQ(RockRidgeName(b.image, root[2]), name);
}

// The Supplementary Volume Descriptor after the PVD: Joliet's escape sequence, the label
// in UCS-2 as typed, its own path tables and root; the terminator follows it.
TEST(RockRidgeJoliet, SupplementaryVolumeDescriptor) {
  TempDir src, out;
  MakeNamesTree(src);
  Built b = BuildWith(src.path(), out / "img.iso", FileSystemChoice::Iso9660, false, true);
  ASSERT_TRUE(b.ok) << b.error;
  const std::string svd = b.image.substr(17 * 2048, 2048);
  EXPECT_EQ(svd.substr(0, 7), Bytes({2, 'C', 'D', '0', '0', '1', 1}));
  EXPECT_EQ(svd.substr(88, 32), std::string("%/E") + std::string(29, '\0'));
  EXPECT_EQ(svd.substr(40, 14), Bytes({0, 'P', 0, 'i', 0, 'n', 0, 'n', 0, 'e', 0, 'd', 0, ' '}));
  EXPECT_EQ(Le32(svd, 80), Le32(b.image, 16 * 2048 + 80));  // volume space size
  EXPECT_EQ(b.image[18 * 2048], char(255));                 // the terminator
  EXPECT_EQ(Le32(b.image, 16 * 2048 + 140), 19u);           // the primary type L path table
  const uint32_t jolietTable = Le32(svd, 140);
  EXPECT_GT(jolietTable, 19u);
  EXPECT_EQ(uint8_t(b.image[size_t(jolietTable) * 2048]), 1u);  // the root's record
  EXPECT_EQ(svd.substr(574, 8), Bytes({0, 'v', 0, 'e', 0, 'l', 0, 'l'}));
  EXPECT_EQ(Tree(b.image, 16).size(), Tree(b.image, 17).size());
}

// Joliet identifiers: at most 64 units keeping the extension, unique within the folder
// (also ignoring the case of A-Z), a character beyond U+FFFF as '_', characters Joliet
// does not allow replaced; one warning per name recorded differently.
TEST(RockRidgeJoliet, JolietNamesShortenedAndUnique) {
  TempDir src, out;
  const std::string x66(66, 'x');
  const std::string emoji =
      std::string(63, 'e') + "\xF0\x9F\x98\x80" + "z";  // the pair at units 63-64
  for (const std::string& name : {x66 + ".jpeg", x66 + "y.jpeg", std::string("Photo.JPG"),
                                  std::string("photo.jpg"), emoji, std::string("a;b:c?.txt")}) {
    WriteFile(src / name, name);
  }
  Built b = BuildWith(src.path(), out / "img.iso", FileSystemChoice::Iso9660Udf102, false, true);
  ASSERT_TRUE(b.ok) << b.error;
  std::vector<std::string> want = {std::string(59, 'x') + ".jpeg",
                                   std::string(57, 'x') + "~1.jpeg",
                                   "Photo.JPG",
                                   "a_b_c_.txt",
                                   std::string(63, 'e') + "_",
                                   "photo~1.jpg"};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(Tree(b.image, 17), want);
  EXPECT_EQ(b.warnings.size(), 5u);
}

// With a fixed build time two builds are byte for byte the same and record owner 0 and
// permissions 0444 / 0555 (a file with any x bit); without one, the source's.
TEST(RockRidgeJoliet, ReproducibleWithAFixedTime) {
  TempDir src, out;
  MakeNamesTree(src);
  chmod((src / "README.TXT").c_str(), 0640);
  chmod((src / "a;b.txt").c_str(), 0710);
  Built first = BuildWith(src.path(), out / "a.iso", FileSystemChoice::Iso9660Udf102, true, true);
  Built second = BuildWith(src.path(), out / "b.iso", FileSystemChoice::Iso9660Udf102, true, true);
  ASSERT_TRUE(first.ok && second.ok) << first.error << second.error;
  EXPECT_TRUE(first.image == second.image);
  Built clock =
      BuildWith(src.path(), out / "c.iso", FileSystemChoice::Iso9660Udf102, true, true, false);
  ASSERT_TRUE(clock.ok) << clock.error;
  for (const Built* b : {&first, &clock}) {
    const size_t root = 16 * 2048 + 156;
    for (const Record& r : Records(b->image, Le32(b->image, root + 2), Le32(b->image, root + 10))) {
      if (r.identifier == "A_B.TXT;1") {
        EXPECT_EQ(Le32(r.systemUse, 4), b == &first ? 0100555u : 0100710u);
      }
      if (r.identifier != "README.TXT;1") continue;
      EXPECT_EQ(Le32(r.systemUse, 4), b == &first ? 0100444u : 0100640u);
      EXPECT_EQ(Le32(r.systemUse, 20), b == &first ? 0u : uint32_t(getuid()));
    }
  }
}

// UDF-only choices refuse both switches before anything is written.
TEST(RockRidgeJoliet, RefusedWithoutIso9660) {
  TempDir src, out;
  WriteFile(src / "a.txt", "a");
  for (FileSystemChoice choice :
       {FileSystemChoice::Default, FileSystemChoice::Udf102, FileSystemChoice::Udf250}) {
    for (bool rockRidge : {true, false}) {
      Built b = BuildWith(src.path(), out / "img.iso", choice, rockRidge, !rockRidge);
      EXPECT_FALSE(b.ok);
      EXPECT_NE(b.error.find("ISO 9660"), std::string::npos) << b.error;
      EXPECT_FALSE(std::filesystem::exists(out / "img.iso"));
    }
  }
}
}  // namespace
}  // namespace vellumcast::test
