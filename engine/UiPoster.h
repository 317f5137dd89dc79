// Hands work to the UI thread ("post"): the desktop program queues it on the
// Qt event loop; tests and the offline renderer run the queue by hand.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace orvex {

class UiPoster {
 public:
  virtual ~UiPoster() = default;
  // Any thread except an audio thread. The task runs later on the UI thread.
  virtual void Post(std::function<void()> task) = 0;
};

class ManualUiPoster final : public UiPoster {
 public:
  void Post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  // Runs every task posted so far, and those they post, in order.
  int RunPending() {
    int count = 0;
    for (;;) {
      std::function<void()> task;
      {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) return count;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
      ++count;
    }
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace orvex
