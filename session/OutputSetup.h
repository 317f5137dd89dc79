// The set-up and tear-down of the three outputs as the program runs them at
// start, after a new device selection and at exit: the devices (output/)
// and the players wired to them (CH1..CH6 of the console, and the
// continuous-play player in slot 0).
//
// An output whose sound server or JACK server goes away is watched for the
// server's return and opened again under the same voice engine, so what
// plays on it goes on; the other outputs never stop.
//
// Threads: the UI thread. A lost sound server is reported through the
// poster, on the UI thread; the watches probe on threads of their own.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Console.h"
#include "engine/UiPoster.h"
#include "engine/WaveWnd.h"
#include "output/OutputDevices.h"
#include "output/ReturnWatch.h"
#include "show/Settings.h"

namespace orvex {

// The exclusive format as the outputs take it, and back into the settings'
// stored record (which keeps a sub-format the outputs do not know of).
WaveFormat ToWaveFormat(const StoredWaveFormat& stored);
StoredWaveFormat ToStoredFormat(const WaveFormat& format, const StoredWaveFormat& before);

// An output that went silent with its server, or plays again.
struct OutputEvent {
  bool back = false;
  int output = 0;
  std::string server;  // "pulse" or "jack"
};

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
  // Told on the UI thread of every output lost or back (after the report).
  void SetOutputEventHandler(std::function<void(const OutputEvent&)> handler) {
    onOutputEvent_ = std::move(handler);
  }
  // How often a lost server is asked whether it is back.
  void SetProbePeriod(std::chrono::milliseconds period) { probePeriod_ = period; }

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
  // --- servers that come back ---
  void OnSoundServerLost(const std::vector<int>& outputs);
  void OnJackLost();
  void WatchSoundServer();
  // The sinks of the sound server output n plays on: its voice engine's
  // and its players' shared-mode streams'.
  std::vector<std::string> ServerSinksOf(int n) const;
  void WatchJack(std::optional<std::chrono::milliseconds> period = std::nullopt);
  // After outputs were set up again: the watches stopped, and what is still
  // lost is watched anew.
  void WatchWhatIsLost();
  void OnSoundServerBack();
  void OnJackBack();
  // No watch runs or reports once this returns (before outputs change).
  void StopWatches();
  void Tell(bool back, const std::vector<int>& outputs, const char* server);
  void SetSharedEndpoints(bool on);

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
  std::function<void(const OutputEvent&)> onOutputEvent_;
  std::chrono::milliseconds probePeriod_{250};
  // Bumped whenever the watches stop: news posted before then is stale.
  uint64_t watchGeneration_ = 0;
  ReturnWatch soundWatch_;
  ReturnWatch jackWatch_;
  bool jackRateTold_ = false;  // the JACK server's other rate was reported
};

}  // namespace orvex
