#include "app/CliPlay.h"
#include "app/CliSettings.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>

#include "app/CliMidi.h"
#include "app/CliRender.h"
#include "app/Json.h"
#include "app/RenderActions.h"
#include "engine/Console.h"
#include "engine/RealTimerService.h"
#include "session/OutputSetup.h"
#include "show/IniFile.h"
#include "show/Messages.h"
#include "show/ShowFile.h"

namespace orvex {
namespace {

constexpr const char* kUsage =
    "usage: orvex-cli play SHOW.csv [--settings FILE] [--device OUTPUT=INDEX]...\n"
    "                      [--exclusive OUTPUT] [--length SECONDS] [--at SECONDS ACTION]...\n"
    "                      [--midi NAME] [--osc PORT]\n";

std::atomic<bool> g_quit{false};

void OnQuit(int) {
  g_quit.store(true);
}

double MonotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

struct PlayOptions {
  std::string show;
  std::array<std::optional<int>, kOutputCount> devices;
  int exclusive = -1;
  std::string midi;  // connect the MIDI ports whose name contains it
  int osc = 0;       // listen for OSC on this UDP port
  TimedOptions timed;
};

bool ParseOptions(const std::vector<std::string>& args, PlayOptions& o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    double number = 0;
    if (a == "--device" && hasValue) {
      const std::string& v = args[++i];
      const size_t eq = v.find('=');
      double out = 0, index = 0;
      if (eq == std::string::npos || !ParseCliNumber(v.substr(0, eq), out) ||
          !ParseCliNumber(v.substr(eq + 1), index) || out < 0 || out > 2 || index < -1 ||
          out != std::floor(out) || index != std::floor(index)) {
        std::fprintf(stderr, "orvex-cli play: bad --device '%s' (OUTPUT=INDEX)\n", v.c_str());
        return false;
      }
      o.devices[static_cast<size_t>(out)] = static_cast<int>(index);
    } else if (a == "--exclusive" && hasValue && ParseCliNumber(args[++i], number) && number >= 0 &&
               number <= 2 && number == std::floor(number)) {
      o.exclusive = static_cast<int>(number);
    } else if (a == "--midi" && hasValue && !args[i + 1].empty()) {
      o.midi = args[++i];
    } else if (a == "--osc" && hasValue && ParseCliNumber(args[++i], number) && number >= 1 &&
               number <= 65535 && number == std::floor(number)) {
      o.osc = static_cast<int>(number);
    } else if (const OptionResult r = ParseTimedOption("play", args, i, o.timed);
               r != OptionResult::kNotMine) {
      if (r == OptionResult::kBad) return false;
    } else if (o.show.empty() && !a.empty() && a[0] != '-') {
      o.show = a;
    } else {
      std::fprintf(stderr, "orvex-cli play: unexpected '%s'\n%s", a.c_str(), kUsage);
      return false;
    }
  }
  if (o.show.empty()) {
    std::fputs(kUsage, stderr);
    return false;
  }
  SortActions(o.timed);
  return true;
}

// The UI thread of the command: the main loop runs what others post.
class LoopPoster final : public UiPoster {
 public:
  void Post(std::function<void()> task) override {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    cv_.notify_one();
  }
  // Runs posted work until `until` or a quit signal.
  void RunUntil(std::chrono::steady_clock::time_point until) {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        // Short waits so a signal is seen soon.
        const auto limit =
            std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
        cv_.wait_until(lock, limit, [&] { return !tasks_.empty(); });
        if (tasks_.empty()) {
          if (std::chrono::steady_clock::now() >= until || g_quit.load()) return;
          continue;
        }
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }
  void RunPending() { RunUntil(std::chrono::steady_clock::now()); }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
};

class EventPrinter final : public ConsoleListener {
 public:
  explicit EventPrinter(uint32_t startMs) : startMs_(startMs) {}
  void OnConsoleEvent(const ConsoleEvent& event) override {
    const double mono = MonotonicSeconds();
    ConsoleEvent e = event;
    e.timeMs = event.timeMs - startMs_;
    const std::string line = EventObject(e).Add("mono", mono).Text();
    Print(line);
  }
  // An output that went silent with its server, or plays again.
  void OnOutputEvent(const OutputEvent& event) {
    const double mono = MonotonicSeconds();
    Print(JsonObject()
              .Add("event", event.back ? "output-back" : "output-lost")
              .Add("output", event.output)
              .Add("name", OutputName(event.output))
              .Add("server", event.server)
              .Add("mono", mono)
              .Text());
  }

 private:
  void Print(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }

  const uint32_t startMs_;
  std::mutex mutex_;
};

// The selection dialog's OK on the command line's choices, made before any
// device opens, so each opens once on what was chosen.
bool ApplyDeviceOptions(const PlayOptions& o, COutputSetup& setup) {
  bool any = o.exclusive >= 0;
  for (const auto& d : o.devices) any = any || d.has_value();
  if (!any) return true;
  COutputDevices& devices = setup.Devices();
  std::array<int, kOutputCount> selected{};
  std::array<bool, kOutputCount> exclusive{};
  std::array<const CSoundDevice*, kOutputCount> lists{};
  for (int n = 0; n < kOutputCount; ++n) {
    const CSoundDevice& d = devices.Device(n);
    lists[static_cast<size_t>(n)] = &d;
    int s = o.devices[static_cast<size_t>(n)].value_or(d.m_selected);
    if (s >= d.Count()) {
      std::fprintf(stderr, "orvex-cli play: output %d has no device %d\n", n, s);
      return false;
    }
    selected[static_cast<size_t>(n)] = s;
    exclusive[static_cast<size_t>(n)] =
        o.exclusive == n ? d.KindOf(s) == DeviceKind::kWasapi
                         : (o.exclusive < 0 && o.devices[static_cast<size_t>(n)] == std::nullopt &&
                            d.SelectedExclusive());
  }
  if (o.exclusive >= 0 && !exclusive[static_cast<size_t>(o.exclusive)]) {
    std::fprintf(stderr, "orvex-cli play: output %d is not a WASAPI endpoint\n", o.exclusive);
    return false;
  }
  if (auto message = CheckDeviceSelection(lists, selected, exclusive)) {
    ConfirmYesNo(*message);
    return false;
  }
  for (int n = 0; n < kOutputCount; ++n) {
    CSoundDevice& d = devices.Device(n);
    d.m_selected = selected[static_cast<size_t>(n)];
    d.SetExclusive(exclusive[static_cast<size_t>(n)]);
  }
  devices.StoreSelection();
  return true;
}

// What output n plays on now: its selection, and how it was opened. A
// device that was chosen but refused (a busy card, a server that is gone)
// is said to be silent rather than shown as it was asked for.
std::string OpenedOutput(COutputDevices& devices, int n) {
  const CSoundDevice& d = devices.Device(n);
  std::string text = d.DisplayName(d.m_selected);
  if (d.SelectedExclusive()) {
    text += devices.ExclusiveOutput() == n ? " (exclusive)" : " (not opened: silent)";
  } else if (d.KindOf(d.m_selected) == DeviceKind::kAsio &&
             (devices.AsioOutput() != n || !devices.Asio().IsDriverOpen())) {
    text += " (not opened: silent)";
  }
  return text;
}

}  // namespace

int RunPlayCommand(const std::vector<std::string>& args, const std::string& settingsPath) {
  PlayOptions o;
  if (!ParseOptions(args, o)) return 2;
  Settings settings;
  if (!LoadCliSettings("play", settingsPath, settings)) return 1;
  CueStore cues;
  ShowLoadResult loaded = LoadShowFile(o.show, cues);
  if (!loaded.ok) return 1;
  for (int line : loaded.skippedLines)
    std::fprintf(stderr, "%s:%d: not a valid cue; skipped\n", o.show.c_str(), line);

  struct sigaction action = {};
  action.sa_handler = OnQuit;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  int rc = 0;
  {
    RealTimerService timers;
    LoopPoster poster;
    CConsole console(cues, settings, timers, poster);
    COutputSetup setup(console, settings, poster);
    // The background list is heard on every output, as in the program.
    setup.SetContinuousPlayer(&console.Background().Player(),
                              static_cast<uint32_t>(std::clamp(settings.bgmLevel, 0, 65535)));
    setup.PrepareOutputs();
    if (!ApplyDeviceOptions(o, setup)) {
      rc = 2;
    } else {
      setup.OpenOutputs();
      for (int n = 0; n < kOutputCount; ++n)
        std::fprintf(stderr, "output %d: %s\n", n, OpenedOutput(setup.Devices(), n).c_str());
      console.SetDrives(settings.drives);
      console.SetShowFolder(std::filesystem::absolute(o.show).parent_path().string());
      console.ApplyPlayerSettings();
      console.LoadFromSettings();
      console.RefreshAfterCueChange(true);
      console.ApplyFirstCueRouting();
      poster.RunPending();
      EventPrinter printer(timers.timeGetTime());
      console.SetListener(&printer);
      CliMidi midi(console, poster, &MonotonicSeconds);
      midi.Start(settings, o.midi);
      CliOsc osc(console, timers, poster, &MonotonicSeconds);
      if (o.osc > 0 && !osc.Start(settings.oscAddress, o.osc)) {
        g_quit.store(true);
        rc = 1;
      }
      setup.SetOutputEventHandler([&printer](const OutputEvent& e) { printer.OnOutputEvent(e); });
      const auto start = std::chrono::steady_clock::now();
      const auto end = start + std::chrono::milliseconds(std::llround(o.timed.length * 1000));
      size_t next = 0;
      while (!g_quit.load() && std::chrono::steady_clock::now() < end) {
        auto until = end;
        if (next < o.timed.actions.size())
          until = std::min(until, start + std::chrono::milliseconds(o.timed.actions[next].timeMs));
        poster.RunUntil(until);
        while (!g_quit.load() && next < o.timed.actions.size() &&
               std::chrono::steady_clock::now() >=
                   start + std::chrono::milliseconds(o.timed.actions[next].timeMs)) {
          console.Execute(o.timed.actions[next++].command);
        }
      }
      osc.Stop();
      midi.Stop();
      poster.RunPending();
      console.SetListener(nullptr);
      setup.SetOutputEventHandler({});
    }
    console.Shutdown();
    poster.RunPending();
    setup.ReleaseOutputs();
  }
  return rc;
}

}  // namespace orvex
