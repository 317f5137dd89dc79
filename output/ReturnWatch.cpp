#include "output/ReturnWatch.h"

namespace orvex {

void ReturnWatch::Start(std::function<bool()> probe, std::function<void()> back,
                        std::chrono::milliseconds period) {
  Stop();
  std::lock_guard lock(mutex_);
  quit_ = false;
  running_ = true;
  thread_ = std::thread([this, probe = std::move(probe), back = std::move(back), period]() mutable {
    Loop(std::move(probe), std::move(back), period);
  });
}

void ReturnWatch::Loop(std::function<bool()> probe, std::function<void()> back,
                       std::chrono::milliseconds period) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (wake_.wait_for(lock, period, [this] { return quit_; })) break;
    lock.unlock();
    const bool up = probe();
    lock.lock();
    if (quit_) break;
    if (up) {
      // Under the lock: Stop either sees the news already handed on, or
      // stops the watch before it is.
      back();
      break;
    }
  }
  running_ = false;
}

void ReturnWatch::Stop() {
  std::thread thread;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    thread.swap(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
  std::lock_guard lock(mutex_);
  running_ = false;
}

bool ReturnWatch::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

}  // namespace orvex
