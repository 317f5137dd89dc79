// The block-device host on a hand-driven device: buffer rule, the voice
// engine's mix written in the device's sample type, and a device that vanishes.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "AsioRig.h"
#include "output/jack/AsioBufferRule.h"
#include "output/jack/AsioMessages.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 3000ms) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// An engine mixing into the host, with voices that play a block of PCM once.
struct EngineOnHost {
  explicit EngineOnHost(CAsioKernel& host) : host(host) {}
  ~EngineOnHost() { engine->DestroyMasteringVoice(); }
  bool Attach() { return engine->CreateMasteringVoice(host.EngineDevice()); }
  mixer::SourceVoice* Play(const std::vector<uint8_t>& pcm, const WaveFormat& f, float gain = 1) {
    mixer::SourceVoice* v = engine->CreateSourceVoice(f);
    if (!v) return nullptr;
    v->SubmitSourceBuffer(pcm.data(), static_cast<uint32_t>(pcm.size()));
    v->SetVolume(gain);
    v->Start();
    return v;
  }
  CAsioKernel& host;
  std::unique_ptr<mixer::VoiceEngine> engine = mixer::CreateVoiceEngine();
};

TEST(AsioKernel, BufferSizeFollowsTheFactorAndTheDriverLimits) {
  {
    AsioRig rig({.minimum = 64, .maximum = 8192, .preferred = 256});
    ASSERT_TRUE(rig.Open(0));
    EXPECT_EQ(rig.host.BufferSize(), 1024);  // four times the preferred size
    EXPECT_EQ(rig.host.BufferFactor(), 16);  // stored as a multiple of the minimum
    EXPECT_EQ(rig.device->CreatedFrames(), 1024);
    // Later opens keep the size of the first.
    rig.host.CloseDriver();
    ASSERT_TRUE(rig.Open(3));
    EXPECT_EQ(rig.host.BufferSize(), 1024);
  }
  {
    AsioRig rig({.minimum = 64, .maximum = 8192, .preferred = 256});
    ASSERT_TRUE(rig.Open(3));
    EXPECT_EQ(rig.host.BufferSize(), 192);
  }
  {
    // A JACK server reports its period as minimum, maximum and preferred.
    AsioRig rig;
    ASSERT_TRUE(rig.Open(0));
    EXPECT_EQ(rig.host.BufferSize(), 256);
    EXPECT_EQ(rig.host.BufferFactor(), 4);
  }
}

TEST(AsioKernel, TheSettingsDialogRoundsTheEntryToAMultipleOfTheMinimum) {
  EXPECT_EQ(jack::ChooseBufferSize(500, 64, 4).size, 448);
  EXPECT_EQ(jack::ChooseBufferSize(500, 64, 4).factor, 7);
  // Below the minimum the stored factor stands.
  EXPECT_EQ(jack::ChooseBufferSize(50, 64, 3).size, 192);
  EXPECT_EQ(jack::ChooseBufferSize(50, 64, 3).factor, 3);
  // Without a driver the entry is taken and the factor goes back to 4.
  EXPECT_EQ(jack::ChooseBufferSize(500, 0, 9).size, 500);
  EXPECT_EQ(jack::ChooseBufferSize(500, 0, 9).factor, 4);
}

TEST(AsioKernel, DriverNamesAndFailedOpens) {
  EXPECT_EQ(CAsioKernel::SlotName(std::string(40, 'x')), std::string(28, 'x') + "...");
  EXPECT_EQ(CAsioKernel::SlotName(std::string(31, 'x')), std::string(31, 'x'));
  EXPECT_EQ(CAsioKernel::ParseServerList(" stage , ,foh,"),
            (std::vector<std::string>{"stage", "foh"}));
  EXPECT_EQ(CAsioKernel::ServerOfDriver("JACK (stage)"), "stage");
  EXPECT_EQ(CAsioKernel::ServerOfDriver("JACK"), "");

  AsioRig rig({.initFails = true});
  EXPECT_FALSE(rig.host.LoadDriver("OTHER"));
  int factor = 4;
  EXPECT_FALSE(rig.host.OpenDriver(factor, 48000, "TEST"));
  EXPECT_FALSE(rig.host.IsDriverOpen());
  // Nothing can mix into a driver that is not open.
  auto engine = mixer::CreateVoiceEngine();
  EXPECT_FALSE(engine->CreateMasteringVoice(rig.host.EngineDevice()));
}

TEST(AsioKernel, PlaysTheEnginesMixSampleExactAfterItsFadeInAndOnlyWhileAttached) {
  const int frames = 29000;
  const std::vector<uint8_t> pcm = CountingPcm16(frames);
  AsioRig rig;
  ASSERT_TRUE(rig.Open());
  {
    EngineOnHost mix(rig.host);
    ASSERT_TRUE(mix.Attach());
    // One engine at a time.
    auto other = mixer::CreateVoiceEngine();
    EXPECT_FALSE(other->CreateMasteringVoice(rig.host.EngineDevice()));
    ASSERT_TRUE(mix.Play(pcm, Pcm16Format(48000), 0.5f));
    rig.device->Pump((frames + 2048) / 256, 256);
    float pl = 0, pr = 0;
    ASSERT_TRUE(mix.engine->Peaks().ReadPeaks(pl, pr));
    EXPECT_NEAR(pl, 28999.0f / 32768 * 0.5f, 1e-4);
  }
  const std::vector<float> left = rig.device->Floats(rig.device->left);
  const std::vector<float> right = rig.device->Floats(rig.device->right);
  ASSERT_GE(left.size(), size_t{frames});
  // The first 10 ms rise from silence; after that every frame is the source's.
  EXPECT_LT(std::fabs(left[0]), 0.5f / 32768 * 2);
  for (int i = 0; i < frames; ++i) {
    const float wantL = float((1 + i) % 30000) / 32768 * 0.5f;
    if (i >= 480) {
      ASSERT_FLOAT_EQ(left[i], wantL) << i;
      ASSERT_FLOAT_EQ(right[i], -wantL) << i;
    } else {
      ASSERT_LE(std::fabs(left[i]), wantL + 1e-7f) << i;
    }
  }
  for (size_t i = frames; i < left.size(); ++i) ASSERT_EQ(left[i], 0.0f) << i;
  // Without an engine the device gets silence, not what its buffers held.
  rig.device->left.clear();
  rig.device->Pump(1, 256);
  EXPECT_EQ(rig.device->Floats(rig.device->left), std::vector<float>(256, 0.0f));
}

TEST(AsioKernel, IntegerDevicesSaturateAndOthersGetSilence) {
  const auto run = [](int type, int16_t sample, int voices) {
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 4000; ++i) {
      pcm.push_back(static_cast<uint8_t>(sample));
      pcm.push_back(static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8));
    }
    AsioRig rig({.sampleType = type});
    EXPECT_TRUE(rig.Open());
    EngineOnHost mix(rig.host);
    EXPECT_TRUE(mix.Attach());
    for (int v = 0; v < voices; ++v) mix.Play(pcm, Pcm16Format(48000, 1));
    rig.device->Pump(4, 256);
    // Frame 600 is past the ramp.
    const uint32_t bytes = std::max<uint32_t>(SampleBytes(type), 1);
    return std::vector<uint8_t>(rig.device->left.begin() + 600 * bytes,
                                rig.device->left.begin() + 601 * bytes);
  };
  // Two loud channels clip at full scale instead of wrapping round.
  EXPECT_EQ(run(kInt16LSB, 30000, 2), (std::vector<uint8_t>{0xFF, 0x7F}));
  EXPECT_EQ(run(kInt16LSB, -30000, 2), (std::vector<uint8_t>{0x00, 0x80}));
  EXPECT_EQ(run(kInt32LSB, 30000, 2), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F}));
  // A 16-bit source on a 24-bit device plays at its own level.
  EXPECT_EQ(run(kInt24LSB, 1000, 1), (std::vector<uint8_t>{0x00, 0xE8, 0x03}));
  EXPECT_EQ(run(kInt32LSB, 1000, 1), (std::vector<uint8_t>{0x00, 0x00, 0xE8, 0x03}));
  EXPECT_EQ(run(kInt16MSB, 1000, 1), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(run(kFloat64LSB, 1000, 1), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(run(99, 1000, 1), (std::vector<uint8_t>{0xAB}));  // unknown: untouched
}

// The edge every device writes through: one side of an interleaved mix into
// planar or interleaved integers, clipped at full scale, a NaN never loud.
TEST(DeviceSamples, OneSideOfTheMixSaturatesIntoEitherLayout) {
  const float mix[8] = {2.0f, 0.5f, -2.0f, -0.5f, std::nanf(""), 0.25f, 0.0f, 1.0f};
  int16_t planar[4] = {};
  WriteSamples(kInt16LSB, mix, 2, planar, 1, 4);
  EXPECT_EQ(std::vector<int16_t>(planar, planar + 4),
            (std::vector<int16_t>{32767, -32768, -32768, 0}));
  int32_t interleaved[8] = {};
  WriteSamples(kInt32LSB, mix + 1, 2, interleaved + 1, 2, 4);
  EXPECT_EQ(interleaved[0], 0);  // the other side's places are left alone
  EXPECT_EQ(interleaved[1], 1 << 30);
  EXPECT_EQ(interleaved[3], -(1 << 30));
  EXPECT_EQ(interleaved[5], 1 << 29);
  EXPECT_EQ(interleaved[7], INT32_MAX);
}

TEST(AsioKernel, AVanishedDeviceIsReportedOnceAndAReopenClearsIt) {
  AsioRig rig;
  ASSERT_TRUE(rig.Open());
  std::atomic<int> notices{0};
  std::string message;
  rig.host.SetNoticeHandler([&](const std::string& m) {
    message = m;
    notices.fetch_add(1);
  });
  rig.device->Lose();
  rig.device->Lose();
  ASSERT_TRUE(WaitFor([&] { return notices.load() >= 1; }));
  EXPECT_EQ(message, kAsioDeviceLost);
  EXPECT_TRUE(rig.host.DeviceLost());
  // Choosing the device again opens it afresh.
  rig.host.CloseDriver();
  EXPECT_EQ(notices.load(), 1);
  ASSERT_TRUE(rig.Open());
  EXPECT_FALSE(rig.host.DeviceLost());
  EngineOnHost mix(rig.host);
  EXPECT_TRUE(mix.Attach());
}

TEST(AsioKernel, AServerThatComesBackGetsANewClientUnderTheSameEngine) {
  const std::vector<uint8_t> pcm(48000 * 4 * 4, 0x40);  // a steady level, 4 s
  AsioRig rig;
  ASSERT_TRUE(rig.Open());
  EngineOnHost mix(rig.host);
  ASSERT_TRUE(mix.Attach());
  ASSERT_TRUE(mix.Play(pcm, Pcm16Format(48000)));
  rig.device->Pump(20, 256);
  FakeDevice* first = rig.device;
  std::atomic<int> notices{0};
  rig.host.SetNoticeHandler([&](const std::string&) { notices.fetch_add(1); });
  first->Lose();
  ASSERT_TRUE(WaitFor([&] { return notices.load() == 1; }));
  const uint64_t resumes = mix.engine->DeviceResumes();

  // While the server is away nothing is there to reopen; then it is back,
  // first at another rate, which the engine's voices cannot follow.
  rig.host.LetGoOfLostDevice();
  using Reopen = CAsioKernel::Reopen;
  rig.spec.initFails = true;
  EXPECT_EQ(rig.host.ReopenDriver(), Reopen::kNotThere);
  rig.spec = {.rate = 44100};
  EXPECT_EQ(rig.host.ReopenDriver(), Reopen::kOtherRate);
  EXPECT_EQ(rig.host.ReturnedRate(), 44100);
  rig.spec = {};
  ASSERT_EQ(rig.host.ReopenDriver(), Reopen::kDone);
  EXPECT_FALSE(rig.host.DeviceLost());
  EXPECT_TRUE(rig.host.IsDriverOpen());
  EXPECT_EQ(rig.device->CreatedFrames(), rig.host.BufferSize());
  // The same engine plays on: its voices were told they fell behind, and
  // the new client's first block rises from silence.
  EXPECT_TRUE(mix.engine->HasMasteringVoice());
  EXPECT_EQ(mix.engine->DeviceResumes(), resumes + 1);
  rig.device->Pump(4, 256);
  const std::vector<float> left = rig.device->Floats(rig.device->left);
  EXPECT_LT(std::fabs(left[0]), 0.01f);
  EXPECT_NEAR(left.back(), float(0x4040) / 32768, 1e-4);
  // A loss of the new client is told again.
  rig.device->Lose();
  ASSERT_TRUE(WaitFor([&] { return notices.load() == 2; }));
}

}  // namespace
}  // namespace orvex::test
