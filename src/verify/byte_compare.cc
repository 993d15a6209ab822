// Comparing every matched file's bytes in the image with its source, in the order of the
// image's sectors, while a second thread reads the sources ahead.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "tree/tree_node.h"
#include "verify/image_checker.h"

namespace vellumcast {

// Asks the system to read [offset, offset + n) of a file ahead of its comparison.
void ReadAheadOf(ImageSource& image, std::span<const ImageExtent> extents, uint64_t offset,
                 uint64_t n) {
  uint64_t start = 0;
  for (const ImageExtent& e : extents) {
    if (start >= offset + n) break;
    const uint64_t end = start + e.bytes;
    if (!e.zero && end > offset) {
      const uint64_t from = std::max(start, offset), to = std::min(end, offset + n);
      image.ReadAhead(e.sector * kImageSectorSize + (from - start), to - from);
    }
    start = end;
  }
}

bool Checker::ReadJob(const ByteJob& job, uint64_t offset, uint8_t* out, size_t n,
                      ExtentCursor& cursor) {
  const uint64_t size = disc.entries[job.planned].size;
  if (offset > size || n > size - offset) return false;
  if (job.extentCount == 0) {
    if (job.at + offset + n > embedded.size()) return false;
    std::memcpy(out, embedded.data() + job.at + offset, n);
    return true;
  }
  const ImageExtent one{job.at, size, false};
  const std::span<const ImageExtent> runs =
      job.extentCount == kOneExtent ? std::span(&one, 1)
                                    : std::span(extents.data() + job.at, job.extentCount);
  if (size >= kImageReadAheadBytes) ReadAheadOf(image, runs, offset + n, kImageReadAheadBytes);
  return ReadExtentBytes(image, runs.data(), runs.size(), offset, out, n, &cursor);
}

void Checker::SortJobs() {
  // In the order of the image's sectors, so that the image is read front to back.
  auto firstSector = [&](const ByteJob& job) -> uint64_t {
    if (job.extentCount == kOneExtent) return job.at;
    for (uint32_t i = 0; i < job.extentCount; ++i) {
      if (!extents[job.at + i].zero) return extents[job.at + i].sector;
    }
    return 0;
  };
  std::stable_sort(jobs.begin(), jobs.end(), [&](const ByteJob& a, const ByteJob& b) {
    return firstSector(a) < firstSector(b);
  });
}

bool Checker::SegmentDiffers(const ByteJob& job, const SourceSegment& segment, uint8_t* buffer,
                             ExtentCursor& cursor, std::string& what) {
  image.failed = false;
  if (!ReadJob(job, segment.offset, buffer, segment.bytes, cursor)) {
    what = "cannot be read from the image at byte " + std::to_string(segment.offset) + ": " +
           (image.failed ? image.error : "its extents pass the image's end");
    return true;
  }
  if (std::memcmp(buffer, segment.data, segment.bytes) == 0) return false;
  size_t at = 0;
  while (buffer[at] == segment.data[at]) ++at;
  what = "byte " + std::to_string(segment.offset + at) + " differs from the source";
  return true;
}

bool Checker::CompareBytes() {
  SortJobs();
  std::vector<const TreeNode*> nodes;
  nodes.reserve(jobs.size());
  uint64_t total = done;
  for (const ByteJob& job : jobs) {
    nodes.push_back(disc.entries[job.planned].node);
    total += disc.entries[job.planned].size;
  }
  if (jobs.empty()) return true;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kImageChunkBytes]);
  SourceReadAhead source;
  if (!buffer || !source.Start(nodes)) return false;
  if (progress && !progress(done, total, context)) return false;
  std::vector<bool> failed(jobs.size(), false);
  std::vector<ExtentCursor> cursors(jobs.size());  // each file's bytes are compared in order
  auto fail = [&](uint32_t index, const std::string& what) {
    if (failed[index]) return;
    failed[index] = true;
    failures[jobs[index].planned] = what;
    Differs(outcome, jobs[index].planned, what);
  };
  while (SourceBatch* batch = source.Next()) {
    for (const SourceSegment& segment : batch->segments) {
      const ByteJob& job = jobs[segment.job];
      if (failed[segment.job]) continue;
      if (!segment.failure.empty()) {
        fail(segment.job, segment.failure);
        continue;
      }
      if (!segment.data) continue;  // made by the writer: the boot check reads it
      std::string what;
      if (SegmentDiffers(job, segment, buffer.get(), cursors[segment.job], what))
        fail(segment.job, what);
    }
    for (const SourceSegment& segment : batch->segments) done += segment.bytes;
    source.Release(batch);
    if (progress && !progress(done, total, context)) return false;
  }
  return true;
}

}  // namespace vellumcast
