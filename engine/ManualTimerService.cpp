#include "engine/ManualTimerService.h"

#include <vector>

namespace orvex {

ManualTimerService::ManualTimerService(uint32_t startMs) : start_(startMs), now_(startMs) {}

void ManualTimerService::Advance(uint32_t ms) {
  std::unique_lock lock(mutex_);
  const uint64_t target = elapsed_ + ms;
  // Jumping from one due time to the next gives exactly what stepping 1 ms at
  // a time would, since nothing can fall due in between.
  while (!queue_.empty()) {
    const auto [due, seq, id] = *queue_.begin();
    if (due > target) break;
    queue_.erase(queue_.begin());
    SetElapsed(due);
    const Timer& t = timers_.at(id);
    const Callback cb = t.cb;
    void* const user = t.user;
    running_ = id;
    runner_ = std::this_thread::get_id();

    lock.unlock();
    cb(id, user);
    lock.lock();

    running_ = 0;
    if (auto it = timers_.find(id); it != timers_.end()) {
      Timer& live = it->second;
      live.due += live.period;
      queue_.emplace(live.due, live.seq, id);
    }
    idle_.notify_all();
  }
  SetElapsed(target);
}

void ManualTimerService::Stall(uint32_t ms) {
  {
    std::lock_guard lock(mutex_);
    const uint64_t end = elapsed_ + ms;
    std::vector<TimerId> late;
    for (const auto& [due, seq, id] : queue_) {
      if (due > end) break;
      late.push_back(id);
    }
    for (TimerId id : late) {
      Timer& t = timers_.at(id);
      queue_.erase({t.due, t.seq, id});
      t.due = end;
      queue_.emplace(t.due, t.seq, id);
    }
  }
  Advance(ms);
}

TimerService::TimerId ManualTimerService::timeSetEvent(uint32_t periodMs, uint32_t /*resolutionMs*/,
                                                       Callback cb, void* user) {
  if (periodMs == 0 || cb == nullptr) return 0;
  std::lock_guard lock(mutex_);
  const TimerId id = NextId();
  const Timer t{periodMs, elapsed_ + periodMs, next_seq_++, cb, user};
  timers_.emplace(id, t);
  queue_.emplace(t.due, t.seq, id);
  return id;
}

void ManualTimerService::timeKillEvent(TimerId id) {
  if (id == 0) return;
  std::unique_lock lock(mutex_);
  if (auto it = timers_.find(id); it != timers_.end()) {
    queue_.erase({it->second.due, it->second.seq, id});
    timers_.erase(it);
  }
  if (running_ == id && runner_ == std::this_thread::get_id()) return;
  idle_.wait(lock, [&] { return running_ != id; });
}

void ManualTimerService::SetElapsed(uint64_t elapsed) {
  elapsed_ = elapsed;
  now_.store(static_cast<uint32_t>(start_ + elapsed), std::memory_order_release);
}

TimerService::TimerId ManualTimerService::NextId() {
  do {
    ++last_id_;
  } while (last_id_ == 0 || timers_.contains(last_id_));
  return last_id_;
}

}  // namespace orvex
