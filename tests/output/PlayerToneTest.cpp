// A channel's tone control on its voice-engine outputs, rendered on virtual
// devices.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "engine/PlayerRig.h"
#include "engine/WavBytes.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

void WriteLowSine(const TempDir& dir, uint16_t channels) {
  std::string data;
  for (int i = 0; i < 48000 * 2; ++i) {
    const double y = 0.1 * std::sin(2 * std::numbers::pi * 100 * i / 48000.0);
    for (uint16_t c = 0; c < channels; ++c) data += SampleBytes(std::lround(y * 32767), 16);
  }
  dir.Write("low.wav", Wav(channels, 48000, 16, data));
}

float PeakOfLast(const std::vector<float>& stereo, size_t frames) {
  float most = 0;
  for (size_t i = stereo.size() - 2 * frames; i < stereo.size(); ++i)
    most = std::max(most, std::fabs(stereo[i]));
  return most;
}

TEST(PlayerTone, ABandSetBeforeTheVoiceAndChangedWhilePlayingActsAtOnce) {
  TempDir dir;
  WriteLowSine(dir, 2);
  PlayerRig rig(48000, 2, 1);
  rig.player.SetAllOutputLevels(65535);
  rig.player.SetToneGain(0, 5);  // Low doubled, before any voice exists
  ASSERT_TRUE(rig.Load(dir.File("low.wav")));
  ASSERT_TRUE(rig.player.Play());
  rig.Run(300);
  EXPECT_NEAR(PeakOfLast(rig.Out(), 4800), 0.2, 0.004);
  rig.player.SetToneGain(0, -5);  // halved while it plays
  rig.Run(300);
  EXPECT_NEAR(PeakOfLast(rig.Out(), 4800), 0.05, 0.002);
}

// A flat tone control costs the voice nothing; turned while the channel
// plays, it takes over without a step, and back at flat it lets the samples
// through untouched again.
TEST(PlayerTone, AFlatToneTurnedUpAndBackWhilePlayingNeverSteps) {
  TempDir dir;
  WriteLowSine(dir, 2);
  PlayerRig rig(48000, 2, 1);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(dir.File("low.wav")));
  ASSERT_TRUE(rig.player.Play());
  rig.Run(200);
  rig.player.SetToneGain(0, 15);
  rig.Run(400);
  EXPECT_NEAR(PeakOfLast(rig.Out(), 4800), 0.1 * 7.94, 0.02);
  rig.player.SetToneGain(0, 0);
  rig.Run(1000);
  const std::vector<float>& out = rig.Out();
  float step = 0;
  for (size_t i = 2; i < out.size(); ++i) step = std::max(step, std::fabs(out[i] - out[i - 2]));
  // The boosted 100 Hz sine moves at most 2 pi 100 / 48000 of its peak.
  EXPECT_LT(step, 0.1f * 7.94f * 2 * float(std::numbers::pi) * 100 / 48000 * 1.1f);
  // The last 100 ms are the file's own samples again.
  for (size_t f = out.size() / 2 - 4800; f < out.size() / 2; ++f) {
    const auto s =
        std::lround(0.1 * std::sin(2 * std::numbers::pi * 100 * double(f) / 48000.0) * 32767);
    ASSERT_EQ(out[2 * f], float(s) / 32768) << f;
  }
}

TEST(PlayerTone, TheContinuousPlayPlayerHasNoToneControl) {
  TempDir dir;
  WriteLowSine(dir, 1);
  PlayerRig rig(48000, 0, 1);
  rig.player.SetAllOutputLevels(65535);
  rig.player.SetToneGain(0, 15);
  ASSERT_TRUE(rig.Load(dir.File("low.wav")));
  ASSERT_TRUE(rig.player.Play());
  rig.Run(300);
  EXPECT_NEAR(PeakOfLast(rig.Out(), 4800), 0.1, 0.002);
}

}  // namespace
}  // namespace orvex
