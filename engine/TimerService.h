// Periodic timers for all engine work (player ticks, fade steps, ...).
// Every timer is periodic. All callbacks of all timers run one after another
// on a single thread owned by the service, so engine code driven by timers
// never sees two of its callbacks overlap.
#pragma once

#include <cstdint>

namespace orvex {

class TimerService {
 public:
  using TimerId = uint32_t;  // 0 means "no timer"
  using Callback = void (*)(TimerId id, void* user);

  TimerService() = default;
  TimerService(const TimerService&) = delete;
  TimerService& operator=(const TimerService&) = delete;
  virtual ~TimerService() = default;

  // Starts a timer whose first callback comes periodMs after now, then every
  // periodMs. resolutionMs is a hint only. Returns 0 if periodMs is 0 or cb is
  // null. An id is not handed out again until 2^32 more timers have been set.
  virtual TimerId timeSetEvent(uint32_t periodMs, uint32_t resolutionMs, Callback cb,
                               void* user) = 0;

  // After this returns, no callback of the timer runs or starts. Called from
  // inside a callback it does not wait, so the current callback may finish
  // (that is how a timer stops itself); called from any other thread it waits
  // for a running callback of the timer to return. Unknown ids and 0 are
  // ignored.
  virtual void timeKillEvent(TimerId id) = 0;

  // Milliseconds since an arbitrary origin. Wraps at 2^32: compare times by
  // unsigned subtraction only.
  virtual uint32_t timeGetTime() const = 0;
};

}  // namespace orvex
