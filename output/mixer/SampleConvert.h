// Decodes little-endian integer PCM frames into float: a mono source stays
// one channel, a stereo one two, and anything wider is folded down to a pair
// (see Downmix.h).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "output/Downmix.h"
#include "output/WaveFormat.h"

namespace orvex::mixer {

static_assert(std::endian::native == std::endian::little,
              "PCM buffers are decoded in place as little-endian");

// Scaling by a power of two is exact, so these equal s / 2^(bits-1).
struct U8Sample {
  static constexpr uint32_t kBytes = 1;
  using Raw = uint8_t;
  static float FromRaw(Raw v) { return float(int(v) - 128) * (1.0f / 128.0f); }
  static float Decode(const uint8_t* p) { return FromRaw(p[0]); }
};
struct S16Sample {
  static constexpr uint32_t kBytes = 2;
  using Raw = int16_t;
  static float FromRaw(Raw v) { return float(v) * (1.0f / 32768.0f); }
  static float Decode(const uint8_t* p) {
    Raw v;
    std::memcpy(&v, p, sizeof v);
    return FromRaw(v);
  }
};
struct S24Sample {
  static constexpr uint32_t kBytes = 3;
  static float Decode(const uint8_t* p) {
    const int32_t v =
        int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
    return float(v) * (1.0f / 8388608.0f);
  }
};
struct S32Sample {
  static constexpr uint32_t kBytes = 4;
  using Raw = int32_t;
  static float FromRaw(Raw v) { return float(v) * (1.0f / 2147483648.0f); }
  static float Decode(const uint8_t* p) {
    Raw v;
    std::memcpy(&v, p, sizeof v);
    return FromRaw(v);
  }
};

// Float frames as the player's converted streams hold them.
struct F32Sample {
  static constexpr uint32_t kBytes = 4;
  using Raw = float;
  static float FromRaw(Raw v) { return v; }
  static float Decode(const uint8_t* p) {
    Raw v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
};

// Hot loops run over chunks of this many samples: a fixed trip count on
// non-aliasing pointers lets the compiler vectorise them at -O2.
inline constexpr uint32_t kLanes = 16;

template <class S>
void DecodeLanes(const uint8_t* __restrict src, float* __restrict dst) {
  if constexpr (requires { typename S::Raw; }) {
    typename S::Raw raw[kLanes];
    std::memcpy(raw, src, sizeof raw);
    for (uint32_t k = 0; k < kLanes; ++k) dst[k] = S::FromRaw(raw[k]);
  } else {
    for (uint32_t k = 0; k < kLanes; ++k) dst[k] = S::Decode(src + k * S::kBytes);
  }
}

// Writes `frames` frames of `outChannels` (1 or 2) floats to dst.
using DecodeFn = void (*)(const uint8_t* src, uint32_t srcChannels, uint32_t frames, float* dst,
                          uint32_t outChannels);

template <class S>
void DecodeFrames(const uint8_t* src, uint32_t srcChannels, uint32_t frames, float* dst,
                  uint32_t outChannels) {
  if (srcChannels == outChannels) {
    // Every sample is kept: decode them as one flat run.
    const uint32_t samples = frames * outChannels;
    if constexpr (std::is_same_v<S, F32Sample>) {
      std::memcpy(dst, src, sizeof(float) * samples);
      return;
    }
    uint32_t i = 0;
    for (; i + kLanes <= samples; i += kLanes) DecodeLanes<S>(src + i * S::kBytes, dst + i);
    for (; i < samples; ++i) dst[i] = S::Decode(src + i * S::kBytes);
    return;
  }
  const uint32_t stride = srcChannels * S::kBytes;
  if (outChannels == 1) {
    for (uint32_t i = 0; i < frames; ++i, src += stride) dst[i] = S::Decode(src);
  } else {
    for (uint32_t i = 0; i < frames; ++i, src += stride) {
      dst[2 * i] = S::Decode(src);
      dst[2 * i + 1] = S::Decode(src + S::kBytes);
    }
  }
}

// Folds frames of more than two channels into stereo with matrix m.
using DownmixFn = void (*)(const uint8_t* src, uint32_t srcChannels, uint32_t frames, float* dst,
                           const StereoMatrix& m);

template <class S>
void DownmixFrames(const uint8_t* src, uint32_t srcChannels, uint32_t frames, float* dst,
                   const StereoMatrix& m) {
  const uint32_t stride = srcChannels * S::kBytes;
  for (uint32_t i = 0; i < frames; ++i, src += stride) {
    float l = 0, r = 0;
    for (uint32_t c = 0; c < srcChannels; ++c) {
      const float x = S::Decode(src + c * S::kBytes);
      l += x * m.left[c];
      r += x * m.right[c];
    }
    dst[2 * i] = l;
    dst[2 * i + 1] = r;
  }
}

inline DownmixFn DownmixerFor(uint16_t bitsPerSample) {
  switch (bitsPerSample) {
    case 8:
      return &DownmixFrames<U8Sample>;
    case 16:
      return &DownmixFrames<S16Sample>;
    case 24:
      return &DownmixFrames<S24Sample>;
    case 32:
      return &DownmixFrames<S32Sample>;
    default:
      return nullptr;
  }
}

// nullptr for widths the engine does not play.
inline DecodeFn DecoderFor(uint16_t bitsPerSample) {
  switch (bitsPerSample) {
    case 8:
      return &DecodeFrames<U8Sample>;
    case 16:
      return &DecodeFrames<S16Sample>;
    case 24:
      return &DecodeFrames<S24Sample>;
    case 32:
      return &DecodeFrames<S32Sample>;
    default:
      return nullptr;
  }
}

}  // namespace orvex::mixer

namespace orvex::mixer {

// One or two channels of 32-bit float: what a player hands voices after it
// has converted its file to their device's rate. Not a file format the
// player accepts; only the engine plays it.
inline bool IsConvertedFormat(const WaveFormat& f) {
  return f.formatTag == kFormatFloat && f.bitsPerSample == 32 &&
         (f.channels == 1 || f.channels == 2) && f.samplesPerSec > 0 &&
         f.blockAlign == 4u * f.channels;
}

inline DecodeFn DecoderFor(const WaveFormat& f) {
  return IsConvertedFormat(f) ? &DecodeFrames<F32Sample> : DecoderFor(f.bitsPerSample);
}

}  // namespace orvex::mixer
