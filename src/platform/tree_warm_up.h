// Parallel warm-up of a folder tree's metadata ahead of a sequential scan: worker
// threads list the directories breadth first and read the status of every entry, so
// that the scan's own listing and status calls find directory blocks and inodes in
// memory instead of waiting for the storage one request at a time.
//
// One worker starts alone; a tree found to be in memory already ends the warm-up there,
// any other gets every worker. Nothing is kept of what
// the workers see; the warm-up changes no result, only how long
// the scan waits. Directories waiting to be listed are bounded in number: beyond the
// bound a subdirectory is simply not warmed up (the scan reads it as it always does).
//
// The threads and their stop are the prefetch engine's (platform/prefetch.h). Unlike the
// file read-ahead the warm-up hands the consumer nothing: a directory that cannot be
// listed or vanished is skipped, and the scan meets (and reports) it at its turn.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "platform/prefetch.h"

namespace vellumcast {

struct TreeWarmUp {
  TreeWarmUp() = default;
  TreeWarmUp(const TreeWarmUp&) = delete;
  TreeWarmUp& operator=(const TreeWarmUp&) = delete;
  ~TreeWarmUp() { Stop(); }

  // Starts `workers` threads at the directory `hostRoot`; false when none could start.
  bool Start(const std::string& hostRoot, uint32_t workers);
  // Waits until the workers have ended on their own: the whole tree was visited, or it
  // was found in memory.
  void Wait();
  // Ends the workers at once (each finishes the status call it is in) and joins them.
  void Stop();

 private:
  // Worker 0 starts alone and judges; the others wait for its verdict.
  void Work(uint32_t worker);
  // Lists one directory and reads its entries' status; adds its subdirectories.
  void Visit(const std::string& directory);

  PrefetchEngine engine;            // its lock guards the fields below
  std::deque<std::string> waiting;  // directories to list, host paths ending in '/'
  uint32_t busy = 0;                // workers listing a directory
  uint64_t visitedEntries = 0;      // entries whose status was read, and the time it took
  uint64_t visitedNanoseconds = 0;
  bool joined = false;  // the tree is slow to read: every worker at work
};

}  // namespace vellumcast
