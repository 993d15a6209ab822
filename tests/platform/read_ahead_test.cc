// The read-ahead of source files against its consumer: files come in the consumer's
// order with their own bytes whatever happens to one of them, a stop at any point ends
// every reader, and files found in memory rest the readers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/read_ahead.h"
#include "platform/source_file.h"
#include "test_support.h"

namespace vellumcast::test {
namespace {

constexpr size_t kSector = 2048;

// The consumer's order over a list of paths, each planned at `bytes`.
struct PathOrder {
  const std::vector<std::string>& paths;
  uint64_t bytes;
  bool readWhole;
  size_t next = 0;
  static bool Next(void* o, ReadAheadRequest& r) {
    auto& order = *static_cast<PathOrder*>(o);
    if (order.next == order.paths.size()) return false;
    r = ReadAheadRequest{order.paths[order.next++], order.bytes, order.readWhole};
    return true;
  }
};

// The consumer takes each file from the readers or opens it itself. A file removed before
// the readers reach it or after they opened it, or a folder in its place, is the failure
// of that file alone: every other file comes in its place with its own bytes. A stop after
// any file, or none before the read-ahead ends, leaves no thread and no descriptor.
TEST(ReadAhead, AFailedFileIsMetInItsPlaceAndAStopEndsEveryReader) {
  enum Harm { kNone, kRemovedBefore, kRemovedAfterTheFirst, kFolderInItsPlace };
  struct Case {
    Harm harm;
    size_t harmed;
    size_t stopAfter;  // files the consumer takes before it stops
  };
  constexpr size_t kFiles = 60;
  const Case cases[] = {{kNone, 0, 1},
                        {kNone, 0, 0},
                        {kRemovedBefore, 5, kFiles},
                        {kRemovedAfterTheFirst, 40, kFiles},
                        {kFolderInItsPlace, 7, kFiles},
                        {kRemovedBefore, 7, 20}};
  for (bool readWhole : {true, false}) {
    const size_t size = readWhole ? 3000 : 200000;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(readWhole) + " harm " + std::to_string(c.harm) + " stop after " +
                   std::to_string(c.stopAfter));
      TempDir src;
      std::vector<std::string> paths;
      for (size_t i = 0; i < kFiles; ++i) {
        paths.push_back(src / ("f" + std::to_string(i)));
        WriteFile(paths.back(), PatternBytes(size + i, uint32_t(i)));
      }
      const std::string harmed = paths[c.harmed];
      auto harm = [&] {
        std::filesystem::remove(harmed);
        if (c.harm == kFolderInItsPlace) std::filesystem::create_directory(harmed);
      };
      if (c.harm == kRemovedBefore || c.harm == kFolderInItsPlace) harm();
      const size_t threads = CountEntries("/proc/self/task");
      const size_t descriptors = CountEntries("/proc/self/fd");
      {
        PathOrder order{paths, size + kFiles + kSector, readWhole};
        ReadAhead readAhead;
        ASSERT_TRUE(readAhead.Start(PathOrder::Next, &order, ReadAheadLimits{}));
        std::vector<uint8_t> bytes(order.bytes);
        for (size_t i = 0; i < c.stopAfter; ++i) {
          if (i == 1 && c.harm == kRemovedAfterTheFirst) harm();
          SourceFile file;
          size_t got = 0;
          const bool read = (readAhead.Take(paths[i], file) || file.Open(paths[i])) &&
                            file.Read(bytes.data(), bytes.size(), got);
          if (c.harm != kNone && i == c.harmed) {
            EXPECT_FALSE(read) << i;
            continue;
          }
          ASSERT_TRUE(read) << i << ": " << file.error;
          EXPECT_TRUE(std::string(reinterpret_cast<char*>(bytes.data()), got) ==
                      PatternBytes(size + i, uint32_t(i)))
              << i;
        }
        if (c.stopAfter == 1) readAhead.Stop();  // else the destructor stops it
      }
      EXPECT_EQ(CountEntries("/proc/self/task"), threads) << "reader threads left running";
      EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors) << "descriptors left open";
    }
  }
}

// Files that come wholly from memory rest the readers: the consumer opens its files
// itself until one has to come from the storage, and from there the readers go on.
TEST(ReadAhead, ReadersRestOnFilesInMemoryAndResumeAtOneFromTheStorage) {
  struct Case {
    size_t files;
    size_t size;  // of the first file; each next one a byte longer
    bool readWhole;
  };
  for (Case c : {Case{3000, 4000, true}, Case{400, 130000, false}}) {
    TempDir src;
    std::vector<std::string> paths;
    std::vector<size_t> index(c.files);
    for (size_t i = 0; i < c.files; ++i) {
      paths.push_back(src / ("f" + std::to_string(i)));
      WriteFile(paths.back(), PatternBytes(c.size + i, uint32_t(i)));
      index[i] = i;
    }
    struct Order {
      const std::vector<std::string>& paths;
      Case c;
      size_t next = 0;
    };
    auto next = [](void* o, ReadAheadRequest& r) {
      auto& order = *static_cast<Order*>(o);
      if (order.next == order.paths.size()) return false;
      r = ReadAheadRequest{order.paths[order.next++], order.c.size + order.c.files + kSector,
                           order.c.readWhole};
      return true;
    };
    auto seek = [](void* o, const void* after) {
      static_cast<Order*>(o)->next = *static_cast<const size_t*>(after) + 1;
    };
    std::vector<uint8_t> bytes(c.size + c.files + kSector);
    for (size_t evictFrom : {c.files, c.files / 2}) {
      SCOPED_TRACE(std::to_string(c.size) + " from " + std::to_string(evictFrom));
      for (size_t i = 0; i < c.files; ++i) {
        int fd = open(paths[i].c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        if (i < evictFrom)
          ReadFile(paths[i]);  // in memory
        else
          fdatasync(fd), posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);  // out of it
        // (mincore: a probe by reading would start reading the file in.)
        void* map = mmap(nullptr, c.size, PROT_READ, MAP_SHARED, fd, 0);
        unsigned char pages[64] = {};
        bool inMemory = map != MAP_FAILED && mincore(map, c.size, pages) == 0 && (pages[0] & 1);
        if (map != MAP_FAILED) munmap(map, c.size);
        close(fd);
        if (i >= evictFrom && inMemory) GTEST_SKIP() << "files stay in memory";
      }
      Order order{paths, c};
      ReadAhead readAhead;
      ASSERT_TRUE(readAhead.Start(next, &order, ReadAheadLimits{}, seek));
      size_t watched[2] = {0, 0};  // files the consumer read itself while the readers rested
      for (size_t i = 0; i < c.files; ++i) {
        SourceFile file;
        if (!readAhead.Take(paths[i], file)) {
          ASSERT_TRUE(file.Open(paths[i]));
          file.watchMemory = readAhead.Resting();
          watched[i >= evictFrom] += file.watchMemory;
        }
        size_t got = 0;
        ASSERT_TRUE(file.Read(bytes.data(), bytes.size(), got)) << i;
        ASSERT_TRUE(std::string(reinterpret_cast<char*>(bytes.data()), got) ==
                    PatternBytes(c.size + i, uint32_t(i)))
            << i;
        if (readAhead.Resting() && file.fromStorage) readAhead.Resume(&index[i]);
      }
      EXPECT_GT(watched[0], 0u) << "the readers did not rest";
      EXPECT_LE(watched[1], (c.files - evictFrom) / 4) << "the readers did not resume";
    }
  }
}

}  // namespace
}  // namespace vellumcast::test
