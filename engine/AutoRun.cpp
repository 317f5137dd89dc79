// The auto-run clock: presses GO by itself when the clock reaches the timing
// of the next cue.
#include <cstdio>

#include "engine/Console.h"
#include "show/TextNumbers.h"

namespace orvex {

std::string FormatClock(uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u.%1u", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000 / 100);
  return text;
}

// hours:minutes:seconds.fraction; fields missing on the left count as 0, so
// "90" is 90 seconds and "1:30" a minute and a half.
uint32_t ParseClock(const std::string& text) {
  std::string rest = text;
  uint64_t fraction = 0;
  if (size_t dot = rest.rfind('.'); dot != std::string::npos) {
    std::string part = rest.substr(dot + 1, 3);
    rest.erase(dot);
    const uint64_t weight = part.size() == 1 ? 100 : part.size() == 2 ? 10 : 1;
    fraction =
        part.empty() ? 0 : static_cast<uint64_t>(std::max(ParseLeadingInt(part), 0)) * weight;
  }
  uint64_t fields[3] = {0, 0, 0};  // seconds, minutes, hours
  for (int i = 0; i < 3 && !rest.empty(); ++i) {
    const size_t colon = i < 2 ? rest.rfind(':') : std::string::npos;
    const std::string field = colon == std::string::npos ? rest : rest.substr(colon + 1);
    fields[i] = static_cast<uint64_t>(std::max(ParseLeadingInt(field), 0));
    if (colon == std::string::npos) break;
    rest.erase(colon);
  }
  const uint64_t ms = fields[2] * 3600000 + fields[1] * 60000 + fields[0] * 1000 + fraction;
  return static_cast<uint32_t>(std::min<uint64_t>(ms, UINT32_MAX));
}

void CConsole::AnchorClock() {
  clockStart_ = clock_;
  clockStartTime_ = timers_.timeGetTime();
  clockTicks_ = 0;
  clockRealigned_ = false;
}

void CConsole::Reanchor() {
  AnchorClock();
  // A running clock ticks from its new anchor, so its 100 ms steps land on
  // the times they stand for.
  if (TimelineRunning()) clockTimer_.Start(100, [this] { ClockTick(); });
}

void CConsole::RunTimeline() {
  clock_ = ParseClock(clockText_);
  AnchorClock();
  CheckDue();
  clockTimer_.Start(100, [this] { ClockTick(); });
  Changed(ConsoleChange::kClock, 0);
}

// The clock follows the service's time rather than counting ticks: a timer
// thread held up drops ticks, and a count would fall behind for good.
void CConsole::ClockTick() {
  if (clockRealigned_) {
    clockRealigned_ = false;
    clockTimer_.Start(100, [this] { ClockTick(); });
  }
  const uint32_t elapsed = timers_.timeGetTime() - clockStartTime_;
  const uint32_t checked = clockTicks_;
  // Every 100 ms step since the last tick is checked with its own window,
  // as if no tick had been dropped, so cues a late tick passes still fire.
  while (clockTicks_ < elapsed / 100) {
    ++clockTicks_;
    clock_ = clockStart_ + clockTicks_ * 100;
    CheckDue();
  }
  // After a stall the service ticks on in the stall's phase: one short
  // period puts the ticks back on the clock's steps.
  if (clockTicks_ - checked > 1 && elapsed % 100 != 0 && TimelineRunning()) {
    clockTimer_.Start(100 - elapsed % 100, [this] { ClockTick(); });
    clockRealigned_ = true;
  }
  clock_ = clockStart_ + elapsed;
  clockText_ = FormatClock(clock_);
  Changed(ConsoleChange::kClock, 0);
}

void CConsole::StopTimeline() {
  clockTimer_.Stop();
  Changed(ConsoleChange::kClock, 0);
}

void CConsole::SetClockText(const std::string& text) {
  clockText_ = text;
  // Typed into a running clock: it goes on from there.
  if (!TimelineRunning()) return;
  clock_ = ParseClock(text);
  Reanchor();
}

void CConsole::ZeroReset() {
  clock_ = 0;
  clockText_ = FormatClock(0);
  Reanchor();
  Changed(ConsoleChange::kClock, 0);
}

void CConsole::SetToNextTiming() {
  bool found = false;
  uint32_t best = 0;
  for (int ch = 1; ch <= kChannels; ++ch) {
    const CueState& s = cue_[Index(ch)];
    if (!s.armed) continue;
    if (!found || s.autoRunTime < best) best = s.autoRunTime;
    found = true;
  }
  clock_ = best;
  clockText_ = FormatClock(best);
  Reanchor();
  Changed(ConsoleChange::kClock, 0);
}

void CConsole::CheckDue() {
  for (int k = 1; k <= kFaders; ++k) {
    const CueState& s = cue_[Index(k)];
    if (!s.armed) continue;
    // Unsigned: below 100 ms only the rule for time 0 can hold.
    const bool due = (clock_ == 0 && s.autoRunTime == 0) ||
                     (clock_ - 100u < s.autoRunTime && s.autoRunTime <= clock_);
    if (due) {
      Execute(cmd::Go{});
      return;
    }
  }
}

}  // namespace orvex
