// The image reader against libiso9660 and libudfread: every name, size and byte of the
// images of every file-system choice, a DVD-Video folder and a stereoscopic Blu-ray folder.
#include <gtest/gtest.h>

#include <map>

#include "choice_text.h"
#include "iso_reader.h"
#include "reader/image_survey.h"
#include "reader/iso9660_tree.h"
#include "reader/udf_tree.h"
#include "reader_images.h"
#include "udf_reader.h"

namespace vellumcast {
namespace {

struct OracleCase {
  const char* name;
  void (*make)(const std::string&);
  FileSystemChoice choice;
  bool iso;
  uint16_t udfRevision;
};

const OracleCase kOracleCases[] = {
    {"Iso9660", test::MakeReaderTree, FileSystemChoice::Iso9660, true, 0},
    {"IsoUdf102", test::MakeReaderTree, FileSystemChoice::Iso9660Udf102, true, 0x0102},
    {"Udf102", test::MakeReaderTree, FileSystemChoice::Udf102, false, 0x0102},
    {"Udf250", test::MakeReaderTree, FileSystemChoice::Udf250, false, 0x0250},
    {"DvdVideo", test::MakeDvdVideoFolder, FileSystemChoice::Iso9660Udf102, true, 0x0102},
    {"Stereoscopic", test::MakeStereoFolder, FileSystemChoice::Default, false, 0x0250},
    {"ContinuedExtents", test::MakeContinuedExtentsFolder, FileSystemChoice::Default, false,
     0x0250},
};

void PrintTo(const OracleCase& c, std::ostream* os) { *os << c.name; }

std::string EntryBytes(ImageSource& image, const ImageEntry& e) {
  std::string bytes(size_t(e.size), '\0');
  return ReadEntryBytes(image, e, 0, reinterpret_cast<uint8_t*>(bytes.data()), bytes.size())
             ? bytes
             : "<unreadable>";
}

// libiso9660 gives an identifier's bytes as they are; the reader shows them as Latin-1.
std::string Latin1ToUtf8(const std::string& bytes) {
  std::u16string units(bytes.begin(), bytes.end());
  for (char16_t& u : units) u = char16_t(uint8_t(u));
  return Utf16ToUtf8(units);
}

// A walk folder by folder hands over each folder once, after the entry that names it,
// with exactly its own entries; together they are the entries of the whole tree.
struct FolderWalk {
  std::map<uint32_t, std::string> named{{0, ""}};  // folder number -> the path of its entry
  size_t entries = 0;

  static void Visit(ImageFolder& folder, void* context) {
    FolderWalk& walk = *static_cast<FolderWalk*>(context);
    auto it = walk.named.find(folder.number);
    ASSERT_NE(it, walk.named.end()) << folder.path;
    EXPECT_EQ(it->second, folder.path);
    walk.named.erase(it);
    for (const ImageEntry& e : folder.entries) {
      EXPECT_TRUE(e.path.empty() && !e.name.empty()) << e.path;  // one path: the folder's
      EXPECT_EQ(e.name.find('/'), std::string::npos) << e.name;
      if (e.directory) walk.named[e.folder] = JoinImagePath(folder.path, e.name);
    }
    walk.entries += folder.entries.size();
  }
};

class ReaderOracle : public ::testing::TestWithParam<OracleCase> {};

TEST_P(ReaderOracle, AgreesWithLibiso9660AndLibudfread) {
  const OracleCase& c = GetParam();
  test::TempDir source, out;
  c.make(source.path());
  const std::string target = out / "image.iso";
  ASSERT_FALSE(test::BuildReaderImage(source.path(), target, c.choice).empty());
  ImageSource image;
  ASSERT_TRUE(image.Open(target)) << image.error;
  const ImageFileSystems systems = SurveyImage(image);
  EXPECT_EQ(systems.iso9660, c.iso);
  EXPECT_EQ(systems.udf, c.udfRevision != 0);
  EXPECT_EQ(systems.udfRevision, c.udfRevision);

  if (c.iso) {
    ImageTree tree;
    ReadReport report;
    ASSERT_TRUE(ReadIso9660Tree(image, tree, report));
    for (const ReadProblem& p : report.problems) ADD_FAILURE() << p.text;
    FolderWalk walk;
    ImageTree counts;
    ASSERT_TRUE(WalkIso9660Tree(image, counts, report, FolderWalk::Visit, &walk));
    EXPECT_TRUE(walk.named.empty());
    EXPECT_EQ(walk.entries, tree.entries.size());
    const test::IsoListing listing = test::ReadIsoImage(target);
    ASSERT_TRUE(listing.ok) << listing.error;
    EXPECT_EQ(tree.volumeId, listing.volumeId);
    ASSERT_EQ(tree.entries.size(), listing.entries.size());
    std::map<std::string, const ImageEntry*> mine;
    for (const ImageEntry& e : tree.entries) mine["/" + e.path] = &e;
    for (const test::IsoEntry& theirs : listing.entries) {
      const std::string path = Latin1ToUtf8(theirs.path);
      ASSERT_TRUE(mine.count(path)) << path;
      const ImageEntry& e = *mine[path];
      EXPECT_EQ(e.directory, theirs.isDirectory) << path;
      if (e.directory) continue;
      EXPECT_EQ(e.size, theirs.size) << path;
      EXPECT_TRUE(EntryBytes(image, e) ==
                  test::ReadIsoBytes(target, theirs.firstSector, 0, theirs.size))
          << path;
    }
  }
  if (c.udfRevision) {
    ImageTree tree;
    ReadReport report;
    ASSERT_TRUE(ReadUdfTree(image, tree, report));
    for (const ReadProblem& p : report.problems) ADD_FAILURE() << p.text;
    FolderWalk walk;
    ImageTree counts;
    ASSERT_TRUE(WalkUdfTree(image, counts, report, FolderWalk::Visit, &walk));
    EXPECT_TRUE(walk.named.empty());
    EXPECT_EQ(walk.entries, tree.entries.size());
    test::TreeListing listed;
    std::string error, volumeId;
    ASSERT_TRUE(test::ListUdfImage(target, listed, error, &volumeId)) << error;
    EXPECT_EQ(tree.volumeId, volumeId);
    EXPECT_EQ(tree.udfRevision, c.udfRevision);
    ASSERT_EQ(tree.entries.size(), listed.size());
    for (const ImageEntry& e : tree.entries) {
      auto it = listed.find(e.path);
      ASSERT_NE(it, listed.end()) << e.path;
      EXPECT_EQ(e.directory, it->second.directory) << e.path;
      if (e.directory) continue;
      EXPECT_EQ(e.size, it->second.bytes.size()) << e.path;
      EXPECT_TRUE(EntryBytes(image, e) == it->second.bytes) << e.path;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Images, ReaderOracle, ::testing::ValuesIn(kOracleCases),
                         [](const ::testing::TestParamInfo<OracleCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace vellumcast
