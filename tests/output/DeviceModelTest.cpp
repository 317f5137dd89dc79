// The device lists, the stored-setting resolution with its fallback, and
// the selection rules, on lists made without a sound server.
#include <gtest/gtest.h>

#include "output/DeviceModel.h"
#include "output/OutputDevices.h"

namespace orvex {
namespace {

std::vector<pulse::SinkInfo> TwoSinks() {
  return {{"card_a", "Card A", 48000, 2, 0, 0}, {"null_b", "Null B", 44100, 2, -1, -1}};
}

class Devices : public ::testing::Test {
 protected:
  void SetUp() override {
    devices.UseSinks(TwoSinks());
    devices.CreateXAudioEngines();
    devices.BuildDeviceLists();
  }
  OutputSettings settings;
  COutputDevices devices{settings};
};

TEST_F(Devices, ListsEngineDevicesThenEndpointsUnderOneIndex) {
  const CSoundDevice& d = devices.Device(1);
  ASSERT_EQ(d.Count(), 4);
  EXPECT_EQ(d.DisplayName(-1), "なし");
  EXPECT_EQ(d.DisplayName(0), "DS: Card A");
  EXPECT_EQ(d.DisplayName(3), "WASAPI: Null B");
  EXPECT_EQ(d.GetDeviceId(2), "card_a");
  EXPECT_EQ(d.GetDeviceId(4), "");
  EXPECT_EQ(d.KindOf(4), DeviceKind::kNone);
  // The name table always keeps a free slot.
  EXPECT_GT(d.m_asioNames.size(), d.m_asioCount);
}

TEST_F(Devices, StoredSettingsResolveOrFallBackAndAreRewritten) {
  settings.deviceType = {"WASAPI", "", "XAUDIO2"};
  settings.deviceName = {"null_b", "x", "gone"};
  settings.exclusive = {1, 0, 0};
  for (int n = 0; n < 3; ++n) devices.ResolveOutputSetting(n);
  EXPECT_EQ(devices.Device(0).m_selected, 3);
  EXPECT_TRUE(devices.Device(0).SelectedExclusive());
  // An empty type means no device, and its settings stay empty.
  EXPECT_EQ(devices.Device(1).m_selected, -1);
  EXPECT_EQ(settings.deviceType[1], "");
  EXPECT_EQ(settings.deviceName[1], "");
  // A device that has gone falls back to the first engine device.
  EXPECT_EQ(devices.Device(2).m_selected, 0);
  EXPECT_EQ(settings.deviceName[2], "card_a");
  EXPECT_EQ(settings.deviceType[2], "XAUDIO2");

  devices.Device(1).m_selected = 1;
  devices.StoreSelection();
  EXPECT_EQ(settings.deviceType[0], "WASAPI");
  EXPECT_EQ(settings.exclusive[0], 1);
  EXPECT_EQ(settings.deviceType[1], "XAUDIO2");
  EXPECT_EQ(settings.deviceName[1], "null_b");
}

TEST(DevicesWithoutServer, NoSinksMeansNoDeviceAndNoFalseSelection) {
  OutputSettings settings;  // first run: XAUDIO2 with an empty DEVICE
  COutputDevices devices(settings);
  devices.UseSinks({});
  devices.CreateXAudioEngines();
  devices.BuildDeviceLists();
  devices.ResolveOutputSetting(0);
  EXPECT_EQ(devices.Device(0).m_selected, -1);
  EXPECT_EQ(devices.Device(0).DisplayName(devices.Device(0).m_selected), "なし");
  EXPECT_TRUE(devices.CreateMasteringVoices());
  EXPECT_EQ(devices.Engines()[0], nullptr);
}

TEST(AsioNames, LongNamesAreCutAndTheTableGrowsByTens) {
  EXPECT_EQ(AsioSlotName(std::string(40, 'x')), std::string(28, 'x') + "...");
  EXPECT_EQ(AsioSlotName(std::string(31, 'y')), std::string(31, 'y'));
  std::vector<std::string> list(10, "JACK");
  CSoundDevice d;
  d.m_asioList = &list;
  EXPECT_FALSE(d.LoadAsioNames(10));
  EXPECT_TRUE(d.LoadAsioNames(20));
  EXPECT_EQ(d.AsioCount(), 10);
  d.SelectAsioDriver(2);
  EXPECT_EQ(d.KindOf(d.m_selected), DeviceKind::kAsio);
}

TEST(SelectionRules, RefuseTwoJackDriversAndSharedUseOfAnExclusiveEndpoint) {
  CSoundDevice d;
  d.m_xaDevices = {{"card_a", "Card A"}, {"null_b", "Null B"}};
  d.SetEndpoints({{"card_a", "Card A"}, {"null_b", "Null B"}});
  std::vector<std::string> jack = {"JACK", "JACK (two)"};
  d.m_asioList = &jack;
  d.LoadAsioNames(10);
  const std::array<const CSoundDevice*, 3> all = {&d, &d, &d};
  const int asio = 4, exclA = 2, dsA = 0, dsB = 1;
  // Two JACK selections are refused even when they name the same driver.
  EXPECT_EQ(CheckDeviceSelection(all, {asio, -1, asio}, {}), kAsioTwice);
  EXPECT_EQ(CheckDeviceSelection(all, {-1, asio, asio + 1}, {}), kAsioTwice);
  // The same shared endpoint twice is fine; exclusive it is not.
  EXPECT_EQ(CheckDeviceSelection(all, {exclA, exclA, -1}, {false, false, false}), std::nullopt);
  EXPECT_EQ(CheckDeviceSelection(all, {exclA, exclA, -1}, {false, true, false}), kExclusiveTwice);
  // Exclusive on Group1 with the same card's engine device on Master.
  EXPECT_EQ(CheckDeviceSelection(all, {dsA, exclA, -1}, {false, true, false}), kExclusiveSameLine);
  EXPECT_EQ(CheckDeviceSelection(all, {dsB, exclA, dsB}, {false, true, false}), std::nullopt);
  // A box left checked on a non-endpoint selection means nothing.
  EXPECT_EQ(CheckDeviceSelection(all, {dsA, dsA, -1}, {true, false, false}), std::nullopt);
}

}  // namespace
}  // namespace orvex
