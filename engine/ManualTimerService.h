// Timers on a virtual clock that only moves when Advance is called: for tests
// and offline rendering, where results must not depend on the machine's speed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include "engine/TimerService.h"

namespace orvex {

class ManualTimerService final : public TimerService {
 public:
  explicit ManualTimerService(uint32_t startMs = 0);

  // Moves the clock forward by ms, running on the calling thread every
  // callback that falls due, in due-time order (ties in creation order), with
  // the clock reading each callback's due time. Not to be called from a
  // callback or from two threads at once.
  void Advance(uint32_t ms);
  // Moves the clock forward by ms as if the service's thread had been held up
  // that long: every timer that fell due meanwhile runs once, late, at the
  // end, and its missed periods are skipped, as a stalled machine delivers
  // them. Same calling rules as Advance.
  void Stall(uint32_t ms);

  TimerId timeSetEvent(uint32_t periodMs, uint32_t resolutionMs, Callback cb, void* user) override;
  void timeKillEvent(TimerId id) override;
  uint32_t timeGetTime() const override { return now_.load(std::memory_order_acquire); }

 private:
  // Internal time is 64-bit milliseconds since construction, so due times
  // order correctly across the 32-bit wrap of timeGetTime.
  struct Timer {
    uint64_t period;
    uint64_t due;
    uint64_t seq;  // creation order, breaks ties between equal due times
    Callback cb;
    void* user;
  };
  using QueueKey = std::tuple<uint64_t, uint64_t, TimerId>;

  void SetElapsed(uint64_t elapsed);
  TimerId NextId();

  const uint32_t start_;
  std::atomic<uint32_t> now_;

  std::mutex mutex_;
  std::condition_variable idle_;  // killers: a callback has returned
  uint64_t elapsed_ = 0;
  std::map<TimerId, Timer> timers_;
  std::set<QueueKey> queue_;  // live timers not currently running, by due time
  TimerId last_id_ = 0;
  uint64_t next_seq_ = 0;
  TimerId running_ = 0;     // timer whose callback is executing, or 0
  std::thread::id runner_;  // thread executing that callback
};

}  // namespace orvex
