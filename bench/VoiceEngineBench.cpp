// Render speed of a full show load: 7 players on 3 outputs, every voice a
// 44.1 kHz stereo 16-bit source resampled to a 48 kHz stereo device.
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include <benchmark/benchmark.h>

#include "output/mixer/VirtualDevice.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex::mixer {
namespace {

constexpr int kOutputs = 3;
constexpr int kPlayers = 7;
constexpr uint32_t kSourceRate = 44100;
constexpr uint32_t kDeviceRate = 48000;
constexpr uint32_t kBufferFrames = 4410;  // 100 ms per submitted buffer
constexpr uint32_t kQueuedBuffers = 3;

WaveFormat Stereo16(uint32_t rate) {
  WaveFormat f;
  f.formatTag = kFormatPcm;
  f.channels = 2;
  f.samplesPerSec = rate;
  f.bitsPerSample = 16;
  f.blockAlign = 4;
  f.avgBytesPerSec = rate * 4;
  return f;
}

// Audible material, so nothing could shortcut silence.
std::vector<int16_t> Material(double freq) {
  std::vector<int16_t> s(size_t(kBufferFrames) * 2);
  for (uint32_t i = 0; i < kBufferFrames; ++i) {
    const double y = 0.3 * std::sin(2 * std::numbers::pi * freq * i / kSourceRate);
    s[2 * i] = s[2 * i + 1] = int16_t(std::lround(y * 32767));
  }
  return s;
}

void BM_SevenPlayersThreeOutputs(benchmark::State& state) {
  const uint32_t framesPerPull = uint32_t(state.range(0));
  std::vector<std::unique_ptr<VirtualDevice>> devices;
  std::vector<std::unique_ptr<VoiceEngine>> engines;
  std::vector<SourceVoice*> voices;
  std::vector<std::vector<int16_t>> material;
  for (int o = 0; o < kOutputs; ++o) {
    devices.push_back(std::make_unique<VirtualDevice>("bench", "Bench", 2, kDeviceRate));
    engines.push_back(CreateVoiceEngine());
    if (!engines.back()->CreateMasteringVoice(*devices.back())) {
      state.SkipWithError("no mastering voice");
      return;
    }
    for (int p = 0; p < kPlayers; ++p) {
      SourceVoice* v = engines.back()->CreateSourceVoice(Stereo16(kSourceRate));
      if (!v) {
        state.SkipWithError("no source voice");
        return;
      }
      material.push_back(Material(220.0 + 40.0 * double(voices.size())));
      voices.push_back(v);
      v->Start();
    }
  }
  auto topUp = [&] {
    for (size_t i = 0; i < voices.size(); ++i) {
      const auto& m = material[i];
      while (voices[i]->GetState().buffersQueued < kQueuedBuffers)
        voices[i]->SubmitSourceBuffer(reinterpret_cast<const uint8_t*>(m.data()),
                                      uint32_t(m.size() * sizeof(int16_t)));
    }
  };
  topUp();
  uint64_t frames = 0;
  for (auto _ : state) {
    for (auto& d : devices) d->Pull(framesPerPull);
    topUp();
    frames += framesPerPull;
  }
  // Seconds of audio per second of wall time, all three outputs included.
  state.counters["x realtime"] =
      benchmark::Counter(double(frames) / kDeviceRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SevenPlayersThreeOutputs)->Arg(256)->Arg(480)->Arg(1024)->UseRealTime();

}  // namespace
}  // namespace orvex::mixer
