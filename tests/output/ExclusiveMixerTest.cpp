// The exclusive output on ALSA devices of a private configuration: a voice
// engine renders into the writer thread, a file plugin records exactly what
// the writer sent; a hardware-like test device refuses a second program.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "output/alsa/WaveExWASAPI.h"
#include "output/mixer/VoiceEngine.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

using std::chrono::milliseconds;

WaveFormat Pcm(uint16_t bits, uint32_t rate = 44100) {
  WaveFormat f;
  f.formatTag = kFormatPcm;
  f.channels = 2;
  f.samplesPerSec = rate;
  f.bitsPerSample = bits;
  f.blockAlign = static_cast<uint16_t>(2 * bits / 8);
  f.avgBytesPerSec = rate * f.blockAlign;
  return f;
}

// A 16-bit stereo 440 Hz tone; a cosine starts at its peak, where a start
// without a ramp jumps furthest.
std::vector<int16_t> Tone(uint32_t rate, double seconds, double amplitude, bool cosine) {
  const auto frames = static_cast<size_t>(rate * seconds);
  std::vector<int16_t> s(2 * frames);
  for (size_t i = 0; i < frames; ++i) {
    const double x = 2 * M_PI * 440 * double(i) / rate;
    s[2 * i] = s[2 * i + 1] =
        static_cast<int16_t>(std::lround(amplitude * (cosine ? std::cos(x) : std::sin(x))));
  }
  return s;
}

const uint8_t* Bytes(const std::vector<int16_t>& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// The largest step from one frame to the next on either side.
int LargestStep(const std::vector<int16_t>& s) {
  int step = 0;
  for (size_t i = 2; i < s.size(); ++i) step = std::max(step, std::abs(s[i] - s[i - 2]));
  return step;
}

class ExclusiveMixer : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("asound.conf", "pcm.orvex_file {\n  type file\n  slave.pcm { type null }\n  file \"" +
                                 dir.File("out.raw") + "\"\n  format \"raw\"\n}\n" +
                                 "pcm_type.orvexbusy { lib \"" ORVEX_BUSY_PCM "\" }\n" +
                                 "pcm.orvex_busy { type orvexbusy lock \"" + dir.File("card.lock") +
                                 "\" }\n" + "pcm.orvex_fast { type orvexbusy lock \"" +
                                 dir.File("fast.lock") + "\" speed 1.1 }\n" +
                                 "pcm.orvex_slow { type orvexbusy lock \"" + dir.File("slow.lock") +
                                 "\" speed 0.9 }\n");
    setenv("ALSA_CONFIG_PATH", dir.File("asound.conf").c_str(), 1);
    mixer.SetReporter([this](const std::string& text) { messages.push_back(text); });
    mixer.SetDevice(&endpoint, 0);
    mixer.SetFormat(&format, &bufferMs);
  }
  void TearDown() override {
    engine->DestroyMasteringVoice();
    mixer.Close();
    unsetenv("ALSA_CONFIG_PATH");
  }

  // Opens the device and mixes the engine into it.
  void Open(const char* name = "orvex_file") {
    ASSERT_TRUE(mixer.OpenDevice(name));
    ASSERT_TRUE(engine->CreateMasteringVoice(mixer.EngineDevice()));
  }
  // A started voice playing `bytes` of `data` at gains left, right.
  mixer::SourceVoice* Voice(const WaveFormat& f, const uint8_t* data, size_t bytes, float left = 1,
                            float right = 1) {
    mixer::SourceVoice* v = engine->CreateSourceVoice(f);
    if (!v) return nullptr;
    v->SubmitSourceBuffer(data, static_cast<uint32_t>(bytes));
    const float gains[2] = {left, right};
    v->SetChannelVolumes(std::min<uint32_t>(f.channels, 2), gains);
    v->Start();
    return v;
  }
  // Plays until the writer has sent `frames` frames (real time).
  void PlayFor(uint64_t frames) {
    ASSERT_TRUE(mixer.Start());
    WaitFor(frames);
    engine->DestroyMasteringVoice();
    mixer.Close();
  }
  void WaitFor(uint64_t frames) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (mixer.FramesWritten() < frames && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(milliseconds(5));
  }
  std::vector<int16_t> Recorded16() const {
    const std::string raw = dir.Read("out.raw");
    std::vector<int16_t> s(raw.size() / 2);
    std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
  }
  std::vector<int32_t> Recorded32() const {
    const std::string raw = dir.Read("out.raw");
    std::vector<int32_t> s(raw.size() / 4);
    std::memcpy(s.data(), raw.data(), s.size() * 4);
    return s;
  }

  TempDir dir;
  std::vector<std::string> messages;
  WasapiEndpoint endpoint{nullptr, "test_sink", "Test", -1, -1};
  WaveFormat format = CWaveExWASAPI::FallbackFormat();
  int32_t bufferMs = 30;
  CWaveExWASAPI mixer;
  std::unique_ptr<mixer::VoiceEngine> engine = mixer::CreateVoiceEngine();
};

TEST_F(ExclusiveMixer, PlaysTheMixSampleExactAfterItsFadeIn) {
  std::vector<int16_t> ramp(2 * 8000);
  for (size_t i = 0; i < ramp.size(); ++i)
    ramp[i] = static_cast<int16_t>(i % 2 ? -int(i) : int(i) + 1);
  Open();
  EXPECT_GE(mixer.BufferFrames(), 1u);
  ASSERT_TRUE(Voice(Pcm(16), Bytes(ramp), ramp.size() * 2));
  PlayFor(12000);

  const std::vector<int16_t> out = Recorded16();
  ASSERT_GE(out.size(), ramp.size());
  // The first 10 ms rise from silence; from there on every sample is the
  // file's own.
  const size_t fade = 2 * 441;
  for (size_t i = 0; i < fade; ++i) ASSERT_LE(std::abs(out[i]), std::abs(ramp[i])) << i;
  EXPECT_LT(std::abs(out[0]), 2);
  EXPECT_TRUE(std::equal(ramp.begin() + fade, ramp.end(), out.begin() + fade));
  for (size_t i = ramp.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;
}

TEST_F(ExclusiveMixer, WideSourcesKeepTheirLevelAndLoudSumsSaturateIn16Bits) {
  // 24-bit 0x123456 sounds as its upper 16 bits, 0x1234.
  std::vector<uint8_t> wide;
  for (int i = 0; i < 4000; ++i) wide.insert(wide.end(), {0x56, 0x34, 0x12, 0x56, 0x34, 0x12});
  const std::vector<int16_t> loud(2 * 4000, 30000);
  Open();
  WaveFormat f24 = Pcm(24);
  f24.formatTag = kFormatExtensible;
  f24.validBits = 24;
  f24.channelMask = 3;
  f24.pcmSubFormat = true;
  ASSERT_TRUE(Voice(f24, wide.data(), wide.size()));
  ASSERT_TRUE(Voice(Pcm(16), Bytes(loud), loud.size() * 2, 1.0f, 0.0f));
  PlayFor(4000);
  const std::vector<int16_t> out = Recorded16();
  ASSERT_GE(out.size(), 2u * 4000);
  // Left: 0x1234 + 30000 stays at full scale instead of wrapping around.
  for (size_t f = 1000; f < 4000; ++f) {
    ASSERT_EQ(out[2 * f], 32767) << f;
    ASSERT_EQ(out[2 * f + 1], 0x1234) << f;
  }
}

TEST_F(ExclusiveMixer, LoudSumsSaturateIn32BitsBothWays) {
  format.bitsPerSample = 32;
  format.blockAlign = 8;
  format.avgBytesPerSec = 44100 * 8;
  std::vector<int16_t> loud(2 * 4000);
  for (size_t i = 0; i < loud.size(); ++i) loud[i] = i % 2 ? -30000 : 30000;
  Open();
  ASSERT_EQ(format.bitsPerSample, 32);  // the device took the format
  ASSERT_TRUE(Voice(Pcm(16), Bytes(loud), loud.size() * 2));
  ASSERT_TRUE(Voice(Pcm(16), Bytes(loud), loud.size() * 2));
  PlayFor(4000);
  const std::vector<int32_t> out = Recorded32();
  ASSERT_GE(out.size(), 2u * 4000);
  for (size_t f = 1000; f < 4000; ++f) {
    ASSERT_EQ(out[2 * f], INT32_MAX) << f;
    ASSERT_EQ(out[2 * f + 1], INT32_MIN) << f;
  }
}

TEST_F(ExclusiveMixer, StartPauseResumeRestartGainChangesAndStopNeverClick) {
  constexpr double kAmplitude = 16384;
  const std::vector<int16_t> tone = Tone(44100, 4, kAmplitude, /*cosine=*/true);
  Open();
  mixer::SourceVoice* v = Voice(Pcm(16), Bytes(tone), tone.size() * 2);  // at the tone's peak
  ASSERT_TRUE(v);
  ASSERT_TRUE(mixer.Start());
  const auto wait = [](int ms) { std::this_thread::sleep_for(milliseconds(ms)); };
  const auto gains = [&](float g) {
    const float both[2] = {g, g};
    v->SetChannelVolumes(2, both);
  };
  wait(150);
  v->Stop();  // pause
  wait(120);
  v->Start();  // resume
  wait(120);
  gains(0.25f);
  wait(100);
  gains(1.0f);
  wait(100);
  // A seek: the queue starts again further on, at a peak of the tone.
  v->FlushSourceBuffers();
  v->SubmitSourceBuffer(Bytes(tone) + 2 * 44100 * 4, 2 * 44100 * 4);
  wait(150);
  engine->DestroyVoice(v);  // stop while sounding
  wait(60);
  engine->DestroyMasteringVoice();
  mixer.Close();

  const std::vector<int16_t> out = Recorded16();
  ASSERT_GT(out.size(), size_t{2 * 44100 * 7 / 10});
  int peak = 0;
  for (int16_t v : out) peak = std::max(peak, std::abs(int(v)));
  EXPECT_NEAR(peak, kAmplitude, 2);
  // The tone moves at most 2 pi 440 / 44100 of its peak per sample; a ramp
  // over 441 frames adds 1/441. A cut or a jump in gain moves up to all of it.
  const double bound = kAmplitude * (2 * M_PI * 440 / 44100 + 2.0 / 441) * 1.1;
  EXPECT_LT(LargestStep(out), bound);
  // The pause and the stop are heard: silence in the middle and at the end.
  size_t quiet = 0, longest = 0;
  size_t end = out.size() / 2;
  while (end > 0 && out[2 * (end - 1)] == 0) --end;
  for (size_t f = 0; f < end; ++f) {
    quiet = out[2 * f] == 0 ? quiet + 1 : 0;
    longest = std::max(longest, quiet);
  }
  EXPECT_GT(longest, 44100u / 20);
  EXPECT_EQ(out.back(), 0);
}

TEST_F(ExclusiveMixer, AFileAtAnotherRateIsConvertedToTheDeviceRate) {
  format.samplesPerSec = 48000;
  format.avgBytesPerSec = 48000 * 4;
  const std::vector<int16_t> tone = Tone(44100, 1, 8192, /*cosine=*/false);  // one second
  Open();
  ASSERT_EQ(format.samplesPerSec, 48000u);
  ASSERT_TRUE(Voice(Pcm(16, 44100), Bytes(tone), tone.size() * 2));
  PlayFor(48000 * 3 / 2);
  const std::vector<int16_t> out = Recorded16();
  size_t first = 0, last = 0;
  for (size_t f = 0; f < out.size() / 2; ++f) {
    if (std::abs(out[2 * f]) > 8) {
      if (last == 0) first = f;
      last = f + 1;
    }
  }
  // One second at the device's rate, not 44100 frames played too fast.
  EXPECT_NEAR(double(last - first), 48000.0, 300.0);
  // 440 Hz: count the crossings from below zero to above, away from the ends.
  int rising = 0;
  const size_t from = first + 2400, to = last - 2400;
  for (size_t f = from + 1; f < to; ++f)
    if (out[2 * (f - 1)] < 0 && out[2 * f] >= 0) ++rising;
  const double hz = rising / (double(to - from) / 48000.0);
  EXPECT_NEAR(hz, 440.0, 3.0);
}

// A card's clock is not the computer's: the writer follows the card, so one
// that runs fast is never starved and one that runs slow is never flooded.
TEST_F(ExclusiveMixer, ACardWhoseClockRunsApartFromOursIsFedAtItsOwnPace) {
  bufferMs = 100;  // room for a writer held up on a busy machine
  for (const auto& [name, speed] : {std::pair{"orvex_fast", 1.1}, {"orvex_slow", 0.9}}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(mixer.OpenDevice(name));
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(mixer.Start());
    std::this_thread::sleep_for(milliseconds(1500));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const uint64_t written = mixer.FramesWritten();
    const double buffer = mixer.BufferFrames();
    mixer.Close();
    EXPECT_EQ(mixer.XrunCount(), 0u);
    // What the card played, and its buffer kept full on top. A card 10 %
    // off would be 150 ms off by now; 50 ms allows a writer held up on a
    // busy machine.
    const double played = seconds * 44100 * speed;
    EXPECT_GT(double(written), played + buffer - 0.05 * 44100);
    EXPECT_LT(double(written), played + buffer + 0.05 * 44100);
  }
}

TEST_F(ExclusiveMixer, ACardHeldByAnotherProgramSaysSoAndOpensOnceLetGo) {
  snd_pcm_t* held = nullptr;
  ASSERT_EQ(snd_pcm_open(&held, "orvex_busy", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK), 0);
  EXPECT_FALSE(mixer.OpenDevice("orvex_busy"));
  EXPECT_FALSE(mixer.HasClient());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], kExclusiveBusy);
  snd_pcm_close(held);
  EXPECT_TRUE(mixer.OpenDevice("orvex_busy"));
  EXPECT_TRUE(mixer.HasClient());
  EXPECT_EQ(messages.size(), 1u);
  // While the mixer holds it, nobody else gets it.
  EXPECT_EQ(snd_pcm_open(&held, "orvex_busy", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK), -EBUSY);
  mixer.Close();
}

TEST_F(ExclusiveMixer, AnEndpointWithoutHardwareSaysSoAndAMissingDeviceStaysSilent) {
  EXPECT_FALSE(mixer.OpenDevice());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], kExclusiveNoHardware);
  EXPECT_FALSE(mixer.HasClient());
  EXPECT_FALSE(mixer.OpenDevice("no_such_device"));
  EXPECT_EQ(messages.size(), 1u);
  // Without a device no engine can mix into it.
  EXPECT_FALSE(engine->CreateMasteringVoice(mixer.EngineDevice()));
}

}  // namespace
}  // namespace orvex
