// The tree warm-up ends on its own over any tree (missing, not a folder, with special
// entries, links in loops, a subtree removed while it runs) and at once when stopped,
// leaving no thread and no descriptor.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/tree_warm_up.h"
#include "test_support.h"

namespace vellumcast::test {
namespace {

TEST(TreeWarmUp, EndsOnItsOwnOrAtAStopOverAnyTree) {
  struct Case {
    const char* name;
    const char* root;  // below the scratch folder
    std::function<void(const TempDir&)> whileRunning;
    bool stop;  // stopped at once (else waited for)
  };
  auto removeSubtree = [](const TempDir& t) { std::filesystem::remove_all(t / "tree/d3"); };
  const Case cases[] = {
      {"stopped at once", "tree", nullptr, true},
      {"waited for", "tree", nullptr, false},
      {"a subtree removed while it runs", "tree", removeSubtree, false},
      {"a missing root", "missing", nullptr, false},
      {"a file as the root", "tree/d0/f0", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir t;
    for (int i = 0; i < 400; ++i) {
      WriteFile(t / ("tree/d" + std::to_string(i % 8) + "/e" + std::to_string(i % 5) + "/f" +
                     std::to_string(i)),
                "x");
    }
    std::filesystem::create_directory_symlink("..", t / "tree/d1/up");
    std::filesystem::create_symlink("missing", t / "tree/d2/dangling");
    ASSERT_EQ(mkfifo((t / "tree/d2/pipe").c_str(), 0644), 0);
    WriteFile(t / "tree/d0/f0", "x");
    const size_t threads = CountEntries("/proc/self/task");
    const size_t descriptors = CountEntries("/proc/self/fd");
    {
      TreeWarmUp warmUp;
      ASSERT_TRUE(warmUp.Start(t / c.root, 16));
      if (c.whileRunning) c.whileRunning(t);
      if (c.stop)
        warmUp.Stop();
      else
        warmUp.Wait();
    }
    EXPECT_EQ(CountEntries("/proc/self/task"), threads) << "warm-up threads left running";
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors) << "descriptors left open";
  }
}

}  // namespace
}  // namespace vellumcast::test
