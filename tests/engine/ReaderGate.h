// A slow disk for the player's reader thread, under the test's control: every
// piece the reader reads waits at the gate until the test lets it through.
// And polling with a deadline, for tests that watch a real reader thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/UiPoster.h"

namespace orvex {

class PieceGate {
 public:
  // Pieces wait here (on the reader thread). The hook holds the gate's state:
  // a reader thread the test has left behind may still be passing it.
  std::function<void()> Hook() {
    return [s = state_] {
      std::unique_lock lock(s->mutex);
      ++s->arrived;
      s->changed.notify_all();
      s->changed.wait(lock, [&] { return s->allowed > 0 || s->open; });
      if (!s->open) --s->allowed;
      ++s->passed;
      s->changed.notify_all();
    };
  }
  // Lets n more pieces through.
  void Allow(int n) {
    std::lock_guard lock(state_->mutex);
    state_->allowed += n;
    state_->changed.notify_all();
  }
  // Lets every piece through from now on.
  void Open() {
    std::lock_guard lock(state_->mutex);
    state_->open = true;
    state_->changed.notify_all();
  }
  // Waits until `count` pieces have come to the gate; false after 20 s.
  bool WaitArrived(int count) {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::seconds(20),
                                    [&] { return state_->arrived >= count; });
  }
  int Passed() {
    std::lock_guard lock(state_->mutex);
    return state_->passed;
  }
  ~PieceGate() { Open(); }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    int allowed = 0;
    int passed = 0;
    bool open = false;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Runs posted work until done() holds; false when 20 s passed first.
inline bool PumpUntil(ManualUiPoster& poster, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    poster.RunPending();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace orvex
