// The source side of a comparison: the files of a list of jobs read in order, in large
// sequential reads, on a second thread, a few buffers ahead of the comparison, so that
// reading the source overlaps reading the image.
//
// The thread, its waits, its stop and the delivery of failures are the prefetch engine's
// (platform/prefetch.h). It differs from the build's read-ahead by design: one worker
// reads the files one after the other into three large buffers, because the comparison
// needs every byte of every file (the build's readers only open files or bring their
// first bytes into memory, and the build copies them itself) and reads the image front to
// back at the same time, so a second sequential stream, not many requests in flight,
// keeps both the source and the image streaming. A file's failure is a segment with its
// reason, which the comparison reports as that file's difference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/prefetch.h"
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

  PrefetchEngine engine;            // its lock guards the two lists
  std::deque<SourceBatch*> filled;  // ready for the comparison, in order
  std::vector<SourceBatch*> free;   // ready for the reader
  std::vector<std::unique_ptr<SourceBatch>> pool;

  SourceReadAhead() = default;
  SourceReadAhead(const SourceReadAhead&) = delete;
  SourceReadAhead& operator=(const SourceReadAhead&) = delete;
  ~SourceReadAhead() { Stop(); }

  // Starts reading the source bytes of each planned file of `jobList` in order
  // (SourcePiecesOf) on a new thread; false when the buffers or the thread cannot be had.
  [[nodiscard]] bool Start(const std::vector<const TreeNode*>& jobList);
  // The next filled batch in order; null once every job has been delivered (or the
  // reader was stopped).
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
