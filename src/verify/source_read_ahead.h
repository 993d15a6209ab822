// The source side of a comparison: the files of a list of jobs read in order, in large
// sequential reads, on a second thread, a few buffers ahead of the comparison, so that
// reading the source overlaps reading the image.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "verify/planned_disc.h"

namespace vellumcast {

// Bytes of one batch, the most one segment holds. Reads of 512 KiB keep a disk or an
// optical drive streaming (the system reads further ahead on its own), and the three
// batches with the image's buffer keep the memory of a check near that of a build.
constexpr size_t kSourceBatchBytes = 512u << 10;

// Bytes of one job's content, in order: a run of `bytes` at `offset` of the job, or a
// failure of its source (then the job's remaining bytes never come).
struct SourceSegment {
  uint32_t job = 0;
  uint64_t offset = 0;
  const uint8_t* data = nullptr;
  size_t bytes = 0;
  std::string failure;  // not empty: why the source's content cannot be had from here on
};

// One filled buffer: the segments it holds, for one or more consecutive jobs.
struct SourceBatch {
  std::unique_ptr<uint8_t[]> buffer;
  size_t used = 0;
  std::vector<SourceSegment> segments;
};

// Contract: Start once; then Next until it returns null, handing each batch back with
// Release before asking for more than the pool holds. The job list must stay alive and
// unchanged until the reader has stopped (Stop, or the destructor).
struct SourceReadAhead {
  const std::vector<const TreeNode*>* jobs = nullptr;  // the planned file of each job

  std::mutex lock;
  std::condition_variable changed;
  std::deque<SourceBatch*> filled;  // ready for the comparison, in order
  std::vector<SourceBatch*> free;   // ready for the reader
  std::vector<std::unique_ptr<SourceBatch>> pool;
  bool finished = false;  // the reader has put its last batch
  bool stopRequest = false;
  std::thread worker;

  SourceReadAhead() = default;
  SourceReadAhead(const SourceReadAhead&) = delete;
  SourceReadAhead& operator=(const SourceReadAhead&) = delete;
  ~SourceReadAhead() { Stop(); }

  // Starts reading the source bytes of each planned file of `jobList` in order
  // (SourcePiecesOf) on a new thread; false when the buffers cannot be had.
  [[nodiscard]] bool Start(const std::vector<const TreeNode*>& jobList);
  // The next filled batch in order; null once every job has been delivered.
  SourceBatch* Next();
  void Release(SourceBatch* batch);
  // Ends the reader early and waits for it.
  void Stop();

 private:
  void Run();
  SourceBatch* TakeFree();
  void Put(SourceBatch* batch);
  // Reads the pieces of job `index` into batches; false once a stop was requested.
  [[nodiscard]] bool ReadJob(uint32_t index, SourceBatch*& batch);
};

}  // namespace vellumcast
