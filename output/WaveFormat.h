// The stream format record of a WAV file and of a voice: the 18-byte
// WAVEFORMATEX layout plus the extensible part used for samples wider than
// 16 bits.
#pragma once

#include <cstdint>

namespace orvex {

inline constexpr uint16_t kFormatPcm = 1;
inline constexpr uint16_t kFormatFloat = 3;
inline constexpr uint16_t kFormatExtensible = 0xFFFE;

struct WaveFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
  // Extensible part, meaningful when formatTag is kFormatExtensible.
  uint16_t validBits = 0;
  uint32_t channelMask = 0;
  bool pcmSubFormat = false;

  bool operator==(const WaveFormat&) const = default;
};

}  // namespace orvex
