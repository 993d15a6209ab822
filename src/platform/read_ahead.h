// Parallel read-ahead of source files: a small pool of reader threads works ahead of a
// strictly sequential consumer along the consumer's own order of files. Small files are
// read whole into memory and closed; large files are opened and their first bytes are
// requested from the storage (POSIX_FADV_WILLNEED), so the consumer's reads or kernel
// copies find them in the page cache. Storage with many requests in flight (SSD, NVMe,
// RAID, network file systems) delivers its speed only this way.
//
// The window ahead of the consumer is bounded in files, in bytes requested, in bytes held
// in memory and in descriptors held open. The bytes of small files go into one ring
// buffer allocated at the start: files are claimed and taken in the same order, so the
// ring is used first in, first out, and no memory is allocated per file. A file the readers could
// not open or read, or that is not a regular file, is left to the consumer, which opens it itself
// and meets (and reports) the failure where it always did.
//
// Files already in the page cache gain nothing from other threads: reading them there
// and copying their bytes once more only costs processor time, which on a busy machine
// is the consumer's. So the readers rest once a run of files was found in memory (a
// large file whose first bytes are in memory is not requested either);
// the consumer then opens every file itself, and wakes them again (from its own place
// in the order) at the first file whose bytes had to come from the storage.
//
// The threads, their waits and their stop are the prefetch engine's (platform/prefetch.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/prefetch.h"
#include "platform/source_file.h"

namespace vellumcast {

// One file of the consumer's order, as the order hands it out.
struct ReadAheadRequest {
  std::string hostPath;
  uint64_t plannedBytes = 0;  // bytes the consumer takes from the file at most
  bool readWhole = false;     // read into memory (small files); else open and request
};

// Hands out the next file of the consumer's order; false after the last. Called by
// the readers and by the consumer, never by two at once.
using ReadAheadNextFn = bool (*)(void* context, ReadAheadRequest& request);
// Moves the order to just after the consumer's file `after` (as the order knows it);
// called with no reader in `next`.
using ReadAheadSeekFn = void (*)(void* context, const void* after);

struct ReadAheadLimits {
  uint32_t readers = 16;
  uint32_t files = 4096;                // files in the window
  uint32_t openFiles = 64;              // descriptors held open in the window
  uint64_t windowBytes = 128ull << 20;  // bytes read or requested ahead of the consumer
  uint64_t memoryBytes = 4ull << 20;    // the ring for small files' bytes
};

struct ReadAhead {
  ReadAhead() = default;
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  ~ReadAhead() { Stop(); }

  // Starts the readers over the order `next` hands out. False (nothing started) when
  // no thread could be started; the consumer then simply opens every file itself.
  // Without `seek` the readers never rest.
  [[nodiscard]] bool Start(ReadAheadNextFn next, void* context, const ReadAheadLimits& limits,
                           ReadAheadSeekFn seek = nullptr);
  // The consumer's next file, which must be `hostPath`: true with `into` holding it
  // (open, or its bytes read), false when the consumer is to open it itself, also when
  // the file was removed, replaced or changed since a reader opened it. Waits while a
  // reader is still busy with it. A file out of order stops the read-ahead. Bytes read
  // whole stay valid until the next Take or Stop: the consumer is done with one small
  // file before it takes the next.
  [[nodiscard]] bool Take(const std::string& hostPath, SourceFile& into);
  // The readers rest and the consumer has taken all they had read: it opens its files
  // itself (Take declines them) and watches whether they come from memory.
  bool Resting() const { return drained.load(std::memory_order_relaxed); }
  // The consumer's file `after` had to come from the storage: the readers go on from
  // the next file of the order.
  void Resume(const void* after);
  // Ends the readers at once (each finishes at most the one read or request it is in),
  // joins them and closes and frees everything in the window. Safe to call twice.
  void Stop();

 private:
  struct Entry {
    ReadAheadRequest request;
    std::atomic<bool> ready{false};
    bool usable = false;  // opened (and read, for a whole read) without a failure
    SourceFile file;      // open, or holding the bytes read
    uint64_t windowBytes = 0;
    uint64_t ringBytes = 0;    // its share of the ring, the unused end before a wrap included
    uint8_t* bytes = nullptr;  // where in the ring a small file's bytes go
  };

  // The ring of small files' bytes: `used` bytes from the oldest block held up to `head`.
  struct Ring {
    std::unique_ptr<uint8_t[]> bytes;
    uint64_t size = 0;
    uint64_t head = 0;
    uint64_t used = 0;
    // Bytes a block of n costs at the head: n, plus the end of the ring when it wraps.
    uint64_t Cost(uint64_t n) const { return head + n <= size ? n : size - head + n; }
    bool Fits(uint64_t n) const { return n <= size && used + Cost(n) <= size; }
    uint8_t* Place(uint64_t n, uint64_t& cost);
    void Free(uint64_t cost);
  };

  void ReaderLoop();
  // The next request, fetched into `pending` if need be; false at the end of the order.
  bool PeekNext();
  bool RoomFor(const ReadAheadRequest& request) const;
  // The window has drained to half of every bound: time to wake an idle reader, who then
  // fills it again in one go (not one reader per file taken).
  bool AtLowWater() const;
  // Moves `pending` into the window with its costs counted.
  Entry& Claim();
  void Fill(Entry& entry) const;
  void Release(Entry& entry);
  // Counts a filled file towards the run found in memory; rests the readers at its end.
  void Judge(const Entry& entry);

  ReadAheadNextFn next = nullptr;
  ReadAheadSeekFn seek = nullptr;
  void* context = nullptr;
  ReadAheadLimits limits;

  PrefetchEngine engine;  // its lock guards everything below but the atomics
  bool started = false;
  std::deque<std::unique_ptr<Entry>> window;  // claimed files in the consumer's order
  std::unique_ptr<ReadAheadRequest> pending;  // fetched but not yet claimed (no room)
  bool orderEnded = false;
  bool resting = false;                  // the readers claim nothing
  std::atomic<bool> drained{false};      // resting, and the window is empty
  std::atomic<uint32_t> inMemoryRun{0};  // files in a row read wholly from memory
  uint32_t openFiles = 0;
  uint64_t windowBytes = 0;
  uint64_t heldRingBytes = 0;  // of the file last taken, freed at the next Take
  Ring ring;
};

}  // namespace vellumcast
