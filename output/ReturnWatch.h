// Waits for an audio server that went away to come back: a thread of its
// own asks `probe` on a slow period, so a server that is not there (whose
// connect may take its time to fail) never holds up the thread that runs
// the program. Once the probe says yes, `back` runs once, on the watch's
// thread; it must only hand the news on (post it).
//
// Threads: Start and Stop come from one control thread (the UI thread).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace orvex {

class ReturnWatch {
 public:
  ReturnWatch() = default;
  ~ReturnWatch() { Stop(); }
  ReturnWatch(const ReturnWatch&) = delete;
  ReturnWatch& operator=(const ReturnWatch&) = delete;

  // Replaces a watch that is running. The first probe comes one period on:
  // a server that has just gone is not back yet.
  void Start(std::function<bool()> probe, std::function<void()> back,
             std::chrono::milliseconds period);
  // Returns once no probe runs and `back` will not be called.
  void Stop();
  bool Running() const;

 private:
  void Loop(std::function<bool()> probe, std::function<void()> back,
            std::chrono::milliseconds period);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  bool running_ = false;
  std::thread thread_;
};

}  // namespace orvex
