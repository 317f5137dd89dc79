#include "engine/RealTimerService.h"

#include "output/RealTimeThread.h"

namespace orvex {

RealTimerService::RealTimerService() : worker_([this] { Run(); }) {}

RealTimerService::~RealTimerService() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

TimerService::TimerId RealTimerService::timeSetEvent(uint32_t periodMs, uint32_t /*resolutionMs*/,
                                                     Callback cb, void* user) {
  if (periodMs == 0 || cb == nullptr) return 0;
  const Clock::duration period = std::chrono::milliseconds(periodMs);
  std::lock_guard lock(mutex_);
  const TimerId id = NextId();
  const Timer t{period, Clock::now() + period, next_seq_++, cb, user};
  timers_.emplace(id, t);
  queue_.emplace(t.due, t.seq, id);
  wake_.notify_one();
  return id;
}

void RealTimerService::timeKillEvent(TimerId id) {
  if (id == 0) return;
  std::unique_lock lock(mutex_);
  if (auto it = timers_.find(id); it != timers_.end()) {
    queue_.erase({it->second.due, it->second.seq, id});
    timers_.erase(it);
  }
  // A callback stopping its own timer must not wait for itself. Elsewhere the
  // timer may already be gone (it killed itself) yet still be running.
  if (std::this_thread::get_id() == worker_.get_id()) return;
  idle_.wait(lock, [&] { return running_ != id; });
}

uint32_t RealTimerService::timeGetTime() const {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin_);
  return static_cast<uint32_t>(ms.count());
}

TimerService::TimerId RealTimerService::NextId() {
  // After 2^32 timers the counter wraps; skip 0 and ids still in use.
  do {
    ++last_id_;
  } while (last_id_ == 0 || timers_.contains(last_id_));
  return last_id_;
}

void RealTimerService::Run() {
  // Where the system grants it; elsewhere the thread runs on as it is.
  MakeThisThreadRealTime(kTimerThreadPriority);
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (queue_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto [due, seq, id] = *queue_.begin();
    if (Clock::now() < due) {
      wake_.wait_until(lock, due);
      continue;
    }
    queue_.erase(queue_.begin());
    const Timer& t = timers_.at(id);
    const Callback cb = t.cb;
    void* const user = t.user;
    running_ = id;

    // Unlocked so the callback can set and kill timers, and so killers from
    // other threads can block on idle_ meanwhile.
    lock.unlock();
    cb(id, user);
    lock.lock();

    running_ = 0;
    if (auto it = timers_.find(id); it != timers_.end()) {
      Timer& live = it->second;
      live.due += live.period;
      // Far behind (a long callback, a stalled machine): drop the missed ticks
      // instead of firing them back to back.
      const Clock::time_point now = Clock::now();
      if (now - live.due > live.period) live.due = now;
      queue_.emplace(live.due, live.seq, id);
    }
    idle_.notify_all();
  }
}

}  // namespace orvex
