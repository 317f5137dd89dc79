// Gains applied while writing: they ramp per sample, and integer samples
// saturate instead of wrapping around.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "output/pulse/StreamGain.h"

namespace orvex {
namespace {

WaveFormat Pcm(uint16_t channels, uint16_t bits) {
  WaveFormat f;
  f.formatTag = kFormatPcm;
  f.channels = channels;
  f.samplesPerSec = 48000;
  f.bitsPerSample = bits;
  f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  return f;
}

TEST(StreamGain, RampsFromTheGainInUseWithoutAJump) {
  StreamGain ramp;
  ramp.rampFrames = 100;
  ramp.targetLeft = 1.0f;
  ramp.targetRight = 0.5f;
  std::vector<int16_t> s(2 * 300, 10000);
  ramp.Apply(reinterpret_cast<uint8_t*>(s.data()), 300, Pcm(2, 16));
  EXPECT_LT(s[0], 200);  // starts near silence
  for (size_t f = 1; f < 300; ++f) EXPECT_LE(std::abs(s[2 * f] - s[2 * (f - 1)]), 101);
  EXPECT_EQ(s[2 * 299], 10000);
  EXPECT_EQ(s[2 * 299 + 1], 5000);
  // A new target while ramping glides on from where the ramp is.
  ramp.targetLeft = 0.0f;
  std::vector<int16_t> t(2 * 50, 10000);
  ramp.Apply(reinterpret_cast<uint8_t*>(t.data()), 25, Pcm(2, 16));
  ramp.targetLeft = 1.0f;
  ramp.Apply(reinterpret_cast<uint8_t*>(t.data()) + 4 * 25, 25, Pcm(2, 16));
  for (size_t f = 1; f < 50; ++f) EXPECT_LE(std::abs(t[2 * f] - t[2 * (f - 1)]), 101) << f;
}

TEST(StreamGain, LoudSamplesClipAtFullScaleInEveryWidth) {
  for (uint16_t bits : {8, 16, 24, 32}) {
    StreamGain ramp;
    ramp.rampFrames = 1;
    ramp.left.Set(4.0f);
    ramp.right.Set(4.0f);
    ramp.targetLeft = ramp.targetRight = 4.0f;
    WaveFormat f = Pcm(1, bits);
    std::vector<uint8_t> data(2 * bits / 8, 0);
    // A loud positive sample then a loud negative one.
    gain_detail::Encode(data.data(), bits, false, 0.6);
    gain_detail::Encode(data.data() + bits / 8, bits, false, -0.6);
    ramp.Apply(data.data(), 2, f);
    EXPECT_GT(gain_detail::Decode(data.data(), bits, false), 0.99) << bits;
    EXPECT_LE(gain_detail::Decode(data.data() + bits / 8, bits, false), -0.99) << bits;
  }
}

}  // namespace
}  // namespace orvex
