// What an OSC message asks of the console. A pure function of the address
// and the arguments, so the server thread only parses and posts.
//
//   /orvex/go, /orvex/stopall                 GO, STOP ALL
//   /orvex/ch/N/play|pause|stop|fo|next       a channel's buttons, N 1..6
//   /orvex/fader/N LEVEL                      fader N 1..8 to LEVEL 0..10
//   /orvex/pan/N P                            pan of channel N, P -10000..10000
//   /orvex/callup [Q]                         every fader to cue Q (none: the
//                                             number the next-cue box holds)
//   /orvex/autorun run|stop|zero              the auto-run clock
//   /orvex/state                              asks for the cue state only
//   /orvex/subscribe, /orvex/unsubscribe      the cue state pushed on change
//
// A button message may carry one number, as touch surfaces send 1 on press
// and 0 on release: 0 does nothing, so a release never presses twice.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "engine/ConsoleCommand.h"

namespace orvex::remote {

using OscArg = std::variant<int32_t, int64_t, float, double, std::string>;

struct OscRequest {
  enum class Kind { kIgnored, kCommands, kRelease, kState, kSubscribe, kUnsubscribe };
  Kind kind = Kind::kIgnored;
  std::vector<ConsoleCommand> commands;
};

OscRequest MapOscMessage(const std::string& path, const std::vector<OscArg>& args);

}  // namespace orvex::remote
