// Shared by the voice engine's tests: PCM formats and samples, and an
// engine on a virtual device that keeps everything it renders.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <deque>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "output/mixer/VirtualDevice.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex::mixer::test {

using namespace std::chrono_literals;

inline WaveFormat Pcm(uint16_t bits, uint16_t channels, uint32_t rate = 48000,
                      uint16_t tag = kFormatPcm) {
  const uint16_t align = uint16_t(channels * bits / 8);
  const bool ext = tag == kFormatExtensible;
  const uint16_t extra = ext ? 22 : 0, valid = ext ? bits : 0;
  return {tag, channels, rate, rate * align, align, bits, extra, valid, 0, ext};
}
inline WaveFormat Extensible(uint16_t bits, uint16_t channels) {
  return Pcm(bits, channels, 48000, kFormatExtensible);
}

// Little-endian PCM; 8-bit samples are given already unsigned.
inline std::vector<uint8_t> Encode(const std::vector<int32_t>& samples, uint16_t bits) {
  std::vector<uint8_t> out;
  for (int32_t s : samples)
    for (int b = 0; b < bits / 8; ++b) out.push_back(uint8_t(uint32_t(s) >> (8 * b)));
  return out;
}

inline float Expected(int32_t s, uint16_t bits) {
  if (bits == 8) return float((s - 128) / 128.0);
  return float(double(s) / double(int64_t(1) << (bits - 1)));
}

inline std::vector<int32_t> Ramp(int32_t from, size_t n) {
  std::vector<int32_t> s(n);
  for (size_t i = 0; i < n; ++i) s[i] = from + int32_t(i);
  return s;
}

inline bool Silent(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX) {
  return std::all_of(x.begin() + from, x.begin() + std::min(to, x.size()),
                     [](float s) { return s == 0; });
}

template <class Pred>
bool WaitUntil(Pred pred) {
  const auto end = std::chrono::steady_clock::now() + 5s;
  for (; !pred(); std::this_thread::sleep_for(200us))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

// An engine on a virtual device that keeps everything it renders. Unless
// told otherwise its quantum is one frame, so starts and stops are instant
// and samples can be compared exactly.
struct Rig {
  explicit Rig(uint32_t channels = 2, uint32_t rate = 48000, uint32_t quantum = 1)
      : device("virt", "Virtual", channels, rate), engine(CreateVoiceEngine(quantum)) {
    device.SetCapture(true);
    EXPECT_TRUE(engine->CreateMasteringVoice(device));
  }
  // Channel c of every captured frame from `from` on.
  std::vector<float> Channel(uint32_t c, size_t from = 0) const {
    std::vector<float> out;
    const auto& cap = device.Captured();
    for (size_t i = (from * device.Channels()) + c; i < cap.size(); i += device.Channels())
      out.push_back(cap[i]);
    return out;
  }
  // The voice reads the bytes later: the rig keeps them.
  bool Submit(SourceVoice* v, std::vector<uint8_t> bytes) {
    const auto& kept = keep.emplace_back(std::move(bytes));
    return v->SubmitSourceBuffer(kept.data(), uint32_t(kept.size()));
  }
  SourceVoice* Voice(const WaveFormat& f) {
    SourceVoice* v = engine->CreateSourceVoice(f);
    EXPECT_NE(v, nullptr);
    return v;
  }

  std::deque<std::vector<uint8_t>> keep;  // outlives the engine and the device
  VirtualDevice device;
  std::unique_ptr<VoiceEngine> engine;
};

inline std::vector<int32_t> Sine(double freq, double rate, size_t frames, double ampL, double ampR,
                                 int channels) {
  std::vector<int32_t> s;
  for (size_t i = 0; i < frames; ++i) {
    const double y = std::sin(2 * std::numbers::pi * freq * double(i) / rate);
    s.push_back(int32_t(std::lround(y * ampL * 32767)));
    if (channels == 2) s.push_back(int32_t(std::lround(y * ampR * 32767)));
  }
  return s;
}

// Adds an offset to the left side and remembers what it was given.
class OffsetEffect : public Effect {
 public:
  void Prepare(uint32_t channels, uint32_t rate) override {
    preparedChannels = channels;
    preparedRate = rate;
  }
  void Process(float* frames, uint32_t n, uint32_t channels) override {
    if (seenFirst == 0) seenFirst = frames[0];
    for (uint32_t i = 0; i < n; ++i) frames[i * channels] += 0.25f;
    framesSeen += n;  // plain memory: TSan checks the swap hands it back safely
    calls.fetch_add(1);
  }
  uint32_t preparedChannels = 0, preparedRate = 0;
  float seenFirst = 0;
  uint64_t framesSeen = 0;
  std::atomic<int> calls{0};
};

}  // namespace orvex::mixer::test
