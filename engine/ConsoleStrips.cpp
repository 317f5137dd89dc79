// Set-up of the console, the channel strips and the shutdown.
#include <algorithm>
#include <cstdio>

#include "engine/Console.h"
#include "engine/FadeMask.h"
#include "show/TextNumbers.h"

namespace orvex {

void CConsole::PlayerNews::OnFileLate(int channel, const std::string& path) {
  char head[16];
  std::snprintf(head, sizeof head, "CH%d: ", channel);
  console->lateFileNote_ = head + std::string(kWaveLate) + ": " + path;
  console->Changed(ConsoleChange::kLateFile, channel);
}

void CConsole::PlayerNews::OnFileSelected(int channel, const std::string& path,
                                          uint32_t bytesPerSecond, uint32_t dataSize) {
  // An item that opens ends a run of list items that did not.
  if (channel >= 1 && channel <= kChannels) console->listFailures_[Index(channel)] = 0;
  if (console->slider_)
    console->slider_->SelectChannelFile(channel, console->MarkerKey(channel, path),
                                        FileTiming{bytesPerSecond, dataSize});
}

std::string CConsole::MarkerKey(int ch, const std::string& nativePath) const {
  if (ch < 1 || ch > kChannels) return nativePath;
  // Markers are kept under the path as the show stores it, which is what
  // the document loads and saves them by.
  // A list item is kept under the list's folder and its name.
  const auto& [native, stored] = loadedPaths_[Index(ch)];
  if (native == nativePath && !stored.empty()) return stored;
  return nativePath;
}

CConsole::CConsole(CueStore& cues, Settings& settings, TimerService& timers, UiPoster& poster)
    : cues_(cues),
      settings_(settings),
      timers_(timers),
      poster_(poster),
      goTimer_(timers, poster),
      clockTimer_(timers, poster) {
  bgm_ = std::make_unique<CBgmList>(timers, poster);
  bgm_->SetEventSink([this](ConsoleEvent e) {
    if (listener_) listener_->OnConsoleEvent(e);
  });
  std::weak_ptr<bool> alive = alive_;
  playerNews_.console = this;
  for (int ch = 1; ch <= kChannels; ++ch) {
    auto player = std::make_unique<CWaveWnd>(ch, timers, poster);
    player->SetObserver(&playerNews_);
    player->SetEndOfFileHandler([this, alive](int channel) {
      if (alive.lock()) OnChannelEnded(channel);
    });
    player->SetNextFileProvider(
        [this, alive, ch] { return alive.lock() ? FollowingListFile(ch) : std::string(); });
    player->SetFileChangedHandler([this, alive](int channel) {
      if (alive.lock()) ListItemFollowed(channel);
    });
    players_[Index(ch)] = std::move(player);
  }
  for (int f = 0; f <= kFaders; ++f) fadeUsers_[Index(f)] = {this, f};
  for (int f = 1; f <= kFaders; ++f) trackbar_[Index(f)].store(100);
}

CConsole::~CConsole() {
  Shutdown();
  *alive_ = false;
}

void CConsole::PostToUi(std::function<void()> task) {
  poster_.Post([alive = std::weak_ptr<bool>(alive_), task = std::move(task)] {
    if (auto a = alive.lock(); a && *a) task();
  });
}

void CConsole::Emit(ConsoleEvent event) {
  event.timeMs = timers_.timeGetTime();
  if (listener_) listener_->OnConsoleEvent(event);
}

void CConsole::Changed(ConsoleChange what, int index) {
  if (!listener_) return;
  if (OnUiThread()) {
    listener_->OnConsoleChanged(what, index);
  } else {
    PostToUi([this, what, index] {
      if (listener_) listener_->OnConsoleChanged(what, index);
    });
  }
}

void CConsole::SetEngines(const std::array<mixer::VoiceEngine*, kOutputCount>& engines) {
  for (int ch = 1; ch <= kChannels; ++ch) Player(ch).SetEngines(engines);
  bgm_->Player().SetEngines(engines);
}

void CConsole::ApplyPlayerSettings() {
  for (int ch = 1; ch <= kChannels; ++ch) {
    Player(ch).SetBufferSeconds(settings_.prepBufSize[Index(ch)], settings_.bufSize[Index(ch)]);
    Player(ch).SetKnee({settings_.slowPoint, settings_.substVol});
  }
  // The background player's first block stays at 10 s; the later ones
  // follow its own setting.
  bgm_->Player().SetBufferSeconds(10, settings_.bufSize[0]);
  bgm_->Player().SetKnee({settings_.slowPoint, settings_.substVol});
}

void CConsole::SetBufferSeconds(int ch, int first, int second) {
  if (ch < 1 || ch > kChannels) return;
  settings_.prepBufSize[Index(ch)] = first;
  settings_.bufSize[Index(ch)] = second;
  Player(ch).SetBufferSeconds(first, second);
}

void CConsole::LoadFromSettings() {
  ApplyPlayerSettings();
  master_.store(static_cast<uint32_t>(std::clamp(settings_.master, 0, 65535)));
  outputMaster_.store(settings_.outputMaster != 0);
  for (int g = 1; g <= 2; ++g) {
    const uint32_t value = static_cast<uint32_t>(std::clamp(settings_.group[Index(g)], 0, 65535));
    value_[Index(kChannels + g)].store(value);
    trackbar_[Index(kChannels + g)].store(static_cast<int>((1 - value / 65535.0) * 100));
    crossGr_[Index(g)].store(std::clamp(settings_.crossGroup[Index(g)], 0, 2));
    masterGr_[Index(g)].store(settings_.masterGroup[Index(g)] != 0);
    outputGr_[Index(g)].store(settings_.outputGroup[Index(g)] != 0);
  }
  cross_.store(65535);  // the left end
  for (int ch = 1; ch <= kChannels; ++ch) {
    value_[Index(ch)].store(0);
    trackbar_[Index(ch)].store(100);
    masterCh_[Index(ch)].store(settings_.masterCh[Index(ch)] != 0);
    groupCh_[Index(ch)].store(settings_.groupCh[Index(ch)] & 3);
    crossCh_[Index(ch)].store(std::clamp(settings_.crossCh[Index(ch)], 0, 2));
    pan_[Index(ch)].store(std::clamp(settings_.panCh[Index(ch)], -10000, 10000));
    UpdateChannelGains(ch);
  }
  Changed(ConsoleChange::kRouting, 0);
  bgm_->LoadSettings(settings_);
}

void CConsole::RefreshAfterCueChange(bool resetPositions) {
  Changed(ConsoleChange::kCues, 0);
  for (int k = 1; k <= kFaders; ++k) {
    CueState& s = cue_[Index(k)];
    const int n = cues_.GetCount(k);
    if (n == 0) {
      s.current = 0;
    } else if (resetPositions || n < s.current) {
      s.current = 1;
    }
  }
  for (int ch = 1; ch <= kChannels; ++ch) {
    FillTitleList(ch);
    RefreshChannelRow(ch);
  }
  for (int ch = 1; ch <= kChannels; ++ch) PresetFader(ch);
  ComputeNextCue();
  for (int ch = 1; ch <= kChannels; ++ch) LoadChannelFile(ch);
}

void CConsole::ApplyFirstCueRouting() {
  for (int ch = 1; ch <= kChannels; ++ch) ApplyOutputFlags(ch);
}

void CConsole::PlayChannel(int ch) {
  if (ch < 1 || ch > kChannels) return;
  const CueCommand c = CommandOf(ch);
  if (!Player(ch).IsPaused() &&
      (c == CueCommand::kStop || c == CueCommand::kFout || c == CueCommand::kFdown))
    return;
  TransportButtons& b = buttons_[Index(ch)];
  b.play = true;
  b.pause = b.stop = false;
  Changed(ConsoleChange::kTransport, ch);
  // The list page shows the item that is about to play.
  if (cue_[Index(ch)].listMode) Changed(ConsoleChange::kListItem, ch);
  StartChannel(ch);
}

void CConsole::PauseChannel(int ch) {
  if (ch < 1 || ch > kChannels) return;
  TransportButtons& b = buttons_[Index(ch)];
  b.pause = true;
  b.play = false;
  Changed(ConsoleChange::kTransport, ch);
  CWaveWnd& player = Player(ch);
  if (player.IsPaused()) return;
  player.Pause();
  player.SetPaused(true);
  // A running fade freezes where it is.
  KillFadeTimer(ch);
  Emit({ConsoleEvent::Kind::kPause, 0, ch});
}

void CConsole::StopChannel(int ch) {
  if (ch >= 1 && ch <= kChannels) ResetChannel(ch, ConsoleEvent::Kind::kStop);
}

void CConsole::ResetChannel(int ch, ConsoleEvent::Kind why) {
  buttons_[Index(ch)] = TransportButtons{};
  Changed(ConsoleChange::kTransport, ch);
  CancelFade(ch);
  CWaveWnd& player = Player(ch);
  player.SetAllOutputLevels(0);
  player.SetPaused(false);
  CueState& s = cue_[Index(ch)];
  if (s.loaded) player.Unload();
  s.loaded = s.started = false;
  ++sound_[Index(ch)];
  Emit({why, 0, ch});
  UpdateChannelGains(ch);
  // Stopping always leaves the channel loaded with its current record.
  if (s.reload) {
    if (!player.IsPlaying()) LoadChannelFile(ch);
    PresetFader(ch);
    ApplyOutputFlags(ch);
    s.reload = false;
  } else {
    LoadChannelFile(ch);
  }
}

void CConsole::FadeOutChannel(int ch) {
  if (ch < 1 || ch > kChannels) return;
  CWaveWnd& player = Player(ch);
  TransportButtons& b = buttons_[Index(ch)];
  if (!player.IsPlaying() || !player.IsLoaded() || player.IsPaused()) {
    b.fadeOut = false;
    Changed(ConsoleChange::kTransport, ch);
    return;
  }
  if (EndFade(ch) != 0) EmitFadeEnd(ch);
  const CRecord* r = Current(ch);
  // The toggle shows a fade that runs: with no fade time, or the level
  // already at the target, it does not stay pressed.
  b.fadeOut =
      r && StartFade(ch, false, r->fadeOut, CommandOf(ch) == CueCommand::kFdown ? r->preLevel : 0);
  Changed(ConsoleChange::kTransport, ch);
}

void CConsole::NextChannel(int ch) {
  if (ch >= 1 && ch <= kChannels) AdvanceChannel(-1, ch);
}

void CConsole::ChooseTitle(int ch, int index) {
  if (ch < 1 || ch > kChannels) return;
  AdvanceChannel(index + 1, ch);
  cue_[Index(ch)].reload = true;
}

void CConsole::StoreChannelRecord(int ch, bool fader, bool row) {
  if (ch < 1 || ch > kChannels) return;
  const int current = cue_[Index(ch)].current;
  if (!Current(ch)) return;
  const ChannelRow& r = rows_[Index(ch)];
  const double level = std::clamp(fader ? ChannelLevel(ch) : ParseLeadingReal(r.pre), 0.0, 10.0);
  cues_.SetRecordBasic(ch, current, r.title, r.file, r.description, ParseLeadingReal(r.q), level,
                       ParseLeadingReal(r.fadeIn), ParseLeadingReal(r.fadeOut));
  FillTitleList(ch);
  RefreshChannelRow(ch);
  if (slider_) slider_->LoadMarkerFile(cues_.GetWavPath(ch, current));
  ChooseTitle(ch, current - 1);
  if (row) Changed(ConsoleChange::kCues, 0);
  SetShowModified(true);
}

void CConsole::StoreAllRows() {
  for (int ch = 1; ch <= kChannels; ++ch) StoreChannelRecord(ch, false, true);
}

void CConsole::StoreAll() {
  for (int ch = 1; ch <= kChannels; ++ch) StoreChannelRecord(ch, true, true);
}

void CConsole::SetInSequence(int ch, int position, bool inSequence) {
  CQSheet* sheet = cues_.Sheet(ch);
  if (ch < 1 || ch > kFaders || !sheet || !sheet->IsValid(position)) return;
  // The next cue is recomputed by the next operation that moves the cues.
  sheet->At(position).inSequence = inSequence;
  SetShowModified(true);
}

void CConsole::ModifyRecord(int ch, int position, const RecordValues& values) {
  const CQSheet* sheet = cues_.Sheet(ch);
  if (ch < 1 || ch > kFaders || !sheet || !sheet->IsValid(position)) return;
  cues_.SetRecord(ch, position, values);
  SetShowModified(true);
  if (ch <= kChannels) FillTitleList(ch);
  AdvanceChannel(cue_[Index(ch)].current, ch);
  Changed(ConsoleChange::kCues, 0);
}

void CConsole::StopAll() {
  StopTimeline();
  // Delays still running would start their cues after everything stopped;
  // the positions stay where they are, ready for the same GO again.
  goTimer_.Stop();
  goRuns_.clear();
  for (int f = 1; f <= kFaders; ++f) KillFadeTimer(f);
  // A group fader stays where its fade had taken it.
  for (int f = kChannels + 1; f <= kFaders; ++f) CancelFade(f);
  for (int ch = 1; ch <= kChannels; ++ch) StopChannel(ch);
}

void CConsole::UnloadChannels() {
  // The background list stops as the channels do: its player is left
  // without voices, and it must not go on counting itself as playing.
  bgm_->Stop();
  for (int ch = 1; ch <= kChannels; ++ch) {
    CueState& s = cue_[Index(ch)];
    if (Player(ch).IsLoaded()) Player(ch).Unload();
    s.loaded = s.started = s.reload = false;
    buttons_[Index(ch)] = TransportButtons{};
    Changed(ConsoleChange::kTransport, ch);
  }
}

void CConsole::ReloadChannels() {
  for (int ch = 1; ch <= kChannels; ++ch) LoadChannelFile(ch);
}

void CConsole::FunctionKey(int ch) {
  StopChannel(ch);
  PlayChannel(ch);
}

void CConsole::OnChannelEnded(int ch) {
  if (ch < 1 || ch > kChannels) return;
  CWaveWnd& player = Player(ch);
  // Repeated notices of the same end find the player already closed.
  if (!player.IsLoaded() || !player.IsEndOfData()) return;
  if (!cue_[Index(ch)].listMode) {
    // Ends as a stop ends it: toggles up, marks cleared and the current
    // record's file loaded, so the next GO or Play on the channel sounds.
    ResetChannel(ch, ConsoleEvent::Kind::kEof);
    return;
  }
  // The list plays on as one sound: a fade-out that is to stop the channel
  // still stops it, as when the next item follows on seamlessly.
  player.Unload();
  Emit({ConsoleEvent::Kind::kEof, 0, ch});
  PlayNextListItem(ch);
}

void CConsole::RefreshChannelRow(int ch) {
  if (ch < 1 || ch > kChannels) return;
  ChannelRow& row = rows_[Index(ch)];
  const CRecord* r = Current(ch);
  row.q = FormatG(r ? r->qNumber : 0);
  row.titleIndex = cue_[Index(ch)].current - 1;
  row.title = r ? r->title : std::string();
  row.file = r ? r->fileOrCommand : std::string();
  row.description = r ? r->description : std::string();
  row.pre = FormatG(r ? r->preLevel : 0, 2);
  row.fadeIn = FormatG(r ? r->fadeIn : 0);
  row.fadeOut = FormatG(r ? r->fadeOut : 0);
  Changed(ConsoleChange::kRow, ch);
}

void CConsole::FillTitleList(int ch) {
  if (ch < 1 || ch > kChannels) return;
  std::vector<std::string>& titles = titles_[Index(ch)];
  titles.clear();
  for (int i = 1; i <= cues_.GetCount(ch); ++i) titles.push_back(cues_.GetTitle(ch, i));
  Changed(ConsoleChange::kTitles, ch);
}

void CConsole::Shutdown() {
  bgm_->Stop();
  StopTimeline();
  goTimer_.Stop();
  goRuns_.clear();
  for (int f = 1; f <= kFaders; ++f) KillFadeTimer(f);
  for (int ch = 1; ch <= kChannels; ++ch) {
    CancelFade(ch);
    CWaveWnd& player = Player(ch);
    player.SetAllOutputLevels(0);
    player.SetPaused(false);
    if (cue_[Index(ch)].loaded) player.Unload();
    cue_[Index(ch)].loaded = cue_[Index(ch)].started = false;
    UpdateChannelGains(ch);
  }
}

}  // namespace orvex
