// A block device driven by hand: the test calls Pump to run callbacks on its
// own thread and reads what the host wrote.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "output/DeviceSamples.h"
#include "output/StreamStore.h"
#include "output/jack/AsioKernel.h"
#include "output/jack/BlockDevice.h"

namespace orvex::test {

struct FakeDeviceSpec {
  long minimum = 256, maximum = 256, preferred = 256;
  uint32_t rate = 48000;
  int sampleType = jack::kFloat32LSB;
  bool initFails = false;
};

class FakeDevice final : public jack::BlockDevice {
 public:
  explicit FakeDevice(FakeDeviceSpec spec) : spec_(spec) {}
  bool Init() override { return !spec_.initFails; }
  std::string ErrorMessage() const override { return "refused"; }
  bool GetBufferSize(long& mn, long& mx, long& pref) override {
    mn = spec_.minimum;
    mx = spec_.maximum;
    pref = spec_.preferred;
    return true;
  }
  uint32_t SampleRate() const override { return spec_.rate; }
  bool SetSampleRate(double) override { return false; }
  int OutputSampleType() const override { return spec_.sampleType; }
  bool CreateBuffers(long frames, jack::BlockCallback* cb) override {
    frames_ = frames;
    callback_ = cb;
    return true;
  }
  bool Start() override { return true; }
  void Stop() override {}
  void DisposeBuffers() override { callback_ = nullptr; }

  // Runs `blocks` callbacks of `frames` and returns the samples as raw
  // bytes per side (left, right), appended to the totals.
  void Pump(int blocks, uint32_t frames) {
    const uint32_t bytes = std::max<uint32_t>(SampleBytes(spec_.sampleType), 1);
    std::vector<uint8_t> l(frames * bytes, 0xAB), r(frames * bytes, 0xAB);
    for (int b = 0; b < blocks; ++b) {
      if (callback_) callback_->OnBufferSwitch(l.data(), r.data(), frames);
      left.insert(left.end(), l.begin(), l.end());
      right.insert(right.end(), r.begin(), r.end());
    }
  }
  void Lose() {
    if (callback_) callback_->OnDeviceLost();
  }
  long CreatedFrames() const { return frames_; }
  // Float view of the collected output of a float device.
  std::vector<float> Floats(const std::vector<uint8_t>& side) const {
    std::vector<float> out(side.size() / 4);
    std::memcpy(out.data(), side.data(), out.size() * 4);
    return out;
  }

  std::vector<uint8_t> left, right;

 private:
  FakeDeviceSpec spec_;
  long frames_ = 0;
  jack::BlockCallback* callback_ = nullptr;
};

// A host whose only driver "TEST" is a FakeDevice made from spec; the last
// device made stays reachable through device.
struct AsioRig {
  explicit AsioRig(FakeDeviceSpec s = {})
      : spec(s), host([this](const std::string&) {
          auto d = std::make_unique<FakeDevice>(spec);
          device = d.get();
          return d;
        }) {
    host.SetDriverList({"TEST"});
  }
  bool Open(int factor = 4, int rate = 48000) {
    return host.OpenDriver(factor, rate, "TEST") && host.Start();
  }

  FakeDeviceSpec spec;
  FakeDevice* device = nullptr;
  CAsioKernel host;
};

// 16-bit PCM frames whose samples count up from `start` (left) and down from
// -start (right), so order and gaps show in the output.
inline std::vector<uint8_t> CountingPcm16(int frames, int start = 1, int channels = 2) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const int16_t v = static_cast<int16_t>(c == 0 ? (start + i) % 30000 : -((start + i) % 30000));
      bytes.push_back(static_cast<uint8_t>(v));
      bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
  }
  return bytes;
}

inline WaveFormat Pcm16Format(uint32_t rate, uint16_t channels = 2) {
  WaveFormat f;
  f.formatTag = kFormatPcm;
  f.channels = channels;
  f.samplesPerSec = rate;
  f.bitsPerSample = 16;
  f.blockAlign = static_cast<uint16_t>(2 * channels);
  f.avgBytesPerSec = rate * f.blockAlign;
  return f;
}

}  // namespace orvex::test
