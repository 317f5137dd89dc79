// Writes the host's float mix into a device buffer of the device's sample
// type. Integer types saturate: a mix beyond full scale clips instead of
// wrapping round into full-scale noise.
#pragma once

#include <cstdint>

namespace orvex::asio {

// Bytes per sample of a type, 0 for types that are left untouched.
uint32_t SampleBytes(int sampleType);
// True for the types the host mixes into; the other known types get silence.
bool MixesInto(int sampleType);
// Writes `frames` samples of `mix` as `sampleType` to `out`.
void WriteSamples(int sampleType, const float* mix, void* out, uint32_t frames);

}  // namespace orvex::asio
