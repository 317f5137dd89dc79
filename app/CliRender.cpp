#include "app/CliRender.h"
#include "app/CliSettings.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/Json.h"
#include "app/RenderActions.h"
#include "engine/OfflineSession.h"
#include "show/IniFile.h"
#include "show/ShowFile.h"

namespace orvex {
namespace {

constexpr const char* kUsage =
    "usage: orvex-cli render SHOW.csv --out DIR [--rate HZ] [--length SECONDS]\n"
    "                        [--settings FILE] [--at SECONDS ACTION]...\n";

struct RenderOptions {
  std::string show;
  std::string out;
  uint32_t rate = 48000;
  TimedOptions timed;
};

bool ParseOptions(const std::vector<std::string>& args, RenderOptions& o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    double number = 0;
    if (a == "--out" && hasValue) {
      o.out = args[++i];
    } else if (a == "--rate" && hasValue && ParseCliNumber(args[++i], number) && number >= 8000 &&
               number <= 384000 && number == std::floor(number)) {
      o.rate = static_cast<uint32_t>(number);
    } else if (const OptionResult r = ParseTimedOption("render", args, i, o.timed);
               r != OptionResult::kNotMine) {
      if (r == OptionResult::kBad) return false;
    } else if (o.show.empty() && !a.empty() && a[0] != '-') {
      o.show = a;
    } else {
      std::fprintf(stderr, "orvex-cli render: unexpected '%s'\n%s", a.c_str(), kUsage);
      return false;
    }
  }
  if (o.show.empty() || o.out.empty()) {
    std::fputs(kUsage, stderr);
    return false;
  }
  SortActions(o.timed);
  return true;
}

}  // namespace

JsonObject EventObject(const ConsoleEvent& e) {
  using K = ConsoleEvent::Kind;
  JsonObject j;
  j.Add("t", e.timeMs / 1000.0);
  switch (e.kind) {
    case K::kGo:
      j.Add("event", "go").Add("q", e.q);
      break;
    case K::kFire:
      j.Add("event", "fire").Add("fader", e.fader).Add("q", e.q);
      break;
    case K::kPlay:
      j.Add("event", "play").Add("ch", e.fader);
      break;
    case K::kPause:
      j.Add("event", "pause").Add("ch", e.fader);
      break;
    case K::kResume:
      j.Add("event", "resume").Add("ch", e.fader);
      break;
    case K::kStop:
      j.Add("event", "stop").Add("ch", e.fader);
      break;
    case K::kEof:
      j.Add("event", "eof").Add("ch", e.fader);
      break;
    case K::kFade:
      j.Add("event", "fade")
          .Add("fader", e.fader)
          .Add("from", e.from)
          .Add("to", e.to)
          .Add("seconds", e.seconds);
      break;
    case K::kFadeEnd:
      j.Add("event", "fade_end").Add("fader", e.fader).Add("level", e.to);
      break;
    case K::kNextCue:
      j.Add("event", "next_cue").Add("q", e.q);
      break;
  }
  return j;
}

int RunRenderCommand(const std::vector<std::string>& args, const std::string& settingsPath) {
  RenderOptions o;
  if (!ParseOptions(args, o)) return 2;

  Settings settings;
  if (!LoadCliSettings("render", settingsPath, settings)) return 1;
  CueStore cues;
  ShowLoadResult loaded = LoadShowFile(o.show, cues);
  if (!loaded.ok) return 1;
  for (int line : loaded.skippedLines)
    std::fprintf(stderr, "%s:%d: not a valid cue; skipped\n", o.show.c_str(), line);

  std::error_code ec;
  std::filesystem::create_directories(o.out, ec);
  OfflineSession session(cues, settings, o.rate, false);
  static const char* kFiles[kOutputCount] = {"master.wav", "group1.wav", "group2.wav"};
  for (int n = 0; n < kOutputCount; ++n) {
    const std::string path = (std::filesystem::path(o.out) / kFiles[n]).string();
    if (!session.Device(n).StartWavFile(path)) {
      std::fprintf(stderr, "orvex-cli render: cannot write %s\n", path.c_str());
      return 1;
    }
  }

  const auto started = std::chrono::steady_clock::now();
  CConsole& console = session.Console();
  console.SetDrives(settings.drives);
  console.SetShowFolder(std::filesystem::absolute(o.show).parent_path().string());
  session.StartUp();
  console.RefreshAfterCueChange(true);
  console.ApplyFirstCueRouting();
  session.Settle();

  const uint32_t lengthMs = static_cast<uint32_t>(std::llround(o.timed.length * 1000));
  size_t next = 0;
  while (session.Now() < lengthMs) {
    while (next < o.timed.actions.size() && o.timed.actions[next].timeMs <= session.Now()) {
      console.Execute(o.timed.actions[next++].command);
      session.Settle();
    }
    session.Step(std::min<uint32_t>(OfflineSession::kStepMs, lengthMs - session.Now()));
  }

  bool ok = true;
  for (int n = 0; n < kOutputCount; ++n) ok = session.Device(n).FinishWavFile() && ok;
  const std::string eventsPath = (std::filesystem::path(o.out) / "events.jsonl").string();
  std::FILE* events = std::fopen(eventsPath.c_str(), "wb");
  if (events) {
    for (const ConsoleEvent& e : session.Events())
      std::fprintf(events, "%s\n", EventObject(e).Text().c_str());
    ok = std::fclose(events) == 0 && ok;
  } else {
    ok = false;
  }
  if (!ok) {
    std::fprintf(stderr, "orvex-cli render: writing into %s failed\n", o.out.c_str());
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(stderr, "rendered %.1f s in %.2f s (%.0fx real time)\n", lengthMs / 1000.0, seconds,
               seconds > 0 ? lengthMs / 1000.0 / seconds : 0.0);
  return 0;
}

}  // namespace orvex
