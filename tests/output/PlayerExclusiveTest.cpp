// A channel player on the exclusive output, through its voice on the
// output's engine, into an ALSA file device that records what the writer
// thread sent. The player's ticks run on virtual time kept in step with the
// clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <thread>
#include <vector>

#include "engine/PlayerRig.h"
#include "engine/WavBytes.h"
#include "output/alsa/WaveExWASAPI.h"
#include "unit/MessageRecorder.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

// What the settings hold on a first run: 16-bit 44100 Hz stereo PCM.
WaveFormat Pcm16Stereo44k() {
  WaveFormat f;
  f.formatTag = kFormatPcm;
  f.channels = 2;
  f.samplesPerSec = 44100;
  f.avgBytesPerSec = 176400;
  f.blockAlign = 4;
  f.bitsPerSample = 16;
  f.channelMask = 3;
  f.pcmSubFormat = true;
  return f;
}

TEST(PlayerOnTheExclusiveOutput, PlaysPausesSeeksAndStopsWithoutAClick) {
  TempDir dir;
  dir.Write("asound.conf", "pcm.orvex_file {\n  type file\n  slave.pcm { type null }\n  file \"" +
                               dir.File("out.raw") + "\"\n  format \"raw\"\n}\n");
  setenv("ALSA_CONFIG_PATH", dir.File("asound.conf").c_str(), 1);
  // A cosine starts at its peak: a start or a seek without a ramp jumps.
  constexpr double kAmplitude = 0.5;
  std::string data;
  for (int i = 0; i < 44100 * 4; ++i) {
    const double y = kAmplitude * std::cos(2 * std::numbers::pi * 440 * i / 44100);
    const auto s = static_cast<int32_t>(std::lround(y * 32767));
    data += SampleBytes(s, 16) + SampleBytes(s, 16);
  }
  dir.Write("tone.wav", Wav(2, 44100, 16, data));

  MessageRecorder messages;
  WasapiEndpoint endpoint{nullptr, "test_sink", "Test", -1, -1};
  WaveFormat format = Pcm16Stereo44k();
  int32_t bufferMs = 30;
  CWaveExWASAPI mixer;
  mixer.SetDevice(&endpoint, 0);
  mixer.SetFormat(&format, &bufferMs);
  ASSERT_TRUE(mixer.OpenDevice("orvex_file"));
  ASSERT_TRUE(mixer.Start());
  auto engine = mixer::CreateVoiceEngine();
  ASSERT_TRUE(engine->CreateMasteringVoice(mixer.EngineDevice()));
  {
    PlayerRig rig(44100, 1, 0);
    rig.player.SetEngines({engine.get(), nullptr, nullptr});
    rig.player.SetAllOutputLevels(65535);
    const auto run = [&](int ms) {
      for (int t = 0; t < ms; t += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rig.timers.Advance(10);
        rig.Settle();
      }
    };
    ASSERT_TRUE(rig.Load(dir.File("tone.wav")));
    ASSERT_TRUE(rig.player.Play());
    run(300);
    rig.player.Pause();
    rig.player.SetPaused(true);
    run(150);
    rig.player.SetPaused(false);
    rig.player.Resume();
    run(250);
    rig.player.Seek(rig.player.BytesPerSecond() * 2 + 1236);
    rig.Settle();
    run(250);
    rig.player.Unload();
    run(100);
  }
  engine->DestroyMasteringVoice();
  mixer.Close();
  unsetenv("ALSA_CONFIG_PATH");
  EXPECT_TRUE(messages.messages.empty());

  const std::string raw = dir.Read("out.raw");
  std::vector<int16_t> out(raw.size() / 2);
  std::memcpy(out.data(), raw.data(), out.size() * 2);
  ASSERT_GT(out.size(), size_t{2 * 44100 * 9 / 10});
  int peak = 0, step = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    peak = std::max(peak, std::abs(int(out[i])));
    if (i >= 2) step = std::max(step, std::abs(out[i] - out[i - 2]));
  }
  EXPECT_NEAR(peak, kAmplitude * 32767, 2);
  // The tone's own step per frame, plus what a 10 ms ramp adds.
  EXPECT_LT(step, kAmplitude * 32767 * (2 * std::numbers::pi * 440 / 44100 + 2.0 / 441) * 1.1);
  // The pause and the stop are heard; the tone sounds again after the seek.
  size_t end = out.size() / 2;
  while (end > 0 && out[2 * (end - 1)] == 0) --end;
  size_t quiet = 0, longest = 0;
  for (size_t f = 0; f < end; ++f) {
    quiet = out[2 * f] == 0 ? quiet + 1 : 0;
    longest = std::max(longest, quiet);
  }
  EXPECT_GT(longest, 44100u / 20);
  ASSERT_GT(end, size_t{44100 / 2});
  int late = 0;
  for (size_t f = end - 44100 / 10; f < end; ++f) late = std::max(late, std::abs(int(out[2 * f])));
  EXPECT_GT(late, kAmplitude * 32767 * 0.9);
}

}  // namespace
}  // namespace orvex
