// What a channel player's outputs play through the voice engines, rendered on
// virtual devices with the engines' real 10 ms quantum.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "engine/PlayerRig.h"
#include "engine/WavBytes.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

// A sine on every channel of a 16-bit file; returns the file's largest
// sample-to-sample step.
float WriteSine(const TempDir& dir, const std::string& name, uint16_t channels, uint32_t rate,
                double seconds, double amplitude, double freq = 440) {
  std::string data;
  const auto frames = static_cast<size_t>(seconds * rate);
  double prev = 0, most = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double y = amplitude * std::sin(2 * std::numbers::pi * freq * double(i) / rate);
    const auto s = static_cast<int32_t>(std::lround(y * 32767));
    for (uint16_t c = 0; c < channels; ++c) data += SampleBytes(s, 16);
    if (i > 0) most = std::max(most, std::fabs(s / 32768.0 - prev));
    prev = s / 32768.0;
  }
  dir.Write(name, Wav(channels, rate, 16, data));
  return static_cast<float>(most);
}

float MaxStep(const std::vector<float>& stereo) {
  float most = 0;
  for (size_t i = 2; i < stereo.size(); ++i)
    most = std::max(most, std::fabs(stereo[i] - stereo[i - 2]));
  return most;
}

float Peak(const std::vector<float>& stereo, size_t fromFrame, size_t toFrame) {
  float most = 0;
  for (size_t i = fromFrame * 2; i < toFrame * 2 && i < stereo.size(); ++i)
    most = std::max(most, std::fabs(stereo[i]));
  return most;
}

class TransportAtFullLevel : public ::testing::TestWithParam<uint32_t> {};

// Pause, resume, seek and the console's stop (mute, then unload at once) of
// a full-level sine: every output stays as smooth as the sine itself, at the
// file's own rate and through a converter alike.
TEST_P(TransportAtFullLevel, NoStepAboveTheMaterialsOwn) {
  const uint32_t fileRate = GetParam();
  TempDir dir;
  const float own = WriteSine(dir, "sine.wav", 2, fileRate, 4, 0.99);
  PlayerRig rig(48000, 1, 3, 0);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(dir.File("sine.wav")));
  ASSERT_TRUE(rig.player.Play());
  rig.Run(510);
  rig.player.Pause();
  rig.player.SetPaused(true);
  rig.Run(200);
  rig.player.SetPaused(false);
  rig.player.Resume();
  rig.Run(300);
  rig.player.Seek(rig.player.BytesPerSecond() * 2 + 1234);
  rig.Settle();
  rig.Run(300);
  rig.player.Pause();
  rig.player.SetPaused(true);
  rig.player.Seek(rig.player.BytesPerSecond() / 3);
  rig.Settle();
  rig.player.SetPaused(false);
  rig.player.Resume();
  rig.Run(300);
  rig.player.SetAllOutputLevels(0);
  rig.player.Unload();
  rig.Run(100);
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(n);
    const std::vector<float>& out = rig.Out(n);
    ASSERT_EQ(out.size(), 2u * 48000 * 171 / 100);
    // A resampled sine may peak a little above its samples' own steps.
    EXPECT_LE(MaxStep(out), own * 1.02f);
    EXPECT_GT(Peak(out, 48000 / 10, 48000 / 2), 0.95f);  // it did play at full level
    EXPECT_EQ(Peak(out, 48000 * 1621 / 1000, 48000 * 171 / 100), 0.0f);
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, TransportAtFullLevel, ::testing::Values(48000u, 44100u));

// An output whose device stops pulling loses its place in the player's
// store instead of holding it: the other outputs play the whole file, and the
// stalled one comes back at the live position once its device pulls again.
TEST(PlayerStalledOutput, SilencesOnlyItselfAndRejoinsAtTheLivePosition) {
  constexpr uint32_t kRate = 8000;  // mono 8-bit: a byte a frame
  constexpr uint32_t kSeconds = 60;
  TempDir dir;
  std::mt19937 rng(5);
  std::string data;
  for (uint32_t i = 0; i < kRate * kSeconds; ++i) data += static_cast<char>(1 + rng() % 254);
  dir.Write("long.wav", Wav(1, kRate, 8, data));
  auto sample = [&](size_t frame) { return (uint8_t(data[frame]) - 128) / 128.0f; };

  PlayerRig rig(kRate);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(dir.File("long.wav")));
  const size_t capacity = rig.player.Stream().Capacity();
  ASSERT_TRUE(rig.player.Play());
  // Output 2 stops pulling from 5 s to 40 s.
  for (uint32_t t = 0; t < (kSeconds + 1) * 1000; t += 10) {
    rig.timers.Advance(10);
    rig.Settle();
    for (size_t n = 0; n < 3; ++n)
      if (n < 2 || t < 5000 || t >= 40000) rig.devices[n]->Pull(kRate / 100);
  }
  for (int n = 0; n < 2; ++n) {
    const std::vector<float>& out = rig.Out(n);
    for (size_t f = 0; f < kRate * kSeconds; ++f) ASSERT_EQ(out[2 * f], sample(f)) << n << "/" << f;
  }
  EXPECT_FALSE(rig.endNotices.empty());
  EXPECT_EQ(rig.player.Stream().Capacity(), capacity);

  // Output 2 played its first 5 s, then silence while it was gone; at 45 s
  // (its own frame 10 s) it plays the file where the clock is.
  const std::vector<float>& late = rig.Out(2);
  for (size_t f = 0; f < kRate * 5; ++f) ASSERT_EQ(late[2 * f], sample(f)) << f;
  const size_t at = kRate * 10;
  int offset = -1;
  for (int d = -int(kRate / 5); d <= int(kRate / 5) && offset < 0; ++d) {
    bool same = true;
    for (size_t k = 0; k < 200 && same; ++k)
      same = late[2 * (at + k)] == sample(kRate * 45 + size_t(d + int(k)));
    if (same) offset = d + int(kRate / 5);
  }
  EXPECT_GE(offset, 0) << "output 2 does not play the live position";
}

// An output that comes back from a stall (or a restarted server) rejoins
// where the clock is: the material there fades in, as after any flush,
// rather than jumping in after the silence that carried the fade-out.
TEST(PlayerStalledOutput, TheRejoinFadesIn) {
  constexpr uint32_t kRate = 8000, kQuantum = 80;  // mono 8-bit: a byte a frame
  TempDir dir;
  dir.Write("level.wav", Wav(1, kRate, 8, std::string(kRate * 60, '\xC0')));  // 0.5 throughout
  PlayerRig rig(kRate, 1, 2, kQuantum);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(dir.File("level.wav")));
  ASSERT_TRUE(rig.player.Play());
  // Output 1 stops pulling from 5 s to 40 s, long enough to lose its place;
  // from its own frame 5 s on it plays silence and then the clock's place.
  for (uint32_t t = 0; t < 50000; t += 10) {
    rig.timers.Advance(10);
    rig.Settle();
    for (size_t n = 0; n < 2; ++n)
      if (n == 0 || t < 5000 || t >= 40000) rig.devices[n]->Pull(kRate / 100);
  }
  const std::vector<float>& out = rig.Out(1);
  float step = 0;
  size_t silent = 0, sounding = 0;
  for (size_t f = kRate * 5; f + 1 < out.size() / 2; ++f) {
    step = std::max(step, std::fabs(out[2 * f + 2] - out[2 * f]));
    if (out[2 * f] == 0) ++silent;
    if (out[2 * f] > 0.49f) ++sounding;
  }
  EXPECT_GT(silent, 0u) << "the output never lost its place";
  EXPECT_GT(sounding, kRate) << "the output never came back";
  EXPECT_LT(step, 1.5f * 0.5f / kQuantum);
}

TEST(PlayerDownmix, AFiveOneFileWithSoundOnTheCentreOnlyPlaysOnBothSides) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 4800; ++i) {
    // Front pair, centre, LFE, back pair: only the centre and the LFE sound.
    const int32_t c = (i % 2) ? 16384 : -16384;
    for (int32_t s : {0, 0, c, 12000, 0, 0}) data += SampleBytes(s, 16);
  }
  dir.Write("51.wav", Wav(6, 48000, 16, data));
  PlayerRig rig(48000, 1, 1);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(dir.File("51.wav")));
  ASSERT_TRUE(rig.player.Play());
  rig.Run(100);
  const std::vector<float>& out = rig.Out();
  for (size_t f = 0; f < 4800; ++f) {
    const float expected = ((f % 2) ? 0.5f : -0.5f) * 0.70710678f;
    ASSERT_FLOAT_EQ(out[2 * f], expected) << f;
    ASSERT_FLOAT_EQ(out[2 * f + 1], expected) << f;
  }
}

}  // namespace
}  // namespace orvex
