// Enumeration, connecting and the way from a port's input thread to the UI
// thread, on ports the test plays the system for.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/ConsoleCommandText.h"
#include "midi/FakeMidiPorts.h"
#include "midi/MidiControl.h"
#include "unit/MessageRecorder.h"

namespace orvex::midi {
namespace {

struct Rig {
  Rig()
      : control(ports, poster, [this](const MidiEvent& e) {
          for (const ConsoleCommand& c : e.commands) heard.push_back(FormatConsoleCommand(c));
        }) {}
  // Runs the UI thread's work until `done` or two seconds pass.
  bool RunUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      poster.RunPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  CMidiDevice* Find(const std::string& name) {
    for (auto& d : control.Devices())
      if (d->PortName() == name) return d.get();
    return nullptr;
  }

  MessageRecorder messages;
  FakePorts ports;
  ManualUiPoster poster;
  std::vector<std::string> heard;
  CMidiControl control;
};

TEST(MidiControl, EnumerationKeepsRecordsAndFindsPortsAgainByIdentity) {
  Rig r;
  // A stored record for a port not on the machine, and one for "b".
  auto stored = std::make_unique<CMidiDevice>();
  stored->m_caps = CapsOfPort(MidiApi::kJack, "gone:out");
  stored->m_enabled = 1;
  auto b = std::make_unique<CMidiDevice>();
  b->m_caps = CapsOfPort(MidiApi::kJack, "b:out");
  b->m_enabled = 1;
  b->m_mode = 2;
  b->m_channels = {3, -1, -1, -1, -1, -1, 9};
  CMidiDeviceList list;
  list.push_back(std::move(stored));
  list.push_back(std::move(b));
  r.control.ReplaceDevices(std::move(list));

  r.ports.Set({"a:out", "b:out"});
  r.control.EnumerateMidiDevices();
  ASSERT_EQ(r.control.Devices().size(), 3u);
  CMidiDevice& gone = *r.control.Devices()[0];
  CMidiDevice& bRec = *r.control.Devices()[1];
  CMidiDevice& aRec = *r.control.Devices()[2];
  EXPECT_EQ(gone.m_present, 0);
  EXPECT_EQ(bRec.m_present, 1);
  EXPECT_EQ(bRec.m_deviceId, 1u);
  EXPECT_EQ(bRec.m_mode, 2);  // the stored mapping stays
  EXPECT_EQ(aRec.PortName(), "JACK: a:out");
  EXPECT_EQ((std::tuple{aRec.m_present, aRec.m_enabled, aRec.m_mode, aRec.m_deviceId}),
            (std::tuple{uint8_t{1}, uint8_t{0}, 1, 0u}));
  EXPECT_EQ(aRec.m_channels, kDefaultMidiChannels);

  // Plugged in again under another number: the same record, a new number.
  r.ports.Set({"c:out", "x:out", "a:out", "b:out"});
  r.control.EnumerateMidiDevices();
  ASSERT_EQ(r.control.Devices().size(), 5u);
  EXPECT_EQ(bRec.m_deviceId, 3u);
  EXPECT_EQ(aRec.m_deviceId, 2u);
}

TEST(MidiControl, IdentityIsTheCutNameWithTheApiAndNoAlsaNumbers) {
  EXPECT_EQ(CapsOfPort(MidiApi::kAlsa, "UM-ONE:UM-ONE MIDI 1 24:0").NameUtf8(),
            "ALSA: UM-ONE:UM-ONE MIDI 1");
  EXPECT_TRUE(CapsOfPort(MidiApi::kAlsa, "Keys:Port 1 24:0")
                  .SameIdentity(CapsOfPort(MidiApi::kAlsa, "Keys:Port 1 28:0")));
  EXPECT_FALSE(CapsOfPort(MidiApi::kAlsa, "Keys:Port 1 24:0")
                   .SameIdentity(CapsOfPort(MidiApi::kJack, "Keys:Port 1 24:0")));
  // 31 units at most, and never half of a surrogate pair.
  const CMidiCaps longName = CapsOfPort(MidiApi::kJack, std::string(40, 'k'));
  EXPECT_EQ(longName.Name().size(), 31u);
  const CMidiCaps emoji = CapsOfPort(MidiApi::kJack, std::string(24, 'k') + "\xF0\x9F\x8E\xB9");
  EXPECT_EQ(emoji.Name().size(), 30u);
  // Bytes that are no UTF-8 still make a name.
  EXPECT_EQ(CapsOfPort(MidiApi::kJack,
                       "a\xFF"
                       "b")
                .NameUtf8(),
            "JACK: a\xEF\xBF\xBD"
            "b");
}

TEST(MidiControl, ConnectOpensCheckedPresentPortsAndMessagesReachTheUiThread) {
  Rig r;
  r.ports.Set({"a:out", "broken:out", "b:out"});
  r.control.EnumerateMidiDevices();
  for (auto& d : r.control.Devices()) d->m_enabled = 1;
  r.Find("JACK: b:out")->m_enabled = 0;
  r.Find("JACK: a:out")->m_channels = {-1, 5, -1, -1, -1, -1, -1};
  r.control.ConnectMidi();
  EXPECT_TRUE(r.ports.IsOpen("a:out"));
  EXPECT_FALSE(r.ports.IsOpen("b:out"));
  EXPECT_EQ(r.Find("JACK: a:out")->m_opened + r.Find("JACK: a:out")->m_started, 2);
  EXPECT_EQ(r.Find("JACK: broken:out")->m_opened, 0);
  ASSERT_EQ(r.messages.messages.size(), 1u);
  EXPECT_EQ(r.messages.messages[0], MidiOpenFailedMessage("JACK: broken:out"));

  // Bytes from the input thread, in order; ones that ask nothing are not queued.
  std::thread input([&] {
    r.ports.Send("a:out", {0xF8});
    r.ports.Send("a:out", {0x95, 60, 0});
    r.ports.Send("a:out", {0xB5, 10, 127});
    r.ports.Send("a:out", {0xFA});
  });
  input.join();
  ASSERT_TRUE(r.RunUntil([&] { return r.heard.size() == 3; }));
  EXPECT_EQ(r.heard, (std::vector<std::string>{"play:1", "pan:1=10000", "go"}));
  EXPECT_EQ(r.control.Received(), 3u);

  // The mapping is the one the port had when it was connected.
  r.Find("JACK: a:out")->m_mode = 0;
  r.ports.Send("a:out", {0xFA});
  ASSERT_TRUE(r.RunUntil([&] { return r.heard.size() == 4; }));

  r.control.DisconnectMidi();
  EXPECT_FALSE(r.ports.IsOpen("a:out"));
  EXPECT_EQ(r.Find("JACK: a:out")->m_opened + r.Find("JACK: a:out")->m_started, 0);
  EXPECT_EQ(r.Find("JACK: a:out")->m_enabled, 1);
  // Commands queued before the close but not yet run are still delivered once.
  r.poster.RunPending();
  EXPECT_EQ(r.heard.size(), 4u);
}

TEST(MidiControl, APortThatGoesIsClosedAndOpensAgainWhenItComesBack) {
  Rig r;
  r.ports.Set({"a:out", "broken:out"});
  r.control.EnumerateMidiDevices();
  for (auto& d : r.control.Devices()) d->m_enabled = 1;
  r.control.ConnectMidi();
  ASSERT_TRUE(r.ports.IsOpen("a:out"));
  CMidiDevice* a = r.Find("JACK: a:out");

  r.ports.Set({"broken:out"});
  ASSERT_TRUE(r.RunUntil([&] { return a->m_opened == 0; }));
  EXPECT_FALSE(r.ports.IsOpen("a:out"));
  EXPECT_EQ(a->m_present, 0);
  EXPECT_EQ(a->m_enabled, 1);

  // Back under another number, with a new port beside it.
  r.ports.Set({"new:out", "broken:out", "a:out"});
  ASSERT_TRUE(r.RunUntil([&] { return a->m_opened == 1; }));
  EXPECT_TRUE(r.ports.IsOpen("a:out"));
  EXPECT_EQ(a->m_deviceId, 2u);
  ASSERT_NE(r.Find("JACK: new:out"), nullptr);
  EXPECT_EQ(r.Find("JACK: new:out")->m_opened, 0);  // not checked
  r.ports.Send("a:out", {0x91, 1, 1});
  ASSERT_TRUE(r.RunUntil([&] { return r.heard.size() == 1; }));

  // Where new ports named so are wanted, one that appears is opened.
  r.control.SetCheckNewPorts(
      [](const MidiPortInfo& p) { return p.systemName.rfind("desk", 0) == 0; });
  r.ports.Set({"new:out", "broken:out", "a:out", "desk:keys", "other:out"});
  ASSERT_TRUE(r.RunUntil([&] { return r.ports.IsOpen("desk:keys"); }));
  ASSERT_TRUE(r.RunUntil([&] { return r.Find("JACK: other:out") != nullptr; }));
  EXPECT_EQ(r.Find("JACK: other:out")->m_enabled, 0);
  // The port that keeps failing was tried again but reported only once.
  EXPECT_GE(r.ports.opens, 4);
  EXPECT_EQ(r.messages.messages.size(), 1u);
}

TEST(MidiControl, EveryMessageOfAFloodIsDeliveredOrCounted) {
  Rig r;
  r.ports.Set({"a:out"});
  r.control.EnumerateMidiDevices();
  r.control.Devices()[0]->m_enabled = 1;
  r.control.ConnectMidi();
  // The UI thread runs nothing meanwhile; the dispatcher posts what it can.
  for (int i = 0; i < 5000; ++i) r.ports.Send("a:out", {0x91, 60, 1});
  ASSERT_TRUE(r.RunUntil([&] { return r.control.Received() + r.control.Dropped() == 5000; }));
  r.poster.RunPending();
  EXPECT_EQ(r.heard.size(), r.control.Received());
}

}  // namespace
}  // namespace orvex::midi
