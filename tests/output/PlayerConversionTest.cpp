// A file at another rate than its devices: the player converts it once per
// device rate and every output at that rate plays the same converted sound.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "engine/PlayerRig.h"
#include "engine/WavBytes.h"
#include "output/mixer/StreamResampler.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

void WriteSine(const TempDir& dir, const std::string& name, uint32_t rate, double seconds,
               double freq) {
  std::string data;
  const auto frames = static_cast<size_t>(seconds * rate);
  for (size_t i = 0; i < frames; ++i) {
    const double y = 0.5 * std::sin(2 * std::numbers::pi * freq * double(i) / rate);
    const auto s = static_cast<int32_t>(std::lround(y * 32767));
    data += SampleBytes(s, 16) + SampleBytes(s, 16);
  }
  dir.Write(name, Wav(2, rate, 16, data));
}

size_t LastSounding(const std::vector<float>& stereo) {
  size_t last = stereo.size() / 2;
  while (last > 0 && std::fabs(stereo[2 * (last - 1)]) < 1e-3f) --last;
  return last;
}

// Rising zero crossings of the left channel in frames [from, to).
int RisingCrossings(const std::vector<float>& stereo, size_t from, size_t to) {
  int n = 0;
  for (size_t f = from + 1; f < to; ++f) n += stereo[2 * (f - 1)] < 0 && stereo[2 * f] >= 0;
  return n;
}

TEST(PlayerConversion, OneConverterPerDeviceRateAndTheFileEndsWhereItShould) {
  TempDir dir;
  WriteSine(dir, "tone.wav", 44100, 1.0, 441);
  // Two outputs at 48 kHz, one at the file's own rate.
  PlayerRig rig({48000, 48000, 44100}, 1);
  rig.player.SetAllOutputLevels(65535);
  const uint64_t built = mixer::StreamResampler::CreatedCount();
  ASSERT_TRUE(rig.Load(dir.File("tone.wav")));
  EXPECT_EQ(mixer::StreamResampler::CreatedCount(), built + 1);
  ASSERT_TRUE(rig.player.Play());
  rig.Run(1500);

  EXPECT_EQ(rig.Out(0), rig.Out(1));
  const std::vector<float>& out = rig.Out(0);
  // At its own speed: 441 cycles in the second, and it ends after 48000
  // frames, not a converter's delay earlier or later.
  EXPECT_NEAR(RisingCrossings(out, 0, 48000), 441, 1);
  EXPECT_NEAR(double(LastSounding(out)), 48000, 30);
  float peak = 0;
  for (size_t i = 2 * 4800; i < 2 * 43200; ++i) peak = std::max(peak, std::fabs(out[i]));
  EXPECT_NEAR(peak, 0.5f, 0.01f);
  // Where no conversion is needed the samples arrive untouched.
  EXPECT_EQ(LastSounding(rig.Out(2)), 44100u);
}

// An output whose device stops pulling loses its place in the converted
// stream, not the others': they play the whole file as if nothing happened.
TEST(PlayerConversion, AStalledOutputNeverHoldsTheOthersOnTheConvertedStream) {
  constexpr uint32_t kFileRate = 8000, kDeviceRate = 16000, kSeconds = 30;
  TempDir dir;
  std::mt19937 rng(7);
  std::string data;
  for (uint32_t i = 0; i < kFileRate * kSeconds; ++i) data += static_cast<char>(1 + rng() % 254);
  dir.Write("long.wav", Wav(1, kFileRate, 8, data));

  auto play = [&](bool stall) {
    auto rig = std::make_unique<PlayerRig>(std::vector<uint32_t>(3, kDeviceRate), 1);
    rig->player.SetAllOutputLevels(65535);
    EXPECT_TRUE(rig->Load(dir.File("long.wav")));
    EXPECT_TRUE(rig->player.Play());
    for (uint32_t t = 0; t < (kSeconds + 1) * 1000; t += 10) {
      rig->timers.Advance(10);
      rig->Settle();
      for (size_t n = 0; n < 3; ++n)
        if (!stall || n < 2 || t < 5000 || t >= 20000) rig->devices[n]->Pull(kDeviceRate / 100);
    }
    return rig;
  };
  const auto reference = play(false);
  const auto stalled = play(true);
  const std::vector<float>& ref = reference->Out(0);
  ASSERT_GT(LastSounding(ref), size_t{kDeviceRate} * (kSeconds - 1));
  EXPECT_EQ(stalled->Out(0), ref);
  EXPECT_EQ(stalled->Out(1), ref);
  EXPECT_FALSE(stalled->endNotices.empty());

  // The stalled one played its first 5 s, then comes back where the clock
  // is: at 25 s (its own 10 s) it plays the reference's 25 s, give or take
  // the tenth of a second its silence lasts.
  const std::vector<float>& late = stalled->Out(2);
  for (size_t f = 0; f < size_t{kDeviceRate} * 5; ++f) ASSERT_EQ(late[2 * f], ref[2 * f]) << f;
  const size_t at = size_t{kDeviceRate} * 10;
  bool found = false;
  for (int d = -int(kDeviceRate / 5); d <= int(kDeviceRate / 5) && !found; ++d) {
    bool same = true;
    for (size_t k = 0; k < 400 && same; ++k)
      same = late[2 * (at + k)] == ref[2 * (size_t{kDeviceRate} * 25 + size_t(d + int(k)))];
    found = same;
  }
  EXPECT_TRUE(found) << "output 2 does not play the live position";
}

}  // namespace
}  // namespace orvex
