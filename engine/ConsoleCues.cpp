// Cue pointers, GO with its delays, call-up, previous and next.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "engine/Console.h"
#include "show/Messages.h"
#include "show/TextNumbers.h"

namespace orvex {

const CRecord* CConsole::Current(int fader) const {
  if (fader < 1 || fader > kFaders) return nullptr;
  return cues_.Find(fader, cue_[Index(fader)].current);
}

CueCommand CConsole::CommandOf(int fader) const {
  const CRecord* r = Current(fader);
  return r ? CueCommandOf(r->fileOrCommand) : CueCommand::kNone;
}

double CConsole::CurrentQ(int fader) const {
  const CRecord* r = Current(fader);
  return r ? r->qNumber : 0;
}

void CConsole::SetNextCue(double q) {
  const bool changed = q != nextCue_;
  nextCue_ = q;
  nextText_ = FormatG(q);
  if (changed) {
    ConsoleEvent e;
    e.kind = ConsoleEvent::Kind::kNextCue;
    e.q = q;
    Emit(e);
  }
  Changed(ConsoleChange::kCues, 0);
}

void CConsole::ComputeNextCue() {
  double best = 0;
  bool found = false;
  for (int k = 1; k <= kFaders; ++k) cue_[Index(k)].armed = false;
  for (int k = 1; k <= kFaders; ++k) {
    const CRecord* r = Current(k);
    if (!r || !r->inSequence || !(r->qNumber > 0)) continue;
    cue_[Index(k)].autoRunTime = static_cast<uint32_t>(r->timing);
    if (!found || r->qNumber < best) {
      for (int j = 1; j <= kFaders; ++j) cue_[Index(j)].armed = false;
      best = r->qNumber;
      found = true;
    }
    if (r->qNumber == best) cue_[Index(k)].armed = true;
  }
  SetNextCue(best);
}

std::string ResolveSoundPath(const std::string& stored, const DriveMap& drives,
                             const std::string& showFolder) {
  std::string native = NativePath(stored, drives);
  if (native.empty() || native[0] == '/' || showFolder.empty() ||
      ::access(native.c_str(), F_OK) == 0)
    return native;
  return NativePath(showFolder + "/" + native, drives);
}

std::vector<MissingFile> FindMissingFiles(const CueStore& cues, const DriveMap& drives,
                                          const std::string& showFolder) {
  std::vector<MissingFile> missing;
  for (int ch = 1; ch <= kChannels; ++ch) {
    const int n = cues.GetCount(ch);
    for (int i = 1; i <= n; ++i) {
      const CRecord* r = cues.Find(ch, i);
      if (!r || r->fileOrCommand.empty() || IsCommandWord(r->fileOrCommand)) continue;
      const std::string native = ResolveSoundPath(cues.GetWavPath(ch, i), drives, showFolder);
      struct stat st {};
      if (!native.empty() && ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode)) continue;
      missing.push_back({ch, r->qNumber, native});
    }
  }
  return missing;
}

std::string CConsole::ResolvePath(const std::string& stored) const {
  return ResolveSoundPath(stored, drives_, showFolder_);
}

std::string CConsole::StoredFilePath(int ch) const {
  const CRecord* r = ch >= 1 && ch <= kChannels ? Current(ch) : nullptr;
  if (!r || r->fileOrCommand.empty() || IsCommandWord(r->fileOrCommand)) return {};
  return cues_.GetWavPath(ch, cue_[Index(ch)].current);
}

std::string CConsole::CurrentFilePath(int ch) const {
  const std::string stored = StoredFilePath(ch);
  return stored.empty() ? stored : ResolvePath(stored);
}

void CConsole::LoadChannelFile(int ch) {
  if (ch < 1 || ch > kChannels) return;
  CueState& s = cue_[Index(ch)];
  CWaveWnd& player = Player(ch);
  if (s.loaded) {
    // A channel that is playing, or has played, keeps its sound until it stops.
    if (s.started) {
      s.reload = true;
      return;
    }
    player.Unload();
    s.loaded = s.started = false;
  }
  // Whatever comes now replaces the file that could not be opened.
  if (!missingFile_[Index(ch)].empty()) {
    missingFile_[Index(ch)].clear();
    Changed(ConsoleChange::kMissingFile, ch);
  }
  const CRecord* r = Current(ch);
  if (r && IsCommandWord(r->fileOrCommand)) return;
  if (!r || r->fileOrCommand.empty()) {
    if (slider_) slider_->ClearChannelFile(ch);
    return;
  }
  const std::string path = cues_.GetWavPath(ch, s.current);
  const size_t dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1, 3);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (ext == "wav") {
    ClearChannelList(ch);
    player.SetChannelData(r->channelData);
    const std::string native = ResolvePath(path);
    loadedPaths_[Index(ch)] = {native, path};
    // Returns at once: the player's reader opens the file, and a refusal
    // comes back later, on this thread.
    player.LoadFile(native, [this, ch, path, native](WaveOpenError error) {
      // The other refusals have shown their reason already; a file that is
      // not there would otherwise leave a silent cue nobody was told about.
      if (error == WaveOpenError::kCannotOpen) {
        missingFile_[Index(ch)] = native;
        if (reportMissing_) ReportMessage(std::string(kCueFileCannotOpen) + "\n" + native);
        Changed(ConsoleChange::kMissingFile, ch);
      }
      if (slider_) slider_->SelectChannelFile(ch, path, std::nullopt);
      // A GO that came before the refusal started nothing: the channel is
      // free for its next cue, which may be waiting to load.
      CueState& state = cue_[Index(ch)];
      state.started = false;
      if (std::exchange(state.reload, false)) {
        state.loaded = false;
        LoadChannelFile(ch);
      }
    });
    cues_.SetChannelData(ch, s.current, player.GetChannelData());
    s.loaded = true;
    s.listMode = false;
  } else {
    s.listMode = true;
    LoadChannelList(ch, path);
  }
}

void CConsole::PresetFader(int ch) {
  if (ch < 1 || ch > kChannels) return;
  const CRecord* r = Current(ch);
  const CueCommand c = CommandOf(ch);
  if (c == CueCommand::kStop || c == CueCommand::kFout || c == CueCommand::kFdown ||
      c == CueCommand::kFup || Player(ch).IsPlaying())
    return;
  // A cue with a fade-in starts from silence and fades up when fired.
  const bool fadesIn = ParseLeadingReal(rows_[Index(ch)].fadeIn) > 0;
  SetFaderLevel(ch, fadesIn ? 0.0 : (r ? r->preLevel : 0.0), true);
}

void CConsole::ApplyOutputFlags(int fader) {
  const CRecord* r = Current(fader);
  if (!r || !r->outputSpecified) return;
  const int32_t flags = r->outputFlags;
  if (fader <= kChannels) {
    masterCh_[Index(fader)].store(false);
    groupCh_[Index(fader)].store(0);
    crossCh_[Index(fader)].store(0);
    StoreRouteSettings(fader);
    if (flags & OUT_M) SetChannelRoute(fader, Route::kM, true);
    if (flags & OUT_G1) SetChannelRoute(fader, Route::kG1, true);
    if (flags & OUT_G2) SetChannelRoute(fader, Route::kG2, true);
    if (flags & OUT_X) SetChannelRoute(fader, Route::kX, true);
    if (flags & OUT_Y) SetChannelRoute(fader, Route::kY, true);
    // Also when no toggle came back on: the cleared routing must be heard.
    UpdateChannelGains(fader);
    Changed(ConsoleChange::kRouting, fader);
    return;
  }
  const int g = fader - kChannels;
  masterGr_[Index(g)].store(false);
  outputGr_[Index(g)].store(false);
  crossGr_[Index(g)].store(0);
  settings_.masterGroup[Index(g)] = 0;
  settings_.outputGroup[Index(g)] = 0;
  settings_.crossGroup[Index(g)] = 0;
  if (flags & OUT_M) SetGroupRoute(g, Route::kM, true);
  if (flags & OUT_X) SetGroupRoute(g, Route::kX, true);
  if (flags & OUT_Y) SetGroupRoute(g, Route::kY, true);
  if (flags & OUT_ON) SetGroupRoute(g, Route::kOn, true);
  for (int ch = 1; ch <= kChannels; ++ch) UpdateChannelGains(ch);
  Changed(ConsoleChange::kRouting, fader);
}

void CConsole::AdvanceChannel(int position, int fader) {
  if (fader < 1 || fader > kFaders) return;
  CueState& s = cue_[Index(fader)];
  const int n = cues_.GetCount(fader);
  if (position > n) {
    s.current = 0;
  } else if (position < 0) {
    s.current += 1;
    if (s.current > n) {
      s.current = 0;
    } else {
      int i = s.current;
      while (i <= n && !cues_.IsInSequence(fader, i)) ++i;
      if (i <= n) s.current = i;  // none in sequence: stay on the first tried
    }
  } else {
    s.current = position;
  }
  if (fader <= kChannels) {
    RefreshChannelRow(fader);
    if (!Player(fader).IsPlaying()) LoadChannelFile(fader);
    PresetFader(fader);
    ApplyOutputFlags(fader);
  }
  const CRecord* r = Current(fader);
  s.autoRunTime = r ? static_cast<uint32_t>(r->timing) : 0;
  ComputeNextCue();
}

void CConsole::StartChannel(int ch) {
  if (ch < 1 || ch > kChannels) return;
  CWaveWnd& player = Player(ch);
  CueState& s = cue_[Index(ch)];
  const CRecord* r = Current(ch);
  const CueCommand c = CommandOf(ch);
  if (player.IsPlaying() && player.IsLoaded()) {
    if (player.IsPaused()) {
      UpdateChannelGains(ch);
      player.Resume();
      player.SetPaused(false);
      // A fade the pause froze goes on from where it stopped.
      ContinueFade(ch);
      Emit({ConsoleEvent::Kind::kResume, 0, ch});
    }
    if (c == CueCommand::kFup) StartFadeIn(ch);
    if (c == CueCommand::kUp || c == CueCommand::kDown) SetFaderLevel(ch, r->preLevel, true);
    return;
  }
  if (!s.loaded || c == CueCommand::kCont) return;
  UpdateChannelGains(ch);
  player.SetPaused(false);
  // A file that did not load starts nothing: the channel stays free for its
  // next cue instead of waiting for a stop.
  if (!player.Play()) return;
  s.started = true;
  ++sound_[Index(ch)];
  Emit({ConsoleEvent::Kind::kPlay, 0, ch});
  StartFadeIn(ch);
}

void CConsole::ExecuteGo() {
  auto run = std::make_unique<GoRun>();
  run->t0 = timers_.timeGetTime();
  for (int k = 1; k <= kFaders; ++k) {
    run->armed[Index(k)] = cue_[Index(k)].armed;
    const CRecord* r = Current(k);
    if (run->armed[Index(k)] && r && r->delay > 0) {
      run->pending[Index(k)] = true;
      run->delay[Index(k)] = static_cast<uint32_t>(r->delay);
    }
  }
  // GO fires the armed cue whatever has been typed into "次のＱ" meanwhile
  // (a typed number is only where a call-up goes), so the current cue shows
  // the cue that fires: 0 when none is armed.
  run->text = FormatG(nextCue_);
  ConsoleEvent go;
  go.kind = ConsoleEvent::Kind::kGo;
  go.q = nextCue_;
  Emit(go);
  {
    // The shared-mode streams of every cue this GO fires start in one
    // moment of the server, not each as its player is reached.
    CWaveWASAPI::StartTogether together;
    RunGoPass(*run);
  }
  if (!run->AnyPending()) {
    FinishGo(*run);
    return;
  }
  // The delayed faders fire from a timer, so the console keeps running
  // (other commands, fades, further GOs) while they wait.
  goRuns_.push_back(std::move(run));
  ScheduleGoTimer();
}

void CConsole::OnGoTimer() {
  std::vector<GoRun*> runs;
  for (auto& run : goRuns_) runs.push_back(run.get());
  for (GoRun* run : runs) {
    {
      CWaveWASAPI::StartTogether together;  // the faders whose delay ran out
      RunGoPass(*run);
    }
    if (run->AnyPending()) continue;
    FinishGo(*run);
    std::erase_if(goRuns_, [run](const auto& r) { return r.get() == run; });
  }
  ScheduleGoTimer();
}

void CConsole::ScheduleGoTimer() {
  if (goRuns_.empty()) {
    goTimer_.Stop();
    return;
  }
  const uint32_t now = timers_.timeGetTime();
  uint32_t wait = UINT32_MAX;
  for (const auto& run : goRuns_) {
    const uint32_t elapsed = now - run->t0;
    for (int k = 1; k <= kFaders; ++k) {
      if (!run->pending[Index(k)]) continue;
      const uint32_t delay = run->delay[Index(k)];
      wait = std::min(wait, delay > elapsed ? delay - elapsed : 0u);
    }
  }
  // The timer is restarted for each due time, so a delay fires when it runs
  // out rather than on the next pass of a fixed period.
  goTimer_.Start(std::max(wait, 1u), [this] { OnGoTimer(); });
}

void CConsole::RunGoPass(GoRun& run) {
  const uint32_t elapsed = timers_.timeGetTime() - run.t0;
  for (int k = 1; k <= kFaders; ++k) {
    const size_t i = Index(k);
    if (!run.armed[i] || run.fired[i]) continue;
    if (run.pending[i] && elapsed < run.delay[i]) continue;
    run.pending[i] = false;
    run.fired[i] = true;
    FireFader(k);
  }
}

void CConsole::FireFader(int k) {
  const CRecord* r = Current(k);
  ConsoleEvent fire;
  fire.kind = ConsoleEvent::Kind::kFire;
  fire.fader = k;
  fire.q = r ? r->qNumber : 0;
  Emit(fire);
  const CueCommand c = CommandOf(k);
  const bool fadeOut = c == CueCommand::kFout || c == CueCommand::kFdown;
  const bool levelOnly = c == CueCommand::kUp || c == CueCommand::kDown;
  if (k <= kChannels) {
    if (c == CueCommand::kStop) {
      StopChannel(k);
    } else if (fadeOut) {
      FadeOutChannel(k);
    } else if (c == CueCommand::kPause) {
      PauseChannel(k);
    } else {
      CWaveWnd& player = Player(k);
      if (player.IsPlaying() && player.IsLoaded() && c != CueCommand::kFup && !levelOnly &&
          c != CueCommand::kCont) {
        StopChannel(k);  // and loads the new record's file
      }
      PlayChannel(k);
    }
    return;
  }
  ApplyOutputFlags(k);
  if (fadeOut) {
    CancelFade(k);
    StartFadeOut(k, c == CueCommand::kFout);
  } else if (c == CueCommand::kFup) {
    StartFadeIn(k);
  } else if (levelOnly) {
    SetFaderLevel(k, r ? r->preLevel : 0.0, true);
  }
}

void CConsole::FinishGo(const GoRun& run) {
  currentText_ = run.text;
  if (AutoNext()) {
    for (int k = 1; k <= kFaders; ++k) {
      if (!run.armed[Index(k)]) continue;
      if (k <= kChannels && Player(k).IsPlaying()) cue_[Index(k)].reload = true;
      AdvanceChannel(-1, k);
    }
  } else {
    ComputeNextCue();
  }
  Changed(ConsoleChange::kCues, 0);
  for (int ch = 1; ch <= kChannels; ++ch) Changed(ConsoleChange::kRow, ch);
}

void CConsole::MovePositions(double b, bool strictlyAfter) {
  std::array<int, kFaders + 1> target{};
  for (int k = 1; k <= kFaders; ++k) {
    const int n = cues_.GetCount(k);
    bool laterOutOfSequence = false;
    for (int i = 1; i <= n; ++i) {
      const double q = cues_.GetQNumber(k, i);
      if (strictlyAfter ? !(q > b) : !(q >= b)) continue;
      if (cues_.IsInSequence(k, i)) {
        target[Index(k)] = i;
        break;
      }
      laterOutOfSequence = true;
    }
    if (target[Index(k)] == 0 && laterOutOfSequence) {
      for (int i = std::max(cue_[Index(k)].current, 1); i <= n; ++i) {
        if (!cues_.IsInSequence(k, i)) {
          target[Index(k)] = i;
          break;
        }
      }
    }
  }
  for (int k = 1; k <= kFaders; ++k) AdvanceChannel(target[Index(k)], k);
  double next = 0;
  for (int k = 1; k <= kFaders; ++k) {
    const int t = target[Index(k)];
    const double q = cues_.GetQNumber(k, t);
    if (t > 0 && cues_.IsInSequence(k, t) && q > 0 && (next == 0 || q < next)) next = q;
  }
  SetNextCue(next);
}

void CConsole::CallUpCue(double q) {
  MovePositions(q, false);
}
void CConsole::CallUp() {
  MovePositions(ParseLeadingReal(nextText_), false);
}
void CConsole::Next() {
  MovePositions(ParseLeadingReal(nextText_), true);
}

void CConsole::Previous() {
  const double b = ParseLeadingReal(nextText_);
  double best = 0;
  for (int k = 1; k <= kFaders; ++k) {
    for (int i = cues_.GetCount(k); i >= 1; --i) {
      const double q = cues_.GetQNumber(k, i);
      if (q < b && cues_.IsInSequence(k, i)) {
        best = std::max(best, q);
        break;
      }
    }
  }
  CallUpCue(best);
}

}  // namespace orvex
