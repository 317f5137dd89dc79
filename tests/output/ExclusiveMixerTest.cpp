// The exclusive mixer on ALSA devices of a private configuration: a file
// plugin records exactly what the writer thread sent.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "output/wasapi/WaveExWASAPI.h"
#include "unit/MessageRecorder.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

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

class ExclusiveMixer : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("asound.conf", "pcm.orvex_file {\n  type file\n  slave.pcm { type null }\n  file \"" +
                                 dir.File("out.raw") + "\"\n  format \"raw\"\n}\n");
    setenv("ALSA_CONFIG_PATH", dir.File("asound.conf").c_str(), 1);
    mixer.SetDevice(&endpoint, 0);
    mixer.SetFormat(&format, &bufferMs);
  }
  void TearDown() override { unsetenv("ALSA_CONFIG_PATH"); }

  // Plays until the writer has sent `frames` frames (real time).
  void PlayFor(uint64_t frames) {
    ASSERT_TRUE(mixer.Start());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (mixer.FramesWritten() < frames && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    mixer.Close();
  }
  std::vector<int16_t> Recorded16() const {
    const std::string raw = dir.Read("out.raw");
    std::vector<int16_t> s(raw.size() / 2);
    std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
  }

  TempDir dir;
  MessageRecorder messages;
  WasapiEndpoint endpoint{nullptr, "test_sink", "Test", -1, -1};
  StoredWaveFormat format;  // 16-bit 44100 Hz stereo
  int32_t bufferMs = 30;
  CWaveExWASAPI mixer;
};

TEST_F(ExclusiveMixer, PlaysAChannelSampleExactAndLeavesTheOtherSlotsOut) {
  StreamStore one, bgm;
  one.Allocate(1 << 20);
  bgm.Allocate(1 << 20);
  std::vector<int16_t> ramp(2 * 8000);
  for (size_t i = 0; i < ramp.size(); ++i)
    ramp[i] = static_cast<int16_t>(i % 2 ? -int(i) : int(i) + 1);
  one.Append(reinterpret_cast<const uint8_t*>(ramp.data()), ramp.size() * 2);
  std::vector<int16_t> loud(2 * 8000, 20000);
  bgm.Append(reinterpret_cast<const uint8_t*>(loud.data()), loud.size() * 2);

  ASSERT_TRUE(mixer.OpenDevice("orvex_file"));
  EXPECT_GE(mixer.BufferFrames(), 1u);
  mixer.AttachSlot(1, &one, Pcm(16));
  mixer.AttachSlot(0, &bgm, Pcm(16));  // the continuous-play slot is not mixed
  mixer.SetSlotGains(1, 0, 1.0f, 1.0f);
  mixer.SetSlotGains(0, 0, 1.0f, 1.0f);
  mixer.SetSlotGains(1, 2, 0.0f, 0.0f);  // another output's gains do not reach it
  mixer.SetSlotPlaying(1, true);
  mixer.SetSlotPlaying(0, true);
  PlayFor(12000);

  const std::vector<int16_t> out = Recorded16();
  ASSERT_GE(out.size(), ramp.size());
  EXPECT_TRUE(std::equal(ramp.begin(), ramp.end(), out.begin()));
  for (size_t i = ramp.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;
  mixer.DetachSlot(0);
  mixer.DetachSlot(1);
}

TEST_F(ExclusiveMixer, WideSourcesKeepTheirLevelAndLoudSumsClip) {
  StreamStore a, b;
  a.Allocate(1 << 16);
  b.Allocate(1 << 16);
  // 24-bit 0x123456 sounds as its upper 16 bits, 0x1234.
  std::vector<uint8_t> wide;
  for (int i = 0; i < 4000; ++i) wide.insert(wide.end(), {0x56, 0x34, 0x12, 0x56, 0x34, 0x12});
  a.Append(wide.data(), wide.size());
  std::vector<int16_t> loud(2 * 4000, 30000);
  b.Append(reinterpret_cast<const uint8_t*>(loud.data()), loud.size() * 2);

  ASSERT_TRUE(mixer.OpenDevice("orvex_file"));
  mixer.AttachSlot(1, &a, Pcm(24));
  mixer.SetSlotGains(1, 0, 1.0f, 1.0f);
  mixer.AttachSlot(2, &b, Pcm(16));
  mixer.SetSlotGains(2, 0, 1.0f, 0.0f);
  mixer.SetSlotPlaying(1, true);
  mixer.SetSlotPlaying(2, true);
  PlayFor(4000);
  const std::vector<int16_t> out = Recorded16();
  ASSERT_GE(out.size(), 2u * 4000);
  // Left: 0x1234 + 30000 clips at full scale instead of wrapping around.
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], 0x1234);
  mixer.DetachSlot(1);
  mixer.DetachSlot(2);
}

TEST_F(ExclusiveMixer, AnEndpointWithoutHardwareSaysSoAndAMissingDeviceStaysSilent) {
  EXPECT_FALSE(mixer.OpenDevice());
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0], kExclusiveNoHardware);
  EXPECT_FALSE(mixer.HasClient());
  EXPECT_FALSE(mixer.OpenDevice("no_such_device"));
  EXPECT_EQ(messages.messages.size(), 1u);
  // Without a device no slot plays.
  mixer.SetSlotPlaying(3, true);
  EXPECT_FALSE(mixer.SlotPlaying(3));
}

}  // namespace
}  // namespace orvex
