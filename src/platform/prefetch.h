// The one engine under every prefetcher: worker threads that work ahead of one consumer
// (the file data's read-ahead, the tree warm-up, the comparison's source reads) and the
// one protocol by which they start, wait, end, stop and fail. Each prefetcher keeps only
// its own order of items under the engine's lock.
//
// Start. Start makes up to `count` workers; a thread the system refuses means fewer of
// them, none at all a false result: the consumer then does the work itself.
//
// Waiting. Workers wait only through WorkerWait, which returns false once a stop came;
// they look at Stopping() between items, so that each finishes at most the one system
// call it is in. The consumer waits for an item only through ConsumerWait, which also
// returns when no worker runs any more: it never waits for an item no one will make
// ready, and then does without it.
//
// Stop. The consumer may stop at any moment, also in the middle of the order: Stop wakes
// every worker, joins them all and leaves no thread running; the prefetcher then frees
// what its items hold. Stop is safe twice. A worker that finds no work left for any of
// them calls Halt, which ends the others without joining (Stop still joins).
//
// Failure. A worker never fails the consumer's work as a whole. What it could not do for
// one item (a file removed, not readable, not a regular file) is recorded in that item,
// which reaches the consumer in its place in the order: the consumer meets the failure
// itself (it opens the file and reports what the system says) or reports the item's
// reason. Nothing a worker sees is lost or reported out of order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vellumcast {

struct PrefetchEngine {
  // Guards the prefetcher's items and the engine's counts. The wakes go with it.
  std::mutex mutex;
  std::condition_variable workersWake;   // work or room for it, or a stop
  std::condition_variable consumerWake;  // an item is ready, or the last worker ended

  PrefetchEngine() = default;
  PrefetchEngine(const PrefetchEngine&) = delete;
  PrefetchEngine& operator=(const PrefetchEngine&) = delete;
  // The owner calls Stop in its own destructor: its members declared after the engine
  // are gone before this runs.
  ~PrefetchEngine() { Stop(); }

  // Stops what runs, then starts up to `count` threads, each running work(index) once;
  // false when none could be started.
  [[nodiscard]] bool Start(uint32_t count, std::function<void(uint32_t worker)> work);
  bool Stopping() const { return stopping.load(); }
  // Workers: waits once (the caller's loop looks again) or until `ready`; false on a stop.
  [[nodiscard]] bool WorkerWait(std::unique_lock<std::mutex>& lock);
  template <class Ready>
  [[nodiscard]] bool WorkerWait(std::unique_lock<std::mutex>& lock, Ready ready) {
    ++idle;
    workersWake.wait(lock, [&] { return stopping.load() || ready(); });
    --idle;
    return !stopping;
  }
  // Workers waiting in WorkerWait (for the consumer's wake-ups).
  uint32_t Idle() const { return idle; }
  // Workers, after an item became ready outside the lock (as a sequentially consistent
  // atomic, or under the lock): wakes the consumer if it waits; takes the lock only then.
  void ItemReady();
  // Consumer: waits until `ready` or no worker runs any more; false in the latter case.
  template <class Ready>
  bool ConsumerWait(std::unique_lock<std::mutex>& lock, Ready ready) {
    // Both flags sequentially consistent: either the worker sees the consumer waiting and
    // wakes it under the lock, or the consumer sees the item ready.
    consumerWaiting = true;
    consumerWake.wait(lock, [&] { return ready() || running == 0; });
    consumerWaiting = false;
    return ready();
  }
  // A worker, holding the lock: no work is left for anyone; ends every worker.
  void Halt();
  // Consumer: ends the workers, joins them; safe twice. Not called by a worker.
  void Stop();

 private:
  void Ended();

  std::atomic<bool> stopping{false};
  std::atomic<bool> consumerWaiting{false};
  uint32_t running = 0;  // workers not yet returned
  uint32_t idle = 0;
  std::vector<std::thread> threads;
};

}  // namespace vellumcast
