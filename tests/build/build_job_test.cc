// The build entry and driver: the job record, the choice table, progress and cancel,
// and the asynchronous build.
#include "build/build_job.h"
#include "choice_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/text.h"
#include "test_support.h"

namespace vellumcast {
namespace {

using test::TempDir;

TEST(StartImageBuild, RecordsTheRequest) {
  TempDir dir;
  std::filesystem::create_directories(dir / "src/sub");
  std::u16string src = Utf8ToUtf16(dir / "src/./sub/..");
  std::u16string target = Utf8ToUtf16(dir / "t.iso");
  auto job = StartImageBuild(src.c_str(), u"Film", FileSystemChoice::Udf102, target.c_str(),
                             "Vellumcast ", "vellumcast_console 1.0 and more", false, nullptr);
  EXPECT_EQ(job->sourcePath, Utf8ToUtf16(dir / "src/"));
  EXPECT_EQ(job->targetPath, target);
  EXPECT_EQ(job->volumeLabel, u"Film");
  EXPECT_EQ(job->choice, FileSystemChoice::Udf102);
  EXPECT_STREQ(job->firstIdentifier, "Vellumcast ");
  EXPECT_EQ(std::string(job->secondIdentifier, 23),
            std::string("vellumcast_console 1.0 ", 22) + '\0');
  EXPECT_FALSE(job->thread.joinable());
  EXPECT_EQ(job->state, JobFinished);
  EXPECT_TRUE(job->succeeded) << job->errorMessage;
}

TEST(StartImageBuild, LongLabelIsShortenedWithoutSplittingAPair) {
  TempDir dir;
  std::u16string src = Utf8ToUtf16(dir.path()), target = Utf8ToUtf16(dir / "t.iso");
  struct Case {
    std::u16string label;
    size_t kept;
  };
  const Case cases[] = {
      {std::u16string(300, u'a'), 255},
      {std::u16string(254, u'a') + u"\U0001F4BF" + u"b", 254},  // the pair would straddle the end
      {std::u16string(253, u'a') + u"\U0001F4BF" + u"b", 255},
      {std::u16string(255, u'a'), 255},
  };
  for (const Case& c : cases) {
    auto job = StartImageBuild(src.c_str(), c.label.c_str(), FileSystemChoice::OfImage,
                               target.c_str(), nullptr, nullptr, false, nullptr);
    EXPECT_EQ(job->volumeLabel, c.label.substr(0, c.kept));
    EXPECT_EQ(job->firstIdentifier[0], 0);
    EXPECT_EQ(job->secondIdentifier[0], 0);
  }
}

TEST(RunBuildJob, ChoiceOutsideTheTableDoesNothing) {
  TempDir dir;
  for (int value : {0, 6, 255}) {  // OfImage without an image, and values outside the enumeration
    const auto choice = static_cast<FileSystemChoice>(value);
    BuildJob job;
    job.choice = choice;
    job.sourcePath = Utf8ToUtf16(dir.path() + "/");
    job.targetPath = Utf8ToUtf16(dir / "t.iso");
    EXPECT_EQ(RunBuildJob(&job), 0);
    EXPECT_EQ(job.state, JobCreated);
    EXPECT_FALSE(job.succeeded);
    EXPECT_FALSE(job.errorMessage.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "t.iso"));
  }
}

TEST(RunBuildJob, EveryChoiceFinishesAnEmptyFolder) {
  TempDir dir;
  std::filesystem::create_directories(dir / "src");
  std::filesystem::create_directories(dir / "out");
  for (FileSystemChoice choice :
       {FileSystemChoice::Iso9660, FileSystemChoice::Iso9660Udf102, FileSystemChoice::Default,
        FileSystemChoice::Udf102, FileSystemChoice::Udf250}) {
    std::u16string src = Utf8ToUtf16(dir / "src"), target = Utf8ToUtf16(dir / "out/t.iso");
    auto job = StartImageBuild(src.c_str(), u"", choice, target.c_str(), "Vellumcast ",
                               "vellumcast_console 1.0", false, nullptr);
    EXPECT_EQ(job->state, JobFinished) << choice;
    EXPECT_TRUE(job->succeeded) << choice << ": " << job->errorMessage;
    EXPECT_GT(std::filesystem::file_size(dir / "out/t.iso"), 0u) << choice;
    std::filesystem::remove(dir / "out/t.iso");
  }
}

uint32_t calls, seenDone, seenTotal;
void Record(uint32_t done, uint32_t total) {
  ++calls;
  seenDone = done;
  seenTotal = total;
}

TEST(ReportJobProgress, StoresAndForwardsUnlessCancelled) {
  struct Case {
    bool cancel;
    bool withCallback;
    bool stopFlag = false;
  };
  for (Case c : {Case{false, true}, {false, false}, {true, true}, {true, true, true}}) {
    BuildJob job;
    // A stop flag set from outside (a signal's) counts like a cancel request.
    volatile std::sig_atomic_t flag = 1;
    if (c.stopFlag) job.options.stopFlag = &flag;
    job.cancelRequest = c.cancel && !c.stopFlag;
    job.progressCallback = c.withCallback ? Record : nullptr;
    calls = seenDone = seenTotal = 0;
    bool go = ReportJobProgress(7, 4294967295u, &job);
    EXPECT_EQ(go, !c.cancel);
    EXPECT_EQ(job.state, c.cancel ? JobCreated : JobWriting);
    EXPECT_EQ(job.done, c.cancel ? 0u : 7u);
    EXPECT_EQ(job.total, c.cancel ? 0u : 4294967295u);
    EXPECT_EQ(calls, c.withCallback && !c.cancel ? 1u : 0u);
    if (calls) {
      EXPECT_EQ(seenDone, 7u);
      EXPECT_EQ(seenTotal, 4294967295u);
    }
  }
}

// A cancel request set before writing: no progress reaches the caller, the job still
// ends in state 5, and the build is not taken for a success.
TEST(RunBuildJob, CancelBeforeWriting) {
  TempDir dir;
  test::WriteFile(dir / "src/data.bin", test::PatternBytes(100000));
  BuildJob job;
  job.choice = FileSystemChoice::Iso9660Udf102;
  job.sourcePath = Utf8ToUtf16(dir / "src/");
  job.targetPath = Utf8ToUtf16(dir / "t.iso");
  job.progressCallback = Record;
  job.cancelRequest = 1;
  calls = 0;
  RunBuildJob(&job);
  EXPECT_EQ(job.state, JobFinished);
  EXPECT_EQ(calls, 0u);
  EXPECT_EQ(job.done, 0u);
  EXPECT_FALSE(job.succeeded);
  EXPECT_FALSE(job.errorMessage.empty());
}

TEST(StartImageBuild, AsynchronousBuildRunsOnAWorker) {
  TempDir dir;
  test::WriteFile(dir / "src/a.txt", "hello");
  std::u16string src = Utf8ToUtf16(dir / "src"), target = Utf8ToUtf16(dir / "t.iso");
  auto job = StartImageBuild(src.c_str(), u"ASYNC", FileSystemChoice::Udf250, target.c_str(),
                             "Vellumcast ", "vellumcast_console 1.0", true, nullptr);
  ASSERT_TRUE(job->thread.joinable());
  EXPECT_NE(job->thread.get_id(), std::this_thread::get_id());
  job->thread.join();
  EXPECT_EQ(job->state, JobFinished);
  EXPECT_TRUE(job->succeeded) << job->errorMessage;
  EXPECT_GT(job->total, 0u);
  EXPECT_EQ(job->done, job->total);
  EXPECT_EQ(job->sourcePath, Utf8ToUtf16(dir / "src/"));
}

TEST(ImageBuilder, EntityIdentifiers) {
  struct Case {
    const char* id;
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, std::string(23, '\0')},
      {"", std::string(23, '\0')},
      {"Vellumcast ", "*Vellumcast " + std::string(11, '\0')},
      {"vellumcast_console 1.0", "*vellumcast_console 1.0"},
      {"vellumcast_console 1.0 and more", "*vellumcast_console 1.0"},
  };
  for (const Case& c : cases) {
    ImageBuilder builder;
    builder.SetImplementationId(c.id);
    builder.SetApplicationId(c.id);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(builder.settings.implementationId), 23),
              c.expected);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(builder.settings.applicationId), 23), c.expected);
  }
}

}  // namespace
}  // namespace vellumcast
