// The console: faders, routing, fades, cue pointers, channel strips and the
// auto-run clock of the main view, as a model the desktop view shows and
// drives and the offline renderer runs without a display.
//
// Threads: every operation runs on the UI thread, except the fade steps,
// which run on the timer service's thread. The level and fade state they
// share is held in atomics, and each fader's fade is stepped under its own
// lock; the cue state is the UI thread's alone. A fade that reaches silence
// posts the channel's stop to the UI thread.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/BgmList.h"
#include "engine/ConsoleCommand.h"
#include "engine/ConsoleTypes.h"
#include "engine/TimerService.h"
#include "engine/UiPoster.h"
#include "engine/UiTimer.h"
#include "engine/WaveWnd.h"
#include "show/CueStore.h"
#include "show/PathMap.h"
#include "show/Settings.h"

namespace orvex {

// Where a stored sound path is found on this machine: the drive and share
// map, and for a relative path not found from the working folder, the show's
// folder. Touches the file system (case-insensitive lookups).
std::string ResolveSoundPath(const std::string& stored, const DriveMap& drives,
                             const std::string& showFolder);

// A cue whose sound file is not there.
struct MissingFile {
  int channel = 0;
  double qNumber = 0;
  std::string path;  // where it was looked for
};
// Every such cue of CH1..CH6, channel by channel. Touches the file system:
// for a thread that may wait on it.
std::vector<MissingFile> FindMissingFiles(const CueStore& cues, const DriveMap& drives,
                                          const std::string& showFolder);

class CConsole {
 public:
  CConsole(CueStore& cues, Settings& settings, TimerService& timers, UiPoster& poster);
  ~CConsole();
  CConsole(const CConsole&) = delete;
  CConsole& operator=(const CConsole&) = delete;

  // --- wiring ---
  void SetEngines(const std::array<mixer::VoiceEngine*, kOutputCount>& engines);
  void SetListener(ConsoleListener* listener) { listener_ = listener; }
  void SetSliderPanel(SliderPanelLink* link) { slider_ = link; }
  void SetDrives(const DriveMap& drives) {
    drives_ = drives;
    bgm_->SetDrives(drives);
  }
  const DriveMap& Drives() const { return drives_; }
  const std::string& ShowFolder() const { return showFolder_; }
  // The show file's folder: relative sound paths that are not found from
  // the working folder are looked for there.
  void SetShowFolder(const std::string& nativeFolder) { showFolder_ = nativeFolder; }
  CWaveWnd& Player(int ch) { return *players_[static_cast<size_t>(ch)]; }
  // The background continuous-play list and its player (player 0). Its
  // commands come through Execute like every other action.
  CBgmList& Background() { return *bgm_; }
  // The last channel whose file was slow to come, as the status line says it.
  const std::string& LateFileNote() const { return lateFileNote_; }
  // Buffer sizes and the fader knee from the settings into the players.
  void ApplyPlayerSettings();
  // The faders, routing and pan as the settings left them.
  void LoadFromSettings();
  // The console refresh after the cue store was replaced: positions (reset
  // to each first record when asked), rows, presets, next cue, files.
  void RefreshAfterCueChange(bool resetPositions);
  // Where a show has been loaded or created (after its refresh): the first
  // cues' output routing holds from the start, as every later cue's does.
  // Not part of other refreshes, which keep the strips as the operator set them.
  void ApplyFirstCueRouting();
  // Stops timers and channels; the destructor runs it too.
  void Shutdown();

  // Runs one operator action (UI thread). Every source of actions (the
  // window, the command-line driver, auto-run) comes through here; the
  // operations below are its steps and the set-up's.
  void Execute(const ConsoleCommand& command);

  // --- level control ---
  // Hand moves of the trackbars (0 = top = full).
  void MoveFader(int fader, int trackbarPos);
  void MoveMaster(int trackbarPos);
  void MoveCross(int trackbarPos);  // 0 = left end = X full
  void SetChannelRoute(int ch, Route route, bool checked);
  void SetGroupRoute(int group, Route route, bool checked);  // group 1, 2
  void SetMasterOn(bool on);
  // The toggles of a strip that differ from state, in the strip's order.
  void SetRouting(int fader, const RouteState& state);
  void SetPan(int ch, int pan);
  // A tone band (0 Low, 1 Mid, 2 High) of a channel in dB; kept in the
  // settings, which is where the tone pane reads it back.
  void SetTone(int ch, int band, float gain);
  float ToneGain(int ch, int band) const;
  void SetKnee(double point, double level);
  // Kept in the settings; a player takes them when it next prepares a file.
  void SetBufferSeconds(int ch, int first, int second);
  void SetReadBlock(bool on) { settings_.block = on ? 1 : 0; }
  void UpdateChannelGains(int ch);
  void SetFaderLevel(int fader, double level, bool refresh);
  void StartFadeIn(int fader);
  void StartFadeOut(int fader, bool toZero);
  void CancelFade(int fader);
  void FadeStep(int fader);
  bool AnyFadeRunning() const;

  uint32_t FaderValue(int fader) const { return value_[Index(fader)].load(); }
  int TrackbarPos(int fader) const { return trackbar_[Index(fader)].load(); }
  std::string LevelText(int fader) const;
  uint32_t MasterValue() const { return master_.load(); }
  uint32_t CrossValue() const { return cross_.load(); }
  RouteState ChannelRoute(int ch) const;
  RouteState GroupRoute(int group) const;
  bool MasterOn() const { return outputMaster_.load(); }
  int Pan(int ch) const { return pan_[Index(ch)].load(); }
  bool FadeInActive(int fader) const { return fades_[Index(fader)].in.load(); }
  bool FadeOutActive(int fader) const { return fades_[Index(fader)].out.load(); }

  // --- cue execution ---
  void ComputeNextCue();
  void LoadChannelFile(int ch);
  void PresetFader(int ch);
  void ApplyOutputFlags(int fader);
  void AdvanceChannel(int position, int fader);  // -1: the next record in sequence
  void StartChannel(int ch);
  void ExecuteGo();
  void CallUpCue(double q);
  void CallUp();    // "呼出"
  void Previous();  // "前"
  void Next();      // "次"
  // The "次のＱ" edit: the operator may type a number into it.
  void SetNextCueText(const std::string& text) { nextText_ = text; }
  const std::string& NextCueText() const { return nextText_; }
  const std::string& CurrentCueText() const { return currentText_; }
  double NextCue() const { return nextCue_; }
  int CurrentRecord(int fader) const { return cue_[Index(fader)].current; }
  bool Armed(int fader) const { return cue_[Index(fader)].armed; }
  bool AutoNext() const { return settings_.autoNext != 0; }
  void SetAutoNext(bool on) { settings_.autoNext = on ? 1 : 0; }
  int GoRunsInProgress() const { return static_cast<int>(goRuns_.size()); }

  // --- channel strips ---
  void PlayChannel(int ch);
  void PauseChannel(int ch);
  void StopChannel(int ch);
  void FadeOutChannel(int ch);                // the "F. O" toggle
  void SeekChannel(int ch, uint32_t offset);  // a byte offset into the data
  void NextChannel(int ch);                   // "NEXT"
  void ChooseTitle(int ch, int index);        // 0-based entry of the title list
  void StoreChannelRecord(int ch, bool fader, bool row);
  void StoreAllRows();  // "CHデータ更新": every row into its record
  void StoreAll();      // "全記憶": every fader level and row
  // The cue list's "Ｑシーケンスに入れる" and "Ｑシーケンスからはずす".
  void SetInSequence(int ch, int position, bool inSequence);
  // "レコード修正": the record takes the values (and the channel's ordering
  // pass runs); the channel shows its current record afresh and, unless it
  // is playing, loads it again.
  void ModifyRecord(int ch, int position, const RecordValues& values);
  void StopAll();
  // Around a rebuild of the outputs: every player lets go of its devices
  // (loaded and playing marks cleared; the background list stops), then
  // each channel loads its current cue again.
  void UnloadChannels();
  void ReloadChannels();
  void FunctionKey(int ch);  // F1..F6
  void OnChannelEnded(int ch);
  // What a stop does to a channel, reported as `why`.
  void ResetChannel(int ch, ConsoleEvent::Kind why);
  void RefreshChannelRow(int ch);
  void FillTitleList(int ch);
  ChannelRow& Row(int ch) { return rows_[Index(ch)]; }
  const std::vector<std::string>& Titles(int ch) const { return titles_[Index(ch)]; }
  TransportButtons Buttons(int ch) const { return buttons_[Index(ch)]; }
  bool LoadedMark(int ch) const { return cue_[Index(ch)].loaded; }
  bool StartedMark(int ch) const { return cue_[Index(ch)].started; }
  bool ReloadPending(int ch) const { return cue_[Index(ch)].reload; }
  bool ListMode(int ch) const { return cue_[Index(ch)].listMode; }
  // The record a fader stands at (null when none), and where the file of a
  // channel's record is looked for on this machine (empty when it names none).
  const CRecord* CurrentRecordOf(int fader) const { return Current(fader); }
  std::string CurrentFilePath(int ch) const;
  // The same as stored (sound folder and file name), without touching the
  // file system; empty when the record names no file.
  std::string StoredFilePath(int ch) const;
  // Where the channel's file was looked for when it could not be opened;
  // empty once the channel loads anything else.
  const std::string& MissingFile(int ch) const { return missingFile_[Index(ch)]; }
  // Off: a file that cannot be opened is only told to the listener
  // (kMissingFile), as a view shows it itself; on (the default), it is
  // also reported as a message.
  void SetReportsMissingFiles(bool on) { reportMissing_ = on; }
  // Set by edits of the cue store made from the console.
  bool ShowModified() const { return showModified_; }
  void SetShowModified(bool modified) {
    showModified_ = modified;
    if (modified) ++showGeneration_;
  }
  // Counts the edits of the show: the recovery copy is written when it moved.
  uint64_t ShowGeneration() const { return showGeneration_; }

  // --- continuous-play lists of the channels ---
  // The list page of channel ch (1..6): what the channel's list plays.
  const ListPage& Page(int ch) const { return pages_[Index(ch)]; }
  // Reads the list file a cue names (as stored) into the channel's page and
  // loads its first checked item.
  void LoadChannelList(int ch, const std::string& storedPath);
  // Loads the page's current item, or the first checked one after it.
  void LoadCurrentListItem(int ch);
  // A page's check box was clicked: the check changes in memory only (the
  // file keeps its own), then ListCheckChanged.
  void SetListCheck(int ch, int item, bool checked);
  // A stopped channel loads the item it should play next.
  void ListCheckChanged(int ch);
  // The item the channel's player holds, as the list names it (folder, "\",
  // name): the key of its markers. Empty when it holds no list item.
  std::string StoredItemPath(int ch) const;

  // --- auto-run ---
  void RunTimeline();
  void StopTimeline();
  void ZeroReset();
  void SetToNextTiming();
  void CheckDue();
  // The clock box; a running clock goes on from the time typed.
  void SetClockText(const std::string& text);
  const std::string& ClockText() const { return clockText_; }
  uint32_t Clock() const { return clock_; }
  bool TimelineRunning() const { return clockTimer_.Running(); }
  uint32_t AutoRunTime(int fader) const { return cue_[Index(fader)].autoRunTime; }

 private:
  struct Fade {
    // Held for a whole step and for every change of the fade, never while
    // killing its timer (the kill waits for a step in flight).
    std::mutex mutex;
    std::atomic<bool> in{false};
    std::atomic<bool> out{false};
    std::atomic<double> rate{0};    // level units per millisecond
    std::atomic<double> target{0};  // 0..10
    std::atomic<uint32_t> lastStep{0};
    std::atomic<uint32_t> steps{0};
    // Level and time the fade is measured from, and the fader value the
    // last step gave (anything else means the fader was set meanwhile).
    std::atomic<double> baseLevel{0};
    std::atomic<uint32_t> baseTime{0};
    std::atomic<uint32_t> levelValue{0};
    std::atomic<TimerService::TimerId> timer{0};
    // Counts starts and ends, so a stop posted by a finished fade can tell
    // whether that fade is still the latest; sound: the channel's sound then.
    std::atomic<uint32_t> serial{0};
    std::atomic<uint32_t> sound{0};
  };
  struct CueState {
    int current = 0;
    bool armed = false;
    bool loaded = false;
    bool started = false;
    bool reload = false;
    bool listMode = false;
    uint32_t autoRunTime = 0;
  };
  // One GO whose delayed faders have not all fired yet.
  struct GoRun {
    uint32_t t0 = 0;
    std::string text;  // the cue it fires, as "現在のＱ" shows it
    std::array<bool, kFaders + 1> armed{};
    std::array<bool, kFaders + 1> pending{};
    std::array<bool, kFaders + 1> fired{};
    std::array<uint32_t, kFaders + 1> delay{};
    bool AnyPending() const {
      return std::any_of(pending.begin(), pending.end(), [](bool p) { return p; });
    }
  };
  struct FadeTimerUser {
    CConsole* console;
    int fader;
  };

  static size_t Index(int n) { return static_cast<size_t>(n); }
  bool OnUiThread() const { return std::this_thread::get_id() == uiThread_; }
  // Runs task on the UI thread unless the console is gone by then.
  void PostToUi(std::function<void()> task);
  bool StartFade(int fader, bool in, double seconds, double target);
  // Clears the fade, kills its timer and releases its mask bit: 0 when none
  // ran, 1 a fade in, 2 a fade out.
  int EndFade(int fader);
  // Restarts a fade frozen by a pause from the level where it stopped.
  void ContinueFade(int fader);
  void StopAfterFade(int ch, uint32_t serial, uint32_t sound);
  void EmitFadeEnd(int fader);
  static void FadeThunk(TimerService::TimerId, void* user);
  void Emit(ConsoleEvent event);
  void Changed(ConsoleChange what, int index);
  const CRecord* Current(int fader) const;
  double CurrentQ(int fader) const;
  // The command word of the record a fader stands at (kNone for a file).
  CueCommand CommandOf(int fader) const;
  double ChannelLevel(int fader) const;  // 0..10 from the stored value
  void StoreRouteSettings(int ch);
  void KillFadeTimer(int fader);
  void OnGoTimer();
  // Wakes the GO timer when the next delayed fader falls due.
  void ScheduleGoTimer();
  void RunGoPass(GoRun& run);
  void FireFader(int fader);
  void FinishGo(const GoRun& run);
  void SetNextCue(double q);
  void MovePositions(double q, bool strictlyAfter);
  std::string ResolvePath(const std::string& stored) const;
  void ClearChannelList(int ch);
  // Loads item i of the channel's page (and starts it with play).
  void LoadListItem(int ch, int item, bool play);
  // The end of a list item: the next checked one plays.
  void PlayNextListItem(int ch);
  // Asked by the player as an item nears its end: the file of the checked
  // item that plays next, to follow on in the same stream (empty: none).
  std::string FollowingListFile(int ch);
  // The player has gone on into that file: it is the current item now.
  void ListItemFollowed(int ch);
  void ListItemRefused(int ch, int item, const std::string& native, bool play, WaveOpenError error);
  // The channel stops where its list has nothing to play.
  void EndListPlay(int ch);
  void ExecuteBgm(const cmd::Bgm& command);

  const std::thread::id uiThread_ = std::this_thread::get_id();
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  // Hears the players' news that the view shows (UI thread).
  struct PlayerNews final : PlayerObserver {
    CConsole* console = nullptr;
    void OnFileLate(int channel, const std::string& path) override;
    void OnFileSelected(int channel, const std::string& path, uint32_t bytesPerSecond,
                        uint32_t dataSize) override;
  } playerNews_;
  // The marker key (stored path) of a file a player has prepared.
  std::string MarkerKey(int ch, const std::string& nativePath) const;
  // Per channel: the native path the console last loaded and its stored path.
  std::array<std::pair<std::string, std::string>, kChannels + 1> loadedPaths_{};
  std::string lateFileNote_;
  std::array<std::string, kChannels + 1> missingFile_{};
  bool reportMissing_ = true;
  CueStore& cues_;
  Settings& settings_;
  TimerService& timers_;
  UiPoster& poster_;
  ConsoleListener* listener_ = nullptr;
  SliderPanelLink* slider_ = nullptr;
  DriveMap drives_;
  std::string showFolder_;
  std::array<std::unique_ptr<CWaveWnd>, kChannels + 1> players_;  // [1..6]
  std::unique_ptr<CBgmList> bgm_;
  // Channel lists (UI thread): the pages; per channel the item files that
  // could not be opened and have been reported, the failed tries in a row,
  // and a count of item loads, so a late refusal of an old one is ignored.
  std::array<ListPage, kChannels + 1> pages_{};
  std::array<std::set<std::string>, kChannels + 1> listReported_{};
  std::array<int, kChannels + 1> listFailures_{};
  std::array<uint32_t, kChannels + 1> listLoads_{};
  // The item named to follow on, with its native and stored paths.
  struct Following {
    int item = -1;
    std::string native, stored;
  };
  std::array<Following, kChannels + 1> following_{};

  // Level state, shared with the fade steps. Index = fader (1..8).
  std::array<std::atomic<uint32_t>, kFaders + 1> value_{};
  std::array<std::atomic<int>, kFaders + 1> trackbar_{};
  std::atomic<uint32_t> master_{65535};
  std::atomic<uint32_t> cross_{65535};
  std::array<std::atomic<bool>, kChannels + 1> masterCh_{};
  std::array<std::atomic<int>, kChannels + 1> groupCh_{};
  std::array<std::atomic<int>, kChannels + 1> crossCh_{};
  std::array<std::atomic<int>, kChannels + 1> pan_{};
  std::array<std::atomic<bool>, 3> masterGr_{};
  std::array<std::atomic<bool>, 3> outputGr_{};
  std::array<std::atomic<int>, 3> crossGr_{};
  std::atomic<bool> outputMaster_{true};
  std::atomic<bool> blockReading_{false};
  std::array<Fade, kFaders + 1> fades_;
  std::array<FadeTimerUser, kFaders + 1> fadeUsers_{};

  // Cue state (UI thread).
  std::array<CueState, kFaders + 1> cue_{};
  // Counts the sounds each channel has started or lost (plays, stops, ends).
  std::array<uint32_t, kChannels + 1> sound_{};
  double nextCue_ = 0;
  std::string nextText_ = "0";
  std::string currentText_;
  std::vector<std::unique_ptr<GoRun>> goRuns_;
  UiTimer goTimer_;
  std::array<ChannelRow, kChannels + 1> rows_{};
  std::array<std::vector<std::string>, kChannels + 1> titles_{};
  std::array<TransportButtons, kChannels + 1> buttons_{};
  bool showModified_ = false;
  uint64_t showGeneration_ = 0;

  // Auto-run.
  // The clock reads clockStart_ plus the service time since clockStartTime_;
  // clockTicks_ counts the 100 ms steps since then that have been checked.
  void AnchorClock();
  void Reanchor();  // AnchorClock, and a running clock's ticks restart from now
  void ClockTick();
  UiTimer clockTimer_;
  uint32_t clock_ = 0;
  uint32_t clockStart_ = 0;
  uint32_t clockStartTime_ = 0;
  uint32_t clockTicks_ = 0;
  bool clockRealigned_ = false;  // the timer runs one short period
  std::string clockText_ = "00:00:00.0";
};

}  // namespace orvex
