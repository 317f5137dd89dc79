// What an output needs to come back after its server restarted: the watch
// that probes for the server off the program's thread, and the engine's
// ramp from silence when its device goes on under it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "output/ReturnWatch.h"
#include "output/mixer/VirtualDevice.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

template <class Pred>
bool Eventually(Pred done) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ReturnWatch, ProbesUntilTheServerAnswersThenTellsOnceAndEnds) {
  std::atomic<int> probes{0}, told{0};
  ReturnWatch watch;
  watch.Start([&] { return ++probes >= 3; }, [&] { ++told; }, 1ms);
  ASSERT_TRUE(Eventually([&] { return !watch.Running(); }));
  EXPECT_EQ(probes.load(), 3);
  EXPECT_EQ(told.load(), 1);
  // A watch can be started again for the next loss.
  watch.Start([&] { return true; }, [&] { ++told; }, 1ms);
  ASSERT_TRUE(Eventually([&] { return told.load() == 2; }));
}

TEST(ReturnWatch, StoppedOrReplacedWatchesNeitherProbeNorTellAnyMore) {
  std::atomic<int> probes{0}, told{0};
  std::atomic<bool> up{false};
  ReturnWatch watch;
  watch.Start([&] { return ++probes, up.load(); }, [&] { ++told; }, 1ms);
  ASSERT_TRUE(Eventually([&] { return probes.load() >= 2; }));
  watch.Stop();
  const int seen = probes.load();
  up.store(true);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(probes.load(), seen);
  EXPECT_EQ(told.load(), 0);
  EXPECT_FALSE(watch.Running());

  // The first probe waits a period: a server that has just gone is not
  // asked at once. Replacing the watch drops the one before.
  std::atomic<int> second{0};
  watch.Start([&] { return ++second, false; }, [&] { ++told; }, 1h);
  watch.Start([&] { return true; }, [&] { ++told; }, 1ms);
  ASSERT_TRUE(Eventually([&] { return told.load() == 1; }));
  EXPECT_EQ(second.load(), 0);
}

TEST(EngineResume, ADeviceThatGoesOnUnderTheEngineRampsInFromSilence) {
  mixer::VirtualDevice device("v", "Virtual", 2, 48000);
  auto engine = mixer::CreateVoiceEngine(480);
  ASSERT_TRUE(engine->CreateMasteringVoice(device));
  WaveFormat f;
  f.formatTag = kFormatPcm;
  f.channels = 2;
  f.samplesPerSec = 48000;
  f.bitsPerSample = 16;
  f.blockAlign = 4;
  f.avgBytesPerSec = 48000 * 4;
  // A steady half-scale level, where a cut would be a full step.
  std::vector<int16_t> dc(48000 * 2, 16384);
  mixer::SourceVoice* voice = engine->CreateSourceVoice(f);
  ASSERT_NE(voice, nullptr);
  ASSERT_TRUE(voice->SubmitSourceBuffer(reinterpret_cast<const uint8_t*>(dc.data()),
                                        uint32_t(dc.size() * 2)));
  voice->Start();
  device.Pull(2400);  // past the voice's own start ramp

  const uint64_t before = engine->DeviceResumes();
  dynamic_cast<mixer::RenderCallback&>(*engine).OnDeviceResumed();
  EXPECT_EQ(engine->DeviceResumes(), before + 1);
  device.SetCapture(true);
  device.Pull(960);
  const std::vector<float>& out = device.Captured();
  ASSERT_EQ(out.size(), 960u * 2);
  EXPECT_LT(out[0], 0.01f);
  float largestStep = out[0];
  for (size_t i = 1; i < 960; ++i) {
    EXPECT_GE(out[2 * i], out[2 * (i - 1)]) << i;
    largestStep = std::max(largestStep, out[2 * i] - out[2 * (i - 1)]);
  }
  EXPECT_LT(largestStep, 0.01f);
  EXPECT_NEAR(out[2 * 959], 0.5f, 1e-3);
  EXPECT_NEAR(out[2 * 480], 0.5f, 1e-3);  // over within one quantum
  engine->DestroyVoice(voice);
  engine->DestroyMasteringVoice();
}

}  // namespace
}  // namespace orvex
