// Reading the source files ahead of the comparison on a second thread.
#include "verify/source_read_ahead.h"

#include <algorithm>
#include <cstring>

#include "platform/source_file.h"

namespace vellumcast {
namespace {

// Three buffers: one being compared, one being filled, one ready.
constexpr size_t kBatchCount = 3;
constexpr size_t kBatchBytes = kSourceBatchBytes;

}  // namespace

bool SourceReadAhead::Start(const std::vector<const TreeNode*>& jobList) {
  jobs = &jobList;
  for (size_t i = 0; i < kBatchCount; ++i) {
    auto batch = std::make_unique<SourceBatch>();
    batch->buffer.reset(new (std::nothrow) uint8_t[kBatchBytes]);
    if (!batch->buffer) return false;
    free.push_back(batch.get());
    pool.push_back(std::move(batch));
  }
  return engine.Start(1, [this](uint32_t) { Run(); });
}

SourceBatch* SourceReadAhead::Next() {
  std::unique_lock<std::mutex> hold(engine.mutex);
  if (!engine.ConsumerWait(hold, [this] { return !filled.empty(); })) return nullptr;
  SourceBatch* batch = filled.front();
  filled.pop_front();
  return batch;
}

void SourceReadAhead::Release(SourceBatch* batch) {
  batch->used = 0;
  batch->segments.clear();
  {
    std::lock_guard<std::mutex> hold(engine.mutex);
    free.push_back(batch);
  }
  engine.workersWake.notify_one();
}

void SourceReadAhead::Stop() { engine.Stop(); }

SourceBatch* SourceReadAhead::TakeFree() {
  std::unique_lock<std::mutex> hold(engine.mutex);
  if (!engine.WorkerWait(hold, [this] { return !free.empty(); })) return nullptr;
  SourceBatch* batch = free.back();
  free.pop_back();
  return batch;
}

void SourceReadAhead::Put(SourceBatch* batch) {
  {
    std::lock_guard<std::mutex> hold(engine.mutex);
    filled.push_back(batch);
  }
  engine.ItemReady();
}

bool SourceReadAhead::ReadJob(uint32_t index, SourceBatch*& batch) {
  uint64_t jobOffset = 0;
  auto fail = [&](std::string why) {
    batch->segments.push_back({index, jobOffset, nullptr, 0, std::move(why)});
    return true;
  };
  std::vector<SourcePiece> pieces;
  SourcePiecesOf(*(*jobs)[index], pieces);
  for (size_t p = 0; p < pieces.size(); ++p) {
    const SourcePiece& piece = pieces[p];
    if (piece.unchecked) {
      batch->segments.push_back({index, jobOffset, nullptr, size_t(piece.bytes), {}});
      jobOffset += piece.bytes;
      continue;
    }
    SourceFile file;
    if (!file.Open(piece.hostPath)) return fail("cannot read the source file: " + file.error);
    uint64_t fileOffset = piece.offset;
    if (fileOffset && !file.SkipTo(fileOffset))
      return fail("cannot read the source file: " + file.error);
    uint64_t left = piece.bytes;
    bool ended = false;
    while (left) {
      if (batch->used == kBatchBytes) {
        Put(batch);
        batch = TakeFree();
        if (!batch) return false;
      }
      const size_t n = size_t(std::min<uint64_t>(left, kBatchBytes - batch->used));
      uint8_t* at = batch->buffer.get() + batch->used;
      size_t got = 0;
      if (!ended && !file.Read(at, n, got))
        return fail("cannot read the source file: " + file.error);
      if (size_t(got) < n) {
        if (!piece.zeroFill)
          return fail("the source file ends at byte " + std::to_string(fileOffset + uint64_t(got)));
        ended = true;
        std::memset(at + got, 0, n - size_t(got));
      }
      batch->segments.push_back({index, jobOffset, at, n, {}});
      batch->used += n;
      jobOffset += n;
      fileOffset += n;
      left -= n;
    }
    // A file read whole must end where the image's copy ends.
    uint8_t probe = 0;
    size_t extra = 0;
    if (!piece.zeroFill && p + 1 == pieces.size() && file.Read(&probe, 1, extra) && extra > 0) {
      return fail("the source file is longer than the image's copy (" + std::to_string(fileOffset) +
                  " bytes)");
    }
  }
  return true;
}

void SourceReadAhead::Run() {
  SourceBatch* batch = TakeFree();
  for (uint32_t i = 0; batch && i < jobs->size(); ++i) {
    if (!ReadJob(i, batch)) break;
  }
  // The last batch; the consumer learns of the end when this worker returns.
  if (batch && !batch->segments.empty()) Put(batch);
}

}  // namespace vellumcast
