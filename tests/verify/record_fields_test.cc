// The record fields readers use, and the source's metadata: each change of a finished
// image that a reader shows, and each change of the source after the build, makes
// -compare fail naming the path or the structure.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include "image_mutations.h"
#include "reader_images.h"

namespace vellumcast {
namespace {

using test::ImageMutation;

std::string Differences(const CheckOutcome& c) {
  std::string all;
  for (const std::string& d : c.differences) all += d + "\n";
  return all;
}

// -compare without -R, -J or -time: the image's own trees and build time are taken.
std::unique_ptr<BuildJob> Compare(const std::string& source, const std::string& image) {
  BuildOptions options;
  options.compareImage = Utf8ToUtf16(image);
  return StartImageBuild(Utf8ToUtf16(source).c_str(), u"", FileSystemChoice::OfImage, u"",
                         "Vellumcast ", "vellumcast_console 1.0", false, nullptr, nullptr, options);
}

class RecordFields : public ::testing::TestWithParam<ImageMutation> {
 public:
  static void SetUpTestSuite() {
    test::MakeMutationFolder(source.path());
    image =
        test::BuildReaderImage(source.path(), out / "a.iso", FileSystemChoice::Iso9660Udf102, true);
  }
  static test::TempDir source, out;
  static std::string image;
};
test::TempDir RecordFields::source, RecordFields::out;
std::string RecordFields::image;

TEST(RecordFieldsClean, ImageComparesClean) {
  test::TempDir source, out;
  test::MakeMutationFolder(source.path());
  ASSERT_FALSE(
      test::BuildReaderImage(source.path(), out / "a.iso", FileSystemChoice::Iso9660Udf102, true)
          .empty());
  auto job = Compare(source.path(), out / "a.iso");
  ASSERT_TRUE(job->checked) << job->errorMessage;
  EXPECT_TRUE(job->check.Matches()) << Differences(job->check);
  EXPECT_EQ(job->check.fileSystems, "ISO 9660, Rock Ridge, Joliet and UDF 1.02");
}

TEST_P(RecordFields, ChangeIsReported) {
  ASSERT_FALSE(image.empty());
  std::string img = image;
  ASSERT_TRUE(GetParam().apply(img));
  ASSERT_NE(img, image);
  test::WriteFile(out / "changed.iso", img);
  auto job = Compare(source.path(), out / "changed.iso");
  ASSERT_TRUE(job->checked) << job->errorMessage;
  EXPECT_NE(Differences(job->check).find(GetParam().reported), std::string::npos)
      << Differences(job->check);
}

INSTANTIATE_TEST_SUITE_P(Images, RecordFields,
                         ::testing::ValuesIn(test::kImageMutations,
                                             test::kImageMutations + test::kImageMutationCount),
                         [](const ::testing::TestParamInfo<ImageMutation>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) c = c == '-' ? '_' : c;
                           return name;
                         });

// A plain ISO 9660 image carries its label only in the volume identifier: a byte of its
// padding changed is reported though the label is taken from the image.
TEST(RecordFieldsPlainIso, LabelPaddingIsReported) {
  test::TempDir source, out;
  test::MakeMutationFolder(source.path());
  const std::string image =
      test::BuildReaderImage(source.path(), out / "p.iso", FileSystemChoice::Iso9660);
  ASSERT_FALSE(image.empty());
  for (auto [offset, value, reported] :
       {std::tuple{71, 'X', "label: the ISO 9660 volume identifier"},
        std::tuple{60, '\0', "volume identifier has a byte outside"}}) {
    std::string img = image;
    img[16 * 2048 + offset] = value;
    test::WriteFile(out / "changed.iso", img);
    auto job = Compare(source.path(), out / "changed.iso");
    EXPECT_NE(Differences(job->check).find(reported), std::string::npos) << offset << "\n"
                                                                         << Differences(job->check);
  }
}

// Source metadata changed after the build: a new modification time is named in every
// tree; new permissions in Rock Ridge, unless the build time was fixed, which records
// fixed permissions.
TEST(SourceMetadata, ChangesAfterTheBuildAreReported) {
  for (bool fixed : {false, true}) {
    test::TempDir source, out;
    test::WriteFile(source / "a.txt", "a\n");
    test::WriteFile(source / "sub/b.txt", "b\n");
    BuildOptions options;
    options.rockRidge = options.joliet = true;
    if (fixed) options.buildTime = 1767225600;
    auto build =
        StartImageBuild(Utf8ToUtf16(source.path()).c_str(), u"Meta",
                        FileSystemChoice::Iso9660Udf102, Utf8ToUtf16(out / "m.iso").c_str(),
                        "Vellumcast ", "vellumcast_console 1.0", false, nullptr, nullptr, options);
    ASSERT_TRUE(build->succeeded) << build->errorMessage;
    auto clean = Compare(source.path(), out / "m.iso");
    ASSERT_TRUE(clean->check.Matches()) << Differences(clean->check);
    struct stat st {};
    ASSERT_EQ(stat((source / "a.txt").c_str(), &st), 0);
    // With a fixed build time a later file time is recorded as the build time: the new
    // time lies before it.
    const time_t moved = fixed ? 1767225600 - 86400 : st.st_mtime - 3600;
    const timespec times[2] = {st.st_atim, {moved, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (source / "a.txt").c_str(), times, 0), 0);
    ASSERT_EQ(chmod((source / "sub/b.txt").c_str(), 0600), 0);
    auto job = Compare(source.path(), out / "m.iso");
    const std::string all = Differences(job->check);
    for (const char* named : {"/a.txt: recording time", "/a.txt: modification time", "(ISO 9660)",
                              "(Rock Ridge)", "(Joliet)", "(UDF 1.02)"})
      EXPECT_NE(all.find(named), std::string::npos) << named << "\n" << all;
    EXPECT_EQ(all.find("/sub/b.txt: mode ") == std::string::npos, fixed) << all;
  }
}

// A build time fixed before the files' times records them clamped to it, in UTC like a
// build by the clock on a machine in UTC: -compare, not told -time, finds that out from
// the first clamped time in every choice, with or without Rock Ridge attributes.
TEST(SourceMetadata, FixedBuildTimeBeforeTheFilesComparesClean) {
  test::TempDir source, out;
  test::WriteFile(source / "a.txt", "a\n");
  test::WriteFile(source / "sub/b.txt", "b\n");
  for (FileSystemChoice choice : {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102,
                                  FileSystemChoice::Udf102, FileSystemChoice::Default}) {
    BuildOptions options;
    options.buildTime = 1700000000;  // 2023, before the files were written
    auto build = StartImageBuild(Utf8ToUtf16(source.path()).c_str(), u"Meta", choice,
                                 Utf8ToUtf16(out / "f.iso").c_str(), "Vellumcast ",
                                 "vellumcast_console 1.0", false, nullptr, nullptr, options);
    ASSERT_TRUE(build->succeeded) << build->errorMessage;
    auto job = Compare(source.path(), out / "f.iso");
    EXPECT_TRUE(job->check.Matches()) << ChoiceText(choice) << Differences(job->check);
  }
}

}  // namespace
}  // namespace vellumcast
