// The background continuous-play list: player 0 playing the checked items of
// a list one after another in an endless loop, at a level of its own, with a
// timed fade-out. This is the whole state and behaviour of the list editor
// window; the window only shows it and hands the operator's clicks here.
//
// Threads: every operation runs on the UI thread, except the fade-out steps,
// which run on the timer service's thread. They share the level, the slider
// position and the fade state (atomics, and the fade's own lock); whatever
// they change that a window shows is told to the listener on the UI thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/ConsoleTypes.h"
#include "engine/TimerService.h"
#include "engine/UiPoster.h"
#include "engine/WaveWnd.h"
#include "show/ListFile.h"
#include "show/PathMap.h"
#include "show/Settings.h"

namespace orvex {

// What a window of the list shows that changed.
enum class BgmChange {
  kItems,      // items, checks, list path or folder
  kSelection,  // selected item, current item, and with them the ▲ ▼ states
  kPlaying,    // the Play toggle
  kSlider,     // the level slider's position
};

class BgmListener {
 public:
  virtual ~BgmListener() = default;
  // UI thread.
  virtual void OnBgmChanged(BgmChange /*what*/) {}
};

class CBgmList final : private PlayerObserver {
 public:
  CBgmList(TimerService& timers, UiPoster& poster);
  ~CBgmList() override;
  CBgmList(const CBgmList&) = delete;
  CBgmList& operator=(const CBgmList&) = delete;

  // --- wiring ---
  void SetListener(BgmListener* listener) { listener_ = listener; }
  // Play, stop, item ends and fades, as console events of player 0. Any thread.
  void SetEventSink(std::function<void(ConsoleEvent)> sink) { events_ = std::move(sink); }
  void SetDrives(const DriveMap& drives) { drives_ = drives; }
  CWaveWnd& Player() { return *player_; }

  // --- settings ---
  // List path, level and fade-out seconds; the list file is read when the
  // path names one. Item 0 becomes selected and current.
  void LoadSettings(const Settings& settings);
  void StoreSettings(Settings& settings) const;

  // --- what the window shows ---
  const std::string& ListPath() const { return listPath_; }
  const std::string& Folder() const { return folder_; }
  const std::vector<ListItem>& Items() const { return items_; }
  int Selected() const { return selected_; }  // -1: none
  int Current() const { return current_; }
  bool Playing() const { return playing_; }
  bool Modified() const { return modified_; }
  // "▲" and "▼": the selected item is not the first, not the last.
  bool CanMoveUp() const;
  bool CanMoveDown() const;
  uint32_t Level() const { return level_.load(); }
  int SliderPosition() const { return slider_.load(); }  // 0 top (full) .. 100
  double FadeOutSeconds() const { return fadeOutSeconds_; }
  bool FadeRunning() const { return fadeTimer_.load() != 0; }

  // --- the window's controls (UI thread) ---
  void SetListPath(const std::string& path);  // the path edit
  void SetFolder(const std::string& folder);  // the folder edit, "参照"
  void SetFadeOutSeconds(double seconds) { fadeOutSeconds_ = seconds; }
  void Select(int item);
  void SetCheck(int item, bool checked);
  // "Play": from the selected item on, skipping unchecked ones.
  void Play();
  void Stop();
  // A double click on an item: Stop, then Play from that item.
  void Restart(int item);
  // Starts item i: true when it started or i is past the end (the search
  // ends), false when it is unchecked (the search goes on).
  bool PlayListItem(int item);
  // The slider moved by hand: the level follows at once and a running
  // fade-out ends where it is; the play goes on.
  void MoveSlider(int position);
  // A level 0..10, as the slider would be moved to it.
  void SetLevel(double level);
  // "F.O" with the seconds of its edit, only while playing.
  void FadeOut(double seconds);
  // "追加" and dropped files: paths inside the folder are kept relative to it.
  void AddFiles(const std::vector<std::string>& paths);
  void DeleteSelected();  // "削除"
  void Clear();           // "クリア"
  void MoveUp();          // "▲"
  void MoveDown();        // "▼"
  // "新規": empties the list and its path and folder. A window asks about
  // unsaved changes first (Modified()) and saves when told to.
  void New();
  // "読込": path becomes the list path and the file is read. A file that is
  // not there leaves the list as it is; false when nothing was read.
  bool Load(const std::string& path);
  // "保存": writes the list to the list path (nothing when it is empty);
  // false when writing failed, which has been reported.
  bool Save();
  bool SaveAs(const std::string& path);

  // The end of an item (player 0's end-of-file notice): the next checked one.
  void OnEndOfItem();

 private:
  struct FadeState {
    std::mutex mutex;  // held for a whole step and every change of the fade
    double step = 0;   // level decrease per step on the 0..10 scale
    uint32_t steps = 0;
    uint32_t start = 0;  // the time the steps count from
    uint32_t lastTick = 0;
    uint32_t serial = 0;  // counts starts and ends, for the posted stop
  };

  void OnFileSelected(int channel, const std::string& path, uint32_t bytesPerSecond,
                      uint32_t dataSize) override;
  void Changed(BgmChange what);
  void PostChanged(BgmChange what);
  void Emit(ConsoleEvent::Kind kind, double from = 0, double to = 0, double seconds = 0);
  // From item `from` on (wrapping), the first one that starts; stops the
  // play when none does.
  void Advance(int from);
  void ItemRefused(int item, const std::string& native, WaveOpenError error);
  // The file of the checked item that plays after the current one, to
  // follow on in the same stream (empty: none); and its taking over.
  std::string FollowingFile();
  // The native path of item's file.
  std::string ItemFile(int item) const;
  void ItemFollowed();
  int CheckedCount() const;
  // Replaces folder and items with the file's; false when it was not read.
  bool ReadList(const std::string& path);
  void ApplyLevel(uint32_t level);
  // Ends a running fade-out where it is.
  void KillFade();
  static void FadeThunk(TimerService::TimerId id, void* user);
  void FadeStep(TimerService::TimerId id);
  void StopAfterFade(uint32_t serial);

  TimerService& timers_;
  UiPoster& poster_;
  BgmListener* listener_ = nullptr;
  std::function<void(ConsoleEvent)> events_;
  DriveMap drives_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  std::string listPath_;
  std::string folder_;
  std::vector<ListItem> items_;
  int selected_ = -1;
  int current_ = 0;
  bool playing_ = false;
  bool modified_ = false;
  double fadeOutSeconds_ = 10;
  // Items that could not be opened and have been reported; and how many
  // tries in a row failed, so a list with nothing playable stops.
  std::set<std::string> reported_;
  int failures_ = 0;
  uint32_t loads_ = 0;   // counts item loads: a late refusal of an old one is ignored
  int followItem_ = -1;  // named to follow on, with its file
  std::string followPath_;

  std::atomic<uint32_t> level_{65535};
  std::atomic<int> slider_{0};
  std::atomic<TimerService::TimerId> fadeTimer_{0};
  FadeState fade_;

  std::unique_ptr<CWaveWnd> player_;  // last: its news reaches a whole list
};

}  // namespace orvex
