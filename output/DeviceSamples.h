// The edge between the float mix and a device: writes mixed samples in the
// device's sample type. Integer types saturate: a mix beyond full scale
// clips instead of wrapping round into full-scale noise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvex {

// The sample types a device may report for its output channels (the values
// of the block-driver convention).
enum SampleType : int {
  kInt16MSB = 0,
  kInt24MSB = 1,
  kInt32MSB = 2,
  kFloat32MSB = 3,
  kFloat64MSB = 4,
  kInt32MSB16 = 8,
  kInt32MSB24 = 11,
  kInt16LSB = 16,
  kInt24LSB = 17,
  kInt32LSB = 18,
  kFloat32LSB = 19,
  kFloat64LSB = 20,
  kInt32LSB16 = 24,
  kInt32LSB24 = 27,
};

// Bytes per sample of a type, 0 for types that are left untouched.
uint32_t SampleBytes(int sampleType);
// True for the types the mix is written in; the other known types get silence.
bool MixesInto(int sampleType);
// Writes `frames` samples, every mixStride-th float of `mix`, as
// `sampleType` to every outStride-th sample place of `out`: one side of an
// interleaved mix into a planar buffer (JACK) or into an interleaved one (ALSA).
void WriteSamples(int sampleType, const float* mix, size_t mixStride, void* out, size_t outStride,
                  uint32_t frames);

}  // namespace orvex
