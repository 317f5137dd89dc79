// The operator's actions on the console as typed commands. The window, the
// command-line driver and auto-run all hand these to CConsole::Execute, so an
// action means the same wherever it comes from, and each has one text form
// (ConsoleCommandText.h) for scripts and logs.
//
// Channels are 1..6, faders 1..8 (7 and 8 are the groups). The background
// player, the marker panel and MIDI remote control join this vocabulary with
// their own commands when they act on the console.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "engine/ConsoleTypes.h"

namespace orvex::cmd {

struct Go {
  bool operator==(const Go&) const = default;
};
struct StopAll {
  bool operator==(const StopAll&) const = default;
};

// The buttons of a channel strip, and F1..F6 (stop, then play again).
enum class Transport { kPlay, kPause, kStop, kFadeOut, kNext, kRestart };
struct Channel {
  Transport action = Transport::kPlay;
  int ch = 1;
  bool operator==(const Channel&) const = default;
};

// A trackbar moved by hand: 0 is the top (level 10), 100 the bottom.
struct MoveFader {
  int fader = 1;
  int position = 100;
  bool operator==(const MoveFader&) const = default;
};
// A fader set to an exact level 0..10 (the wheel and the arrow keys).
struct FaderLevel {
  int fader = 1;
  double level = 0;
  bool operator==(const FaderLevel&) const = default;
};
struct MoveMaster {
  int position = 0;
  bool operator==(const MoveMaster&) const = default;
};
// 0 is the left end (X full).
struct MoveCross {
  int position = 0;
  bool operator==(const MoveCross&) const = default;
};

// One routing toggle of a strip clicked: channels take M, G1, G2, X, Y,
// groups M, ON, X, Y.
struct Toggle {
  int fader = 1;
  Route route = Route::kM;
  bool on = false;
  bool operator==(const Toggle&) const = default;
};
// The whole routing of a strip: the toggles that differ are clicked in the
// strip's order.
struct Routing {
  int fader = 1;
  RouteState state;
  bool operator==(const Routing& o) const {
    return fader == o.fader && state.m == o.state.m && state.g1 == o.state.g1 &&
           state.g2 == o.state.g2 && state.x == o.state.x && state.y == o.state.y &&
           state.on == o.state.on;
  }
};
struct MasterOn {
  bool on = true;
  bool operator==(const MasterOn&) const = default;
};

// -10000 (left) .. 10000 (right).
struct Pan {
  int ch = 1;
  int pan = 0;
  bool operator==(const Pan&) const = default;
};
// Band 0 Low, 1 Mid, 2 High; gain in dB, -15..15.
struct Tone {
  int ch = 1;
  int band = 0;
  float gain = 0;
  bool operator==(const Tone&) const = default;
};
// A byte offset into the channel's sample data (the progress pane).
struct Seek {
  int ch = 1;
  uint32_t offset = 0;
  bool operator==(const Seek&) const = default;
};

// Positions every fader at cue q (the cue list's double click and "set next").
struct CallUpCue {
  double q = 0;
  bool operator==(const CallUpCue&) const = default;
};
// "呼出", "前", "次": from the number the next-cue box holds.
struct CallUp {
  bool operator==(const CallUp&) const = default;
};
struct PreviousCue {
  bool operator==(const PreviousCue&) const = default;
};
struct NextCue {
  bool operator==(const NextCue&) const = default;
};
// What the operator typed into the next-cue box.
struct NextCueText {
  std::string text;
  bool operator==(const NextCueText&) const = default;
};

struct AutoNext {
  bool on = false;
  bool operator==(const AutoNext&) const = default;
};
enum class AutoRunAction { kRun, kStop, kZero, kTiming };
struct AutoRun {
  AutoRunAction action = AutoRunAction::kRun;
  bool operator==(const AutoRun&) const = default;
};
// The auto-run clock's text box.
struct ClockText {
  std::string text;
  bool operator==(const ClockText&) const = default;
};
// The fader law's knee: both on the 0..10 scale.
struct Knee {
  double point = 0;
  double level = 0;
  bool operator==(const Knee&) const = default;
};

// Seconds of sound a channel reads for its first block and for each later
// one; they count from the next file the channel prepares.
struct Buffers {
  int ch = 1;
  int first = 10;
  int second = 20;
  bool operator==(const Buffers&) const = default;
};
// No file reading while a fade runs.
struct ReadBlock {
  bool on = false;
  bool operator==(const ReadBlock&) const = default;
};

// A check box of a channel's list page clicked: item from 0.
struct ListCheck {
  int ch = 1;
  int item = 0;
  bool checked = true;
  bool operator==(const ListCheck&) const = default;
};

// The background list window: read a list file and play it from the
// selected item, stop, fade out over seconds, set the level (0..10), or
// select an item (from 0).
enum class BgmAction { kList, kPlay, kStop, kFadeOut, kLevel, kSelect };
struct Bgm {
  BgmAction action = BgmAction::kPlay;
  std::string file;  // kList
  double value = 0;  // kFadeOut seconds, kLevel 0..10, kSelect item
  bool operator==(const Bgm&) const = default;
};

}  // namespace orvex::cmd

namespace orvex {

using ConsoleCommand =
    std::variant<cmd::Go, cmd::StopAll, cmd::Channel, cmd::MoveFader, cmd::FaderLevel,
                 cmd::MoveMaster, cmd::MoveCross, cmd::Toggle, cmd::Routing, cmd::MasterOn,
                 cmd::Pan, cmd::Tone, cmd::Seek, cmd::CallUpCue, cmd::CallUp, cmd::PreviousCue,
                 cmd::NextCue, cmd::NextCueText, cmd::AutoNext, cmd::AutoRun, cmd::ClockText,
                 cmd::Knee, cmd::Buffers, cmd::ReadBlock, cmd::ListCheck, cmd::Bgm>;

}  // namespace orvex
