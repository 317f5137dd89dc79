// Timers on a worker thread driven by the steady clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include "engine/TimerService.h"

namespace orvex {

class RealTimerService final : public TimerService {
 public:
  RealTimerService();
  // Stops the worker; no callback runs after this returns. Must not be called
  // from a callback.
  ~RealTimerService() override;

  TimerId timeSetEvent(uint32_t periodMs, uint32_t resolutionMs, Callback cb, void* user) override;
  void timeKillEvent(TimerId id) override;
  uint32_t timeGetTime() const override;

 private:
  using Clock = std::chrono::steady_clock;

  struct Timer {
    Clock::duration period;
    Clock::time_point due;
    uint64_t seq;  // creation order, breaks ties between equal due times
    Callback cb;
    void* user;
  };
  using QueueKey = std::tuple<Clock::time_point, uint64_t, TimerId>;

  void Run();
  TimerId NextId();

  const Clock::time_point origin_ = Clock::now();

  std::mutex mutex_;
  std::condition_variable wake_;  // worker: queue changed or stopping
  std::condition_variable idle_;  // killers: a callback has returned
  std::map<TimerId, Timer> timers_;
  std::set<QueueKey> queue_;  // live timers not currently running, by due time
  TimerId last_id_ = 0;
  uint64_t next_seq_ = 0;
  TimerId running_ = 0;  // timer whose callback is executing, or 0
  bool stopping_ = false;

  std::thread worker_;  // last: starts after everything above is ready
};

}  // namespace orvex
