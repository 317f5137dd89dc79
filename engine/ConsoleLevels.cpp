// Faders, routing, the gains they give each player, and timed fades.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/Console.h"
#include "engine/FadeMask.h"

namespace orvex {
namespace {

constexpr double kFull = 65535.0;

uint32_t ValueFromTrackbar(int pos) {
  pos = std::clamp(pos, 0, 100);
  return static_cast<uint32_t>((1 - pos / 100.0) * kFull);
}

uint32_t ValueFromLevel(double level) {
  return static_cast<uint32_t>(level / 10 * kFull);
}
int TrackbarFromLevel(double level) {
  return static_cast<int>((1 - level / 10) * 100);
}

}  // namespace

std::string CConsole::LevelText(int fader) const {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", ChannelLevel(fader));
  return text;
}

double CConsole::ChannelLevel(int fader) const {
  return value_[Index(fader)].load() / kFull * 10;
}

RouteState CConsole::ChannelRoute(int ch) const {
  RouteState r;
  r.m = masterCh_[Index(ch)].load();
  r.g1 = (groupCh_[Index(ch)].load() & 1) != 0;
  r.g2 = (groupCh_[Index(ch)].load() & 2) != 0;
  r.x = crossCh_[Index(ch)].load() == 1;
  r.y = crossCh_[Index(ch)].load() == 2;
  return r;
}

RouteState CConsole::GroupRoute(int group) const {
  RouteState r;
  r.m = masterGr_[Index(group)].load();
  r.on = outputGr_[Index(group)].load();
  r.x = crossGr_[Index(group)].load() == 1;
  r.y = crossGr_[Index(group)].load() == 2;
  return r;
}

void CConsole::UpdateChannelGains(int ch) {
  if (ch < 1 || ch > kChannels) return;
  const double xf = cross_.load() / kFull;
  auto crossFactor = [xf](int assign) { return assign == 1 ? xf : assign == 2 ? 1 - xf : 1.0; };
  const double c = crossFactor(crossCh_[Index(ch)].load()) * value_[Index(ch)].load() / kFull;
  const double g1 = value_[7].load() / kFull * crossFactor(crossGr_[1].load());
  const double g2 = value_[8].load() / kFull * crossFactor(crossGr_[2].load());
  const int groups = groupCh_[Index(ch)].load();
  const bool inG1 = (groups & 1) != 0, inG2 = (groups & 2) != 0;
  const double m = (masterCh_[Index(ch)].load() ? c : 0) +
                   (inG1 && masterGr_[1].load() ? g1 * c : 0) +
                   (inG2 && masterGr_[2].load() ? g2 * c : 0);
  // Only the master output is clipped: a channel may reach it directly and
  // through a group at once.
  const double gains[kOutputCount] = {
      std::min(m * (outputMaster_.load() ? master_.load() / kFull : 0), 1.0),
      (inG1 ? g1 : 0) * (outputGr_[1].load() ? 1 : 0) * c,
      (inG2 ? g2 : 0) * (outputGr_[2].load() ? 1 : 0) * c};
  const int pan = pan_[Index(ch)].load();
  for (int n = 0; n < kOutputCount; ++n)
    Player(ch).SetOutputLevel(static_cast<uint32_t>(gains[n] * kFull), n, pan);
}

void CConsole::MoveFader(int fader, int trackbarPos) {
  if (fader < 1 || fader > kFaders) return;
  const uint32_t value = ValueFromTrackbar(trackbarPos);
  value_[Index(fader)].store(value);
  trackbar_[Index(fader)].store(std::clamp(trackbarPos, 0, 100));
  if (fader <= kChannels) {
    UpdateChannelGains(fader);
  } else {
    settings_.group[Index(fader - kChannels)] = static_cast<int32_t>(value);
    for (int ch = 1; ch <= kChannels; ++ch) UpdateChannelGains(ch);
  }
  Changed(ConsoleChange::kFader, fader);
  // A fader moved by hand ends its fade.
  CancelFade(fader);
}

void CConsole::MoveMaster(int trackbarPos) {
  master_.store(ValueFromTrackbar(trackbarPos));
  settings_.master = static_cast<int32_t>(master_.load());
  for (int ch = 1; ch <= kChannels; ++ch) UpdateChannelGains(ch);
  Changed(ConsoleChange::kFader, 0);
}

void CConsole::MoveCross(int trackbarPos) {
  cross_.store(ValueFromTrackbar(trackbarPos));
  for (int ch = 1; ch <= kChannels; ++ch) UpdateChannelGains(ch);
  Changed(ConsoleChange::kFader, 0);
}

void CConsole::StoreRouteSettings(int ch) {
  settings_.masterCh[Index(ch)] = masterCh_[Index(ch)].load() ? 1 : 0;
  settings_.groupCh[Index(ch)] = groupCh_[Index(ch)].load();
  settings_.crossCh[Index(ch)] = crossCh_[Index(ch)].load();
}

void CConsole::SetChannelRoute(int ch, Route route, bool checked) {
  if (ch < 1 || ch > kChannels) return;
  const size_t i = Index(ch);
  switch (route) {
    case Route::kM:
      masterCh_[i].store(checked);
      break;
    case Route::kG1:
      groupCh_[i].store(checked ? groupCh_[i].load() | 1 : groupCh_[i].load() & ~1);
      break;
    case Route::kG2:
      groupCh_[i].store(checked ? groupCh_[i].load() | 2 : groupCh_[i].load() & ~2);
      break;
    case Route::kX:
      crossCh_[i].store(checked ? 1 : 0);
      break;
    case Route::kY:
      crossCh_[i].store(checked ? 2 : 0);
      break;
    case Route::kOn:
      return;  // channels have no ON toggle
  }
  UpdateChannelGains(ch);
  StoreRouteSettings(ch);
  Changed(ConsoleChange::kRouting, ch);
}

void CConsole::SetGroupRoute(int group, Route route, bool checked) {
  if (group < 1 || group > 2) return;
  const size_t g = Index(group);
  switch (route) {
    case Route::kM:
      masterGr_[g].store(checked);
      settings_.masterGroup[g] = checked ? 1 : 0;
      break;
    case Route::kOn:
      outputGr_[g].store(checked);
      settings_.outputGroup[g] = checked ? 1 : 0;
      break;
    case Route::kX:
    case Route::kY:
      crossGr_[g].store(checked ? (route == Route::kX ? 1 : 2) : 0);
      settings_.crossGroup[g] = crossGr_[g].load();
      break;
    default:
      return;  // G1 and G2 are channel toggles
  }
  for (int ch = 1; ch <= kChannels; ++ch) UpdateChannelGains(ch);
  Changed(ConsoleChange::kRouting, kChannels + group);
}

void CConsole::SetMasterOn(bool on) {
  outputMaster_.store(on);
  settings_.outputMaster = on ? 1 : 0;
  for (int ch = 1; ch <= kChannels; ++ch) UpdateChannelGains(ch);
  Changed(ConsoleChange::kRouting, 0);
}

void CConsole::SetPan(int ch, int pan) {
  if (ch < 1 || ch > kChannels) return;
  pan = std::clamp(pan, -10000, 10000);
  pan_[Index(ch)].store(pan);
  settings_.panCh[Index(ch)] = pan;
  UpdateChannelGains(ch);
  Changed(ConsoleChange::kPan, ch);
}

void CConsole::SetKnee(double point, double level) {
  settings_.slowPoint = point;
  settings_.substVol = level;
  for (int ch = 1; ch <= kChannels; ++ch) {
    Player(ch).SetKnee({point, level});
    UpdateChannelGains(ch);
  }
  bgm_->Player().SetKnee({point, level});
  bgm_->Player().SetAllOutputLevels(bgm_->Level());
}

void CConsole::SetFaderLevel(int fader, double level, bool refresh) {
  if (fader < 1 || fader > kFaders) return;
  level = std::clamp(level, 0.0, 10.0);
  const uint32_t value = ValueFromLevel(level);
  trackbar_[Index(fader)].store(TrackbarFromLevel(level));
  value_[Index(fader)].store(value);
  if (fader <= kChannels) {
    UpdateChannelGains(fader);
  } else {
    const size_t g = Index(fader - kChannels);
    if (OnUiThread()) {
      settings_.group[g] = static_cast<int32_t>(value);
    } else {
      PostToUi([this, g, value] { settings_.group[g] = static_cast<int32_t>(value); });
    }
    for (int ch = 1; ch <= kChannels; ++ch) UpdateChannelGains(ch);
  }
  if (refresh) Changed(ConsoleChange::kFader, fader);
}

// --- fades ---

void CConsole::FadeThunk(TimerService::TimerId, void* user) {
  auto* u = static_cast<FadeTimerUser*>(user);
  u->console->FadeStep(u->fader);
}

void CConsole::KillFadeTimer(int fader) {
  Fade& f = fades_[Index(fader)];
  TimerService::TimerId id = 0;
  {
    std::lock_guard lock(f.mutex);
    id = f.timer.exchange(0);
    // A fade without its timer holds up no player's reading.
    g_fadeMask.fetch_and(static_cast<uint16_t>(~(1u << fader)));
  }
  // Outside the lock: the kill waits for a step in flight, which takes it.
  if (id != 0) timers_.timeKillEvent(id);
}

int CConsole::EndFade(int fader) {
  Fade& f = fades_[Index(fader)];
  int ended = 0;
  TimerService::TimerId id = 0;
  {
    std::lock_guard lock(f.mutex);
    if (f.in.exchange(false)) {
      ended = 1;
    } else if (f.out.exchange(false)) {
      ended = 2;
    }
    id = f.timer.exchange(0);
    // A stop this fade posted is no longer its to make.
    f.serial.fetch_add(1);
    g_fadeMask.fetch_and(static_cast<uint16_t>(~(1u << fader)));
  }
  if (id != 0) timers_.timeKillEvent(id);
  return ended;
}

bool CConsole::StartFade(int fader, bool in, double seconds, double target) {
  Fade& f = fades_[Index(fader)];
  // Levels live on 0..10: a target outside would never be reached.
  target = std::clamp(target, 0.0, 10.0);
  const double cur = ChannelLevel(fader);
  if (!(seconds > 0) || (in ? !(target > cur) : !(target < cur))) return false;
  bool replacedOut = false;
  {
    std::lock_guard lock(f.mutex);
    const uint32_t now = timers_.timeGetTime();
    f.baseLevel.store(cur);
    f.baseTime.store(now);
    f.lastStep.store(now);
    f.levelValue.store(value_[Index(fader)].load());
    f.rate.store(std::fabs(target - cur) / (seconds * 1000));
    f.target.store(target);
    f.steps.store(0);
    f.serial.fetch_add(1);
    f.sound.store(fader <= kChannels ? sound_[Index(fader)] : 0);
    // One fade per fader: the new one replaces whatever ran.
    replacedOut = in && f.out.exchange(false);
    (in ? f.in : f.out).store(true);
    (in ? f.out : f.in).store(false);
    if (f.timer.load() == 0) {
      f.timer.store(timers_.timeSetEvent(10, 10, &CConsole::FadeThunk, &fadeUsers_[Index(fader)]));
    }
  }
  if (replacedOut && fader <= kChannels) {
    buttons_[Index(fader)].fadeOut = false;
    Changed(ConsoleChange::kTransport, fader);
  }
  ConsoleEvent e;
  e.kind = ConsoleEvent::Kind::kFade;
  e.fader = fader;
  e.from = cur;
  e.to = target;
  e.seconds = seconds;
  Emit(e);
  return true;
}

void CConsole::StartFadeIn(int fader) {
  const CRecord* r = Current(fader);
  if (r) StartFade(fader, true, r->fadeIn, r->preLevel);
}

void CConsole::StartFadeOut(int fader, bool toZero) {
  const CRecord* r = Current(fader);
  if (r) StartFade(fader, false, r->fadeOut, toZero ? 0.0 : r->preLevel);
}

void CConsole::ContinueFade(int fader) {
  Fade& f = fades_[Index(fader)];
  std::lock_guard lock(f.mutex);
  if ((!f.in.load() && !f.out.load()) || f.timer.load() != 0) return;
  // The rest of the way at the same rate, from where the pause froze it.
  const uint32_t now = timers_.timeGetTime();
  f.baseLevel.store(ChannelLevel(fader));
  f.baseTime.store(now);
  f.lastStep.store(now);
  f.levelValue.store(value_[Index(fader)].load());
  f.timer.store(timers_.timeSetEvent(10, 10, &CConsole::FadeThunk, &fadeUsers_[Index(fader)]));
}

void CConsole::CancelFade(int fader) {
  if (fader < 1 || fader > kFaders) return;
  const int ended = EndFade(fader);
  if (ended == 2 && fader <= kChannels) {
    buttons_[Index(fader)].fadeOut = false;
    Changed(ConsoleChange::kTransport, fader);
  }
  if (ended != 0) EmitFadeEnd(fader);
}

void CConsole::EmitFadeEnd(int fader) {
  ConsoleEvent e;
  e.kind = ConsoleEvent::Kind::kFadeEnd;
  e.fader = fader;
  e.to = ChannelLevel(fader);
  Emit(e);
}

void CConsole::FadeStep(int fader) {
  if (fader < 1 || fader > kFaders) return;
  Fade& f = fades_[Index(fader)];
  TimerService::TimerId finished = 0;
  bool stop = false;
  uint32_t serial = 0, sound = 0;
  {
    // The timer thread steps this fader while the UI thread starts, ends or
    // cancels its fade: one step at a time, start to end.
    std::lock_guard lock(f.mutex);
    const bool in = f.in.load();
    // No timer: not started yet, ended, or frozen by a pause.
    if ((!in && !f.out.load()) || f.timer.load() == 0) return;
    bool show = f.steps.fetch_add(1) % 10 == 0;
    if (settings_.block != 0) g_fadeMask.fetch_or(static_cast<uint16_t>(1u << fader));
    // The level follows the elapsed time since the fade's start, so late or
    // bunched steps catch up and the fade ends on time. When something else
    // set the fader since the last step, the fade goes on from there.
    const uint32_t value = value_[Index(fader)].load();
    if (value != f.levelValue.load()) {
      f.baseLevel.store(value / kFull * 10);
      f.baseTime.store(f.lastStep.load());
    }
    const uint32_t now = timers_.timeGetTime();
    f.lastStep.store(now);
    const double travel = f.rate.load() * static_cast<uint32_t>(now - f.baseTime.load());
    const double target = f.target.load();
    double level = in ? f.baseLevel.load() + travel : f.baseLevel.load() - travel;
    // Within rounding of the target counts as there.
    constexpr double kEpsilon = 1e-9;
    const bool done = in ? level >= target - kEpsilon : level <= target + kEpsilon;
    if (done) {
      (in ? f.in : f.out).store(false);
      finished = f.timer.exchange(0);
      g_fadeMask.fetch_and(static_cast<uint16_t>(~(1u << fader)));
      level = target;
      show = true;
      stop = !in && target <= 0 && fader <= kChannels;
      serial = f.serial.load();
      sound = f.sound.load();
    }
    SetFaderLevel(fader, level, show);
    f.levelValue.store(value_[Index(fader)].load());
  }
  if (finished == 0) return;
  timers_.timeKillEvent(finished);
  EmitFadeEnd(fader);
  // The stop touches players and cue state: it belongs to the UI thread.
  if (stop) PostToUi([this, fader, serial, sound] { StopAfterFade(fader, serial, sound); });
}

void CConsole::StopAfterFade(int ch, uint32_t serial, uint32_t sound) {
  // Meanwhile a new fade, a cancel or a new sound on the channel (a cue
  // fired in the same instant) took over: the stop is not for them.
  if (fades_[Index(ch)].serial.load() != serial || sound_[Index(ch)] != sound) return;
  StopChannel(ch);
}

bool CConsole::AnyFadeRunning() const {
  for (int fader = 1; fader <= kFaders; ++fader)
    if (fades_[Index(fader)].in.load() || fades_[Index(fader)].out.load()) return true;
  return false;
}

}  // namespace orvex
