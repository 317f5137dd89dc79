#include "engine/BgmList.h"

#include <algorithm>
#include <cmath>

#include "show/Messages.h"
#include "show/TextNumbers.h"

namespace orvex {
namespace {

constexpr double kFull = 65535.0;

int SliderOf(uint32_t level) {
  return static_cast<int>((1 - level / kFull) * 100);
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

CBgmList::CBgmList(TimerService& timers, UiPoster& poster)
    : timers_(timers), poster_(poster), player_(std::make_unique<CWaveWnd>(0, timers, poster)) {
  player_->SetObserver(this);
  player_->SetEndOfFileHandler([this, alive = std::weak_ptr<bool>(alive_)](int) {
    if (alive.lock()) OnEndOfItem();
  });
  player_->SetNextFileProvider([this, alive = std::weak_ptr<bool>(alive_)] {
    return alive.lock() ? FollowingFile() : std::string();
  });
  player_->SetFileChangedHandler([this, alive = std::weak_ptr<bool>(alive_)](int) {
    if (alive.lock()) ItemFollowed();
  });
  player_->SetAllOutputLevels(level_.load());
}

CBgmList::~CBgmList() {
  KillFade();
  player_->Unload();
  *alive_ = false;
}

void CBgmList::Changed(BgmChange what) {
  // The item to follow the one playing is chosen again from the new list.
  if (what == BgmChange::kItems) player_->ReconsiderNext();
  if (listener_) listener_->OnBgmChanged(what);
}

void CBgmList::PostChanged(BgmChange what) {
  poster_.Post([this, alive = std::weak_ptr<bool>(alive_), what] {
    if (auto a = alive.lock(); a && *a) Changed(what);
  });
}

void CBgmList::Emit(ConsoleEvent::Kind kind, double from, double to, double seconds) {
  if (!events_) return;
  ConsoleEvent e;
  e.kind = kind;
  e.timeMs = timers_.timeGetTime();
  e.fader = 0;  // player 0
  e.from = from;
  e.to = to;
  e.seconds = seconds;
  events_(e);
}

// --- settings and files ---

void CBgmList::LoadSettings(const Settings& settings) {
  listPath_ = settings.bgmList;
  fadeOutSeconds_ = settings.bgmFadeOut;
  const auto level = static_cast<uint32_t>(std::clamp(settings.bgmLevel, 0, 65535));
  slider_.store(SliderOf(level));
  ApplyLevel(level);
  if (!listPath_.empty()) ReadList(listPath_);
  selected_ = items_.empty() ? -1 : 0;
  current_ = 0;
  Changed(BgmChange::kItems);
  Changed(BgmChange::kSelection);
  Changed(BgmChange::kSlider);
}

void CBgmList::StoreSettings(Settings& settings) const {
  settings.bgmList = listPath_;
  settings.bgmLevel = static_cast<int32_t>(level_.load());
  settings.bgmFadeOut = fadeOutSeconds_;
}

bool CBgmList::ReadList(const std::string& path) {
  const std::string native = NativePath(path, drives_);
  ListFileRead read = ReadListFile(native);
  if (read.status == ListReadStatus::kUnreadable)
    ReportMessage(std::string(kListReadFailed) + "\n" + native);
  if (read.status != ListReadStatus::kOk) return false;
  folder_ = std::move(read.content.folder);
  items_ = std::move(read.content.items);
  reported_.clear();
  return true;
}

bool CBgmList::Load(const std::string& path) {
  listPath_ = path;
  const bool read = ReadList(path);
  selected_ = items_.empty() ? -1 : 0;
  current_ = 0;
  Changed(BgmChange::kItems);
  Changed(BgmChange::kSelection);
  return read;
}

bool CBgmList::Save() {
  if (listPath_.empty()) return false;
  const std::string native = NativePath(listPath_, drives_);
  if (!WriteListFile(native, folder_, items_)) {
    ReportMessage(std::string(kListSaveFailed) + "\n" + native);
    return false;
  }
  modified_ = false;
  return true;
}

bool CBgmList::SaveAs(const std::string& path) {
  SetListPath(path);
  return Save();
}

void CBgmList::New() {
  items_.clear();
  listPath_.clear();
  folder_.clear();
  selected_ = -1;
  current_ = 0;
  Changed(BgmChange::kItems);
  Changed(BgmChange::kSelection);
}

// --- editing ---

void CBgmList::SetListPath(const std::string& path) {
  listPath_ = path;
  Changed(BgmChange::kItems);
}

void CBgmList::SetFolder(const std::string& folder) {
  folder_ = folder;
  Changed(BgmChange::kItems);
}

bool CBgmList::CanMoveUp() const {
  return selected_ > 0 && selected_ < static_cast<int>(items_.size());
}

bool CBgmList::CanMoveDown() const {
  return selected_ >= 0 && selected_ + 1 < static_cast<int>(items_.size());
}

void CBgmList::Select(int item) {
  selected_ = item >= 0 && item < static_cast<int>(items_.size()) ? item : -1;
  Changed(BgmChange::kSelection);
}

void CBgmList::SetCheck(int item, bool checked) {
  if (item < 0 || item >= static_cast<int>(items_.size())) return;
  // A check is no change of the list: it does not ask for a save.
  items_[static_cast<size_t>(item)].checked = checked;
  Changed(BgmChange::kItems);
}

void CBgmList::AddFiles(const std::vector<std::string>& paths) {
  const std::string folder(TrimBlanks(folder_));
  for (std::string path : paths) {
    // Only a whole folder name counts: "D:\bgm" is not the start of "D:\bgm2\x.wav".
    if (!folder.empty() && path.starts_with(folder) &&
        (path.size() == folder.size() || IsSeparator(folder.back()) ||
         IsSeparator(path[folder.size()]))) {
      size_t cut = folder.size();
      while (cut < path.size() && IsSeparator(path[cut])) ++cut;
      path.erase(0, cut);
    }
    items_.push_back({" " + path, true});
    modified_ = true;
  }
  Changed(BgmChange::kItems);
  Changed(BgmChange::kSelection);
}

void CBgmList::DeleteSelected() {
  if (selected_ < 0 || selected_ >= static_cast<int>(items_.size())) return;
  items_.erase(items_.begin() + selected_);
  // The item that plays stays the current one.
  if (selected_ < current_) --current_;
  selected_ = -1;
  modified_ = true;
  Changed(BgmChange::kItems);
  Changed(BgmChange::kSelection);
}

void CBgmList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  current_ = 0;
  selected_ = -1;
  modified_ = true;
  Changed(BgmChange::kItems);
  Changed(BgmChange::kSelection);
}

void CBgmList::MoveUp() {
  if (!CanMoveUp()) return;
  const int from = selected_, to = selected_ - 1;
  std::swap(items_[static_cast<size_t>(from)], items_[static_cast<size_t>(to)]);
  if (current_ == from) {
    current_ = to;
  } else if (current_ == to) {
    current_ = from;
  }
  selected_ = to;
  modified_ = true;
  Changed(BgmChange::kItems);
  Changed(BgmChange::kSelection);
}

void CBgmList::MoveDown() {
  if (!CanMoveDown()) return;
  Select(selected_ + 1);
  MoveUp();
  Select(selected_ + 1);
}

// --- play ---

int CBgmList::CheckedCount() const {
  return static_cast<int>(
      std::count_if(items_.begin(), items_.end(), [](const ListItem& i) { return i.checked; }));
}

void CBgmList::Play() {
  if (playing_) return;
  if (CheckedCount() == 0) {
    // Only the toggle comes back up.
    Changed(BgmChange::kPlaying);
    return;
  }
  playing_ = true;
  failures_ = 0;
  Changed(BgmChange::kPlaying);
  const int n = static_cast<int>(items_.size());
  int j = selected_ >= 0 && selected_ < n ? selected_ : 0;
  for (;;) {
    current_ = j;
    if (PlayListItem(j)) break;
    j = (j + 1) % n;
    selected_ = j;
  }
  Changed(BgmChange::kSelection);
}

bool CBgmList::PlayListItem(int item) {
  if (item >= static_cast<int>(items_.size())) return true;
  if (item < 0 || !items_[static_cast<size_t>(item)].checked) return false;
  const std::string native = ItemFile(item);
  const uint32_t load = ++loads_;
  // A file the loop has been refused once is not explained again.
  player_->LoadFile(
      native,
      [this, alive = std::weak_ptr<bool>(alive_), item, native, load](WaveOpenError error) {
        if (alive.lock() && load == loads_) ItemRefused(item, native, error);
      },
      !reported_.contains(native));
  player_->SetAllOutputLevels(level_.load());
  player_->Play();
  Emit(ConsoleEvent::Kind::kPlay);
  return true;
}

void CBgmList::ItemRefused(int item, const std::string& native, WaveOpenError error) {
  if (!playing_) return;
  // Reported the first time only: the loop comes by it again and again.
  // Other refusals the player has explained itself, the first time only.
  if (reported_.insert(native).second && error == WaveOpenError::kCannotOpen)
    ReportMessage(std::string(kCueFileCannotOpen) + "\n" + native);
  if (++failures_ >= CheckedCount()) {
    Stop();
    ReportMessage(kListNothingPlayable);
    return;
  }
  // The loop does not halt on a file that is not there: the next one plays.
  Advance(item + 1);
}

void CBgmList::OnFileSelected(int, const std::string&, uint32_t, uint32_t) {
  failures_ = 0;
}

void CBgmList::Advance(int from) {
  const int n = static_cast<int>(items_.size());
  for (int k = 0; k < n; ++k) {
    const int i = (from + k) % n;
    selected_ = current_ = i;
    if (PlayListItem(i)) {
      Changed(BgmChange::kSelection);
      return;
    }
  }
  // Nothing checked any more: the play ends as "Play" with nothing to play.
  playing_ = false;
  Changed(BgmChange::kSelection);
  Changed(BgmChange::kPlaying);
}

std::string CBgmList::FollowingFile() {
  followItem_ = -1;
  followPath_.clear();
  const int n = static_cast<int>(items_.size());
  if (!playing_ || n == 0) return {};
  for (int k = 1; k <= n; ++k) {
    const int i = (current_ + k) % n;
    if (!items_[static_cast<size_t>(i)].checked) continue;
    followItem_ = i;
    followPath_ = ItemFile(i);
    return followPath_;
  }
  return {};
}

void CBgmList::ItemFollowed() {
  const int n = static_cast<int>(items_.size());
  const auto named = [&](int i) { return i >= 0 && i < n && ItemFile(i) == followPath_; };
  // Items may have moved since it was named: it is found again by its file.
  int item = followItem_;
  if (!named(item)) {
    item = -1;
    for (int i = 0; i < n && item < 0; ++i)
      if (named(i)) item = i;
  }
  followItem_ = -1;
  ++loads_;
  Emit(ConsoleEvent::Kind::kEof);
  if (item >= 0) {
    selected_ = current_ = item;
    Changed(BgmChange::kSelection);
  }
  Emit(ConsoleEvent::Kind::kPlay);
}

std::string CBgmList::ItemFile(int item) const {
  const std::string stored =
      ListItemPath(std::string(TrimBlanks(folder_)), items_[static_cast<size_t>(item)]);
  return NativePath(stored, drives_);
}

void CBgmList::OnEndOfItem() {
  // Repeated notices of the same end find the player closed.
  if (!player_->IsLoaded() || !player_->IsEndOfData()) return;
  player_->Unload();
  Emit(ConsoleEvent::Kind::kEof);
  if (playing_) Advance(current_ + 1);
}

void CBgmList::Stop() {
  const bool was = playing_;
  playing_ = false;
  ++loads_;
  KillFade();
  player_->Unload();
  Changed(BgmChange::kPlaying);
  if (was) Emit(ConsoleEvent::Kind::kStop);
}

void CBgmList::Restart(int item) {
  Stop();
  Select(item);
  Play();
}

// --- level and fade-out ---

void CBgmList::ApplyLevel(uint32_t level) {
  level_.store(level);
  player_->SetAllOutputLevels(level);
}

void CBgmList::MoveSlider(int position) {
  position = std::clamp(position, 0, 100);
  // The hand wins over a running fade-out; the play goes on.
  KillFade();
  slider_.store(position);
  ApplyLevel(static_cast<uint32_t>((1 - position / 100.0) * kFull));
  Changed(BgmChange::kSlider);
}

void CBgmList::SetLevel(double level) {
  MoveSlider(static_cast<int>(std::lround((1 - std::clamp(level, 0.0, 10.0) / 10) * 100)));
}

void CBgmList::KillFade() {
  TimerService::TimerId id = 0;
  {
    std::lock_guard lock(fade_.mutex);
    id = fadeTimer_.exchange(0);
    ++fade_.serial;
  }
  // Outside the lock: the kill waits for a step in flight, which takes it.
  if (id == 0) return;
  timers_.timeKillEvent(id);
  Emit(ConsoleEvent::Kind::kFadeEnd, 0, level_.load() / kFull * 10);
}

void CBgmList::FadeOut(double seconds) {
  fadeOutSeconds_ = seconds;
  if (!playing_) return;
  const double from = level_.load() / kFull * 10;
  {
    std::lock_guard lock(fade_.mutex);
    fade_.step = from / std::max(seconds * 100, 1.0);
    fade_.steps = 0;
    fade_.start = fade_.lastTick = timers_.timeGetTime();
    ++fade_.serial;
    if (fadeTimer_.load() == 0)
      fadeTimer_.store(timers_.timeSetEvent(10, 0, &CBgmList::FadeThunk, this));
  }
  Emit(ConsoleEvent::Kind::kFade, from, 0, seconds);
}

void CBgmList::FadeThunk(TimerService::TimerId id, void* user) {
  static_cast<CBgmList*>(user)->FadeStep(id);
}

void CBgmList::FadeStep(TimerService::TimerId id) {
  bool ended = false, moved = false;
  uint32_t serial = 0;
  {
    std::lock_guard lock(fade_.mutex);
    if (id == 0 || fadeTimer_.load() != id) return;
    const uint32_t now = timers_.timeGetTime();
    if (now == fade_.lastTick) return;
    fade_.lastTick = now;
    // One step per 10 ms tick; a late tick runs the steps it missed, so the
    // fade keeps to its length however the ticks come.
    const uint32_t due = std::max((now - fade_.start) / 10, fade_.steps + 1);
    uint32_t level = level_.load();
    while (fade_.steps < due) {
      const uint32_t n = fade_.steps++;
      const double x = level / kFull * 10 - fade_.step;
      if (x <= 0) {
        level = 0;
        slider_.store(100);
        ended = moved = true;
        fadeTimer_.store(0);
        serial = ++fade_.serial;
        break;
      }
      level = static_cast<uint32_t>(x / 10 * kFull);
      // The slider follows every tenth step, the first included.
      if (n % 10 == 0) {
        slider_.store(static_cast<int>(100 - x * 10));
        moved = true;
      }
    }
    ApplyLevel(level);
  }
  if (moved) PostChanged(BgmChange::kSlider);
  if (!ended) return;
  timers_.timeKillEvent(id);
  Emit(ConsoleEvent::Kind::kFadeEnd, 0, 0);
  // Unloading the player belongs to the UI thread.
  poster_.Post([this, alive = std::weak_ptr<bool>(alive_), serial] {
    if (auto a = alive.lock(); a && *a) StopAfterFade(serial);
  });
}

void CBgmList::StopAfterFade(uint32_t serial) {
  {
    std::lock_guard lock(fade_.mutex);
    // A new fade or a hand on the slider came in between.
    if (fade_.serial != serial) return;
  }
  Stop();
}

}  // namespace orvex
