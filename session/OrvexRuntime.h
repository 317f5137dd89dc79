// What the desktop program runs the console on: the real timer service, the
// console over the document's cue store and settings, and the outputs the
// players sound on. Work for the UI thread goes through the poster the
// program gives it (the UI's event loop).
#pragma once

#include <memory>

#include "engine/Console.h"
#include "engine/MarkerPanel.h"
#include "engine/TimerService.h"
#include "engine/UiPoster.h"
#include "midi/MidiControl.h"
#include "midi/MidiPorts.h"
#include "output/PeakSource.h"
#include "remote/OscServer.h"
#include "session/OptionEdit.h"
#include "session/OrvexDoc.h"
#include "session/OutputSetup.h"

namespace orvex {

class COrvexRuntime {
 public:
  // Runs on the real timer service. Construct on the UI thread; the poster
  // outlives the runtime.
  COrvexRuntime(COrvexDoc& doc, UiPoster& poster);
  // Runs on timers the caller owns (tests use the manual service).
  COrvexRuntime(COrvexDoc& doc, UiPoster& poster, TimerService& timers);
  ~COrvexRuntime();
  COrvexRuntime(const COrvexRuntime&) = delete;
  COrvexRuntime& operator=(const COrvexRuntime&) = delete;

  COrvexDoc& Doc() { return m_doc; }
  CConsole& Console() { return *m_console; }
  TimerService& Timers() { return *m_timers; }
  UiPoster& Poster() { return m_poster; }

  // The console's first update: settings into the console, then the
  // outputs, then MIDI (the file CONF_FILE names, the ports of the machine,
  // and when CONNECT is set the checked ones connected); last, on the real
  // timer service, the process priority is raised (a process that may not
  // raise it runs on as it is).
  void StartUp();
  // Binds the three outputs to their devices from the settings and wires
  // the players to them. Calling it again rebuilds them.
  void SetupOutputs();
  // Players let go of their voices, then the outputs close.
  void ReleaseOutputs();
  // Keeps the background list's path, level and fade-out in the settings,
  // closes MIDI, stops timers and channels, then the outputs. The destructor
  // runs it too.
  void Shutdown();

  // MIDI remote control: the device list the settings dialog edits, the
  // settings file, connecting and disconnecting. Its commands run on the
  // console like the window's.
  midi::CMidiControl& Midi() { return *m_midi; }
  // OSC remote control, listening from StartUp when "OSC"/"ENABLE" is set.
  remote::COscServer& Osc() { return *m_osc; }
  // (Re)starts or stops it as the settings say now; a port that cannot be
  // had is reported.
  void ApplyOscSettings();
  // The ports MIDI uses instead of the machine's (tests); before StartUp.
  void UseMidiPorts(std::unique_ptr<midi::MidiPortSystem> ports);

  // What the level meter reads; null while no output provides peaks.
  PeakSource* Peaks() const;
  void SetPeakSource(PeakSource* peaks) { m_peaks = peaks; }
  // The devices, their selection and the rebuild after the selection dialog.
  COutputSetup& Outputs() { return *m_outputs; }
  // The slider panel's marker rows and the marker store, which the document
  // borrows; the console shows each channel's file in them, and their seeks
  // go to the console as commands.
  CMarkerPanel& Markers() { return *m_markers; }
  // The continuous-play player (player 0): on every output at its own one
  // level, wired with the channels and let go before any device goes.
  CWaveWnd& Background() { return m_console->Background().Player(); }

  // The operation settings accepted by their dialog: buffers, knee,
  // auto-next and read blocking go to the console as commands (the knee
  // reaches the background player too), the wheel speed to the settings.
  void ApplyOperationValues(const OperationValues& values);

 private:
  COrvexDoc& m_doc;
  std::unique_ptr<TimerService> m_ownTimers;
  TimerService* m_timers = nullptr;
  UiPoster& m_poster;
  PeakSource* m_peaks = nullptr;
  std::unique_ptr<CMarkerPanel> m_markers;  // outlives the console that shows files in it
  std::unique_ptr<CConsole> m_console;
  std::unique_ptr<COutputSetup> m_outputs;  // after the players it wires
  std::unique_ptr<midi::MidiPortSystem> m_midiPorts;
  std::unique_ptr<midi::CMidiControl> m_midi;  // before the ports it opens
  std::unique_ptr<remote::COscServer> m_osc;
  bool m_outputsUp = false;
  bool m_raisePriority = false;  // the program's runtime, not a test's
  bool m_shutDown = false;

  void Create();
  void StartMidi();
};

}  // namespace orvex
