// Marks render passes so a control thread can wait out the one in progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace orvex::mixer {

// The counter is odd while a pass runs; a thread that unpublished something
// only waits when a pass had started before it looked, never when idle. A
// pass takes microseconds and never waits itself, so the wait is short.
class RenderGate {
 public:
  void Enter() { seq_.fetch_add(1); }
  void Leave() { seq_.fetch_add(1); }
  void WaitForPassInProgress() const {
    const uint64_t seen = seq_.load();
    if ((seen & 1) == 0) return;  // nothing rendering; later passes see the change
    while (seq_.load() == seen) std::this_thread::yield();
  }

 private:
  std::atomic<uint64_t> seq_{0};
};

}  // namespace orvex::mixer
