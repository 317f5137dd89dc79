// The ALSA sequencer: a port of the test's own is listed by its identity,
// opened and heard. Only where the kernel offers the sequencer.
#include <RtMidi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "engine/ConsoleCommandText.h"
#include "midi/MidiControl.h"

namespace orvex::midi {
namespace {

TEST(MidiOnAlsa, AVirtualPortIsListedOpenedAndHeard) {
  if (access("/dev/snd/seq", R_OK | W_OK) != 0)
    GTEST_SKIP() << "no ALSA sequencer on this machine (/dev/snd/seq); its ports are not tested";
  RtMidiOut out(RtMidi::LINUX_ALSA, "orvex-test");
  out.openVirtualPort("keys");
  auto ports = MakeSystemMidiPorts();
  ManualUiPoster poster;
  std::vector<std::string> heard;
  CMidiControl control(*ports, poster, [&](const MidiEvent& e) {
    for (const ConsoleCommand& c : e.commands) heard.push_back(FormatConsoleCommand(c));
  });
  control.EnumerateMidiDevices();
  CMidiDevice* keys = nullptr;
  for (auto& d : control.Devices())
    if (d->PortName() == "ALSA: orvex-test:keys") keys = d.get();
  ASSERT_NE(keys, nullptr);
  EXPECT_EQ(keys->m_api, MidiApi::kAlsa);
  keys->m_enabled = 1;
  control.ConnectMidi();
  ASSERT_EQ(keys->m_opened, 1);
  std::vector<unsigned char> note{0x91, 60, 100};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (heard.empty() && std::chrono::steady_clock::now() < deadline) {
    out.sendMessage(&note);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    poster.RunPending();
  }
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard[0], "play:1");
  control.DisconnectMidi();
  EXPECT_EQ(keys->m_opened, 0);
}

}  // namespace
}  // namespace orvex::midi
