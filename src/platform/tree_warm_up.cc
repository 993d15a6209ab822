// The tree warm-up over openat/fdopendir/readdir/fstatat.
#include "platform/tree_warm_up.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace vellumcast {
namespace {

// Directories waiting at most: a few hundred KiB of paths.
constexpr size_t kMaxWaitingDirectories = 4096;
// One worker alone reads the first entries and times them. A tree whose entries come
// this fast is in memory already: the warm-up has nothing to win there and ends, leaving
// the processors to the scan; otherwise the other workers join. An entry from the
// storage takes tens of microseconds and more, one in memory a few.
constexpr uint64_t kInMemoryNanosecondsPerEntry = 10000;
constexpr uint64_t kEntriesBeforeJudging = 256;

}  // namespace

bool TreeWarmUp::Start(const std::string& hostRoot, uint32_t workers) {
  Stop();
  joined = false;
  waiting.assign(1, hostRoot.empty() || hostRoot.back() == '/' ? hostRoot : hostRoot + '/');
  return engine.Start(workers, [this](uint32_t worker) { Work(worker); });
}

void TreeWarmUp::Wait() {
  std::unique_lock<std::mutex> lock(engine.mutex);
  engine.ConsumerWait(lock, [] { return false; });
}

void TreeWarmUp::Work(uint32_t worker) {
  std::unique_lock<std::mutex> lock(engine.mutex);
  if (worker > 0 && !engine.WorkerWait(lock, [this] { return joined; })) return;
  while (!engine.Stopping()) {
    if (waiting.empty()) {
      if (busy == 0) {  // nothing left and nobody can add more
        engine.Halt();
        break;
      }
      if (!engine.WorkerWait(lock)) break;
      continue;
    }
    std::string directory = std::move(waiting.front());
    waiting.pop_front();
    ++busy;
    lock.unlock();
    Visit(directory);
    lock.lock();
    --busy;
    engine.workersWake.notify_all();
  }
}

void TreeWarmUp::Visit(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  std::vector<std::string> subdirectories;
  const auto start = std::chrono::steady_clock::now();
  uint64_t entries = 0;
  while (!engine.Stopping()) {
    const dirent* e = readdir(dir);
    if (!e) break;
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    struct stat st;
    fstatat(fd, name, &st, 0);  // brings the inode in; the result is not needed
    ++entries;
    // Real directories only (no links to them): the warm-up never loops.
    if (e->d_type == DT_DIR) subdirectories.push_back(directory + name + '/');
  }
  closedir(dir);
  const auto spent = std::chrono::steady_clock::now() - start;
  std::lock_guard<std::mutex> lock(engine.mutex);
  visitedEntries += entries;
  visitedNanoseconds +=
      uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count());
  if (!joined && visitedEntries >= kEntriesBeforeJudging) {
    if (visitedNanoseconds < visitedEntries * kInMemoryNanosecondsPerEntry) {
      waiting.clear();
      engine.Halt();
      return;
    }
    joined = true;
    engine.workersWake.notify_all();
  }
  for (std::string& s : subdirectories) {
    if (waiting.size() >= kMaxWaitingDirectories) break;
    waiting.push_back(std::move(s));
  }
}

void TreeWarmUp::Stop() {
  engine.Stop();
  waiting.clear();
  busy = 0;
  visitedEntries = visitedNanoseconds = 0;
}

}  // namespace vellumcast
