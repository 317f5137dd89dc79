// The engine's device on an output whose owner runs the audio thread itself
// (the JACK host, the exclusive-mode writer). The owner opens and closes the
// real device and calls Render from its callback; the port lets one engine
// render into it while the engine's mastering voice is attached.
//
// Threads: Configure, Open and Close come from control threads; Render runs
// on the owner's audio thread and never locks, allocates or waits.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

#include "output/mixer/RenderGate.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex::mixer {

class RenderPort final : public AudioDevice {
 public:
  // What the engine is told of the device once the owner has opened it;
  // rate 0 while it is closed. Only while no engine is attached.
  void Configure(std::string id, std::string name, uint32_t rate) {
    id_ = std::move(id);
    name_ = std::move(name);
    rate_ = rate;
  }

  // Frames the owner's device buffers after a render (its period or buffer).
  void SetPlayOutFrames(uint32_t frames) { playOut_.store(frames); }
  uint32_t PlayOutFrames() const override { return playOut_.load(); }

  std::string Id() const override { return id_; }
  std::string Name() const override { return name_; }
  uint32_t Channels() const override { return 2; }
  uint32_t Rate() const override { return rate_; }
  // False while the owner's device is closed or an engine is attached.
  bool Open(RenderCallback* callback) override {
    if (!callback || rate_ == 0) return false;
    RenderCallback* none = nullptr;
    return callback_.compare_exchange_strong(none, callback);
  }
  // After it returns no Render reaches the engine.
  void Close() override {
    callback_.store(nullptr);
    gate_.WaitForPassInProgress();
  }
  bool Attached() const { return callback_.load() != nullptr; }

  // Audio side: the owner's device went on after a long stall.
  void Resumed() {
    gate_.Enter();
    if (RenderCallback* c = callback_.load()) c->OnDeviceResumed();
    gate_.Leave();
  }

  // Audio side: n interleaved stereo frames, silence without an engine.
  void Render(float* stereo, uint32_t n) {
    gate_.Enter();
    if (RenderCallback* c = callback_.load()) {
      c->Render(stereo, n);
    } else {
      std::fill(stereo, stereo + size_t(n) * 2, 0.0f);
    }
    gate_.Leave();
  }

 private:
  std::string id_;
  std::string name_;
  uint32_t rate_ = 0;
  std::atomic<uint32_t> playOut_{0};
  std::atomic<RenderCallback*> callback_{nullptr};
  RenderGate gate_;
};

}  // namespace orvex::mixer
