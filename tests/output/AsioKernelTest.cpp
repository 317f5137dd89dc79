// The block-device host on a hand-driven device: buffer rule, slot mixing,
// sample types, ramps, rate conversion, and devices that stall or vanish.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "AsioRig.h"
#include "output/asio/AsioBufferRule.h"
#include "output/asio/AsioMessages.h"

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

struct Source {
  explicit Source(const std::vector<uint8_t>& pcm, size_t capacity = 0) {
    store.Allocate(capacity ? capacity : pcm.size());
    store.Append(pcm.data(), pcm.size());
  }
  StreamStore store;
};

void Attach(CAsioKernel& host, int slot, Source& src, const WaveFormat& format, float gain = 1) {
  host.SetSlotStream(slot, &src.store);
  host.SetSlotFormat(slot, format);
  host.SetSlotGains(slot, gain, gain);
  host.AttachSlot(slot);
}

// Pumps one block at a time, giving the refill thread a moment whenever the
// output went quiet, so a test sees the stream without refill gaps.
void PumpFrames(CAsioKernel& host, FakeDevice& d, uint32_t frames, uint32_t block = 256) {
  for (uint32_t done = 0; done < frames; done += block) {
    d.Pump(1, block);
    // A half the file has no more data for stays wanted: give up soon.
    WaitFor([&] { return host.RefillIdle(); }, 30ms);
  }
}

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
  EXPECT_EQ(asio::ChooseBufferSize(500, 64, 4).size, 448);
  EXPECT_EQ(asio::ChooseBufferSize(500, 64, 4).factor, 7);
  // Below the minimum the stored factor stands.
  EXPECT_EQ(asio::ChooseBufferSize(50, 64, 3).size, 192);
  EXPECT_EQ(asio::ChooseBufferSize(50, 64, 3).factor, 3);
  // Without a driver the entry is taken and the factor goes back to 4.
  EXPECT_EQ(asio::ChooseBufferSize(500, 0, 9).size, 500);
  EXPECT_EQ(asio::ChooseBufferSize(500, 0, 9).factor, 4);
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
  float l = 1, r = 1;
  EXPECT_FALSE(rig.host.OutputPeak(l, r));
  EXPECT_EQ(l, 0);
}

TEST(AsioKernel, MixesChannelSlotsInOrderAtTheirGainsAndRampsTheStart) {
  const int frames = 29000;  // several halves, so the refill thread must keep up
  Source ch1(CountingPcm16(frames)), bgm(CountingPcm16(frames, 5000));
  AsioRig rig;  // after the stores: players outlive the host's use of them
  ASSERT_TRUE(rig.Open());
  Attach(rig.host, 1, ch1, Pcm16Format(48000), 0.5f);
  Attach(rig.host, 0, bgm, Pcm16Format(48000));  // the continuous-play slot
  rig.host.SetSlotPlaying(0, true);
  rig.host.SetSlotPlaying(1, true);
  PumpFrames(rig.host, *rig.device, frames + 2048);

  const std::vector<float> left = rig.device->Floats(rig.device->left);
  const std::vector<float> right = rig.device->Floats(rig.device->right);
  std::vector<float> heardL, heardR;
  for (size_t i = 0; i < left.size(); ++i) {
    if (left[i] != 0 || right[i] != 0) {
      heardL.push_back(left[i]);
      heardR.push_back(right[i]);
    }
  }
  ASSERT_EQ(heardL.size(), static_cast<size_t>(frames));
  // The first 5 ms rise from silence; after that every frame is the source's.
  EXPECT_LT(std::fabs(heardL[0]), 0.5f / 32768 * 2);
  for (int i = 0; i < frames; ++i) {
    const float wantL = float((1 + i) % 30000) / 32768 * 0.5f;
    if (i >= 240) {
      ASSERT_FLOAT_EQ(heardL[i], wantL) << i;
      ASSERT_FLOAT_EQ(heardR[i], -wantL) << i;
    } else {
      ASSERT_LE(std::fabs(heardL[i]), wantL + 1e-7f) << i;
    }
  }
  float pl = 0, pr = 0;
  ASSERT_TRUE(rig.host.OutputPeak(pl, pr));
  EXPECT_NEAR(pl, 28999.0f / 32768 * 0.5f, 1e-4);
}

// Index of the source frame a steady (full-level) output sample came from,
// -1 while ramping.
int SteadyIndex(float v) {
  const float s = v * 32768;
  return std::fabs(s - std::round(s)) < 1e-3f && s >= 1 ? static_cast<int>(std::round(s)) - 1 : -1;
}

TEST(AsioKernel, PauseRampsOutAndResumeGoesOnFromWhereTheRampEnded) {
  Source ch(CountingPcm16(20000, 1, 1), 80000);
  AsioRig rig;
  ASSERT_TRUE(rig.Open());
  Attach(rig.host, 3, ch, Pcm16Format(48000, 1));
  rig.host.SetSlotPlaying(3, true);
  PumpFrames(rig.host, *rig.device, 2048);
  rig.host.SetSlotPlaying(3, false);
  PumpFrames(rig.host, *rig.device, 2048);
  rig.host.SetSlotPlaying(3, true);
  PumpFrames(rig.host, *rig.device, 2048);

  const std::vector<float> out = rig.device->Floats(rig.device->left);
  const std::vector<float> right = rig.device->Floats(rig.device->right);
  EXPECT_EQ(out, right);  // mono on both sides
  // The step between neighbouring frames never jumps: no click.
  for (size_t i = 1; i < out.size(); ++i) ASSERT_LT(std::fabs(out[i] - out[i - 1]), 0.002f) << i;
  // A frame is steady when it and the next are consecutive source frames at
  // full level.
  const auto steady = [&](size_t k) {
    return k + 1 < out.size() && SteadyIndex(out[k]) >= 0 &&
           SteadyIndex(out[k + 1]) == SteadyIndex(out[k]) + 1;
  };
  int lastBefore = -1, firstAfter = -1;
  size_t i = 0;
  for (; i < out.size() && out[i] != 0; ++i) {
    if (steady(i)) lastBefore = SteadyIndex(out[i]) + 1;
  }
  for (; i < out.size() && out[i] == 0; ++i) {
  }
  for (; i < out.size(); ++i) {
    if (steady(i)) {
      firstAfter = SteadyIndex(out[i]);
      break;
    }
  }
  ASSERT_GE(lastBefore, 0);
  // 240 frames ramp out, 240 ramp in, and nothing is skipped between.
  EXPECT_NEAR(firstAfter, lastBefore + 480, 2);
}

TEST(AsioKernel, IntegerDevicesSaturateAndOthersGetSilence) {
  const auto run = [](int type, int16_t sample, int slots) {
    std::vector<std::unique_ptr<Source>> sources;  // outlive the host, as players do
    AsioRig rig({.sampleType = type});
    EXPECT_TRUE(rig.Open());
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 4000; ++i) {
      pcm.push_back(static_cast<uint8_t>(sample));
      pcm.push_back(static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8));
    }
    for (int s = 1; s <= slots; ++s) {
      sources.push_back(std::make_unique<Source>(pcm));
      Attach(rig.host, s, *sources.back(), Pcm16Format(48000, 1));
      rig.host.SetSlotPlaying(s, true);
    }
    rig.device->Pump(4, 256);
    // Frame 600 is past the ramp.
    const uint32_t bytes = std::max<uint32_t>(asio::SampleBytes(type), 1);
    return std::vector<uint8_t>(rig.device->left.begin() + 600 * bytes,
                                rig.device->left.begin() + 601 * bytes);
  };
  // Two loud channels clip at full scale instead of wrapping round.
  EXPECT_EQ(run(asio::kInt16LSB, 30000, 2), (std::vector<uint8_t>{0xFF, 0x7F}));
  EXPECT_EQ(run(asio::kInt16LSB, -30000, 2), (std::vector<uint8_t>{0x00, 0x80}));
  EXPECT_EQ(run(asio::kInt32LSB, 30000, 2), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F}));
  // A 16-bit source on a 24-bit device plays at its own level.
  EXPECT_EQ(run(asio::kInt24LSB, 1000, 1), (std::vector<uint8_t>{0x00, 0xE8, 0x03}));
  EXPECT_EQ(run(asio::kInt32LSB, 1000, 1), (std::vector<uint8_t>{0x00, 0x00, 0xE8, 0x03}));
  EXPECT_EQ(run(asio::kInt16MSB, 1000, 1), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(run(asio::kFloat64LSB, 1000, 1), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(run(99, 1000, 1), (std::vector<uint8_t>{0xAB}));  // unknown: untouched
}

TEST(AsioKernel, AFileAtAnotherRateIsConvertedToTheDeviceRate) {
  const int frames = 44100;  // one second of 1 kHz
  std::vector<uint8_t> pcm;
  for (int i = 0; i < frames; ++i) {
    const auto v =
        static_cast<int16_t>(std::lround(16000 * std::sin(2 * M_PI * 1000 * i / 44100.0)));
    for (int c = 0; c < 2; ++c) {
      pcm.push_back(static_cast<uint8_t>(v));
      pcm.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
  }
  Source ch(pcm);
  AsioRig rig;
  ASSERT_TRUE(rig.Open());
  Attach(rig.host, 2, ch, Pcm16Format(44100));
  rig.host.SetSlotPlaying(2, true);
  PumpFrames(rig.host, *rig.device, 60000);
  const std::vector<float> out = rig.device->Floats(rig.device->left);
  // Count upward zero crossings over the middle of the output, where the
  // converter's start and end do not reach.
  int crossings = 0;
  size_t first = 0, last = 0;
  for (size_t i = 1; i < out.size(); ++i) {
    if (std::fabs(out[i]) > 0.01f && first == 0) first = i;
    if (std::fabs(out[i]) > 0.01f) last = i;
  }
  ASSERT_GT(last, first);
  // One second of file is one second at the device rate.
  EXPECT_NEAR(double(last - first), 48000, 200);
  const size_t from = first + 4800, to = from + 38400;  // 0.8 s
  for (size_t i = from + 1; i < to; ++i)
    if (out[i - 1] < 0 && out[i] >= 0) ++crossings;
  EXPECT_NEAR(crossings, 800, 2);
}

TEST(AsioKernel, DetachRampsOutAndLetsGoOfTheStore) {
  Source ch(CountingPcm16(40000), 200000);
  AsioRig rig;
  ASSERT_TRUE(rig.Open());
  Attach(rig.host, 1, ch, Pcm16Format(48000));
  rig.host.SetSlotPlaying(1, true);
  PumpFrames(rig.host, *rig.device, 20000);
  EXPECT_LT(ch.store.FreeSpace(), ch.store.Capacity());
  std::thread detach([&] { rig.host.DetachSlot(1); });
  while (!WaitFor([&] { return ch.store.FreeSpace() == ch.store.Capacity(); }, 1ms))
    rig.device->Pump(1, 64);
  detach.join();
  rig.device->Pump(4, 256);
  const std::vector<float> out = rig.device->Floats(rig.device->left);
  for (size_t i = 1; i < out.size(); ++i) ASSERT_LT(std::fabs(out[i] - out[i - 1]), 0.005f) << i;
  EXPECT_EQ(out.back(), 0.0f);
}

TEST(AsioKernel, AVanishedDeviceIsReportedAndHoldsNoStore) {
  Source ch(CountingPcm16(40000), 200000);
  AsioRig rig;
  ASSERT_TRUE(rig.Open());
  std::atomic<int> notices{0};
  std::string message;
  rig.host.SetNoticeHandler([&](const std::string& m) {
    message = m;
    notices.fetch_add(1);
  });
  Attach(rig.host, 1, ch, Pcm16Format(48000));
  rig.host.SetSlotPlaying(1, true);
  PumpFrames(rig.host, *rig.device, 4096);
  rig.device->Lose();
  ASSERT_TRUE(WaitFor([&] { return notices.load() == 1; }));
  EXPECT_EQ(message, kAsioDeviceLost);
  EXPECT_TRUE(rig.host.DeviceLost());
  EXPECT_EQ(ch.store.FreeSpace(), ch.store.Capacity());
  // The player's own steps go on without effect.
  rig.host.AttachSlot(1);
  rig.host.SetSlotPlaying(1, true);
  EXPECT_EQ(ch.store.FreeSpace(), ch.store.Capacity());
  // Choosing the device again opens it afresh.
  rig.host.CloseDriver();
  ASSERT_TRUE(rig.Open());
  EXPECT_FALSE(rig.host.DeviceLost());
  Attach(rig.host, 1, ch, Pcm16Format(48000));
  EXPECT_LT(ch.store.FreeSpace(), ch.store.Capacity());
}

TEST(AsioKernel, AStalledDeviceLetsGoOfThePlayersStores) {
  Source ch(CountingPcm16(40000), 160000);
  AsioRig rig;
  rig.host.SetStallLimitMs(50);
  ASSERT_TRUE(rig.Open());
  Attach(rig.host, 1, ch, Pcm16Format(48000));
  rig.host.SetSlotPlaying(1, true);
  rig.device->Pump(1, 256);
  EXPECT_LT(ch.store.FreeSpace(), ch.store.Capacity());
  EXPECT_TRUE(WaitFor([&] { return ch.store.FreeSpace() == ch.store.Capacity(); }));
}

}  // namespace
}  // namespace orvex::test
