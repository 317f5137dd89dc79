#include "output/DeviceSamples.h"

#include <cmath>
#include <cstring>

namespace orvex {
namespace {

// Truncates toward zero and saturates to the signed range of `bits`; a NaN
// (never expected, but never to reach a device as noise) goes to the floor.
int32_t ToInt(float x, int bits) {
  const double scale = std::ldexp(1.0, bits - 1);
  const double v = std::trunc(static_cast<double>(x) * scale);
  if (!(v > -scale)) return static_cast<int32_t>(-scale);
  if (v > scale - 1) return static_cast<int32_t>(scale - 1);
  return static_cast<int32_t>(v);
}

}  // namespace

uint32_t SampleBytes(int type) {
  switch (type) {
    case kInt16LSB:
    case kInt16MSB:
      return 2;
    case kInt24LSB:
    case kInt24MSB:
      return 3;
    case kInt32LSB:
    case kFloat32LSB:
    case kInt32MSB:
    case kFloat32MSB:
      return 4;
    case kFloat64MSB:
    case kFloat64LSB:
      return 8;
    default:
      if ((type >= kInt32MSB16 && type <= kInt32MSB24) ||
          (type >= kInt32LSB16 && type <= kInt32LSB24))
        return 4;
      return 0;
  }
}

bool MixesInto(int type) {
  return type == kInt16LSB || type == kInt24LSB || type == kInt32LSB || type == kFloat32LSB;
}

void WriteSamples(int type, const float* mix, size_t mixStride, void* out, size_t outStride,
                  uint32_t frames) {
  auto* bytes = static_cast<uint8_t*>(out);
  const size_t width = SampleBytes(type);
  const size_t step = width * outStride;
  switch (type) {
    case kFloat32LSB:
      for (uint32_t i = 0; i < frames; ++i) std::memcpy(bytes + i * step, mix + i * mixStride, 4);
      return;
    case kInt16LSB:
      for (uint32_t i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(ToInt(mix[i * mixStride], 16));
        std::memcpy(bytes + i * step, &v, 2);
      }
      return;
    case kInt24LSB:
      for (uint32_t i = 0; i < frames; ++i) {
        const auto v = static_cast<uint32_t>(ToInt(mix[i * mixStride], 24));
        uint8_t* b = bytes + i * step;
        b[0] = static_cast<uint8_t>(v);
        b[1] = static_cast<uint8_t>(v >> 8);
        b[2] = static_cast<uint8_t>(v >> 16);
      }
      return;
    case kInt32LSB:
      for (uint32_t i = 0; i < frames; ++i) {
        const int32_t v = ToInt(mix[i * mixStride], 32);
        std::memcpy(bytes + i * step, &v, 4);
      }
      return;
    default:
      // Types the mix cannot be written in are sent as silence; unknown ones
      // are left as the device gave them.
      for (uint32_t i = 0; width != 0 && i < frames; ++i) std::memset(bytes + i * step, 0, width);
      return;
  }
}

}  // namespace orvex
