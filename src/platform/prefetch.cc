// The prefetch engine's threads and their stop.
#include "platform/prefetch.h"

#include <system_error>

namespace vellumcast {

bool PrefetchEngine::Start(uint32_t count, std::function<void(uint32_t worker)> work) {
  Stop();
  stopping = false;
  threads.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++running;
    }
    try {
      threads.emplace_back([this, work, i] {
        work(i);
        Ended();
      });
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> lock(mutex);
      --running;
      break;  // fewer workers than asked; none at all means no prefetch
    }
  }
  return !threads.empty();
}

bool PrefetchEngine::WorkerWait(std::unique_lock<std::mutex>& lock) {
  if (stopping) return false;
  ++idle;
  workersWake.wait(lock);
  --idle;
  return !stopping;
}

void PrefetchEngine::ItemReady() {
  if (!consumerWaiting) return;
  std::lock_guard<std::mutex> lock(mutex);
  consumerWake.notify_one();
}

void PrefetchEngine::Ended() {
  std::lock_guard<std::mutex> lock(mutex);
  if (--running == 0) consumerWake.notify_all();
}

void PrefetchEngine::Halt() {
  stopping = true;
  workersWake.notify_all();
}

void PrefetchEngine::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  workersWake.notify_all();
  consumerWake.notify_all();
  for (std::thread& thread : threads) thread.join();
  threads.clear();
  idle = 0;
}

}  // namespace vellumcast
