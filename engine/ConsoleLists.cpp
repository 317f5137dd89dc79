// The continuous-play lists of the channels: a cue that names a list file
// plays the list's checked items one after another on its channel.
#include <algorithm>
#include <utility>

#include "engine/Console.h"
#include "show/Messages.h"
#include "show/TextNumbers.h"

namespace orvex {
namespace {

// The first checked item from `from` on, wrapping; -1 when none is checked.
int NextChecked(const std::vector<ListItem>& items, int from) {
  const int n = static_cast<int>(items.size());
  for (int k = 0; k < n; ++k) {
    const int i = ((from % n) + k) % n;
    if (items[static_cast<size_t>(i)].checked) return i;
  }
  return -1;
}

}  // namespace

void CConsole::ClearChannelList(int ch) {
  ListPage& page = pages_[Index(ch)];
  if (page.path.empty() && page.items.empty()) return;
  page = ListPage{};
  Changed(ConsoleChange::kListPage, ch);
}

void CConsole::LoadChannelList(int ch, const std::string& storedPath) {
  if (ch < 1 || ch > kChannels) return;
  ListPage& page = pages_[Index(ch)];
  const std::string native = storedPath.empty() ? std::string() : ResolvePath(storedPath);
  const ListFileRead read = native.empty() ? ListFileRead{} : ReadListFile(native);
  page = ListPage{};
  page.path = storedPath;
  const size_t slash = storedPath.find_last_of("\\/");
  page.name = slash == std::string::npos ? storedPath : storedPath.substr(slash + 1);
  if (read.status == ListReadStatus::kOk) {
    page.folder = std::string(TrimBlanks(read.content.folder));
    page.items = read.content.items;
  } else {
    // The list of the cue before must not play in its place: the page stays
    // empty, and the cue is reported as a missing file is.
    missingFile_[Index(ch)] = native;
    if (reportMissing_) {
      ReportMessage(std::string(read.status == ListReadStatus::kMissing ? kCueFileCannotOpen
                                                                        : kListReadFailed) +
                    "\n" + native);
    }
    Changed(ConsoleChange::kMissingFile, ch);
  }
  listReported_[Index(ch)].clear();
  listFailures_[Index(ch)] = 0;
  Player(ch).ReconsiderNext();
  Changed(ConsoleChange::kListPage, ch);
  LoadCurrentListItem(ch);
}

void CConsole::LoadCurrentListItem(int ch) {
  if (ch < 1 || ch > kChannels) return;
  const ListPage& page = pages_[Index(ch)];
  const int i = page.items.empty() ? -1 : NextChecked(page.items, page.current);
  if (i < 0) {
    // An item the operator has switched off is not played: a prepared one
    // that has not started is let go.
    CueState& s = cue_[Index(ch)];
    if (s.loaded && !s.started && !Player(ch).IsPlaying()) {
      Player(ch).Unload();
      s.loaded = false;
      ++listLoads_[Index(ch)];
    }
    return;
  }
  LoadListItem(ch, i, false);
}

void CConsole::LoadListItem(int ch, int item, bool play) {
  ListPage& page = pages_[Index(ch)];
  page.current = page.marked = item;
  Changed(ConsoleChange::kListItem, ch);
  const std::string stored = ListItemPath(page.folder, page.items[static_cast<size_t>(item)]);
  const std::string native = ResolvePath(stored);
  loadedPaths_[Index(ch)] = {native, stored};
  CWaveWnd& player = Player(ch);
  const uint32_t load = ++listLoads_[Index(ch)];
  // A file this list has been refused once is not explained again.
  const bool explain = !listReported_[Index(ch)].contains(native);
  player.LoadFile(
      native,
      [this, ch, item, native, play, load](WaveOpenError error) {
        if (listLoads_[Index(ch)] == load) ListItemRefused(ch, item, native, play, error);
      },
      explain);
  cue_[Index(ch)].loaded = true;
  if (!play) return;
  UpdateChannelGains(ch);
  player.Play();
  Emit({ConsoleEvent::Kind::kPlay, 0, ch});
}

void CConsole::ListItemRefused(int ch, int item, const std::string& native, bool play,
                               WaveOpenError error) {
  const ListPage& page = pages_[Index(ch)];
  // Said once per file: a list that loops comes by it again and again. The
  // player has explained the other refusals itself, the first time only.
  const bool first = listReported_[Index(ch)].insert(native).second;
  if (error == WaveOpenError::kCannotOpen && first) {
    missingFile_[Index(ch)] = native;
    if (reportMissing_) ReportMessage(std::string(kCueFileCannotOpen) + "\n" + native);
    Changed(ConsoleChange::kMissingFile, ch);
  }
  const int checked = static_cast<int>(std::count_if(page.items.begin(), page.items.end(),
                                                     [](const ListItem& i) { return i.checked; }));
  if (++listFailures_[Index(ch)] >= checked) {
    ReportMessage(kListNothingPlayable);
    EndListPlay(ch);
    return;
  }
  // The list goes on with its next item instead of halting on this one.
  const int next = NextChecked(page.items, item + 1);
  if (next >= 0) LoadListItem(ch, next, play);
}

void CConsole::PlayNextListItem(int ch) {
  ListPage& page = pages_[Index(ch)];
  const int n = static_cast<int>(page.items.size());
  // Every item passed over becomes current on the way, as the page shows it.
  for (int k = 1; k <= n; ++k) {
    const int i = (page.current + k) % n;
    if (!page.items[static_cast<size_t>(i)].checked) continue;
    LoadListItem(ch, i, true);
    return;
  }
  EndListPlay(ch);
}

std::string CConsole::FollowingListFile(int ch) {
  Following& f = following_[Index(ch)];
  f = Following{};
  if (ch < 1 || ch > kChannels || !cue_[Index(ch)].listMode) return {};
  const ListPage& page = pages_[Index(ch)];
  if (page.items.empty()) return {};
  // As the end of the item would choose: the next checked one, wrapping (the
  // item itself when it is the only one).
  const int next = NextChecked(page.items, page.current + 1);
  if (next < 0) return {};
  f.item = next;
  f.stored = ListItemPath(page.folder, page.items[static_cast<size_t>(next)]);
  f.native = ResolvePath(f.stored);
  return f.native;
}

void CConsole::ListItemFollowed(int ch) {
  if (ch < 1 || ch > kChannels) return;
  const Following f = std::exchange(following_[Index(ch)], Following{});
  ListPage& page = pages_[Index(ch)];
  // The page may have changed since the item was named: it is found again
  // by its file.
  int item = f.item;
  const auto named = [&](int i) {
    return i >= 0 && i < static_cast<int>(page.items.size()) &&
           ListItemPath(page.folder, page.items[static_cast<size_t>(i)]) == f.stored;
  };
  if (!named(item)) {
    item = -1;
    for (int i = 0; i < static_cast<int>(page.items.size()) && item < 0; ++i)
      if (named(i)) item = i;
  }
  if (!f.native.empty()) loadedPaths_[Index(ch)] = {f.native, f.stored};
  Emit({ConsoleEvent::Kind::kEof, 0, ch});
  if (item >= 0) {
    page.current = page.marked = item;
    Changed(ConsoleChange::kListItem, ch);
  }
  Emit({ConsoleEvent::Kind::kPlay, 0, ch});
}

void CConsole::EndListPlay(int ch) {
  // Nothing more to play: the toggles come up and Play starts nothing until
  // the channel is stopped (which loads its cue again).
  CueState& s = cue_[Index(ch)];
  if (Player(ch).IsLoaded()) Player(ch).Unload();
  s.loaded = s.started = false;
  ++listLoads_[Index(ch)];
  buttons_[Index(ch)] = TransportButtons{};
  Changed(ConsoleChange::kTransport, ch);
}

void CConsole::SetListCheck(int ch, int item, bool checked) {
  if (ch < 1 || ch > kChannels) return;
  ListPage& page = pages_[Index(ch)];
  if (item < 0 || item >= static_cast<int>(page.items.size()) ||
      page.items[static_cast<size_t>(item)].checked == checked)
    return;
  page.items[static_cast<size_t>(item)].checked = checked;
  Player(ch).ReconsiderNext();
  Changed(ConsoleChange::kListPage, ch);
  ListCheckChanged(ch);
}

void CConsole::ListCheckChanged(int ch) {
  if (ch < 1 || ch > kChannels) return;
  CWaveWnd& player = Player(ch);
  if (player.IsPlaying() || player.IsPaused()) return;
  ListPage& page = pages_[Index(ch)];
  const int n = static_cast<int>(page.items.size());
  if (n == 0) return;
  if (cue_[Index(ch)].started) {
    page.current = (page.current + 1) % n;
  } else {
    page.current = std::max(NextChecked(page.items, 0), 0);
  }
  LoadCurrentListItem(ch);
  page.marked = page.current;
  Changed(ConsoleChange::kListItem, ch);
}

std::string CConsole::StoredItemPath(int ch) const {
  if (ch < 1 || ch > kChannels || !cue_[Index(ch)].listMode) return {};
  const ListPage& page = pages_[Index(ch)];
  if (!players_[Index(ch)]->IsLoaded() || page.current < 0 ||
      page.current >= static_cast<int>(page.items.size()))
    return {};
  return ListItemPath(page.folder, page.items[static_cast<size_t>(page.current)]);
}

}  // namespace orvex
