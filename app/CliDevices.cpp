#include "app/CliDevices.h"
#include "app/CliSettings.h"

#include <cstdio>

#include "app/Json.h"
#include "output/OutputDevices.h"
#include "show/IniFile.h"

namespace orvex {

int RunDevicesCommand(const std::vector<std::string>& args, const std::string& settingsPath) {
  if (!args.empty()) {
    std::fprintf(stderr, "usage: orvex-cli devices [--settings FILE]\n");
    return 2;
  }
  Settings settings;
  if (!LoadCliSettings("devices", settingsPath, settings)) return 1;
  OutputSettings outputs;
  outputs.jackServers = settings.jackServers;
  COutputDevices devices(outputs);
  devices.ListAllDevices();
  const CSoundDevice& d = devices.Device(0);
  for (int i = 0; i < d.Count(); ++i) {
    const char* kind = d.KindOf(i) == DeviceKind::kXAudio   ? "DS"
                       : d.KindOf(i) == DeviceKind::kWasapi ? "WASAPI"
                                                            : "ASIO";
    std::printf("%s\n", JsonObject()
                            .Add("index", i)
                            .Add("kind", kind)
                            .Add("id", d.GetDeviceId(i))
                            .Add("name", d.DisplayName(i))
                            .Text()
                            .c_str());
  }
  return 0;
}

}  // namespace orvex
