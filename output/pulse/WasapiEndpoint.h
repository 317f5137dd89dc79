// A sound-server sink as a WASAPI-style endpoint: the device behind an
// output in shared mode, or, through its ALSA hardware, in exclusive mode.
// Owned by the output set-up; players hold it until they are unloaded.
#pragma once

#include <string>

#include "output/pulse/PulseServer.h"

namespace orvex {

struct WasapiEndpoint {
  pulse::PulseServer* server = nullptr;
  std::string id;    // the sink's name
  std::string name;  // its description
  int alsaCard = -1;
  int alsaDevice = -1;
};

}  // namespace orvex
