// The console actions a render applies at given times.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

class CConsole;

struct RenderAction {
  uint32_t timeMs = 0;
  std::string text;  // as given, for messages
};

// Checks an action's form; returns an error text, or nothing when it is valid.
std::optional<std::string> CheckRenderAction(const std::string& action);
// Applies a valid action to the console.
void ApplyRenderAction(const std::string& action, CConsole& console);

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
