// The console on virtual time with its three outputs on virtual devices: the
// offline renderer and the tests drive it in 10 ms steps. Everything is
// deterministic: the same show and actions give the same samples.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Console.h"
#include "engine/ManualTimerService.h"
#include "engine/UiPoster.h"
#include "output/OutputSet.h"
#include "output/xaudio/VirtualDevice.h"
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
  xaudio::VirtualDevice& Device(int output) { return *devices_[static_cast<size_t>(output)]; }
  const std::vector<float>& Out(int output) const {
    return devices_[static_cast<size_t>(output)]->Captured();
  }

  // Sets up the console from the settings, as the program does at start.
  void StartUp();
  // One step (10 ms unless told otherwise): each output renders the step, then the clock
  // moves on, running the timers and the work they posted to the UI thread.
  void Step(uint32_t ms = kStepMs);
  void Run(uint32_t ms);
  // Runs work posted to the UI thread (after an action).
  void Settle() { poster_.RunPending(); }

  // Events so far, in order.
  std::vector<ConsoleEvent> Events() const;

 private:
  void OnConsoleEvent(const ConsoleEvent& event) override;
  void PullOutputs();
  // Renders outputs not yet taken by the other thread.
  void PullShare();
  void HelperLoop();

  uint64_t elapsedMs_ = 0;
  uint64_t framesPulled_ = 0;
  uint32_t stepFrames_ = 0;  // set before the helper is woken
  // The outputs' engines share nothing, so a second thread takes outputs of
  // each step while the calling thread takes the others, as separate sound
  // cards would. Results do not depend on which thread renders what.
  std::thread helper_;
  std::atomic<uint64_t> generation_{0};
  std::atomic<int> nextDevice_{0};
  std::atomic<int> remaining_{0};
  std::atomic<bool> helperStop_{false};

  ManualTimerService timers_;
  ManualUiPoster poster_;
  std::vector<std::unique_ptr<xaudio::VirtualDevice>> devices_;  // outlive the engines
  OutputSet outputs_;
  std::unique_ptr<CConsole> console_;
  mutable std::mutex eventsMutex_;
  std::vector<ConsoleEvent> events_;
};

}  // namespace orvex
