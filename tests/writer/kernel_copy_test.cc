// File data copied inside the kernel (copy_file_range) into a regular-file image, and
// file data read ahead by reader threads, must give exactly the image that reading and
// writing every byte at its turn gives: for every file system, for file sizes around the
// sector, threshold and chunk boundaries, for DVD-Video and stereoscopic Blu-ray folders,
// and for files that shrink, grow, are rewritten or vanish while the image is written.
// A stop or a failed write ends the readers and leaves no thread, descriptor or file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bdmv_fixture.h"
#include "bluray/bdmv_analysis.h"
#include "build/image_builder.h"
#include "layout/volume_time.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/read_ahead.h"
#include "platform/text.h"
#include "test_support.h"
#include "tree/node_path.h"
#include "tree/tree_node.h"
#include "writer/file_data.h"
#include "writer/file_data_order.h"

namespace vellumcast::test {
namespace {

struct Choice {
  uint32_t formatFlags;
  uint16_t udfRevision;
};
constexpr Choice kChoices[] = {{FormatIso9660, 0x0102},
                               {FormatIso9660 | FormatUdf, 0x0102},
                               {FormatUdf, 0x0102},
                               {FormatUdf, 0x0250}};

// How the file data travels: read and written at its turn; copied by the kernel; and
// both again with reader threads working ahead.
struct Mode {
  bool plain;
  uint32_t readers;
};
constexpr Mode kModes[] = {{true, 0}, {false, 0}, {true, 16}, {false, 16}};

// Runs `hook` once, at the first progress report of the write.
struct WriteHook {
  std::function<void()> hook;
  static bool Progress(uint32_t, uint32_t, void* context) {
    auto* self = static_cast<WriteHook*>(context);
    if (self->hook) std::exchange(self->hook, nullptr)();
    return true;
  }
};

// Scans and plans `source` once; `change` may then alter the source before or while
// the image is written, so every write sees the same plan and the same changed files.
struct PlannedBuild {
  ImageBuilder b;
  PlannedBuild(const std::string& source, Choice choice, int64_t time, bool bluray = false) {
    b.Initialize();
    b.settings.buildTime = time;
    MakeUdfTimestamp(time, b.settings.buildTimeStamp);
    b.settings.formatFlags = choice.formatFlags;
    b.settings.udfRevision = choice.udfRevision;
    b.log.warning = [](const std::string&, void*) {};
    if (bluray) {
      auto plan = std::make_unique<StereoPlan>();
      std::string giveUp;
      EXPECT_TRUE(AnalyzeBdmvFolder(Utf8ToUtf16(source + "/").c_str(), *plan, giveUp)) << giveUp;
      b.tree.stereoPlan = std::move(plan);
    }
    EXPECT_TRUE(b.ScanSourceTree(Utf8ToUtf16(source + "/").c_str())) << b.log.error;
    EXPECT_TRUE(b.PlanLayout()) << b.log.error;
  }
  bool TryWrite(const std::string& target, Mode mode, std::function<void()> change = nullptr) {
    b.settings.plainDataCopy = mode.plain;
    b.settings.readAheadReaders = mode.readers;
    WriteHook hook{std::move(change)};
    return b.WriteImage(Utf8ToUtf16(target).c_str(), WriteHook::Progress, &hook);
  }
  std::string Write(const std::string& target, Mode mode, std::function<void()> change = nullptr) {
    EXPECT_TRUE(TryWrite(target, mode, std::move(change))) << b.log.error;
    return ReadFile(target);
  }
};

constexpr size_t kSector = 2048;
constexpr size_t kThreshold = 64 * kSector;  // smallest file copied by the kernel
constexpr size_t kChunk = 8192 * kSector;    // bytes copied between progress reports

void FillSource(const TempDir& src) {
  const size_t sizes[] = {0,
                          1,
                          kSector + 1,
                          kThreshold - 1,
                          kThreshold,
                          kThreshold + 1,
                          3 * kThreshold + 700,
                          kChunk + kSector + 5};
  uint32_t seed = 1;
  for (size_t size : sizes) {
    WriteFile(src / ("top/f" + std::to_string(seed) + ".bin"), PatternBytes(size, seed));
    ++seed;
  }
  WriteFile(src / "a/b/deep.bin", PatternBytes(5 * kThreshold + 3, 99));
  WriteFile(src / "a/zeros.bin", std::string(4 * kThreshold, '\0'));
}

TEST(KernelCopy, ImagesEqualTheReadAndWritePathForEveryFileSystem) {
  TempDir src, out;
  FillSource(src);
  const std::string big = PatternBytes(kChunk + kSector + 5, 8);
  for (Choice choice : kChoices) {
    SCOPED_TRACE(choice.formatFlags * 0x10000 + choice.udfRevision);
    std::string images[std::size(kModes)];
    for (size_t m = 0; m < std::size(kModes); ++m) {
      PlannedBuild build(src.path(), choice, 1700000000);
      images[m] = build.Write(out / "img.iso", kModes[m]);
      EXPECT_TRUE(images[m] == images[0]) << "mode " << m << " differs from reading and writing";
    }
    const std::string& image = images[1];
    size_t at = image.find(big.substr(0, 4096));
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(at % kSector, 0u);
    EXPECT_EQ(image.compare(at, big.size(), big), 0);
    EXPECT_EQ(image.compare(at + big.size(), kSector - 5, std::string(kSector - 5, '\0')), 0);
  }
}

// Source folders of every kind, each with files to change while the image is written.
struct ChangingSource {
  const char* name;
  std::function<void(const TempDir&)> make;
  const char* shrinks;
  const char* grows;
  const char* rewritten;  // same size, other bytes
  bool bluray = false;    // with the stereoscopic analysis (UDF 2.50)
};

void MakeDvdVideo(const TempDir& src) {
  uint32_t seed = 20;
  for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VIDEO_TS.VOB", "VTS_01_0.IFO",
                           "VTS_01_0.BUP", "VTS_01_1.VOB", "VTS_01_2.VOB"}) {
    WriteFile(src / ("VIDEO_TS/" + std::string(name)),
              PatternBytes(name[9] == 'V' ? 3 * kThreshold + 11 : 9000, seed++));
  }
  WriteFile(src / "extra/readme.txt", PatternBytes(700, seed));
}

const ChangingSource kSources[] = {
    {"plain",
     [](const TempDir& s) {
       for (int i = 0; i < 300; ++i)
         WriteFile(s / ("many/" + std::to_string(i)), PatternBytes(1 + 37 * i, i));
       WriteFile(s / "large/a.bin", PatternBytes(5 * kThreshold + 3, 1));
       WriteFile(s / "large/b.bin", PatternBytes(kThreshold - 1, 2));
     },
     "large/a.bin", "large/b.bin", "many/250"},
    {"dvd-video", MakeDvdVideo, "VIDEO_TS/VTS_01_1.VOB", "VIDEO_TS/VTS_01_0.IFO",
     "VIDEO_TS/VIDEO_TS.BUP"},
    {"stereoscopic", [](const TempDir& s) { StereoscopicFixture().Write(s.path()); },
     "BDMV/STREAM/00001.m2ts", "BDMV/STREAM/00004.m2ts", "BDMV/STREAM/00002.m2ts", true},
};

void Resize(const std::string& path, size_t size, uint32_t seed) {
  WriteFile(path, PatternBytes(size, seed));
}

// One modification time for every entry, so that sources made one after the other give
// the same image.
void FixTimes(const TempDir& root) {
  const auto time =
      std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1690000000)));
  for (const auto& e : std::filesystem::recursive_directory_iterator(root.path())) {
    std::filesystem::last_write_time(e.path(), time);
  }
  std::filesystem::last_write_time(root.path(), time);
}

TEST(KernelCopy, FilesChangedDuringTheWriteGiveTheSameImageInEveryMode) {
  for (const ChangingSource& source : kSources) {
    for (Choice choice : kChoices) {
      if (source.bluray && choice.udfRevision != 0x0250) continue;
      SCOPED_TRACE(std::string(source.name) + " " +
                   std::to_string(choice.formatFlags * 0x10000 + choice.udfRevision));
      std::string images[std::size(kModes)];
      for (size_t m = 0; m < std::size(kModes); ++m) {
        TempDir src, out;
        source.make(src);
        FixTimes(src);
        PlannedBuild build(src.path(), choice, 1700000000, source.bluray);
        const size_t shrunk = std::filesystem::file_size(src / source.shrinks) / 3;
        const size_t grown = std::filesystem::file_size(src / source.grows) * 2 + 5000;
        const size_t same = std::filesystem::file_size(src / source.rewritten);
        images[m] = build.Write(out / "img.iso", kModes[m], [&] {
          Resize(src / source.shrinks, shrunk, 71);
          Resize(src / source.grows, grown, 72);
          Resize(src / source.rewritten, same, 73);
        });
        EXPECT_TRUE(images[m] == images[0]) << "mode " << m << " differs from reading and writing";
        // The new bytes are in the image (a stereoscopic clip's first extent: 6 sectors).
        for (auto [size, seed] : {std::pair{shrunk, 71}, std::pair{same, 73}}) {
          std::string head = PatternBytes(size, seed).substr(0, 6 * kSector);
          EXPECT_NE(images[m].find(head), std::string::npos) << "mode " << m << " seed " << seed;
        }
      }
    }
  }
}

// A file removed while the image is written, after the readers may have read it, fails
// the build with its name and leaves nothing behind.
TEST(KernelCopy, FileThatVanishesDuringTheWriteFailsTheBuildInEveryMode) {
  for (const ChangingSource& source : kSources) {
    for (Mode mode : kModes) {
      SCOPED_TRACE(std::string(source.name) + " readers " + std::to_string(mode.readers));
      TempDir src, out;
      source.make(src);
      PlannedBuild build(src.path(), {FormatUdf, 0x0250}, 1700000000, source.bluray);
      EXPECT_FALSE(build.TryWrite(out / "img.iso", mode,
                                  [&] { std::filesystem::remove(src / source.grows); }));
      EXPECT_EQ(build.b.log.error,
                "cannot read " + src / source.grows + ": No such file or directory");
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()), {}), 0);
    }
  }
}

// A stop and a failed write in the middle of a large read-ahead end the readers at
// once: no thread, descriptor or temporary file is left.
TEST(ImageWriter, StopAndFailedWriteEndTheReadAhead) {
  TempDir src, out;
  for (int i = 0; i < 3000; ++i) {
    WriteFile(src / ("d" + std::to_string(i % 30) + "/s" + std::to_string(i)),
              PatternBytes(8000, i));
  }
  for (int i = 0; i < 16; ++i)
    WriteFile(src / ("large/l" + std::to_string(i)), PatternBytes(1 << 20, i));
  struct Case {
    std::string target;
    uint32_t formatFlags;
    std::string error;
    bool stop;  // the progress function asks to stop (else the target fails a write)
  };
  const Case cases[] = {
      {out / "img.iso", FormatIso9660 | FormatUdf, "the build was stopped", true},
      {"/dev/full", FormatIso9660, "cannot write /dev/full: No space left on device", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const size_t threads = CountEntries("/proc/self/task"),
                 descriptors = CountEntries("/proc/self/fd");
    PlannedBuild build(src.path(), {c.formatFlags, 0x0102}, 1700000000);
    build.b.settings.readAheadReaders = 16;
    // A few hundred sectors into the file data (before /dev/full refuses the first
    // write of 2 MiB) the readers are at work; then the stop comes.
    struct Watch {
      uint32_t at;
      bool stop;
      size_t threadsSeen = 0;
    } watch{uint32_t(build.b.plan.dataBase + build.b.plan.fileDataOffset + 300), c.stop};
    auto progress = [](uint32_t done, uint32_t, void* context) {
      auto& w = *static_cast<Watch*>(context);
      if (done < w.at) return true;
      if (!w.threadsSeen) w.threadsSeen = CountEntries("/proc/self/task");
      return !w.stop;
    };
    EXPECT_FALSE(build.b.WriteImage(Utf8ToUtf16(c.target).c_str(), progress, &watch));
    EXPECT_EQ(build.b.log.error, c.error);
    EXPECT_GT(watch.threadsSeen, threads) << "no readers were at work";
    EXPECT_EQ(CountEntries("/proc/self/task"), threads) << "reader threads left running";
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors) << "descriptors left open";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()), {}), 0);
  }
}

// The file-data order continued after any file hands out what the whole walk hands out
// after it (after a dependent-view clip, after its base-view clip too).
TEST(FileDataOrder, ContinuesAfterAnyFile) {
  const ChangingSource* sources[] = {&kSources[0], &kSources[2]};
  for (const ChangingSource* source : sources) {
    SCOPED_TRACE(source->name);
    TempDir src;
    source->make(src);
    WriteFile(src / "many/sub/deeper/x", "x");
    PlannedBuild build(src.path(), {FormatUdf, 0x0250}, 1700000000, source->bluray);
    std::vector<std::string> all;
    ReadAheadRequest r;
    for (FileDataOrder whole(build.b.tree.root); whole.Next(r);) all.push_back(r.hostPath);
    size_t checked = 0;
    std::function<void(const TreeNode&)> visit = [&](const TreeNode& d) {
      for (const TreeNode* e = d.firstChild; e; e = e->nextSibling) {
        if (e->isDirectory) visit(*e);
        auto at = std::find(all.begin(), all.end(), HostPath(SourcePath(*e)));
        if (e->isDirectory || e->kind == StereoBase || at == all.end()) continue;
        FileDataOrder rest(build.b.tree.root);
        rest.ContinueAfter(*e);
        std::vector<std::string> after;
        while (rest.Next(r)) after.push_back(r.hostPath);
        EXPECT_EQ(after,
                  std::vector<std::string>(at + (e->kind == StereoDependent ? 2 : 1), all.end()));
        ++checked;
      }
    };
    visit(*build.b.tree.root);
    EXPECT_GT(checked, 5u);
  }
}

TEST(KernelCopy, FilesThatChangedSizeKeepTheirPlannedSectors) {
  TempDir src, out;
  const std::string shrunk = PatternBytes(kThreshold + 777, 5);
  const std::string grown = PatternBytes(6 * kThreshold, 6);
  std::string images[2];
  for (bool plain : {false, true}) {
    WriteFile(src / "s.bin", PatternBytes(3 * kThreshold, 5));
    WriteFile(src / "g.bin", PatternBytes(2 * kThreshold + 10, 6));
    WriteFile(src / "z.bin", PatternBytes(kThreshold, 7));
    // The File Entries carry each file's own time: the same in both builds.
    for (const char* name : {"s.bin", "g.bin", "z.bin"}) {
      std::filesystem::last_write_time(src / name, std::filesystem::file_time_type{});
    }
    PlannedBuild build(src.path(), {FormatUdf, 0x0102}, 1700000000);
    WriteFile(src / "s.bin", shrunk);
    WriteFile(src / "g.bin", grown);
    images[plain] = build.Write(out / "img.iso", {plain, 16});
  }
  EXPECT_TRUE(images[0] == images[1]) << "the two images differ";
  const std::string& image = images[0];
  size_t s = image.find(shrunk.substr(0, 4096));
  ASSERT_NE(s, std::string::npos);
  EXPECT_EQ(image.compare(s, shrunk.size(), shrunk), 0);
  EXPECT_EQ(image.compare(s + shrunk.size(), 3 * kThreshold - shrunk.size(),
                          std::string(3 * kThreshold - shrunk.size(), '\0')),
            0);
  size_t g = image.find(grown.substr(0, 4096));
  ASSERT_NE(g, std::string::npos);
  const size_t plannedG = (2 * kThreshold / kSector + 1) * kSector;
  EXPECT_EQ(image.compare(g, plannedG, grown.substr(0, plannedG)), 0);
  EXPECT_NE(image.compare(g + plannedG, kSector, grown.substr(plannedG, kSector)), 0);
  size_t z = image.find(PatternBytes(kThreshold, 7));
  EXPECT_NE(z, std::string::npos);
  EXPECT_EQ(z % kSector, 0u);
}

// CopyFrom appends at the end of what was written and advances both files; a source
// that is not a regular file makes it hand over to reading and writing.
TEST(KernelCopy, OutputFileCopyFrom) {
  TempDir dir;
  const std::string data = PatternBytes(100000, 3);
  WriteFile(dir / "src", data);
  struct Case {
    bool pipeSource;
    uint64_t asked;
    int64_t expected;
  };
  for (Case c : {Case{false, 60000, 60000}, Case{false, 500000, 100000}, Case{true, 5000, 0}}) {
    OutputFile target;
    ASSERT_TRUE(target.Open(Utf8ToUtf16(dir / "img")));
    ASSERT_TRUE(target.Write(reinterpret_cast<const uint8_t*>("head"), 4));
    int fds[2] = {-1, -1};
    int source = -1;
    if (c.pipeSource) {
      ASSERT_EQ(pipe(fds), 0);
      ASSERT_EQ(write(fds[1], "xyz", 3), 3);
      source = fds[0];
    } else {
      source = open((dir / "src").c_str(), O_RDONLY);
    }
    uint64_t copied = 0;
    EXPECT_TRUE(target.CopyFrom(source, c.asked, copied));
    EXPECT_EQ(int64_t(copied), c.expected);
    EXPECT_EQ(target.kernelCopy, !c.pipeSource);
    EXPECT_EQ(lseek(source, 0, SEEK_CUR), c.pipeSource ? -1 : c.expected);
    ASSERT_TRUE(target.Write(reinterpret_cast<const uint8_t*>("tail"), 4));
    ASSERT_TRUE(target.Finish());
    EXPECT_EQ(ReadFile(dir / "img"), "head" + data.substr(0, size_t(c.expected)) + "tail");
    close(source);
    if (c.pipeSource) close(fds[1]);
  }
}

}  // namespace
}  // namespace vellumcast::test
