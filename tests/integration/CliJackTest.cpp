// `orvex-cli play` on a private JACK server of the dummy driver that the
// test starts: the JACK client opens once, on what was chosen.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "integration/ServerRig.h"
#include "output/JackServer.h"
#include "show/Cp932.h"
#include "show/IniFile.h"
#include "show/Settings.h"

namespace orvex {
namespace {

const std::string kCli = ORVEX_BIN_DIR "/orvex-cli";

// Counts the registrations of Orvex's first output port on a server.
class PortWatcher {
 public:
  explicit PortWatcher(const std::string& server) {
    jack_status_t status{};
    client_ =
        jack_client_open("watcher", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                         &status, server.c_str());
    if (!client_) return;
    jack_set_port_registration_callback(client_, &PortWatcher::OnPort, this);
    jack_activate(client_);
  }
  ~PortWatcher() {
    if (client_) jack_client_close(client_);
  }
  bool Ok() const { return client_ != nullptr; }
  int Registrations() const { return registrations_.load(); }

 private:
  static void OnPort(jack_port_id_t id, int registered, void* arg) {
    auto* self = static_cast<PortWatcher*>(arg);
    const jack_port_t* port = jack_port_by_id(self->client_, id);
    if (registered && port && std::string(jack_port_name(port)) == "Orvex:out_1")
      self->registrations_.fetch_add(1);
  }
  jack_client_t* client_ = nullptr;
  std::atomic<int> registrations_{0};
};

TEST(CliOnJack, PlayWithTheDeviceTheSettingsAlreadyChooseOpensTheClientOnce) {
  test::JackServer server(test::PrivateServerName("cli"));
  ASSERT_TRUE(server.Ready());
  setenv("JACK_DEFAULT_SERVER", server.Name().c_str(), 1);
  TempDir dir;
  // No sound server: JACK is the only device.
  setenv("PULSE_SERVER", ("unix:" + dir.File("no-server")).c_str(), 1);
  dir.Write("show.csv", *Utf8ToCp932("snd,\r\n"));
  Settings settings;
  settings.deviceType[0] = "ASIO";
  settings.deviceName[0] = "JACK";
  IniFile ini;
  settings.Save(ini);
  ASSERT_TRUE(ini.Save(dir.File("settings.ini")));

  PortWatcher watcher(server.Name());
  ASSERT_TRUE(watcher.Ok());
  const pid_t devices = Spawn({kCli, "devices", "--settings", dir.File("settings.ini")},
                              dir.File("devices.out"), dir.File("devices.err"));
  ASSERT_EQ(WaitExit(devices, 20), 0) << dir.Read("devices.err");
  const std::string list = dir.Read("devices.out");
  ASSERT_EQ(list.rfind("{\"index\": 0, \"kind\": \"ASIO\"", 0), 0u) << list;

  const pid_t play = Spawn({kCli, "play", dir.File("show.csv"), "--settings",
                            dir.File("settings.ini"), "--device", "0=0", "--length", "0.5"},
                           dir.File("play.out"), dir.File("play.err"));
  ASSERT_EQ(WaitExit(play, 30), 0) << dir.Read("play.err");
  const std::string err = dir.Read("play.err");
  EXPECT_NE(err.find("output 0: ASIO: JACK\n"), std::string::npos) << err;
  EXPECT_EQ(watcher.Registrations(), 1) << err;
  unsetenv("PULSE_SERVER");
  unsetenv("JACK_DEFAULT_SERVER");
}

}  // namespace
}  // namespace orvex
