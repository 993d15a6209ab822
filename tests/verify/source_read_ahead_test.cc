// The comparison's source reads against their consumer: every file's bytes come in the
// order of the jobs; a file removed, cut short, grown or replaced by a folder after the
// scan is that file's failure, with the bytes read before it, and the files after it
// still come whole; a stop with a batch held or not ends the reader at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"
#include "tree_test_support.h"
#include "verify/source_read_ahead.h"

namespace vellumcast::test {
namespace {

void CollectFiles(const TreeNode* directory, std::vector<const TreeNode*>& files) {
  for (const TreeNode* e = directory->firstChild; e; e = e->nextSibling) {
    if (e->isDirectory)
      CollectFiles(e, files);
    else
      files.push_back(e);
  }
}

TEST(SourceReadAhead, AFailedFileIsReportedInItsPlaceAndAStopEndsTheReader) {
  const std::map<std::string, size_t> sizes = {
      {"a", 5000}, {"b", 700000}, {"c", 3}, {"d", 1200000}, {"e", 40000}};
  enum Harm { kNone, kRemoved, kCut, kGrown, kFolder };
  struct Case {
    Harm harm;
    const char* file;
    std::string failure;
    size_t stopAfter;  // batches the consumer takes before it stops
    bool release;      // the batches taken are handed back before the stop
  };
  const Case cases[] = {
      {kNone, "a", "", 99, true},
      {kRemoved, "b", "cannot read the source file: No such file or directory", 99, true},
      {kCut, "d", "the source file ends at byte 600000", 99, true},
      {kGrown, "a", "the source file is longer than the image's copy (5000 bytes)", 99, true},
      {kFolder, "c", "cannot read the source file: Is a directory", 99, true},
      {kNone, "a", "", 1, true},
      {kNone, "a", "", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.harm) + " stop after " + std::to_string(c.stopAfter));
    TempDir src;
    for (const auto& [name, size] : sizes) WriteFile(src / name, PatternBytes(size, size));
    auto scan = Scan(src.path());
    ASSERT_TRUE(scan->ok);
    std::vector<const TreeNode*> jobs;
    CollectFiles(scan->root(), jobs);
    ASSERT_EQ(jobs.size(), sizes.size());
    const std::string harmed = src / c.file;
    if (c.harm != kNone) std::filesystem::remove(harmed);
    if (c.harm == kCut) WriteFile(harmed, PatternBytes(600000, 1200000));
    if (c.harm == kGrown) WriteFile(harmed, PatternBytes(5001, 5000));
    if (c.harm == kFolder) std::filesystem::create_directory(harmed);
    const size_t threads = CountEntries("/proc/self/task");
    std::vector<std::string> bytes(jobs.size()), failures(jobs.size());
    {
      SourceReadAhead source;
      ASSERT_TRUE(source.Start(jobs));
      uint32_t job = 0;
      size_t batches = 0;
      while (batches < c.stopAfter) {
        SourceBatch* batch = source.Next();
        if (!batch) break;
        ++batches;
        for (const SourceSegment& s : batch->segments) {
          ASSERT_GE(s.job, job) << "out of order";
          job = s.job;
          ASSERT_EQ(s.offset, bytes[job].size()) << "a gap in job " << job;
          ASSERT_TRUE(failures[job].empty()) << "bytes after the failure of job " << job;
          failures[job] = s.failure;
          bytes[job].append(reinterpret_cast<const char*>(s.data), s.data ? s.bytes : 0);
        }
        if (c.release) source.Release(batch);
      }
      if (c.stopAfter == 1) source.Stop();
    }
    EXPECT_EQ(CountEntries("/proc/self/task"), threads) << "the reader is left running";
    if (c.stopAfter == 1) continue;
    for (size_t j = 0; j < jobs.size(); ++j) {
      const std::string name = NameOf(jobs[j]);
      const std::string expected = PatternBytes(sizes.at(name), uint32_t(sizes.at(name)));
      SCOPED_TRACE(name);
      if (c.harm != kNone && name == c.file) {
        EXPECT_EQ(failures[j], c.failure);
        EXPECT_EQ(expected.compare(0, bytes[j].size(), bytes[j]), 0);
      } else {
        EXPECT_EQ(failures[j], "");
        EXPECT_TRUE(bytes[j] == expected);
      }
    }
  }
}

}  // namespace
}  // namespace vellumcast::test
