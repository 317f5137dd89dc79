// The set-up and tear-down of the three outputs as the program runs them at
// start, after a new device selection and at exit: the devices (output/)
// and the players wired to them (CH1..CH6 of the console, and the
// continuous-play player in slot 0).
//
// Threads: the UI thread. A lost sound server is reported through the
// poster, on the UI thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/Console.h"
#include "engine/UiPoster.h"
#include "engine/WaveWnd.h"
#include "output/OutputDevices.h"
#include "show/Settings.h"

namespace orvex {

// The exclusive format as the outputs take it, and back into the settings'
// stored record (which keeps a sub-format the outputs do not know of).
WaveFormat ToWaveFormat(const StoredWaveFormat& stored);
StoredWaveFormat ToStoredFormat(const WaveFormat& format, const StoredWaveFormat& before);

class COutputSetup {
 public:
  COutputSetup(CConsole& console, Settings& settings, UiPoster& poster);
  ~COutputSetup();
  COutputSetup(const COutputSetup&) = delete;
  COutputSetup& operator=(const COutputSetup&) = delete;

  // The continuous-play player (slot 0); nullptr when there is none.
  void SetContinuousPlayer(CWaveWnd* player, uint32_t faderValue);
  COutputDevices& Devices() { return devices_; }
  PeakSource& Meter() { return devices_.Meter(); }

  // The first set-up, once at start; the JACK driver opens last.
  void SetupOutputs();
  // The same in two steps, for a caller that changes the selection in
  // Devices() between them: each device then opens once, on what was
  // chosen (a JACK client opened and at once reopened would lose the
  // connections other programs made to it in between).
  void PrepareOutputs();
  void OpenOutputs();
  // The rebuild after the selection dialog stored the three selections
  // and exclusive flags into Devices().
  void ReconfigureOutputs();
  // After the WASAPI settings: every player unloaded, the exclusive device
  // reopened (with the new format when one is given), the cues reloaded.
  void ReopenExclusive(const std::optional<StoredWaveFormat>& format);
  // After the ASIO settings: every player unloaded, the JACK driver list
  // read again and the driver reopened with the stored buffer size, the
  // cues reloaded.
  void ReopenAsio();
  // Players unloaded and devices closed before any device object goes.
  void ReleaseOutputs();

 private:
  // The settings' output entries into the outputs' own record, and back
  // once a step may have rewritten them.
  void PullSettings();
  void PushSettings();
  // Every device of the current selection, in the order of the first set-up.
  void OpenDevices();
  // Players let go of every device first.
  void CloseDevices();
  // Every player (the console's and the continuous-play one) onto what is open.
  void WirePlayers();
  void WirePlayer(CWaveWnd& player);
  void UnwirePlayer(CWaveWnd& player);
  void UnwirePlayers();
  void UnloadPlayers();
  void ReloadPlayers();

  CConsole& console_;
  Settings& settings_;
  UiPoster& poster_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  OutputSettings outputSettings_;  // before the devices that refer to it
  COutputDevices devices_;
  CWaveWnd* continuous_ = nullptr;
  uint32_t continuousLevel_ = 0;
  bool prepared_ = false;
  bool setUp_ = false;
};

}  // namespace orvex
