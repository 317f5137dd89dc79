// Gains that a writer applies to PCM as it writes, ramped per sample from
// the gain in use to the one asked for (the outputs' one gain ramp), so a
// change or a start never clicks. Integer samples saturate.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "output/GainRamp.h"
#include "output/WaveFormat.h"

namespace orvex {

struct StreamGain {
  std::atomic<float> targetLeft{0};
  std::atomic<float> targetRight{0};
  GainRamp left, right;  // the writer's own
  uint32_t rampFrames = 441;

  StreamGain() { Silence(); }
  // The gain in use drops to silence: what is written next fades in.
  void Silence() {
    left.Set(0);
    right.Set(0);
  }
  // Takes up the gains asked for: the ramps glide to them from here.
  void Retarget() {
    left.Retarget(targetLeft.load(std::memory_order_relaxed), rampFrames, false);
    right.Retarget(targetRight.load(std::memory_order_relaxed), rampFrames, false);
  }
  // Scales frames of `format` in place along the ramps as they stand.
  void Scale(uint8_t* data, size_t frames, const WaveFormat& format);
  void Apply(uint8_t* data, size_t frames, const WaveFormat& format) {
    Retarget();
    Scale(data, frames, format);
  }
};

namespace gain_detail {

inline double Decode(const uint8_t* p, uint16_t bits, bool isFloat) {
  switch (bits) {
    case 8:
      return (double(p[0]) - 128.0) / 128.0;
    case 16:
      return double(int16_t(uint16_t(p[0] | p[1] << 8))) / 32768.0;
    case 24: {
      int32_t v = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
      return double(v) / 8388608.0;
    }
    case 32: {
      uint32_t u =
          uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
      if (isFloat) {
        float f;
        std::memcpy(&f, &u, 4);
        return f;
      }
      return double(int32_t(u)) / 2147483648.0;
    }
  }
  return 0;
}

inline int64_t Saturate(double v, int64_t lo, int64_t hi) {
  if (!(v > double(lo))) return lo;  // NaN goes to the floor
  if (v > double(hi)) return hi;
  return int64_t(v);  // toward zero
}

inline void Encode(uint8_t* p, uint16_t bits, bool isFloat, double v) {
  switch (bits) {
    case 8:
      p[0] = uint8_t(Saturate(v * 128.0, -128, 127) + 128);
      break;
    case 16: {
      const auto s = uint16_t(Saturate(v * 32768.0, -32768, 32767));
      p[0] = uint8_t(s);
      p[1] = uint8_t(s >> 8);
      break;
    }
    case 24: {
      const auto s = uint32_t(Saturate(v * 8388608.0, -8388608, 8388607));
      p[0] = uint8_t(s);
      p[1] = uint8_t(s >> 8);
      p[2] = uint8_t(s >> 16);
      break;
    }
    case 32: {
      uint32_t u;
      if (isFloat) {
        const float f = float(v);
        std::memcpy(&u, &f, 4);
      } else {
        u = uint32_t(Saturate(v * 2147483648.0, INT32_MIN, INT32_MAX));
      }
      for (int i = 0; i < 4; ++i) p[i] = uint8_t(u >> (8 * i));
      break;
    }
  }
}

}  // namespace gain_detail

inline void StreamGain::Scale(uint8_t* data, size_t frames, const WaveFormat& format) {
  const uint16_t bits = format.bitsPerSample;
  const uint16_t channels = std::max<uint16_t>(format.channels, 1);
  const bool isFloat = format.formatTag == kFormatFloat;
  const size_t sampleBytes = bits / 8;
  for (size_t f = 0; f < frames; ++f) {
    const float gl = left.Next(), gr = right.Next();
    for (uint16_t c = 0; c < channels; ++c) {
      uint8_t* p = data + (f * channels + c) * sampleBytes;
      const double v = gain_detail::Decode(p, bits, isFloat) * ((c % 2 == 1) ? gr : gl);
      gain_detail::Encode(p, bits, isFloat, v);
    }
  }
}

}  // namespace orvex
