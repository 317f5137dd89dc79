#include "app/RenderActions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/Console.h"

namespace orvex {
namespace {

struct Parsed {
  std::string verb;   // "play", "fader", "master", ...
  int index = 0;      // N of "verb:N..."
  std::string value;  // after '='
};

bool ToInt(const std::string& s, int& out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

bool ToDouble(const std::string& s, double& out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size() && std::isfinite(out);
}

Parsed Split(const std::string& action) {
  Parsed p;
  const size_t eq = action.find('=');
  std::string head = action.substr(0, eq);
  if (eq != std::string::npos) p.value = action.substr(eq + 1);
  const size_t colon = head.find(':');
  p.verb = head.substr(0, colon);
  if (colon != std::string::npos && !ToInt(head.substr(colon + 1), p.index)) p.index = -1;
  return p;
}

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (comma > start) items.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

// Trackbar position of a level moved to by hand (0 = top = 10).
int TrackbarOf(double level) {
  return static_cast<int>(std::lround((1 - level / 10) * 100));
}

bool Has(const std::vector<std::string>& items, const char* name) {
  for (const std::string& i : items)
    if (i == name) return true;
  return false;
}

// Runs the handler of each toggle whose checked state changes, in the order
// of the strip, as an operator clicking them would.
void ApplyRoute(CConsole& console, int fader, const std::vector<std::string>& items) {
  if (fader <= kChannels) {
    const std::pair<Route, const char*> toggles[] = {{Route::kM, "M"},
                                                     {Route::kG1, "G1"},
                                                     {Route::kG2, "G2"},
                                                     {Route::kX, "X"},
                                                     {Route::kY, "Y"}};
    for (const auto& [route, name] : toggles) {
      const RouteState s = console.ChannelRoute(fader);
      const bool now = route == Route::kM    ? s.m
                       : route == Route::kG1 ? s.g1
                       : route == Route::kG2 ? s.g2
                       : route == Route::kX  ? s.x
                                             : s.y;
      if (now != Has(items, name)) console.SetChannelRoute(fader, route, Has(items, name));
    }
    return;
  }
  const int g = fader - kChannels;
  const std::pair<Route, const char*> toggles[] = {
      {Route::kM, "M"}, {Route::kOn, "ON"}, {Route::kX, "X"}, {Route::kY, "Y"}};
  for (const auto& [route, name] : toggles) {
    const RouteState s = console.GroupRoute(g);
    const bool now = route == Route::kM    ? s.m
                     : route == Route::kOn ? s.on
                     : route == Route::kX  ? s.x
                                           : s.y;
    if (now != Has(items, name)) console.SetGroupRoute(g, route, Has(items, name));
  }
}

}  // namespace

std::optional<std::string> CheckRenderAction(const std::string& action) {
  const Parsed p = Split(action);
  const bool hasIndex =
      action.find(':') != std::string::npos && action.find(':') < action.find('=');
  double number = 0;
  int whole = 0;
  if (p.verb == "go" || p.verb == "stopall" || p.verb == "prev" || p.verb == "nextq")
    return action == p.verb ? std::nullopt : std::optional<std::string>("takes no value");
  if (p.verb == "play" || p.verb == "pause" || p.verb == "stop" || p.verb == "fo" ||
      p.verb == "next")
    return hasIndex && p.index >= 1 && p.index <= 6 && action.find('=') == std::string::npos
               ? std::nullopt
               : std::optional<std::string>("needs a channel 1 to 6");
  if (p.verb == "fader")
    return p.index >= 1 && p.index <= 8 && ToDouble(p.value, number) && number >= 0 && number <= 10
               ? std::nullopt
               : std::optional<std::string>("needs fader:N=L with N 1 to 8 and L 0 to 10");
  if (p.verb == "master")
    return ToDouble(p.value, number) && number >= 0 && number <= 10
               ? std::nullopt
               : std::optional<std::string>("needs a level 0 to 10");
  if (p.verb == "cross")
    return ToInt(p.value, whole) && whole >= 0 && whole <= 100
               ? std::nullopt
               : std::optional<std::string>("needs a position 0 to 100");
  if (p.verb == "callup")
    return ToDouble(p.value, number) ? std::nullopt
                                     : std::optional<std::string>("needs a Q number");
  if (p.verb == "route") {
    if (p.index < 1 || p.index > 8) return "needs route:N=LIST with N 1 to 8";
    for (const std::string& item : SplitList(p.value)) {
      if (item != "M" && item != "G1" && item != "G2" && item != "X" && item != "Y" && item != "ON")
        return "unknown routing toggle " + item;
    }
    return std::nullopt;
  }
  if (p.verb == "pan")
    return p.index >= 1 && p.index <= 6 && ToInt(p.value, whole) && whole >= -10000 &&
                   whole <= 10000
               ? std::nullopt
               : std::optional<std::string>("needs pan:N=P with N 1 to 6 and P -10000 to 10000");
  if (p.verb == "autonext")
    return p.value == "0" || p.value == "1" ? std::nullopt
                                            : std::optional<std::string>("needs 0 or 1");
  if (p.verb == "autorun")
    return p.value == "run" || p.value == "stop" || p.value == "zero" || p.value == "timing"
               ? std::nullopt
               : std::optional<std::string>("needs run, stop, zero or timing");
  if (p.verb == "clock")
    return action.find('=') != std::string::npos ? std::nullopt
                                                 : std::optional<std::string>("needs clock=TEXT");
  if (p.verb == "knee") {
    const size_t comma = p.value.find(',');
    double point = 0, level = 0;
    return comma != std::string::npos && ToDouble(p.value.substr(0, comma), point) &&
                   ToDouble(p.value.substr(comma + 1), level) && point >= 0 && point <= 10 &&
                   level >= 0 && level <= 10
               ? std::nullopt
               : std::optional<std::string>("needs knee=POINT,LEVEL with both 0 to 10");
  }
  return "unknown action";
}

void ApplyRenderAction(const std::string& action, CConsole& console) {
  const Parsed p = Split(action);
  double number = 0;
  int whole = 0;
  if (p.verb == "go")
    console.ExecuteGo();
  else if (p.verb == "stopall")
    console.StopAll();
  else if (p.verb == "prev")
    console.Previous();
  else if (p.verb == "nextq")
    console.Next();
  else if (p.verb == "play")
    console.PlayChannel(p.index);
  else if (p.verb == "pause")
    console.PauseChannel(p.index);
  else if (p.verb == "stop")
    console.StopChannel(p.index);
  else if (p.verb == "fo")
    console.FadeOutChannel(p.index);
  else if (p.verb == "next")
    console.NextChannel(p.index);
  else if (p.verb == "fader" && ToDouble(p.value, number))
    console.MoveFader(p.index, TrackbarOf(number));
  else if (p.verb == "master" && ToDouble(p.value, number))
    console.MoveMaster(TrackbarOf(number));
  else if (p.verb == "cross" && ToInt(p.value, whole))
    console.MoveCross(whole);
  else if (p.verb == "callup") {
    console.SetNextCueText(p.value);
    console.CallUp();
  } else if (p.verb == "route")
    ApplyRoute(console, p.index, SplitList(p.value));
  else if (p.verb == "pan" && ToInt(p.value, whole))
    console.SetPan(p.index, whole);
  else if (p.verb == "autonext")
    console.SetAutoNext(p.value == "1");
  else if (p.verb == "autorun") {
    if (p.value == "run")
      console.RunTimeline();
    else if (p.value == "stop")
      console.StopTimeline();
    else if (p.value == "zero")
      console.ZeroReset();
    else
      console.SetToNextTiming();
  } else if (p.verb == "clock")
    console.SetClockText(p.value);
  else if (p.verb == "knee") {
    const size_t comma = p.value.find(',');
    double point = 0, level = 0;
    if (ToDouble(p.value.substr(0, comma), point) && ToDouble(p.value.substr(comma + 1), level))
      console.SetKnee(point, level);
  }
}

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
  if (auto error = CheckRenderAction(action)) {
    std::fprintf(stderr, "orvex-cli %s: '%s': %s\n", command, action.c_str(), error->c_str());
    return OptionResult::kBad;
  }
  o.actions.push_back({static_cast<uint32_t>(std::llround(number * 1000)), action});
  i += 2;
  return OptionResult::kTaken;
}

void SortActions(TimedOptions& o) {
  std::stable_sort(
      o.actions.begin(), o.actions.end(),
      [](const RenderAction& a, const RenderAction& b) { return a.timeMs < b.timeMs; });
}

}  // namespace orvex
