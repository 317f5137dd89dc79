#include "output/OutputSet.h"

#include <cstdio>

namespace orvex {

bool OutputSet::Bind(int output, mixer::AudioDevice* device, uint32_t quantumFrames) {
  if (output < 0 || output >= kOutputCount) return false;
  if (engines_[output]) engines_[output]->DestroyMasteringVoice();
  engines_[output].reset();
  devices_[output] = nullptr;
  if (!device) return true;
  auto engine = mixer::CreateVoiceEngine(quantumFrames);
  if (!engine || !engine->CreateMasteringVoice(*device)) {
    std::fprintf(stderr, "Failed creating mastering voice on %s\n", device->Id().c_str());
    return false;
  }
  engines_[output] = std::move(engine);
  devices_[output] = device;
  return true;
}

void OutputSet::ReleaseAll() {
  for (int n = 0; n < kOutputCount; ++n) Bind(n, nullptr);
}

std::array<mixer::VoiceEngine*, kOutputCount> OutputSet::Engines() const {
  std::array<mixer::VoiceEngine*, kOutputCount> engines{};
  for (int n = 0; n < kOutputCount; ++n) engines[n] = engines_[n].get();
  return engines;
}

mixer::AudioDevice* OutputSet::Device(int output) const {
  return output >= 0 && output < kOutputCount ? devices_[output] : nullptr;
}

}  // namespace orvex
