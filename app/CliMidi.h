// "orvex-cli midi ports", and MIDI input for "orvex-cli play".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/Console.h"
#include "engine/UiPoster.h"
#include "midi/MidiControl.h"
#include "remote/OscServer.h"
#include "show/Settings.h"

namespace orvex {

int RunMidiCommand(const std::vector<std::string>& args);

// OSC for a play command on the settings' address and the given port; what
// each message did is printed like MIDI's. False (said on standard error)
// when the port cannot be had.
class CliOsc {
 public:
  CliOsc(CConsole& console, TimerService& timers, UiPoster& poster, double (*clock)());
  bool Start(const std::string& address, int port);
  void Stop() { server_.Stop(); }

 private:
  CConsole& console_;
  double (*clock_)();
  remote::COscServer server_;
};

// MIDI input of a play command: with `match` non-empty, every port whose
// name contains it is connected (with the settings file's record for it, or
// the first-run one); without, the settings' CONF_FILE and CONNECT apply as
// at program start. Each message that acts prints one line on standard output
// before its commands run on the console.
class CliMidi {
 public:
  CliMidi(CConsole& console, UiPoster& poster, double (*clock)());
  ~CliMidi();
  void Start(const Settings& settings, const std::string& match);
  void Stop();

 private:
  CConsole& console_;
  double (*clock_)();
  std::unique_ptr<midi::MidiPortSystem> ports_;
  std::unique_ptr<midi::CMidiControl> control_;
};

}  // namespace orvex
