#include "remote/OscMapping.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "engine/ConsoleTypes.h"

namespace orvex::remote {
namespace {

std::optional<double> Number(const OscArg& a) {
  double v = 0;
  if (const auto* i = std::get_if<int32_t>(&a))
    v = *i;
  else if (const auto* l = std::get_if<int64_t>(&a))
    v = static_cast<double>(*l);
  else if (const auto* f = std::get_if<float>(&a))
    v = *f;
  else if (const auto* d = std::get_if<double>(&a))
    v = *d;
  else
    return std::nullopt;
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

// "N" of a path part, within lo..hi.
std::optional<int> Index(const std::string& s, int lo, int hi) {
  int v = 0;
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || s.empty() || v < lo || v > hi)
    return std::nullopt;
  return v;
}

std::vector<std::string> Parts(const std::string& path) {
  std::vector<std::string> parts;
  size_t at = 1;
  while (at <= path.size()) {
    size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    parts.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return parts;
}

OscRequest Commands(std::vector<ConsoleCommand> commands) {
  return {OscRequest::Kind::kCommands, std::move(commands)};
}

// A button: no argument, or one number, 0 being the release.
OscRequest Button(const std::vector<OscArg>& args, ConsoleCommand command) {
  if (args.empty()) return Commands({command});
  if (args.size() != 1) return {};
  const std::optional<double> v = Number(args[0]);
  if (!v) return {};
  if (*v == 0) return {OscRequest::Kind::kRelease, {}};
  return Commands({command});
}

}  // namespace

OscRequest MapOscMessage(const std::string& path, const std::vector<OscArg>& args) {
  if (path.rfind("/orvex/", 0) != 0) return {};
  const std::vector<std::string> p = Parts(path.substr(6));
  if (p.empty()) return {};
  const std::string& verb = p[0];
  if (p.size() == 1) {
    if (verb == "go") return Button(args, cmd::Go{});
    if (verb == "stopall") return Button(args, cmd::StopAll{});
    if (verb == "state" && args.empty()) return {OscRequest::Kind::kState, {}};
    if (verb == "subscribe" && args.empty()) return {OscRequest::Kind::kSubscribe, {}};
    if (verb == "unsubscribe" && args.empty()) return {OscRequest::Kind::kUnsubscribe, {}};
    if (verb == "callup") {
      if (args.empty()) return Commands({cmd::CallUp{}});
      const std::optional<double> q = args.size() == 1 ? Number(args[0]) : std::nullopt;
      if (!q || *q < 0) return {};
      return Commands({cmd::CallUpCue{*q}});
    }
    if (verb == "autorun" && args.size() == 1) {
      const auto* s = std::get_if<std::string>(&args[0]);
      if (!s) return {};
      if (*s == "run") return Commands({cmd::AutoRun{cmd::AutoRunAction::kRun}});
      if (*s == "stop") return Commands({cmd::AutoRun{cmd::AutoRunAction::kStop}});
      if (*s == "zero") return Commands({cmd::AutoRun{cmd::AutoRunAction::kZero}});
    }
    return {};
  }
  if (verb == "ch" && p.size() == 3) {
    const std::optional<int> ch = Index(p[1], 1, kChannels);
    if (!ch) return {};
    static constexpr std::pair<const char*, cmd::Transport> kButtons[] = {
        {"play", cmd::Transport::kPlay},
        {"pause", cmd::Transport::kPause},
        {"stop", cmd::Transport::kStop},
        {"fo", cmd::Transport::kFadeOut},
        {"next", cmd::Transport::kNext}};
    for (const auto& [name, action] : kButtons)
      if (p[2] == name) return Button(args, cmd::Channel{action, *ch});
    return {};
  }
  if ((verb == "fader" || verb == "pan") && p.size() == 2 && args.size() == 1) {
    const std::optional<double> v = Number(args[0]);
    if (!v) return {};
    if (verb == "fader") {
      const std::optional<int> fader = Index(p[1], 1, kFaders);
      if (!fader || *v < 0 || *v > 10) return {};
      return Commands({cmd::FaderLevel{*fader, *v}});
    }
    const std::optional<int> ch = Index(p[1], 1, kChannels);
    if (!ch || *v < -10000 || *v > 10000) return {};
    return Commands({cmd::Pan{*ch, static_cast<int>(*v)}});
  }
  return {};
}

}  // namespace orvex::remote
