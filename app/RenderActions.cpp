#include "app/RenderActions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "engine/ConsoleCommandText.h"

namespace orvex {

bool ParseCliNumber(const std::string& s, double& out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size() && std::isfinite(out);
}

OptionResult ParseTimedOption(const char* command, const std::vector<std::string>& args, size_t& i,
                              TimedOptions& o) {
  const std::string& a = args[i];
  double number = 0;
  if (a == "--length" && i + 1 < args.size()) {
    if (!ParseCliNumber(args[i + 1], number) || number <= 0 || number > 24 * 3600)
      return OptionResult::kNotMine;
    o.length = number;
    ++i;
    return OptionResult::kTaken;
  }
  if (a != "--at" || i + 2 >= args.size()) return OptionResult::kNotMine;
  if (!ParseCliNumber(args[i + 1], number) || number < 0) {
    std::fprintf(stderr, "orvex-cli %s: bad time '%s'\n", command, args[i + 1].c_str());
    return OptionResult::kBad;
  }
  const std::string& action = args[i + 2];
  ParsedCommand parsed = ParseConsoleCommand(action);
  if (!parsed.command) {
    std::fprintf(stderr, "orvex-cli %s: '%s': %s\n", command, action.c_str(), parsed.error.c_str());
    return OptionResult::kBad;
  }
  o.actions.push_back({static_cast<uint32_t>(std::llround(number * 1000)), *parsed.command});
  i += 2;
  return OptionResult::kTaken;
}

void SortActions(TimedOptions& o) {
  std::stable_sort(
      o.actions.begin(), o.actions.end(),
      [](const RenderAction& a, const RenderAction& b) { return a.timeMs < b.timeMs; });
}

}  // namespace orvex
