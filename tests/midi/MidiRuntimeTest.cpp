// The runtime's start-up and exit: MIDI after the outputs from CONF_FILE and
// CONNECT, OSC when enabled, both closed at exit.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/ManualTimerService.h"
#include "midi/FakeMidiPorts.h"
#include "midi/MidiSettingsFile.h"
#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "unit/MessageRecorder.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

// A UDP port free a moment ago.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  close(fd);
  return ntohs(a.sin_port);
}

struct RuntimeRig {
  RuntimeRig() : doc(dir.File("Orvex.ini")) {
    doc.LoadSettings();
    // The desk's port checked, in mode 2, CH1 on MIDI channel 16.
    midi::CMidiDeviceList list;
    list.push_back(std::make_unique<midi::CMidiDevice>());
    list[0]->m_caps = midi::CapsOfPort(midi::MidiApi::kJack, "desk:keys");
    list[0]->m_enabled = 1;
    list[0]->m_mode = 2;
    list[0]->m_channels = {0, 15, 2, 3, 4, 5, 6};
    EXPECT_TRUE(midi::SaveMidiSettings(dir.File("desk.cnf"), list));
  }
  std::unique_ptr<COrvexRuntime> Start() {
    auto runtime = std::make_unique<COrvexRuntime>(doc, poster, timers);
    auto fake = std::make_unique<midi::FakePorts>();
    ports = fake.get();
    ports->Set({"other:out", "desk:keys"});
    runtime->UseMidiPorts(std::move(fake));
    runtime->StartUp();
    return runtime;
  }

  MessageRecorder messages;
  TempDir dir;
  COrvexDoc doc;
  ManualTimerService timers;
  ManualUiPoster poster;
  midi::FakePorts* ports = nullptr;
};

TEST(MidiRuntime, StartUpConnectsWhatTheSettingsFileChecksAndExitClosesIt) {
  RuntimeRig r;
  r.doc.GetSettings().midiConfFile = r.dir.File("desk.cnf");
  r.doc.GetSettings().midiConnect = 1;
  auto runtime = r.Start();
  auto& devices = runtime->Midi().Devices();
  ASSERT_EQ(devices.size(), 2u);  // the file's record, then the new port
  EXPECT_EQ(devices[0]->m_mode, 2);
  EXPECT_TRUE(r.ports->IsOpen("desk:keys"));
  EXPECT_FALSE(r.ports->IsOpen("other:out"));

  // Controller 10 on MIDI channel 16 pans CH1 and is kept as PANCH1.
  r.ports->Send("desk:keys", {0xBF, 10, 0});
  for (int i = 0; i < 2000 && runtime->Console().Pan(1) == 0; ++i) {
    r.poster.RunPending();
    usleep(1000);
  }
  EXPECT_EQ(runtime->Console().Pan(1), -10000);
  EXPECT_EQ(r.doc.GetSettings().panCh[1], -10000);

  runtime->Shutdown();
  EXPECT_FALSE(r.ports->IsOpen("desk:keys"));
  EXPECT_EQ(devices[0]->m_opened, 0);
  EXPECT_TRUE(r.messages.messages.empty());
}

TEST(MidiRuntime, WithoutConnectOrWithAFileThatIsNotThereNothingOpens) {
  RuntimeRig r;
  r.doc.GetSettings().midiConfFile = r.dir.File("desk.cnf");
  r.doc.GetSettings().midiConnect = 0;
  {
    auto runtime = r.Start();
    EXPECT_EQ(runtime->Midi().Devices().size(), 2u);
    EXPECT_FALSE(r.ports->IsOpen("desk:keys"));
  }
  r.doc.GetSettings().midiConfFile = r.dir.File("gone.cnf");
  r.doc.GetSettings().midiConnect = 1;
  auto runtime = r.Start();
  // Both ports as new, unchecked records; no message about the file.
  ASSERT_EQ(runtime->Midi().Devices().size(), 2u);
  EXPECT_EQ(runtime->Midi().Devices()[0]->m_enabled, 0);
  EXPECT_FALSE(r.ports->IsOpen("desk:keys"));
  EXPECT_TRUE(r.messages.messages.empty());
}

TEST(MidiRuntime, OscListensOnlyWhenEnabled) {
  RuntimeRig r;
  {
    auto runtime = r.Start();
    EXPECT_EQ(runtime->Osc().Port(), 0);
  }
  const int port = FreePort();
  r.doc.GetSettings().oscEnable = 1;
  r.doc.GetSettings().oscPort = port;
  auto runtime = r.Start();
  EXPECT_EQ(runtime->Osc().Port(), port);
  // A second runtime cannot have the port: it says so.
  auto second = r.Start();
  EXPECT_EQ(second->Osc().Port(), 0);
  ASSERT_EQ(r.messages.messages.size(), 1u);
  EXPECT_NE(r.messages.messages[0].find("OSC"), std::string::npos);
  second.reset();
  runtime->Shutdown();
  EXPECT_EQ(runtime->Osc().Port(), 0);
}

}  // namespace
}  // namespace orvex
