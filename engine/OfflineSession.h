// The console on virtual time with its three outputs on virtual devices: the
// offline renderer and the tests drive it in 10 ms steps. Everything is
// deterministic: the same show and actions give the same samples.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Console.h"
#include "engine/ManualTimerService.h"
#include "engine/UiPoster.h"
#include "output/OutputSet.h"
#include "output/mixer/VirtualDevice.h"
#include "show/CueStore.h"
#include "show/Settings.h"

namespace orvex {

class OfflineSession : private ConsoleListener {
 public:
  static constexpr uint32_t kStepMs = 10;

  // rate: the devices' sample rate; capture: keep the rendered samples;
  // quantumFrames: the engines' processing quantum (0: 10 ms), over which
  // gains ramp and starts and stops fade.
  OfflineSession(CueStore& cues, Settings& settings, uint32_t rate, bool capture,
                 uint32_t quantumFrames = 0);
  ~OfflineSession() override;

  CConsole& Console() { return *console_; }
  ManualTimerService& Timers() { return timers_; }
  uint32_t Now() const { return timers_.timeGetTime(); }
  mixer::VirtualDevice& Device(int output) { return *devices_[static_cast<size_t>(output)]; }
  const std::vector<float>& Out(int output) const {
    return devices_[static_cast<size_t>(output)]->Captured();
  }

  // Sets up the console from the settings, as the program does at start.
  void StartUp();
  // One step (10 ms unless told otherwise): each output renders the step, then the clock
  // moves on, running the timers and the work they posted to the UI thread.
  void Step(uint32_t ms = kStepMs);
  void Run(uint32_t ms);
  // Runs work posted to the UI thread (after an action). First the players'
  // readers finish what they were asked, so what is heard never depends on
  // how fast the disk is: a file loads in no time on the virtual clock.
  void Settle();
  // How long Settle waits for one player's reader (a file that never comes,
  // a FIFO nobody writes, would otherwise hold every step up for good).
  void SetReadWait(std::chrono::milliseconds wait) { readWait_ = wait; }

  // Events so far, in order.
  std::vector<ConsoleEvent> Events() const;

 private:
  void OnConsoleEvent(const ConsoleEvent& event) override;

  std::chrono::milliseconds readWait_{10000};
  uint64_t elapsedMs_ = 0;
  uint64_t framesPulled_ = 0;
  // The outputs render on the calling thread, one after the other: a 10 ms
  // step is a few microseconds of work each, less than handing it to
  // another thread and back costs.

  ManualTimerService timers_;
  ManualUiPoster poster_;
  std::vector<std::unique_ptr<mixer::VirtualDevice>> devices_;  // outlive the engines
  OutputSet outputs_;
  std::unique_ptr<CConsole> console_;
  mutable std::mutex eventsMutex_;
  std::vector<ConsoleEvent> events_;
};

}  // namespace orvex
