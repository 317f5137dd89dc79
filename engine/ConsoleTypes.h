// The vocabulary the console shares with its view and the offline renderer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "show/ListFile.h"

namespace orvex {

inline constexpr int kChannels = 6;  // CH1..CH6; faders 7, 8 are G1, G2
inline constexpr int kFaders = 8;

// Shown with the cue's file when a cue's sound file cannot be opened.
inline constexpr const char* kCueFileCannotOpen = "ファイルが開けない";
// A continuous-play list none of whose checked items can be opened.
inline constexpr const char* kListNothingPlayable =
    "連続再生リストに再生できるファイルがありません";

// Routing toggles of a strip: channels use M, G1, G2, X, Y; groups M, ON, X, Y.
enum class Route { kM, kG1, kG2, kX, kY, kOn };

struct RouteState {
  bool m = false;
  bool g1 = false;
  bool g2 = false;
  bool x = false;
  bool y = false;
  bool on = false;  // groups only

  bool& Flag(Route route) {
    switch (route) {
      case Route::kM:
        return m;
      case Route::kG1:
        return g1;
      case Route::kG2:
        return g2;
      case Route::kX:
        return x;
      case Route::kY:
        return y;
      case Route::kOn:
        break;
    }
    return on;
  }
  bool Flag(Route route) const { return const_cast<RouteState&>(*this).Flag(route); }
};

// What happened, with the console clock's time, for logs and renders.
struct ConsoleEvent {
  enum class Kind { kGo, kFire, kPlay, kPause, kResume, kStop, kEof, kFade, kFadeEnd, kNextCue };
  Kind kind = Kind::kGo;
  uint32_t timeMs = 0;
  int fader = 0;  // fader or channel, where the event has one
  double q = 0;
  double from = 0;  // fades, levels on the 0..10 scale
  double to = 0;
  double seconds = 0;
};

// What a view shows that changed; index is the fader or channel (0: none).
enum class ConsoleChange {
  kFader,        // trackbar position and level text
  kRouting,      // toggles of a strip
  kTransport,    // Play, Pause, Stop, F. O of a channel
  kRow,          // the channel data row
  kTitles,       // the title list of a channel
  kCues,         // next cue, current cue, armed faders
  kClock,        // the auto-run clock text or state
  kLateFile,     // a channel's file is slow to come: LateFileNote() says which
  kMissingFile,  // a channel's file could not be opened, or that has passed: MissingFile()
  kListPage,     // a channel's list page: path, folder, items or checks (Page())
  kListItem,     // a channel's current and marked list item; the page scrolls to it
  kPan,          // a channel's pan (Pan()), also when MIDI or OSC moved it
};

class ConsoleListener {
 public:
  virtual ~ConsoleListener() = default;
  // Any thread: fade steps report from the timer thread.
  virtual void OnConsoleEvent(const ConsoleEvent& /*event*/) {}
  // UI thread.
  virtual void OnConsoleChanged(ConsoleChange /*what*/, int /*index*/) {}
};

// The channel data row as the operator sees and edits it.
struct ChannelRow {
  std::string q = "0";
  std::string title;
  int titleIndex = -1;  // -1: no selection
  std::string file;
  std::string description;
  std::string pre = "0";
  std::string fadeIn = "0";
  std::string fadeOut = "0";
};

struct TransportButtons {
  bool play = false;
  bool pause = false;
  bool stop = false;
  bool fadeOut = false;
};

// The continuous-play list a channel plays (its page of the list window).
struct ListPage {
  std::string path;    // the list file, as the cue names it
  std::string name;    // the part of path after its last folder separator
  std::string folder;  // from the list file, without surrounding blanks
  std::vector<ListItem> items;
  int current = 0;  // the item the channel has loaded or loads next
  int marked = 0;   // the item the page shows red
};

// What the slider panel needs of a prepared file: the unit of marker times
// and the slider's range.
struct FileTiming {
  uint32_t bytesPerSecond = 0;
  uint32_t dataSize = 0;
};

// The slider panel's marker rows. UI thread.
class SliderPanelLink {
 public:
  virtual ~SliderPanelLink() = default;
  // The channel's record names no file: its row shows no markers.
  virtual void ClearChannelFile(int /*ch*/) {}
  // Shows the markers of path (the WAV path as stored) on the channel's row.
  // timing is that of the file just prepared; none when the file could not
  // be opened, and the row keeps the last one.
  virtual void SelectChannelFile(int /*ch*/, const std::string& /*path*/,
                                 std::optional<FileTiming> /*timing*/) {}
  // Merges the marker file of path (as stored) into the marker store.
  virtual void LoadMarkerFile(const std::string& /*path*/) {}
};

// The auto-run clock text "hh:mm:ss.t" and its reading.
std::string FormatClock(uint32_t ms);
uint32_t ParseClock(const std::string& text);

}  // namespace orvex
