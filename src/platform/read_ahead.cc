// The read-ahead pool: reader threads claim the next files of the consumer's order while
// the window has room, fill them outside the lock, and the consumer takes them in order.
#include "platform/read_ahead.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <new>

namespace vellumcast {
namespace {

// Bytes of one large file requested ahead: enough that several files are in flight at
// once within the window; the kernel's own sequential read-ahead carries on from there
// while the consumer copies the file.
constexpr uint64_t kLargeFileRequestBytes = 32ull << 20;
// One request per step: the kernel caps a single POSIX_FADV_WILLNEED at the device's
// read-ahead size (128 KiB by default, doubled by POSIX_FADV_SEQUENTIAL).
constexpr uint64_t kRequestStepBytes = 256 << 10;
// Files a reader claims at once, up to this many bytes.
constexpr size_t kBatchFiles = 8;
constexpr uint64_t kBatchBytes = 512 << 10;
// Files in a row found in the page cache (a small file read wholly from there, both
// ends of a large file's first bytes) before the readers rest: a folder from the
// storage rarely has that many in memory (only what the scan or the disc analysis
// read), a folder in memory reaches it within the first batches.
constexpr uint32_t kRestAfterFiles = 64;
// Two probes of bytes in memory take about a microsecond; more means they were read in.
constexpr auto kProbeTime = std::chrono::microseconds(20);

}  // namespace

bool ReadAhead::Start(ReadAheadNextFn nextFn, void* nextContext, const ReadAheadLimits& wanted,
                      ReadAheadSeekFn seekFn) {
  Stop();
  next = nextFn;
  seek = seekFn;
  context = nextContext;
  limits = wanted;
  // Descriptors stay far below the process's limit: each reader holds one while it
  // reads, the window at most `openFiles`; together at most a quarter of the limit.
  struct rlimit nofile;
  if (getrlimit(RLIMIT_NOFILE, &nofile) == 0 && nofile.rlim_cur != RLIM_INFINITY) {
    const uint64_t share = nofile.rlim_cur / 8;
    limits.readers = uint32_t(std::min<uint64_t>(limits.readers, share));
    limits.openFiles = uint32_t(std::min<uint64_t>(limits.openFiles, share));
  }
  orderEnded = false;
  resting = false;
  drained = false;
  inMemoryRun = 0;
  ring.size = limits.memoryBytes;
  ring.head = ring.used = 0;
  heldRingBytes = 0;
  ring.bytes.reset(new (std::nothrow) uint8_t[ring.size]);
  if (!ring.bytes) return false;
  started = engine.Start(limits.readers, [this](uint32_t) { ReaderLoop(); });
  return started;
}

bool ReadAhead::PeekNext() {
  if (pending) return true;
  if (orderEnded || engine.Stopping()) return false;
  auto request = std::make_unique<ReadAheadRequest>();
  if (!next(context, *request)) {
    orderEnded = true;
    return false;
  }
  pending = std::move(request);
  return true;
}

bool ReadAhead::RoomFor(const ReadAheadRequest& request) const {
  if (window.size() >= limits.files) return false;
  uint64_t cost = request.readWhole ? request.plannedBytes
                                    : std::min(request.plannedBytes, kLargeFileRequestBytes);
  if (windowBytes > 0 && windowBytes + cost > limits.windowBytes) return false;
  if (request.readWhole) return ring.Fits(request.plannedBytes);
  return openFiles < limits.openFiles;
}

bool ReadAhead::AtLowWater() const {
  return window.size() <= limits.files / 2 && windowBytes <= limits.windowBytes / 2 &&
         ring.used <= ring.size / 2 && openFiles <= limits.openFiles / 2;
}

uint8_t* ReadAhead::Ring::Place(uint64_t n, uint64_t& cost) {
  if (used == 0) head = 0;
  cost = Cost(n);
  if (head + n > size) head = 0;
  uint8_t* at = bytes.get() + head;
  head += n;
  used += cost;
  return at;
}

void ReadAhead::Ring::Free(uint64_t cost) { used -= cost; }

ReadAhead::Entry& ReadAhead::Claim() {
  auto owned = std::make_unique<Entry>();
  Entry& entry = *owned;
  entry.request = std::move(*pending);
  pending.reset();
  if (entry.request.readWhole) {
    entry.bytes = ring.Place(entry.request.plannedBytes, entry.ringBytes);
    entry.windowBytes = entry.request.plannedBytes;
  } else {
    entry.windowBytes = std::min(entry.request.plannedBytes, kLargeFileRequestBytes);
    ++openFiles;
  }
  windowBytes += entry.windowBytes;
  window.push_back(std::move(owned));
  return entry;
}

void ReadAhead::ReaderLoop() {
  std::vector<Entry*> batch;
  std::unique_lock<std::mutex> lock(engine.mutex);
  while (!engine.Stopping()) {
    if (resting) {
      if (!engine.WorkerWait(lock)) break;
      continue;
    }
    if (!PeekNext()) break;
    if (!RoomFor(*pending)) {
      if (!engine.WorkerWait(lock)) break;
      continue;
    }
    // A few consecutive files per claim: one lock for several small files keeps the
    // readers off each other's (and the writer's) way.
    batch.clear();
    uint64_t bytes = 0;
    do {
      bytes += pending->plannedBytes;
      batch.push_back(&Claim());
    } while (batch.size() < kBatchFiles && bytes < kBatchBytes && !resting && PeekNext() &&
             RoomFor(*pending));
    lock.unlock();
    for (Entry* entry : batch) {
      if (engine.Stopping()) break;  // what is left in the window is only freed
      Fill(*entry);
      Judge(*entry);
      entry->ready = true;
      engine.ItemReady();
    }
    lock.lock();
  }
}

void ReadAhead::Fill(Entry& entry) const {
  const ReadAheadRequest& r = entry.request;
  SourceFile& file = entry.file;
  if (r.readWhole) {
    entry.usable = file.ReadWhole(r.hostPath, entry.bytes, size_t(r.plannedBytes));
    return;
  }
  // A file that is no longer a regular file (a named pipe could block a read for ever)
  // is left to the consumer, like every failure.
  if (!file.Open(r.hostPath) || !file.IsRegular()) {
    file.Close();
    return;
  }
  entry.usable = true;
  const uint64_t wanted = std::min(r.plannedBytes, kLargeFileRequestBytes);
  // Both ends of the bytes to request in memory, found within microseconds: nothing to
  // request (a probe that misses starts reading its bytes in, like the requests below).
  const auto start = std::chrono::steady_clock::now();
  if (file.InMemory(0) && (wanted == 0 || file.InMemory(wanted - 1)) &&
      std::chrono::steady_clock::now() - start < kProbeTime) {
    return;
  }
  file.fromStorage = true;
  for (uint64_t at = 0; at < wanted && !engine.Stopping(); at += kRequestStepBytes) {
    file.RequestBytes(at, std::min(kRequestStepBytes, wanted - at));
  }
}

void ReadAhead::Judge(const Entry& entry) {
  if (!seek) return;
  if (!entry.usable || entry.file.fromStorage) {
    inMemoryRun = 0;
    return;
  }
  if (inMemoryRun.fetch_add(1) + 1 == kRestAfterFiles) {
    std::lock_guard<std::mutex> lock(engine.mutex);
    if (!engine.Stopping()) resting = true;
  }
}

void ReadAhead::Resume(const void* after) {
  {
    std::lock_guard<std::mutex> lock(engine.mutex);
    if (!drained || engine.Stopping()) return;
    // No reader is in `next` now: resting ones wait, the others have ended.
    seek(context, after);
    pending.reset();
    orderEnded = false;
    resting = false;
    drained = false;
    inMemoryRun = 0;
  }
  engine.workersWake.notify_all();
}

void ReadAhead::Release(Entry& entry) {
  windowBytes -= entry.windowBytes;
  if (!entry.request.readWhole) --openFiles;
}

bool ReadAhead::Take(const std::string& hostPath, SourceFile& into) {
  if (!started || drained) return false;
  std::unique_lock<std::mutex> lock(engine.mutex);
  // The consumer is done with the file it took before; its bytes may now be overwritten.
  ring.Free(heldRingBytes);
  heldRingBytes = 0;
  if (window.empty() && resting) {
    drained = true;  // from here on the consumer opens its files itself
    return false;
  }
  if (window.empty()) {
    // The readers have not come this far: the consumer opens the file itself, and the
    // readers go on after it.
    bool inStep = PeekNext() && pending->hostPath == hostPath;
    pending.reset();
    if (engine.Idle()) engine.workersWake.notify_all();
    lock.unlock();
    if (!inStep) Stop();
    return false;
  }
  Entry& front = *window.front();
  if (front.request.hostPath != hostPath) {
    lock.unlock();
    Stop();
    return false;
  }
  if (!front.ready) {
    // The readers fall behind (the storage is slow): all of them to work.
    if (engine.Idle()) engine.workersWake.notify_all();
    // A claimed entry is filled before its reader ends unless a stop came, which only
    // the consumer gives: the wait ends with the entry ready.
    if (!engine.ConsumerWait(lock, [&front] { return front.ready.load(); })) {
      lock.unlock();
      Stop();
      return false;
    }
  }
  std::unique_ptr<Entry> entry = std::move(window.front());
  window.pop_front();
  Release(*entry);
  heldRingBytes = entry->ringBytes;
  // Keeping ahead: one reader refills the window while the consumer works (with the
  // files in memory one is enough, and more would only take processor time from the
  // consumer); the others join when the consumer finds a file not ready.
  if (engine.Idle() && !resting && AtLowWater()) engine.workersWake.notify_one();
  lock.unlock();
  // A file removed, replaced or written since a reader opened it is opened afresh: the
  // image takes every file as it is at its turn, as without the read-ahead.
  if (!entry->usable || !entry->file.Unchanged(hostPath)) return false;
  into.Adopt(entry->file);
  return true;
}

void ReadAhead::Stop() {
  engine.Stop();
  started = false;
  std::lock_guard<std::mutex> lock(engine.mutex);
  window.clear();  // closes what is still open and frees what was read
  pending.reset();
  openFiles = 0;
  resting = false;
  drained = false;
  windowBytes = 0;
  ring.used = ring.head = heldRingBytes = 0;
}

}  // namespace vellumcast
