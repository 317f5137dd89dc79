#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/WavBytes.h"
#include "output/VoiceEngineRig.h"
#include "output/mixer/StreamResampler.h"
#include "output/mixer/VirtualDevice.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex::mixer {
namespace {

using namespace test;

// ---------------------------------------------------------------------------
// Formats and conversion

// Every accepted layout is played in the conversion tests below.
TEST(VoiceEngineFormat, RefusesAllButIntegerPcmAndThePlayersConvertedFloat) {
  Rig rig;
  WaveFormat padded = Extensible(24, 2), notPcm = Extensible(24, 2), badAlign = Pcm(16, 2);
  padded.validBits = 20;
  notPcm.pcmSubFormat = false;
  badAlign.blockAlign = 2;
  // Float is what a player hands over after converting a file to the
  // device's rate: one or two channels only, never a file's own layout.
  for (const WaveFormat& f : {Pcm(32, 6, 48000, kFormatFloat), Pcm(64, 2, 48000, kFormatFloat),
                              Pcm(12, 2), Pcm(16, 0), Pcm(16, 2, 0), padded, notPcm, badAlign})
    EXPECT_EQ(rig.engine->CreateSourceVoice(f), nullptr) << f.formatTag << "/" << f.bitsPerSample;

  EXPECT_NE(rig.engine->CreateSourceVoice(Pcm(32, 2, 44100, kFormatFloat)), nullptr);
  EXPECT_EQ(CreateVoiceEngine()->CreateSourceVoice(Pcm(16, 2)), nullptr);  // no device
  EXPECT_FALSE(rig.engine->CreateMasteringVoice(rig.device));
  EXPECT_EQ(rig.engine->DeviceChannels(), 2u);
  EXPECT_EQ(rig.engine->DeviceRate(), 48000u);
  EXPECT_EQ(rig.engine->CreateSourceVoice(Pcm(16, 2))->MaxFrequencyRatio(), 2.0f);
  EXPECT_EQ(rig.engine->CreateSourceVoice(Pcm(16, 2), 4.0f)->MaxFrequencyRatio(), 4.0f);
}

TEST(VoiceEngineConversion, IntegerSamplesArriveBitExact) {
  const std::vector<std::pair<WaveFormat, std::vector<int32_t>>> cases = {
      {Pcm(8, 1), {0, 1, 127, 128, 129, 200, 255}},
      {Pcm(16, 1), {-32768, -12345, -1, 0, 1, 1000, 32767}},
      {Extensible(16, 1), {-32768, -3, 0, 32767}},
      {Pcm(24, 1), {-8388608, -4660, -1, 0, 1, 1193046, 8388607}},
      {Extensible(24, 1), {-8388608, -7, 0, 5592405, 8388607}},
      {Pcm(32, 1), {INT32_MIN, -305419896, -1, 0, 1, 16777217, INT32_MAX}},
      {Extensible(32, 1), {INT32_MIN, 123456789, INT32_MAX}},
      {Pcm(8, 2), Ramp(90, 40)},  // stereo: even samples left, odd right
      {Pcm(16, 2), Ramp(-20, 40)},
      {Extensible(24, 2), Ramp(-8388608, 40)},
      {Pcm(32, 2), Ramp(INT32_MAX - 39, 40)},
  };
  for (const auto& [format, samples] : cases) {
    SCOPED_TRACE(testing::Message()
                 << format.formatTag << "/" << format.bitsPerSample << "/" << format.channels);
    Rig rig;
    SourceVoice* v = rig.Voice(format);
    ASSERT_TRUE(rig.Submit(v, Encode(samples, format.bitsPerSample)));
    v->Start();
    const uint32_t frames = uint32_t(samples.size() / format.channels);
    rig.device.Pull(frames);
    const auto left = rig.Channel(0), right = rig.Channel(1);
    for (size_t i = 0; i < frames; ++i) {
      const size_t at = i * format.channels;
      EXPECT_EQ(left[i], Expected(samples[at], format.bitsPerSample)) << i;
      EXPECT_EQ(right[i], Expected(samples[at + format.channels - 1], format.bitsPerSample)) << i;
    }
  }
}

TEST(VoiceEngineConversion, WideSourcesFoldIntoThePairAndDevicesGetTheMixByWidth) {
  // 5.1 (front pair, centre, LFE, back pair) on a four-channel device: the
  // centre and the back pair come in at -3 dB, the LFE not at all, and the
  // device's third and fourth channels stay silent.
  constexpr float k = 0.70710678f;
  Rig rig(4);
  SourceVoice* v = rig.Voice(Pcm(16, 6));
  ASSERT_TRUE(rig.Submit(v, Encode({0, 0, 16384, 16384, 0, 0,  // centre and LFE only
                                    8192, -8192, 0, 0, 4096, -4096},
                                   16)));
  v->Start();
  rig.device.Pull(2);
  const auto& out = rig.device.Captured();
  ASSERT_EQ(out.size(), 8u);
  EXPECT_FLOAT_EQ(out[0], 0.5f * k);
  EXPECT_FLOAT_EQ(out[1], 0.5f * k);
  EXPECT_FLOAT_EQ(out[4], 0.25f + 0.125f * k);
  EXPECT_FLOAT_EQ(out[5], -0.25f - 0.125f * k);
  EXPECT_EQ(out[2] + out[3] + out[6] + out[7], 0.0f);

  // Three, four and eight channels follow the usual layouts.
  struct Case {
    uint16_t channels;
    std::vector<float> left, right;  // share of each channel
  };
  for (const Case& c : {Case{3, {1, 0, k}, {0, 1, k}}, Case{4, {1, 0, k, 0}, {0, 1, 0, k}},
                        Case{8, {1, 0, k, 0, k, 0, k, 0}, {0, 1, k, 0, 0, k, 0, k}}}) {
    SCOPED_TRACE(c.channels);
    Rig wide;
    SourceVoice* w = wide.Voice(Pcm(16, c.channels));
    std::vector<int32_t> frames;  // frame i sounds channel i alone
    for (uint16_t i = 0; i < c.channels; ++i)
      for (uint16_t ch = 0; ch < c.channels; ++ch) frames.push_back(ch == i ? 16384 : 0);
    ASSERT_TRUE(wide.Submit(w, Encode(frames, 16)));
    w->Start();
    wide.device.Pull(c.channels);
    for (uint16_t i = 0; i < c.channels; ++i) {
      EXPECT_FLOAT_EQ(wide.Channel(0)[i], 0.5f * c.left[i]) << i;
      EXPECT_FLOAT_EQ(wide.Channel(1)[i], 0.5f * c.right[i]) << i;
    }
  }

  // A mono device gets the mean of the pair.
  Rig mono(1);
  v = mono.Voice(Pcm(16, 2));
  ASSERT_TRUE(mono.Submit(v, Encode({100, 300, -1000, 0}, 16)));
  v->Start();
  mono.device.Pull(2);
  EXPECT_EQ(mono.device.Captured(), (std::vector<float>{200 / 32768.f, -500 / 32768.f}));
}

// ---------------------------------------------------------------------------
// Buffer queue

TEST(VoiceEngineQueue, ReportsBuffersAndFramesAndIgnoresPartialFrames) {
  const auto a = Encode(Ramp(1, 200), 16);  // 100 frames
  Rig rig;
  SourceVoice* v = rig.Voice(Pcm(16, 2));
  auto b = Encode(Ramp(1001, 20), 16);  // 10 frames and 3 stray bytes
  b.insert(b.end(), {9, 9, 9});
  ASSERT_TRUE(rig.Submit(v, a));
  ASSERT_TRUE(rig.Submit(v, b));
  ASSERT_TRUE(rig.Submit(v, Encode(Ramp(2001, 20), 16)));
  EXPECT_EQ(v->GetState().buffersQueued, 3u);

  rig.device.Pull(20);  // not started: nothing consumed
  EXPECT_EQ(v->GetState().samplesPlayed, 0u);
  v->Start();
  for (const auto [pull, queued, played] :
       {std::array{60u, 3u, 60u}, std::array{45u, 2u, 105u}, std::array{100u, 0u, 120u}}) {
    rig.device.Pull(pull);
    EXPECT_EQ(v->GetState().buffersQueued, queued);
    EXPECT_EQ(v->GetState().samplesPlayed, played);
  }
  const auto left = rig.Channel(0, 20);
  EXPECT_EQ(left[99], Expected(199, 16));
  EXPECT_EQ(left[100], Expected(1001, 16));
  EXPECT_EQ(left[109], Expected(1019, 16));
  EXPECT_EQ(left[110], Expected(2001, 16));  // no frame made of the stray bytes
  EXPECT_EQ(left[120], 0.0f);

  uint32_t accepted = 0;
  while (accepted < 1000 && v->SubmitSourceBuffer(a.data(), 4)) ++accepted;
  EXPECT_GE(accepted, 16u);
  EXPECT_LT(accepted, 1000u);  // full: refused
  rig.device.Pull(1);
  EXPECT_TRUE(v->SubmitSourceBuffer(a.data(), 4));
}

TEST(VoiceEngineQueue, StopStartAndADryQueueResumeWithoutGapOrRepeat) {
  const auto source = Ramp(1, 700);
  const auto bytes = Encode(source, 16);
  Rig rig;
  SourceVoice* v = rig.Voice(Pcm(16, 1));
  ASSERT_TRUE(v->SubmitSourceBuffer(bytes.data(), 500));        // 250 frames
  ASSERT_TRUE(v->SubmitSourceBuffer(bytes.data() + 500, 700));  // 350 more
  v->Start();
  rig.device.Pull(137);
  v->Stop();
  rig.device.Pull(90);
  v->Start();
  rig.device.Pull(200);
  v->Stop();
  v->Start();
  rig.device.Pull(400);  // runs dry at frame 690
  EXPECT_EQ(v->GetState().samplesPlayed, 600u);
  ASSERT_TRUE(v->SubmitSourceBuffer(bytes.data() + 1200, 200));
  rig.device.Pull(100);

  const auto left = rig.Channel(0);
  EXPECT_TRUE(Silent(left, 137, 227));      // stopped
  EXPECT_TRUE(Silent(left, 690, 827));      // dry
  EXPECT_EQ(left[827], Expected(601, 16));  // the next buffer plays at once
  std::vector<float> heard;
  std::copy_if(left.begin(), left.end(), std::back_inserter(heard), [](float s) { return s != 0; });
  ASSERT_EQ(heard.size(), source.size());
  for (size_t i = 0; i < source.size(); ++i) ASSERT_EQ(heard[i], Expected(source[i], 16)) << i;
  EXPECT_EQ(v->GetState().samplesPlayed, 700u);
}

TEST(VoiceEngineQueue, FlushDropsQueuedBuffersStoppedOrRunning) {
  const auto old = Encode(Ramp(1, 100), 16);
  Rig rig;
  SourceVoice* v = rig.Voice(Pcm(16, 1));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(v->SubmitSourceBuffer(old.data(), uint32_t(old.size())));
  v->Start();
  rig.device.Pull(30);
  v->Stop();
  v->FlushSourceBuffers();
  EXPECT_EQ(v->GetState().buffersQueued, 0u);
  ASSERT_TRUE(rig.Submit(v, Encode(Ramp(-1000, 50), 16)));
  v->Start();
  rig.device.Pull(60);
  const auto left = rig.Channel(0, 30);
  EXPECT_EQ(left[0], Expected(-1000, 16));  // the interrupted buffer does not finish
  EXPECT_EQ(left[49], Expected(-951, 16));
  EXPECT_EQ(left[50], 0.0f);

  // While running the playing buffer goes too.
  ASSERT_TRUE(v->SubmitSourceBuffer(old.data(), uint32_t(old.size())));
  rig.device.Pull(10);
  v->FlushSourceBuffers();
  EXPECT_EQ(v->GetState().buffersQueued, 0u);
  rig.device.ClearCapture();
  rig.device.Pull(100);
  EXPECT_TRUE(Silent(rig.device.Captured()));
}

// ---------------------------------------------------------------------------
// Transport fades: a start fades in and a stop, flush or destroy fades out over
// one quantum, from the voice's own copy of the sound.

float MaxStep(const std::vector<float>& x) {
  float most = 0;
  for (size_t i = 1; i < x.size(); ++i) most = std::max(most, std::fabs(x[i] - x[i - 1]));
  return most;
}

TEST(VoiceEngineTransport, StartStopAndFlushFadeOverAQuantumWithoutDelay) {
  Rig rig(2, 48000, 0);  // 480 frames
  SourceVoice* v = rig.Voice(Pcm(16, 1));
  std::vector<uint8_t> dc = Encode(std::vector<int32_t>(48000, 16384), 16);  // 0.5
  ASSERT_TRUE(v->SubmitSourceBuffer(dc.data(), uint32_t(dc.size())));
  v->Start();
  rig.device.Pull(1000);
  v->Stop();
  rig.device.Pull(1000);
  v->Start();
  rig.device.Pull(1000);
  // A seek: flushed while running, the old buffer is the caller's again at
  // once; what was sounding fades out while the new buffer fades in.
  v->FlushSourceBuffers();
  std::fill(dc.begin(), dc.end(), uint8_t(0x7F));
  ASSERT_TRUE(rig.Submit(v, Encode(std::vector<int32_t>(4800, -16384), 16)));
  rig.device.Pull(1000);

  const auto left = rig.Channel(0);
  EXPECT_EQ(left[0], 0.5f / 480);  // GO is heard on the first frame
  EXPECT_EQ(left[479], 0.5f);
  EXPECT_EQ(left[1000], 0.5f * 479 / 480);  // the stop fades from its first frame
  EXPECT_NEAR(left[1478], 0.5f / 480, 1e-6f);
  EXPECT_TRUE(Silent(left, 1479, 2000));
  EXPECT_EQ(left[2000], 0.5f / 480);
  // The old sound (not what overwrote it) under the new one from its first
  // frame: the new place is heard at once, not a quantum later.
  EXPECT_NEAR(left[3000], 0.5f * 478 / 480, 1e-6f);
  EXPECT_NEAR(left[3239], 0.0f, 1e-6f);
  EXPECT_NEAR(left[3478], 0.5f / 480 - 0.5f * 479 / 480, 1e-6f);
  EXPECT_EQ(left[3479], -0.5f);
  // Fades move by 1/480 of the level a frame (twice that while the old
  // sound fades out under the new one).
  EXPECT_LE(MaxStep(left), 2 * 0.5f / 480 * 1.001f);
  EXPECT_EQ(left, rig.Channel(1));
}

// Seeks in quick succession (a slider dragged and paged): each old sound
// fades out under the next, none is cut off, and the last place plays on.
TEST(VoiceEngineTransport, SeeksWithinAFadeAddTheirFadesWithoutAStep) {
  Rig rig(2, 48000, 0);  // 480 frames
  SourceVoice* v = rig.Voice(Pcm(16, 1));
  ASSERT_TRUE(rig.Submit(v, Encode(std::vector<int32_t>(4800, 16384), 16)));  // 0.5
  v->Start();
  rig.device.Pull(1000);
  for (int32_t level : {-16384, 8192}) {
    v->FlushSourceBuffers();
    ASSERT_TRUE(rig.Submit(v, Encode(std::vector<int32_t>(4800, level), 16)));
    rig.device.Pull(100);
  }
  v->Stop();  // and a pause while the fades still run
  v->FlushSourceBuffers();
  rig.device.Pull(1000);
  const auto left = rig.Channel(0);
  EXPECT_LE(MaxStep(left), 3 * 0.5f / 480 * 1.001f);
  EXPECT_NEAR(left[1100], 0.5f * 379 / 480 - 0.5f * 99 / 480 + 0.25f / 480, 1e-5f);
  EXPECT_TRUE(Silent(left, 1479, 2200));  // the first sound was the longest fade
}

TEST(VoiceEngineTransport, PauseAndResumeGoOnFromWhereTheFadeEnded) {
  Rig rig(2, 48000, 4);
  SourceVoice* v = rig.Voice(Pcm(16, 1));
  const auto source = Ramp(1, 100);
  ASSERT_TRUE(rig.Submit(v, Encode(source, 16)));
  v->Start();
  rig.device.Pull(10);
  v->Stop();
  rig.device.Pull(10);
  v->Start();
  rig.device.Pull(10);
  const auto left = rig.Channel(0);
  const std::vector<float> gains = {0.25f, 0.5f, 0.75f, 1, 1, 1, 1, 1, 1, 1,  // fade in
                                    0.75f, 0.5f, 0.25f, 0, 0, 0, 0, 0, 0, 0,  // fade out
                                    0.25f, 0.5f, 0.75f, 1, 1, 1, 1, 1, 1, 1};
  size_t next = 0;  // source frame heard next
  for (size_t i = 0; i < gains.size(); ++i) {
    if (gains[i] == 0) {
      EXPECT_EQ(left[i], 0.0f) << i;
      continue;
    }
    EXPECT_EQ(left[i], Expected(source[next++], 16) * gains[i]) << i;
  }
  EXPECT_EQ(next, 23u);  // nothing skipped, nothing repeated
}

TEST(VoiceEngineTransport, MuteAndDestroyBackToBackFadeOutAndFreeTheSlot) {
  Rig rig(2, 48000, 0);
  auto play = [&](std::vector<uint8_t>& bytes) {
    SourceVoice* v = rig.Voice(Pcm(16, 2));
    if (!v) return v;
    EXPECT_TRUE(v->SubmitSourceBuffer(bytes.data(), uint32_t(bytes.size())));
    v->Start();
    return v;
  };
  auto bytes =
      std::make_unique<std::vector<uint8_t>>(Encode(std::vector<int32_t>(2 * 9600, 16384), 16));
  SourceVoice* v = play(*bytes);
  rig.device.Pull(1000);
  v->SetVolume(0.0f);
  rig.engine->DestroyVoice(v);
  bytes.reset();  // the caller's buffer goes at once (the sanitizers watch)
  rig.device.Pull(1000);
  const auto left = rig.Channel(0);
  EXPECT_EQ(left[999], 0.5f);
  EXPECT_GT(left[1100], 0.1f);  // still fading
  EXPECT_TRUE(Silent(left, 1479));
  EXPECT_LE(MaxStep(left), 2 * 0.5f / 480);

  // Retired voices give their slots back once their fade has played.
  std::vector<uint8_t> more = Encode(std::vector<int32_t>(2 * 960, 1000), 16);
  for (int i = 0; i < 100; ++i) {
    SourceVoice* w = play(more);
    ASSERT_NE(w, nullptr) << i;
    rig.device.Pull(100);
    rig.engine->DestroyVoice(w);
    rig.device.Pull(500);
  }
}

// ---------------------------------------------------------------------------
// Volume

TEST(VoiceEngineVolume, ChangesRampLinearlyOverOneQuantumButApplyAtOnceBeforeTheFirstSound) {
  Rig rig(2, 48000, 0);  // a quantum is 10 ms: 480 frames
  SourceVoice* v = rig.Voice(Pcm(16, 2));
  ASSERT_TRUE(rig.Submit(v, Encode(std::vector<int32_t>(4000, 16384), 16)));  // 0.5
  const float quiet[] = {0.5f, 1.0f}, swap[] = {1.0f, 0.5f};
  EXPECT_FALSE(v->SetChannelVolumes(1, quiet));
  ASSERT_TRUE(v->SetChannelVolumes(2, quiet));
  v->SetVolume(0.5f);
  v->Start();
  rig.device.Pull(600);                              // the start fades in over the first quantum
  ASSERT_TRUE(v->SetChannelVolumes(2, swap));        // each side ramps its own way
  for (int i = 0; i < 10; ++i) rig.device.Pull(70);  // over several pulls

  const auto left = rig.Channel(0), right = rig.Channel(1);
  EXPECT_EQ(left[0], 0.125f / 480);
  EXPECT_EQ(right[0], 0.25f / 480);
  for (size_t i = 479; i < 600; ++i) {
    ASSERT_EQ(left[i], 0.125f) << i;
    ASSERT_EQ(right[i], 0.25f) << i;
  }
  for (uint32_t i = 0; i < 480; ++i) {
    const float t = float(i + 1) / 480;
    ASSERT_NEAR(left[600 + i], 0.125f + 0.125f * t, 1e-6f) << i;
    ASSERT_NEAR(right[600 + i], 0.25f - 0.125f * t, 1e-6f) << i;
  }
  for (size_t i = 1079; i < left.size(); ++i) {
    ASSERT_EQ(left[i], 0.25f) << i;
    ASSERT_EQ(right[i], 0.125f) << i;
  }
}

// ---------------------------------------------------------------------------
// Resampling

struct SineStats {
  size_t first = 0, last = 0;
  double frequency = 0, peak = 0;
};

// Where a sine starts and ends and its frequency, from rising zero crossings.
SineStats Measure(const std::vector<float>& x, double rate, float threshold) {
  SineStats s;
  for (size_t i = 0; i < x.size(); ++i)
    if (std::fabs(x[i]) > threshold) {
      if (s.first == 0) s.first = i;
      s.last = i;
    }
  const size_t from = s.first + size_t(rate / 20), to = s.last - size_t(rate / 20);
  double firstCross = -1, lastCross = -1;
  int cycles = -1;
  for (size_t i = from; i < to; ++i) {
    s.peak = std::max(s.peak, double(std::fabs(x[i])));
    if (x[i] < 0 && x[i + 1] >= 0) {
      const double t = double(i) + x[i] / (x[i] - x[i + 1]);
      if (firstCross < 0) firstCross = t;
      lastCross = t;
      ++cycles;
    }
  }
  s.frequency = cycles * rate / (lastCross - firstCross);
  return s;
}

TEST(VoiceEngineResample, SineKeepsLengthFrequencyAndAmplitude) {
  {  // stereo 44.1 kHz up to 48 kHz, fed in ten buffers
    const auto bytes = Encode(Sine(1000, 44100, 44100, 0.5, 0.25, 2), 16);
    Rig rig;
    SourceVoice* v = rig.Voice(Pcm(16, 2, 44100));
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(v->SubmitSourceBuffer(&bytes[i * 17640], 17640));
    v->Start();
    for (int i = 0; i < 110; ++i) {
      rig.device.Pull(480);
      ASSERT_EQ(rig.device.Captured().size(), size_t(i + 1) * 480 * 2);  // steady output
    }
    EXPECT_EQ(v->GetState().buffersQueued, 0u);
    EXPECT_EQ(v->GetState().samplesPlayed, 44100u);
    const SineStats left = Measure(rig.Channel(0), 48000, 0.05f);
    EXPECT_LT(left.first, 2400u);  // the converter's delay is short
    EXPECT_NEAR(double(left.last - left.first), 48000.0, 8.0);
    EXPECT_NEAR(left.frequency, 1000.0, 0.05);
    EXPECT_NEAR(left.peak, 0.5, 0.005);
    const SineStats right = Measure(rig.Channel(1), 48000, 0.025f);
    EXPECT_NEAR(right.peak, 0.25, 0.003);
    EXPECT_NEAR(double(right.first), double(left.first), 2.0);
  }
  {  // mono 48 kHz down to 44.1 kHz, on both sides
    Rig rig(2, 44100);
    SourceVoice* v = rig.Voice(Pcm(16, 1, 48000));
    ASSERT_TRUE(rig.Submit(v, Encode(Sine(440, 48000, 24000, 0.8, 0, 1), 16)));
    v->Start();
    for (int i = 0; i < 30; ++i) rig.device.Pull(1000);
    const auto left = rig.Channel(0);
    EXPECT_EQ(left, rig.Channel(1));
    const SineStats s = Measure(left, 44100, 0.08f);
    EXPECT_NEAR(double(s.last - s.first), 22050.0, 8.0);
    EXPECT_NEAR(s.frequency, 440.0, 0.05);
    EXPECT_NEAR(s.peak, 0.8, 0.008);
  }
}

TEST(VoiceEngineResample, FlushLeavesNoOldSoundInTheConverter) {
  Rig rig;
  SourceVoice* v = rig.Voice(Pcm(16, 1, 44100));
  ASSERT_TRUE(rig.Submit(v, Encode(Sine(1000, 44100, 4410, 0.9, 0, 1), 16)));
  v->Start();
  rig.device.Pull(2000);
  v->Stop();
  v->FlushSourceBuffers();
  ASSERT_TRUE(rig.Submit(v, Encode(std::vector<int32_t>(4410, 0), 16)));
  v->Start();
  rig.device.ClearCapture();
  rig.device.Pull(6000);
  EXPECT_TRUE(Silent(rig.device.Captured()));
}

TEST(VoiceEngineResample, OnlyAFlushAfterSoundRebuildsTheConverter) {
  Rig rig;
  SourceVoice* v = rig.Voice(Pcm(16, 2, 44100));
  const uint64_t built = StreamResampler::CreatedCount();
  v->FlushSourceBuffers();  // the first prefill of a new voice
  EXPECT_EQ(StreamResampler::CreatedCount(), built);
  ASSERT_TRUE(rig.Submit(v, Encode(Sine(500, 44100, 4410, 0.5, 0.5, 2), 16)));
  v->Start();
  rig.device.Pull(1000);
  v->Stop();
  v->FlushSourceBuffers();
  EXPECT_EQ(StreamResampler::CreatedCount(), built + 1);
}

// ---------------------------------------------------------------------------
// Effects

TEST(VoiceEngineEffect, RunsOnOneVoiceAfterVolumeBeforeTheMixOfAllVoices) {
  OffsetEffect fx;
  Rig rig;
  SourceVoice* b = rig.Voice(Pcm(16, 2));  // mixed first, so `a` adds to it
  SourceVoice* a = rig.Voice(Pcm(16, 1));
  const auto sb = Ramp(-200, 220);
  ASSERT_TRUE(rig.Submit(a, Encode(std::vector<int32_t>(1000, 8192), 16)));  // 0.25
  ASSERT_TRUE(rig.Submit(b, Encode(sb, 16)));
  a->SetVolume(0.5f);
  a->SetEffectChain(&fx);
  EXPECT_EQ(fx.preparedChannels, 2u);
  EXPECT_EQ(fx.preparedRate, 48000u);
  a->Start();
  b->Start();
  rig.device.Pull(100);
  EXPECT_EQ(fx.seenFirst, 0.125f);
  EXPECT_EQ(fx.framesSeen, 100u);
  a->SetEffectChain(nullptr);
  rig.device.Pull(10);
  EXPECT_EQ(fx.framesSeen, 100u);
  // Every voice adds to the mix.
  const auto left = rig.Channel(0), right = rig.Channel(1);
  for (size_t i = 0; i < 110; ++i) {
    EXPECT_EQ(left[i], (i < 100 ? 0.375f : 0.125f) + Expected(sb[2 * i], 16)) << i;
    EXPECT_EQ(right[i], 0.125f + Expected(sb[2 * i + 1], 16)) << i;
  }
}

// ---------------------------------------------------------------------------
// Threads: a device thread renders while control threads change things.

TEST(VoiceEngineThreads, SwappedOutEffectIsIdleOnceTheCallReturns) {
  OffsetEffect first, second;
  Rig rig;
  SourceVoice* v = rig.Voice(Pcm(16, 1));
  ASSERT_TRUE(rig.Submit(v, Encode(std::vector<int32_t>(48000, 1000), 16)));
  v->Start();
  ASSERT_TRUE(rig.device.StartRealtimeThread(64));
  for (int round = 0; round < 20; ++round) {
    OffsetEffect& on = round % 2 ? second : first;
    OffsetEffect& off = round % 2 ? first : second;
    const int before = on.calls.load();
    v->SetEffectChain(&on);
    ASSERT_TRUE(WaitUntil([&] { return on.calls.load() > before; }));
    std::this_thread::sleep_for(3ms);  // let passes run unobserved by this thread
    v->SetEffectChain(&off);
    const uint64_t seen = on.framesSeen;  // safe to read: no longer in use
    const int calls = on.calls.load();
    std::this_thread::sleep_for(2ms);
    EXPECT_EQ(on.calls.load(), calls);
    EXPECT_EQ(on.framesSeen, seen);
  }
  rig.device.StopRealtimeThread();
  EXPECT_GT(rig.device.RealtimePeak(), 0.25f);
}

TEST(VoiceEngineThreads, DestroyVoiceWhileTheDeviceRenders) {
  const auto bytes = Encode(Sine(300, 44100, 20000, 0.5, 0.5, 2), 16);
  Rig rig;
  ASSERT_TRUE(rig.device.StartRealtimeThread(64));
  SourceVoice* keeper = rig.Voice(Pcm(16, 2));
  ASSERT_TRUE(rig.Submit(keeper, bytes));
  keeper->Start();
  for (int i = 0; i < 40; ++i) {
    SourceVoice* v = rig.Voice(Pcm(16, 2, i % 2 ? 44100 : 48000));
    ASSERT_NE(v, nullptr);
    for (int k = 0; k < 2; ++k)
      ASSERT_TRUE(v->SubmitSourceBuffer(bytes.data(), uint32_t(bytes.size())));
    v->Start();
    ASSERT_TRUE(WaitUntil([&] { return v->GetState().samplesPlayed > 0; }));
    v->SetVolume(0.5f);
    if (i % 4 == 1) v->FlushSourceBuffers();  // while running
    std::this_thread::sleep_for(2ms);         // let passes run unobserved by this thread
    rig.engine->DestroyVoice(v);
  }
  rig.engine->DestroyVoice(keeper);
  const uint64_t frames = rig.device.RealtimeFramesPulled();
  ASSERT_TRUE(WaitUntil([&] { return rig.device.RealtimeFramesPulled() > frames + 256; }));
  rig.engine->DestroyMasteringVoice();
  EXPECT_FALSE(rig.device.IsOpen());
  rig.device.StopRealtimeThread();
  EXPECT_GT(rig.device.RealtimePeak(), 0.4f);
}

}  // namespace
}  // namespace orvex::mixer
