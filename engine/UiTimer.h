// A periodic timer whose ticks run on the UI thread: the timer service ticks
// on its own thread and posts each tick to the UI thread. Ticks already
// posted when the timer stops or restarts are dropped.
#pragma once

#include <functional>
#include <memory>

#include "engine/TimerService.h"
#include "engine/UiPoster.h"

namespace orvex {

class UiTimer {
 public:
  UiTimer(TimerService& timers, UiPoster& poster) : timers_(timers), poster_(poster) {}
  ~UiTimer() { Stop(); }
  UiTimer(const UiTimer&) = delete;
  UiTimer& operator=(const UiTimer&) = delete;

  // (Re)starts the period from now. UI thread.
  void Start(uint32_t periodMs, std::function<void()> onTick) {
    Stop();
    shared_->onTick = std::move(onTick);
    tick_ = std::make_unique<Tick>(Tick{this, shared_, ++shared_->generation});
    id_ = timers_.timeSetEvent(periodMs, periodMs, &UiTimer::Thunk, tick_.get());
  }
  void Stop() {
    if (id_ != 0) timers_.timeKillEvent(id_);
    id_ = 0;
    tick_.reset();
    ++shared_->generation;
  }
  bool Running() const { return id_ != 0; }

 private:
  struct Shared {
    std::function<void()> onTick;
    uint64_t generation = 0;  // UI thread only
  };
  struct Tick {
    UiTimer* owner;
    std::shared_ptr<Shared> shared;
    uint64_t generation;
  };
  static void Thunk(TimerService::TimerId, void* user) {
    const Tick& t = *static_cast<Tick*>(user);
    t.owner->poster_.Post([shared = t.shared, generation = t.generation] {
      if (shared->generation != generation || !shared->onTick) return;
      auto onTick = shared->onTick;  // the tick may restart or stop the timer
      onTick();
    });
  }

  TimerService& timers_;
  UiPoster& poster_;
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::unique_ptr<Tick> tick_;
  TimerService::TimerId id_ = 0;
};

}  // namespace orvex
