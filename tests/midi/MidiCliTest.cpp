// orvex-cli with MIDI on a private JACK server: the port list, and a show
// played from a MIDI port whose name is given on the command line.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "integration/ServerRig.h"
#include "midi/JackMidiSender.h"
#include "output/JackServer.h"
#include "show/Cp932.h"
#include "show/IniFile.h"
#include "show/Settings.h"

namespace orvex {
namespace {

const std::string kCli = ORVEX_BIN_DIR "/orvex-cli";

class MidiCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Ready());
    setenv("JACK_DEFAULT_SERVER", server.Name().c_str(), 1);
    // No sound server: JACK is the only device.
    setenv("PULSE_SERVER", ("unix:" + dir.File("no-server")).c_str(), 1);
    sender = std::make_unique<test::JackMidiSender>(server.Name(), "desk", "keys");
    ASSERT_TRUE(sender->Ok());
  }
  void TearDown() override {
    unsetenv("PULSE_SERVER");
    unsetenv("JACK_DEFAULT_SERVER");
  }
  std::string Settings(const orvex::Settings& s) {
    IniFile ini;
    s.Save(ini);
    EXPECT_TRUE(ini.Save(dir.File("settings.ini")));
    return dir.File("settings.ini");
  }

  test::JackServer server{test::PrivateServerName("midicli")};
  TempDir dir;
  std::unique_ptr<test::JackMidiSender> sender;
};

TEST_F(MidiCli, PortsAreListedWithTheirApiAndIdentity) {
  const pid_t p = Spawn({kCli, "midi", "ports"}, dir.File("out"), dir.File("err"));
  ASSERT_EQ(WaitExit(p, 20), 0) << dir.Read("err");
  EXPECT_NE(dir.Read("out").find("{\"api\": \"JACK\", \"name\": \"desk:keys\", \"identity\": "
                                 "{\"manufacturer\": 0, \"product\": 0, \"name\": \"JACK: "
                                 "desk:keys\"}}\n"),
            std::string::npos)
      << dir.Read("out");
}

TEST_F(MidiCli, PlayConnectsTheNamedPortAndPrintsWhatItsMessagesDid) {
  // Two cues on CH1; the Master output on JACK.
  dir.Write("snd/a.wav", ToneWav(1, 8000));
  dir.Write("show.csv", *Utf8ToCp932("snd,\r\n1,1,a,a.wav,10,0,0,,0,1,0,0,0,\r\n"
                                     "2,1,b,a.wav,10,0,0,,0,1,0,0,0,\r\n"));
  orvex::Settings s;
  s.deviceType[0] = "ASIO";
  s.deviceName[0] = "JACK";
  const pid_t play = Spawn({kCli, "play", dir.File("show.csv"), "--settings", Settings(s),
                            "--length", "6", "--midi", "desk"},
                           dir.File("play.out"), dir.File("play.err"));
  ASSERT_TRUE(sender->WaitConnected(true, 10)) << dir.Read("play.err");
  sender->Send({0xFA});  // mode 1: GO
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  sender->Send({0xB1, 10, 127});  // CH1 pan right
  sender->Send({0x81, 60, 0});    // CH1 stop
  ASSERT_EQ(WaitExit(play, 30), 0) << dir.Read("play.err");
  const std::string out = dir.Read("play.out");
  const std::string err = dir.Read("play.err");
  EXPECT_NE(err.find("midi: desk:keys (mode 1)"), std::string::npos) << err;
  const size_t midiGo = out.find(
      "\"event\": \"midi\", \"port\": \"JACK: desk:keys\", \"bytes\": "
      "\"FA\", \"commands\": [\"go\"]");
  const size_t go = out.find("\"event\": \"go\"");
  ASSERT_NE(midiGo, std::string::npos) << out;
  ASSERT_NE(go, std::string::npos) << out;
  EXPECT_LT(midiGo, go);
  EXPECT_NE(out.find("\"bytes\": \"B1 0A 7F\", \"commands\": [\"pan:1=10000\"]"), std::string::npos)
      << out;
  EXPECT_NE(out.find("\"commands\": [\"stop:1\"]"), std::string::npos) << out;
  EXPECT_NE(out.find("\"event\": \"stop\", \"ch\": 1"), std::string::npos) << out;
}

TEST_F(MidiCli, WithoutTheOptionTheSettingsDecide) {
  dir.Write("show.csv", *Utf8ToCp932("snd,\r\n"));
  orvex::Settings s;
  s.midiConnect = 0;
  const std::string ini = Settings(s);
  pid_t play = Spawn({kCli, "play", dir.File("show.csv"), "--settings", ini, "--length", "1"},
                     dir.File("play.out"), dir.File("play.err"));
  EXPECT_FALSE(sender->WaitConnected(true, 0.8));
  ASSERT_EQ(WaitExit(play, 30), 0) << dir.Read("play.err");
  // A settings file that checks the port, and CONNECT: it is connected.
  const std::string cnf = std::string("\1\0\0\0\1\0\0\0\x10\0\0\0\7\0\0\0", 16);
  std::string caps(76, '\0');
  const std::string name = "JACK: desk:keys";
  for (size_t i = 0; i < name.size(); ++i) caps[8 + 2 * i] = name[i];
  dir.Write("desk.cnf", cnf + caps + std::string("\1\1\0\1\2\3\4\5\6", 9));
  s.midiConnect = 1;
  s.midiConfFile = dir.File("desk.cnf");
  play = Spawn({kCli, "play", dir.File("show.csv"), "--settings", Settings(s), "--length", "3"},
               dir.File("play.out"), dir.File("play.err"));
  EXPECT_TRUE(sender->WaitConnected(true, 10)) << dir.Read("play.err");
  ASSERT_EQ(WaitExit(play, 30), 0) << dir.Read("play.err");
}

}  // namespace
}  // namespace orvex
