// Real MIDI bytes from a JACK MIDI port of the test into Orvex's input on a
// private JACK server of the dummy driver, checked on the console.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/ConsoleRig.h"
#include "midi/JackMidiSender.h"
#include "midi/MidiControl.h"
#include "output/JackServer.h"

namespace orvex {
namespace {

using midi::CMidiDevice;

class MidiOnJack : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Ready());
    setenv("JACK_DEFAULT_SERVER", server.Name().c_str(), 1);
    sender = std::make_unique<test::JackMidiSender>(server.Name(), "orvex-test", "midi_out");
    ASSERT_TRUE(sender->Ok());
    // Two cues on each channel, 5 s of sound each with a 2 s fade-out; G1
    // and G2 take none.
    for (int ch = 1; ch <= 6; ++ch) {
      const std::string file = "c" + std::to_string(ch) + ".wav";
      show.Dc(file, 5000);
      show.Add(ch, Cue(ch, file, 10, 0, 2));
      show.Add(ch, Cue(10 + ch, file, 10, 0, 2));
    }
    rig = std::make_unique<ConsoleRig>(show);
    ports = midi::MakeSystemMidiPorts();
    control =
        std::make_unique<midi::CMidiControl>(*ports, poster, [this](const midi::MidiEvent& e) {
          for (const ConsoleCommand& c : e.commands) rig->C().Execute(c);
          ++heard;
        });
  }
  void TearDown() override {
    control.reset();
    unsetenv("JACK_DEFAULT_SERVER");
  }

  // Connects the test's port with the given mode and channel table.
  CMidiDevice& Connect(int mode = 1,
                       std::array<int, midi::kMidiTargets> channels = midi::kDefaultMidiChannels) {
    control->EnumerateMidiDevices();
    CMidiDevice* found = nullptr;
    for (auto& d : control->Devices())
      if (d->PortName() == "JACK: orvex-test:midi_out") found = d.get();
    EXPECT_NE(found, nullptr);
    if (!found) std::abort();
    found->m_enabled = 1;
    found->m_mode = mode;
    found->m_channels = channels;
    control->ConnectMidi();
    EXPECT_EQ(found->m_opened, 1);
    EXPECT_TRUE(sender->WaitConnected());
    return *found;
  }

  // Sends one message and runs the UI thread's work until it has acted (or,
  // for a message that asks nothing, a while).
  void Send(std::vector<uint8_t> bytes, bool acts = true) {
    const int before = heard;
    sender->Send(std::move(bytes));
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(acts ? 5000 : 150);
    while (heard == before && std::chrono::steady_clock::now() < deadline) {
      poster.RunPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(heard, before + (acts ? 1 : 0)) << "bytes " << int(bytes.empty() ? 0 : bytes[0]);
    rig->session.Settle();
  }
  size_t Count(ConsoleEvent::Kind kind, int fader = -1) { return rig->Events(kind, fader).size(); }

  test::JackServer server{test::PrivateServerName("midi")};
  std::unique_ptr<test::JackMidiSender> sender;
  TestShow show;
  std::unique_ptr<ConsoleRig> rig;
  ManualUiPoster poster;
  std::unique_ptr<midi::MidiPortSystem> ports;
  std::unique_ptr<midi::CMidiControl> control;
  int heard = 0;
};

TEST_F(MidiOnJack, NotesAndProgramChangesPressTheButtons) {
  Connect();
  // GO button on MIDI channel 1: any note on.
  Send({0x90, 60, 1});
  EXPECT_EQ(Count(ConsoleEvent::Kind::kGo), 1u);
  EXPECT_EQ(Count(ConsoleEvent::Kind::kPlay, 1), 1u);
  // CH1 on channel 2: note off with velocity 64 is "F. O" ...
  Send({0x81, 60, 64});
  EXPECT_TRUE(rig->C().FadeOutActive(1));
  // ... note on with velocity 0 is "Play", and note off with velocity 0 "Stop".
  Send({0x92, 60, 0});
  EXPECT_EQ(Count(ConsoleEvent::Kind::kPlay, 2), 1u);
  const size_t stops = Count(ConsoleEvent::Kind::kStop, 2);
  Send({0x82, 60, 0});
  EXPECT_EQ(Count(ConsoleEvent::Kind::kStop, 2), stops + 1);
  EXPECT_FALSE(rig->C().FadeOutActive(2));
  // Program change on CH3's channel: NEXT.
  const int before = rig->C().CurrentRecord(3);
  Send({0xC3, 0});
  EXPECT_EQ(rig->C().CurrentRecord(3), before + 1);
  // Program change on the GO button's channel: every channel to its first cue.
  Send({0xC0, 0});
  EXPECT_EQ(rig->C().CurrentRecord(3), 1);
  // A message for nobody does nothing.
  Send({0x9A, 60, 100}, false);
  Send({0xF8}, false);
}

TEST_F(MidiOnJack, ControllersMoveFadersAndPan) {
  Connect();
  Send({0xB3, 7, 127});
  EXPECT_EQ(rig->C().FaderValue(3), 65535u);
  Send({0xB3, 7, 0});
  EXPECT_EQ(rig->C().FaderValue(3), 0u);
  Send({0xB3, 7, 64});
  EXPECT_EQ(rig->C().FaderValue(3), static_cast<uint32_t>(64 / 127.0 * 65535));
  const std::pair<int, int> pans[] = {{0, -10000}, {1, -10000}, {64, 0}, {127, 10000}, {96, 5079}};
  for (auto [value, pan] : pans) {
    Send({0xB6, 10, static_cast<uint8_t>(value)});
    EXPECT_EQ(rig->C().Pan(6), pan) << value;
    EXPECT_EQ(show.settings.panCh[6], pan) << value;  // kept as PANCH6
  }
  // Controller 120 on the GO button's channel: STOP ALL.
  Send({0x91, 60, 100});
  EXPECT_EQ(Count(ConsoleEvent::Kind::kPlay, 1), 1u);
  const size_t stops = Count(ConsoleEvent::Kind::kStop, 1);
  Send({0xB0, 120, 0});
  EXPECT_EQ(Count(ConsoleEvent::Kind::kStop, 1), stops + 1);
}

TEST_F(MidiOnJack, SharedChannelsActInTableOrder) {
  // GO, CH2 and CH4 all on MIDI channel 5.
  Connect(0, {4, -1, 4, -1, 4, -1, -1});
  Send({0x94, 60, 90});
  const std::vector<ConsoleEvent> events = rig->session.Events();
  std::vector<int> order;
  for (const ConsoleEvent& e : events)
    if (e.kind == ConsoleEvent::Kind::kGo)
      order.push_back(0);
    else if (e.kind == ConsoleEvent::Kind::kPlay)
      order.push_back(e.fader);
  // GO comes first (it fires cue 1 on CH1), then CH2 and CH4 play.
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(order[0], 0);
  EXPECT_EQ(std::vector<int>(order.end() - 2, order.end()), (std::vector<int>{2, 4}));
}

TEST_F(MidiOnJack, StartAndStopFollowTheMode) {
  const std::array<int, midi::kMidiTargets> none{-1, -1, -1, -1, -1, -1, -1};
  {
    Connect(0, none);
    Send({0xFA}, false);
    EXPECT_EQ(Count(ConsoleEvent::Kind::kGo), 0u);
    control->DisconnectMidi();
    EXPECT_TRUE(sender->WaitConnected(false));
  }
  {
    Connect(1, none);
    Send({0xFA});
    EXPECT_EQ(Count(ConsoleEvent::Kind::kGo), 1u);
    EXPECT_EQ(Count(ConsoleEvent::Kind::kPlay, 1), 1u);
    const size_t stops = Count(ConsoleEvent::Kind::kStop, 1);
    Send({0xFC});
    EXPECT_EQ(Count(ConsoleEvent::Kind::kStop, 1), stops + 1);
    control->DisconnectMidi();
    EXPECT_TRUE(sender->WaitConnected(false));
  }
  {
    Connect(2, none);
    rig->C().Execute(cmd::ClockText{"00:01:00.0"});
    Send({0xFA});
    EXPECT_TRUE(rig->C().TimelineRunning());
    EXPECT_EQ(rig->C().Clock(), 0u);  // zeroed before it ran
    Send({0xFC});
    EXPECT_FALSE(rig->C().TimelineRunning());
    Send({0xFB});
    EXPECT_TRUE(rig->C().TimelineRunning());
  }
}

TEST_F(MidiOnJack, APortUnpluggedWhileConnectedIsOpenedAgainWhenItReturns) {
  CMidiDevice& d = Connect();
  sender->Unregister();
  const auto wait = [&](const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      poster.RunPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
  };
  ASSERT_TRUE(wait([&] { return d.m_opened == 0; }));
  EXPECT_EQ(d.m_enabled, 1);
  sender->Register();
  ASSERT_TRUE(wait([&] { return d.m_opened == 1 && sender->Connected(); }));
  Send({0x90, 60, 100});
  EXPECT_EQ(Count(ConsoleEvent::Kind::kGo), 1u);

  // The whole client goes, then one of the same name comes.
  sender.reset();
  ASSERT_TRUE(wait([&] { return d.m_opened == 0; }));
  sender = std::make_unique<test::JackMidiSender>(server.Name(), "orvex-test", "midi_out");
  ASSERT_TRUE(wait([&] { return d.m_opened == 1 && sender->Connected(); }));
  Send({0x90, 60, 100});
  EXPECT_EQ(Count(ConsoleEvent::Kind::kGo), 2u);
}

// Run by hand (--gtest_also_run_disabled_tests): a server stopped while
// clients are connected dies of SIGPIPE on its way out and leaves its entry
// in the machine's JACK server registry, which holds eight; a few runs would
// keep every JACK server on the machine from starting.
TEST_F(MidiOnJack, DISABLED_TheServerGoingAwayNeitherCrashesNorHangs) {
  CMidiDevice& d = Connect();
  server.Stop(SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (d.m_opened && std::chrono::steady_clock::now() < deadline) {
    poster.RunPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(d.m_opened, 0);
  control->DisconnectMidi();
  sender.reset();
}

}  // namespace
}  // namespace orvex
