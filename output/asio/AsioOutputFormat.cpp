#include "output/asio/AsioOutputFormat.h"

#include <cmath>
#include <cstring>

#include "output/asio/BlockDevice.h"

namespace orvex::asio {
namespace {

// Truncates toward zero and saturates to the signed range of `bits`.
int32_t ToInt(float x, int bits) {
  const double scale = std::ldexp(1.0, bits - 1);
  double v = std::trunc(static_cast<double>(x) * scale);
  if (v > scale - 1) v = scale - 1;
  if (v < -scale) v = -scale;
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

void WriteSamples(int type, const float* mix, void* out, uint32_t frames) {
  auto* bytes = static_cast<uint8_t*>(out);
  switch (type) {
    case kFloat32LSB:
      std::memcpy(out, mix, frames * sizeof(float));
      return;
    case kInt16LSB:
      for (uint32_t i = 0; i < frames; ++i) {
        const int16_t v = static_cast<int16_t>(ToInt(mix[i], 16));
        std::memcpy(bytes + 2 * i, &v, 2);
      }
      return;
    case kInt24LSB:
      for (uint32_t i = 0; i < frames; ++i) {
        const uint32_t v = static_cast<uint32_t>(ToInt(mix[i], 24));
        bytes[3 * i] = static_cast<uint8_t>(v);
        bytes[3 * i + 1] = static_cast<uint8_t>(v >> 8);
        bytes[3 * i + 2] = static_cast<uint8_t>(v >> 16);
      }
      return;
    case kInt32LSB:
      for (uint32_t i = 0; i < frames; ++i) {
        const int32_t v = ToInt(mix[i], 32);
        std::memcpy(bytes + 4 * i, &v, 4);
      }
      return;
    default:
      // Types the host cannot write are sent as silence; unknown ones are
      // left as the device gave them.
      if (const uint32_t n = SampleBytes(type)) std::memset(out, 0, size_t{n} * frames);
      return;
  }
}

}  // namespace orvex::asio
