// The timed console commands of orvex-cli render and play.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ConsoleCommand.h"

namespace orvex {

struct RenderAction {
  uint32_t timeMs = 0;
  ConsoleCommand command;
};

// A whole finite number.
bool ParseCliNumber(const std::string& s, double& out);

// The options every timed command takes: --length SECONDS, and --at SECONDS
// ACTION as often as wanted.
struct TimedOptions {
  double length = 60;
  std::vector<RenderAction> actions;
};
enum class OptionResult { kNotMine, kTaken, kBad };
// Looks at args[i]: takes a timed option and its values (i moves past them),
// or says it is not one. A bad time or action is reported on standard error,
// named by `command`.
OptionResult ParseTimedOption(const char* command, const std::vector<std::string>& args, size_t& i,
                              TimedOptions& o);
// Actions at the same time keep their command-line order.
void SortActions(TimedOptions& o);

}  // namespace orvex
