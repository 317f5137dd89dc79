// The three outputs (0 Master, 1 Group1, 2 Group2), each bound to at most
// one device. An output on a voice-engine device has its own engine and
// mastering voice; the players make their voices on those engines.
#pragma once

#include <array>
#include <memory>

#include "output/mixer/VoiceEngine.h"
#include "output/mixer/WaveXAudio.h"

namespace orvex {

class OutputSet {
 public:
  OutputSet() = default;
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;
  ~OutputSet() { ReleaseAll(); }

  // Binds output n to a device through a new engine; nullptr unbinds.
  // Players must have released their voices on the old engine first.
  // Returns false (and leaves the output without a device) on failure.
  // quantumFrames: see CreateVoiceEngine (0: 10 ms).
  bool Bind(int output, mixer::AudioDevice* device, uint32_t quantumFrames = 0);
  void ReleaseAll();

  // Engine of each output, nullptr where there is none.
  std::array<mixer::VoiceEngine*, kOutputCount> Engines() const;
  mixer::AudioDevice* Device(int output) const;

 private:
  std::array<std::unique_ptr<mixer::VoiceEngine>, kOutputCount> engines_;
  std::array<mixer::AudioDevice*, kOutputCount> devices_{};
};

}  // namespace orvex
