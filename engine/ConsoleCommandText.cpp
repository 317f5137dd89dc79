#include "engine/ConsoleCommandText.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "show/TextNumbers.h"

namespace orvex {
namespace {

// "verb:N=value", each part optional.
struct Parts {
  std::string verb;
  bool hasIndex = false;
  int index = 0;  // -1 when the index is no whole number
  bool hasValue = false;
  std::string value;
};

bool ToInt(std::string_view s, int& out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

bool ToDouble(std::string_view s, double& out) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size() && std::isfinite(out);
}

bool InLevelRange(double v) {
  return v >= 0 && v <= 10;
}

Parts Split(std::string_view text) {
  Parts p;
  const size_t eq = text.find('=');
  const std::string_view head = text.substr(0, eq);
  if (eq != std::string_view::npos) {
    p.hasValue = true;
    p.value = std::string(text.substr(eq + 1));
  }
  const size_t colon = head.find(':');
  p.verb = std::string(head.substr(0, colon));
  if (colon != std::string_view::npos) {
    p.hasIndex = true;
    if (!ToInt(head.substr(colon + 1), p.index)) p.index = -1;
  }
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

// Trackbar position of a level moved to by hand (0 = top = 10), and back.
int TrackbarOf(double level) {
  return static_cast<int>(std::lround((1 - level / 10) * 100));
}
double LevelOf(int position) {
  return (100 - position) / 10.0;
}

struct RouteName {
  Route route;
  const char* name;
};
constexpr RouteName kRouteNames[] = {{Route::kM, "M"}, {Route::kG1, "G1"}, {Route::kG2, "G2"},
                                     {Route::kX, "X"}, {Route::kY, "Y"},   {Route::kOn, "ON"}};
constexpr const char* kBands[] = {"low", "mid", "high"};

std::optional<Route> RouteNamed(const std::string& name) {
  for (const RouteName& r : kRouteNames)
    if (name == r.name) return r.route;
  return std::nullopt;
}
const char* NameOf(Route route) {
  for (const RouteName& r : kRouteNames)
    if (r.route == route) return r.name;
  return "";
}
// Channels have no ON, groups no G1 or G2.
bool StripHas(int fader, Route route) {
  if (fader <= kChannels) return route != Route::kOn;
  return route != Route::kG1 && route != Route::kG2;
}

// The shortest text that reads back as the same float.
std::string FormatFloat(float v) {
  for (int precision = 1; precision < 9; ++precision) {
    std::string text = FormatG(v, precision);
    double back = 0;
    if (ToDouble(text, back) && static_cast<float>(back) == v) return text;
  }
  return FormatG(v, 9);
}

ParsedCommand Ok(ConsoleCommand c) {
  return {std::move(c), {}};
}
ParsedCommand Refused(std::string why) {
  return {std::nullopt, std::move(why)};
}

ParsedCommand ParseChannelAction(const Parts& p, cmd::Transport action) {
  if (!p.hasIndex || p.index < 1 || p.index > kChannels || p.hasValue)
    return Refused("needs a channel 1 to 6");
  return Ok(cmd::Channel{action, p.index});
}

ParsedCommand ParseRouting(const Parts& p) {
  if (!p.hasIndex || p.index < 1 || p.index > kFaders)
    return Refused("needs route:N=LIST with N 1 to 8");
  cmd::Routing r{p.index, {}};
  for (const std::string& item : SplitList(p.value)) {
    const std::optional<Route> route = RouteNamed(item);
    if (!route) return Refused("unknown routing toggle " + item);
    // A toggle the strip does not have is passed over.
    if (StripHas(p.index, *route)) r.state.Flag(*route) = true;
  }
  return Ok(r);
}

ParsedCommand ParseToggle(const Parts& p) {
  const size_t comma = p.value.find(',');
  const std::string name = p.value.substr(0, comma);
  const std::string state = comma == std::string::npos ? "" : p.value.substr(comma + 1);
  if (!p.hasIndex || p.index < 1 || p.index > kFaders || (state != "0" && state != "1"))
    return Refused("needs toggle:N=NAME,0|1 with N 1 to 8");
  const std::optional<Route> route = RouteNamed(name);
  if (!route) return Refused("unknown routing toggle " + name);
  if (!StripHas(p.index, *route))
    return Refused("strip " + std::to_string(p.index) + " has no " + name);
  return Ok(cmd::Toggle{p.index, *route, state == "1"});
}

ParsedCommand ParseTone(const Parts& p) {
  const char* kNeeds = "needs tone:N=low|mid|high,DB with N 1 to 6 and DB -15 to 15";
  const size_t comma = p.value.find(',');
  double gain = 0;
  if (!p.hasIndex || p.index < 1 || p.index > kChannels || comma == std::string::npos ||
      !ToDouble(p.value.substr(comma + 1), gain) || gain < -15 || gain > 15)
    return Refused(kNeeds);
  const std::string band = p.value.substr(0, comma);
  for (int b = 0; b < 3; ++b)
    if (band == kBands[b]) return Ok(cmd::Tone{p.index, b, static_cast<float>(gain)});
  return Refused(kNeeds);
}

ParsedCommand ParseKnee(const Parts& p) {
  const size_t comma = p.value.find(',');
  double point = 0, level = 0;
  if (p.hasIndex || comma == std::string::npos || !ToDouble(p.value.substr(0, comma), point) ||
      !ToDouble(p.value.substr(comma + 1), level) || !InLevelRange(point) || !InLevelRange(level))
    return Refused("needs knee=POINT,LEVEL with both 0 to 10");
  return Ok(cmd::Knee{point, level});
}

ParsedCommand ParseBuffers(const Parts& p) {
  const size_t comma = p.value.find(',');
  int first = 0, second = 0;
  if (!p.hasIndex || p.index < 1 || p.index > kChannels || comma == std::string::npos ||
      !ToInt(p.value.substr(0, comma), first) || !ToInt(p.value.substr(comma + 1), second) ||
      first < 1 || first > 10 || second < 1 || second > 30)
    return Refused("needs buffers:N=FIRST,SECOND with N 1 to 6, FIRST 1 to 10, SECOND 1 to 30");
  return Ok(cmd::Buffers{p.index, first, second});
}

ParsedCommand ParseListCheck(const Parts& p) {
  const size_t comma = p.value.find(',');
  const std::string state = comma == std::string::npos ? "" : p.value.substr(comma + 1);
  int item = 0;
  if (!p.hasIndex || p.index < 1 || p.index > kChannels || comma == std::string::npos ||
      !ToInt(p.value.substr(0, comma), item) || item < 0 || (state != "0" && state != "1"))
    return Refused("needs listcheck:N=ITEM,0|1 with N 1 to 6 and ITEM from 0");
  return Ok(cmd::ListCheck{p.index, item, state == "1"});
}

// "bgm:play", "bgm:stop", "bgm:list=FILE", "bgm:fo=SECONDS", "bgm:level=L",
// "bgm:select=ITEM"; the file may hold any character, "=" and ":" included.
ParsedCommand ParseBgm(std::string_view rest) {
  const size_t eq = rest.find('=');
  const std::string_view verb = rest.substr(0, eq);
  const bool hasValue = eq != std::string_view::npos;
  const std::string value = hasValue ? std::string(rest.substr(eq + 1)) : std::string();
  double number = 0;
  int whole = 0;
  if (verb == "play" || verb == "stop") {
    if (hasValue) return Refused("takes no value");
    return Ok(cmd::Bgm{verb == "play" ? cmd::BgmAction::kPlay : cmd::BgmAction::kStop, {}, 0});
  }
  if (verb == "list") {
    if (value.empty()) return Refused("needs bgm:list=FILE");
    return Ok(cmd::Bgm{cmd::BgmAction::kList, value, 0});
  }
  if (verb == "fo") {
    if (!ToDouble(value, number) || number < 0 || number > 86400)
      return Refused("needs bgm:fo=SECONDS with SECONDS 0 to 86400");
    return Ok(cmd::Bgm{cmd::BgmAction::kFadeOut, {}, number});
  }
  if (verb == "level") {
    if (!ToDouble(value, number) || !InLevelRange(number))
      return Refused("needs bgm:level=L with L 0 to 10");
    return Ok(cmd::Bgm{cmd::BgmAction::kLevel, {}, number});
  }
  if (verb == "select") {
    if (!ToInt(value, whole) || whole < 0) return Refused("needs bgm:select=ITEM with ITEM from 0");
    return Ok(cmd::Bgm{cmd::BgmAction::kSelect, {}, static_cast<double>(whole)});
  }
  return Refused("needs bgm:play, bgm:stop, bgm:list=FILE, bgm:fo=S, bgm:level=L or bgm:select=I");
}

}  // namespace

ParsedCommand ParseConsoleCommand(std::string_view text) {
  if (text.starts_with("bgm:")) return ParseBgm(text.substr(4));
  const Parts p = Split(text);
  const std::string& v = p.verb;
  const bool bare = !p.hasIndex && !p.hasValue;
  double number = 0;
  int whole = 0;

  if (v == "go" || v == "stopall" || v == "prev" || v == "nextq") {
    if (!bare) return Refused("takes no value");
    if (v == "go") return Ok(cmd::Go{});
    if (v == "stopall") return Ok(cmd::StopAll{});
    if (v == "prev") return Ok(cmd::PreviousCue{});
    return Ok(cmd::NextCue{});
  }
  if (v == "play") return ParseChannelAction(p, cmd::Transport::kPlay);
  if (v == "pause") return ParseChannelAction(p, cmd::Transport::kPause);
  if (v == "stop") return ParseChannelAction(p, cmd::Transport::kStop);
  if (v == "fo") return ParseChannelAction(p, cmd::Transport::kFadeOut);
  if (v == "next") return ParseChannelAction(p, cmd::Transport::kNext);
  if (v == "restart") return ParseChannelAction(p, cmd::Transport::kRestart);
  if (v == "fader" || v == "level") {
    if (!p.hasIndex || p.index < 1 || p.index > kFaders || !ToDouble(p.value, number) ||
        !InLevelRange(number))
      return Refused("needs " + v + ":N=L with N 1 to 8 and L 0 to 10");
    if (v == "level") return Ok(cmd::FaderLevel{p.index, number});
    return Ok(cmd::MoveFader{p.index, TrackbarOf(number)});
  }
  if (v == "master") {
    if (p.hasIndex || !ToDouble(p.value, number) || !InLevelRange(number))
      return Refused("needs a level 0 to 10");
    return Ok(cmd::MoveMaster{TrackbarOf(number)});
  }
  if (v == "cross") {
    if (p.hasIndex || !ToInt(p.value, whole) || whole < 0 || whole > 100)
      return Refused("needs a position 0 to 100");
    return Ok(cmd::MoveCross{whole});
  }
  if (v == "route") return ParseRouting(p);
  if (v == "toggle") return ParseToggle(p);
  if (v == "masteron" || v == "autonext") {
    if (p.hasIndex || (p.value != "0" && p.value != "1")) return Refused("needs 0 or 1");
    if (v == "masteron") return Ok(cmd::MasterOn{p.value == "1"});
    return Ok(cmd::AutoNext{p.value == "1"});
  }
  if (v == "pan") {
    if (!p.hasIndex || p.index < 1 || p.index > kChannels || !ToInt(p.value, whole) ||
        whole < -10000 || whole > 10000)
      return Refused("needs pan:N=P with N 1 to 6 and P -10000 to 10000");
    return Ok(cmd::Pan{p.index, whole});
  }
  if (v == "tone") return ParseTone(p);
  if (v == "seek") {
    uint32_t offset = 0;
    auto [end, ec] = std::from_chars(p.value.data(), p.value.data() + p.value.size(), offset);
    if (!p.hasIndex || p.index < 1 || p.index > kChannels || ec != std::errc() ||
        end != p.value.data() + p.value.size() || p.value.empty())
      return Refused("needs seek:N=BYTES with N 1 to 6");
    return Ok(cmd::Seek{p.index, offset});
  }
  if (v == "callup") {
    // Without a number: the one the next-cue box holds.
    if (bare) return Ok(cmd::CallUp{});
    if (p.hasIndex || !ToDouble(p.value, number)) return Refused("needs a Q number");
    // Read as the next-cue box reads what is typed into it.
    return Ok(cmd::CallUpCue{ParseLeadingReal(p.value)});
  }
  if (v == "qtext" || v == "clock") {
    if (p.hasIndex || !p.hasValue) return Refused("needs " + v + "=TEXT");
    if (v == "qtext") return Ok(cmd::NextCueText{p.value});
    return Ok(cmd::ClockText{p.value});
  }
  if (v == "autorun") {
    if (p.hasIndex) return Refused("needs run, stop, zero or timing");
    if (p.value == "run") return Ok(cmd::AutoRun{cmd::AutoRunAction::kRun});
    if (p.value == "stop") return Ok(cmd::AutoRun{cmd::AutoRunAction::kStop});
    if (p.value == "zero") return Ok(cmd::AutoRun{cmd::AutoRunAction::kZero});
    if (p.value == "timing") return Ok(cmd::AutoRun{cmd::AutoRunAction::kTiming});
    return Refused("needs run, stop, zero or timing");
  }
  if (v == "knee") return ParseKnee(p);
  if (v == "listcheck") return ParseListCheck(p);
  if (v == "buffers") return ParseBuffers(p);
  if (v == "block") {
    if (p.hasIndex || (p.value != "0" && p.value != "1")) return Refused("needs 0 or 1");
    return Ok(cmd::ReadBlock{p.value == "1"});
  }
  return Refused("unknown action");
}

namespace {

struct Formatter {
  std::string operator()(const cmd::Go&) const { return "go"; }
  std::string operator()(const cmd::StopAll&) const { return "stopall"; }
  std::string operator()(const cmd::Channel& c) const {
    static constexpr const char* kVerbs[] = {"play", "pause", "stop", "fo", "next", "restart"};
    return std::string(kVerbs[static_cast<int>(c.action)]) + ":" + std::to_string(c.ch);
  }
  std::string operator()(const cmd::MoveFader& c) const {
    return "fader:" + std::to_string(c.fader) + "=" + FormatExact(LevelOf(c.position));
  }
  std::string operator()(const cmd::FaderLevel& c) const {
    return "level:" + std::to_string(c.fader) + "=" + FormatExact(c.level);
  }
  std::string operator()(const cmd::MoveMaster& c) const {
    return "master=" + FormatExact(LevelOf(c.position));
  }
  std::string operator()(const cmd::MoveCross& c) const {
    return "cross=" + std::to_string(c.position);
  }
  std::string operator()(const cmd::Toggle& c) const {
    return "toggle:" + std::to_string(c.fader) + "=" + NameOf(c.route) + (c.on ? ",1" : ",0");
  }
  std::string operator()(const cmd::Routing& c) const {
    std::string list;
    RouteState s = c.state;
    for (const RouteName& r : kRouteNames) {
      if (!StripHas(c.fader, r.route) || !s.Flag(r.route)) continue;
      if (!list.empty()) list += ',';
      list += r.name;
    }
    return "route:" + std::to_string(c.fader) + "=" + list;
  }
  std::string operator()(const cmd::MasterOn& c) const {
    return c.on ? "masteron=1" : "masteron=0";
  }
  std::string operator()(const cmd::Pan& c) const {
    return "pan:" + std::to_string(c.ch) + "=" + std::to_string(c.pan);
  }
  std::string operator()(const cmd::Tone& c) const {
    const char* band = c.band >= 0 && c.band < 3 ? kBands[c.band] : "?";
    return "tone:" + std::to_string(c.ch) + "=" + band + "," + FormatFloat(c.gain);
  }
  std::string operator()(const cmd::Seek& c) const {
    return "seek:" + std::to_string(c.ch) + "=" + std::to_string(c.offset);
  }
  std::string operator()(const cmd::CallUpCue& c) const { return "callup=" + FormatExact(c.q); }
  std::string operator()(const cmd::CallUp&) const { return "callup"; }
  std::string operator()(const cmd::PreviousCue&) const { return "prev"; }
  std::string operator()(const cmd::NextCue&) const { return "nextq"; }
  std::string operator()(const cmd::NextCueText& c) const { return "qtext=" + c.text; }
  std::string operator()(const cmd::AutoNext& c) const {
    return c.on ? "autonext=1" : "autonext=0";
  }
  std::string operator()(const cmd::AutoRun& c) const {
    static constexpr const char* kNames[] = {"run", "stop", "zero", "timing"};
    return std::string("autorun=") + kNames[static_cast<int>(c.action)];
  }
  std::string operator()(const cmd::ClockText& c) const { return "clock=" + c.text; }
  std::string operator()(const cmd::Knee& c) const {
    return "knee=" + FormatExact(c.point) + "," + FormatExact(c.level);
  }
  std::string operator()(const cmd::Buffers& c) const {
    return "buffers:" + std::to_string(c.ch) + "=" + std::to_string(c.first) + "," +
           std::to_string(c.second);
  }
  std::string operator()(const cmd::ReadBlock& c) const { return c.on ? "block=1" : "block=0"; }
  std::string operator()(const cmd::ListCheck& c) const {
    return "listcheck:" + std::to_string(c.ch) + "=" + std::to_string(c.item) +
           (c.checked ? ",1" : ",0");
  }
  std::string operator()(const cmd::Bgm& c) const {
    switch (c.action) {
      case cmd::BgmAction::kList:
        return "bgm:list=" + c.file;
      case cmd::BgmAction::kPlay:
        return "bgm:play";
      case cmd::BgmAction::kStop:
        return "bgm:stop";
      case cmd::BgmAction::kFadeOut:
        return "bgm:fo=" + FormatExact(c.value);
      case cmd::BgmAction::kLevel:
        return "bgm:level=" + FormatExact(c.value);
      case cmd::BgmAction::kSelect:
        return "bgm:select=" + std::to_string(static_cast<int>(c.value));
    }
    return "bgm:play";
  }
};

}  // namespace

std::string FormatConsoleCommand(const ConsoleCommand& command) {
  return std::visit(Formatter{}, command);
}

}  // namespace orvex
