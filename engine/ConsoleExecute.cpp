// The one dispatcher of operator actions, and the console operations only
// commands reach.
#include <algorithm>

#include "engine/Console.h"

namespace orvex {

void CConsole::Execute(const ConsoleCommand& command) {
  struct Dispatch {
    CConsole& c;
    void operator()(const cmd::Go&) const { c.ExecuteGo(); }
    void operator()(const cmd::StopAll&) const { c.StopAll(); }
    void operator()(const cmd::Channel& x) const {
      switch (x.action) {
        case cmd::Transport::kPlay:
          c.PlayChannel(x.ch);
          break;
        case cmd::Transport::kPause:
          c.PauseChannel(x.ch);
          break;
        case cmd::Transport::kStop:
          c.StopChannel(x.ch);
          break;
        case cmd::Transport::kFadeOut:
          c.FadeOutChannel(x.ch);
          break;
        case cmd::Transport::kNext:
          c.NextChannel(x.ch);
          break;
        case cmd::Transport::kRestart:
          c.FunctionKey(x.ch);
          break;
      }
    }
    void operator()(const cmd::MoveFader& x) const { c.MoveFader(x.fader, x.position); }
    void operator()(const cmd::FaderLevel& x) const {
      if (x.fader >= 1 && x.fader <= kFaders)
        c.SetFaderLevel(x.fader, std::clamp(x.level, 0.0, 10.0), true);
    }
    void operator()(const cmd::MoveMaster& x) const { c.MoveMaster(x.position); }
    void operator()(const cmd::MoveCross& x) const { c.MoveCross(x.position); }
    void operator()(const cmd::Toggle& x) const {
      if (x.fader <= kChannels)
        c.SetChannelRoute(x.fader, x.route, x.on);
      else if (x.fader <= kFaders)
        c.SetGroupRoute(x.fader - kChannels, x.route, x.on);
    }
    void operator()(const cmd::Routing& x) const { c.SetRouting(x.fader, x.state); }
    void operator()(const cmd::MasterOn& x) const { c.SetMasterOn(x.on); }
    void operator()(const cmd::Pan& x) const { c.SetPan(x.ch, x.pan); }
    void operator()(const cmd::Tone& x) const { c.SetTone(x.ch, x.band, x.gain); }
    void operator()(const cmd::Seek& x) const { c.SeekChannel(x.ch, x.offset); }
    void operator()(const cmd::CallUpCue& x) const { c.CallUpCue(x.q); }
    void operator()(const cmd::CallUp&) const { c.CallUp(); }
    void operator()(const cmd::PreviousCue&) const { c.Previous(); }
    void operator()(const cmd::NextCue&) const { c.Next(); }
    void operator()(const cmd::NextCueText& x) const { c.SetNextCueText(x.text); }
    void operator()(const cmd::AutoNext& x) const { c.SetAutoNext(x.on); }
    void operator()(const cmd::AutoRun& x) const {
      switch (x.action) {
        case cmd::AutoRunAction::kRun:
          c.RunTimeline();
          break;
        case cmd::AutoRunAction::kStop:
          c.StopTimeline();
          break;
        case cmd::AutoRunAction::kZero:
          c.ZeroReset();
          break;
        case cmd::AutoRunAction::kTiming:
          c.SetToNextTiming();
          break;
      }
    }
    void operator()(const cmd::ClockText& x) const { c.SetClockText(x.text); }
    void operator()(const cmd::Knee& x) const { c.SetKnee(x.point, x.level); }
    void operator()(const cmd::Buffers& x) const { c.SetBufferSeconds(x.ch, x.first, x.second); }
    void operator()(const cmd::ReadBlock& x) const { c.SetReadBlock(x.on); }
    void operator()(const cmd::ListCheck& x) const { c.SetListCheck(x.ch, x.item, x.checked); }
    void operator()(const cmd::Bgm& x) const { c.ExecuteBgm(x); }
  };
  std::visit(Dispatch{*this}, command);
}

// Each toggle is clicked as an operator would click it, so X and Y, which
// exclude each other, end as the last one asked for.
void CConsole::SetRouting(int fader, const RouteState& state) {
  if (fader < 1 || fader > kFaders) return;
  if (fader <= kChannels) {
    for (Route route : {Route::kM, Route::kG1, Route::kG2, Route::kX, Route::kY}) {
      const bool want = state.Flag(route);
      if (ChannelRoute(fader).Flag(route) != want) SetChannelRoute(fader, route, want);
    }
    return;
  }
  const int g = fader - kChannels;
  for (Route route : {Route::kM, Route::kOn, Route::kX, Route::kY}) {
    const bool want = state.Flag(route);
    if (GroupRoute(g).Flag(route) != want) SetGroupRoute(g, route, want);
  }
}

void CConsole::SetTone(int ch, int band, float gain) {
  if (ch < 1 || ch > kChannels || band < 0 || band > 2) return;
  settings_.tone[Index(ch)][Index(band)] = gain;
  Player(ch).SetToneGain(band, gain);
}

float CConsole::ToneGain(int ch, int band) const {
  if (ch < 1 || ch > kChannels || band < 0 || band > 2) return 0;
  return settings_.tone[Index(ch)][Index(band)];
}

void CConsole::ExecuteBgm(const cmd::Bgm& command) {
  CBgmList& bgm = *bgm_;
  switch (command.action) {
    case cmd::BgmAction::kList:
      bgm.Load(command.file);
      break;
    case cmd::BgmAction::kPlay:
      bgm.Play();
      break;
    case cmd::BgmAction::kStop:
      bgm.Stop();
      break;
    case cmd::BgmAction::kFadeOut:
      bgm.FadeOut(command.value);
      break;
    case cmd::BgmAction::kLevel:
      bgm.SetLevel(command.value);
      break;
    case cmd::BgmAction::kSelect:
      bgm.Select(static_cast<int>(command.value));
      break;
  }
}

void CConsole::SeekChannel(int ch, uint32_t offset) {
  if (ch >= 1 && ch <= kChannels) Player(ch).Seek(offset);
}

}  // namespace orvex
