// The peaks of what an output played, kept by the audio side and read by the
// level meter: each side's largest |sample| since the last read.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "output/PeakSource.h"

namespace orvex {

class PeakMeter final : public PeakSource {
 public:
  // Audio side: takes the peaks of n interleaved stereo frames. Lock-free:
  // each side is raised with a compare-and-swap, so a read between two
  // passes never loses a peak.
  void Measure(const float* stereo, uint32_t n) {
    float left = 0, right = 0;
    for (uint32_t i = 0; i < n; ++i) {
      left = std::max(left, std::fabs(stereo[2 * i]));
      right = std::max(right, std::fabs(stereo[2 * i + 1]));
    }
    Raise(left_, std::min(left, 1.0f));
    Raise(right_, std::min(right, 1.0f));
  }
  void SetLive(bool live) { live_.store(live); }

  bool ReadPeaks(float& left, float& right) override {
    left = left_.exchange(0.0f);
    right = right_.exchange(0.0f);
    return live_.load();
  }

 private:
  static void Raise(std::atomic<float>& peak, float value) {
    float old = peak.load(std::memory_order_relaxed);
    while (value > old && !peak.compare_exchange_weak(old, value, std::memory_order_relaxed)) {
    }
  }

  std::atomic<float> left_{0.0f};
  std::atomic<float> right_{0.0f};
  std::atomic<bool> live_{false};
};

}  // namespace orvex
