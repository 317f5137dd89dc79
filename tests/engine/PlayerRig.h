// A channel player on virtual time with its three outputs on virtual
// devices, for tests that check what the outputs play sample by sample.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/ManualTimerService.h"
#include "engine/UiPoster.h"
#include "engine/WaveWnd.h"
#include "output/OutputSet.h"
#include "output/mixer/VirtualDevice.h"

namespace orvex {

class PlayerRig {
 public:
  // quantum: the engines' processing quantum; one frame by default, so that
  // starts, stops and seeks land on the sample.
  explicit PlayerRig(uint32_t rate, int channel = 1, int outputs = 3, uint32_t quantum = 1)
      : PlayerRig(std::vector<uint32_t>(static_cast<size_t>(outputs), rate), channel, quantum) {}
  // One device per rate given.
  PlayerRig(const std::vector<uint32_t>& rates, int channel, uint32_t quantum = 1)
      : player(channel, timers, poster) {
    for (size_t n = 0; n < rates.size(); ++n) {
      devices.push_back(std::make_unique<mixer::VirtualDevice>("virtual-" + std::to_string(n),
                                                               "Virtual", 2, rates[n]));
      devices.back()->SetCapture(true);
      outputSet.Bind(static_cast<int>(n), devices.back().get(), quantum);
    }
    player.SetEngines(outputSet.Engines());
    player.SetEndOfFileHandler([this](int ch) {
      endNotices.push_back({timers.timeGetTime(), ch});
    });
  }
  ~PlayerRig() { player.Unload(); }

  // Lets the reader thread finish what it was asked and runs what it posted
  // to the UI thread: on the virtual clock the disk takes no time.
  void Settle() {
    do {
      EXPECT_TRUE(player.WaitForReader(std::chrono::seconds(20))) << "the reader hangs";
    } while (poster.RunPending() > 0);
  }
  // Loads path as the UI does and waits for the reader: true when the file
  // is ready to play.
  bool Load(const std::string& path) {
    player.LoadFile(path);
    Settle();
    return player.IsReady();
  }

  // Runs ms of virtual time in 10 ms steps: timers, the reader and posted
  // work, then the outputs pull the 10 ms of sound that the step covers.
  void Run(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
      timers.Advance(10);
      Settle();
      for (auto& d : devices) d->Pull(d->Rate() / 100);
    }
  }

  const std::vector<float>& Out(int n = 0) const {
    return devices[static_cast<size_t>(n)]->Captured();
  }

  ManualTimerService timers;
  ManualUiPoster poster;
  std::vector<std::unique_ptr<mixer::VirtualDevice>> devices;  // outlive their engines
  OutputSet outputSet;
  CWaveWnd player;
  struct Notice {
    uint32_t time;
    int channel;
  };
  std::vector<Notice> endNotices;
};

}  // namespace orvex
