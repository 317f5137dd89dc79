// The device side of the three outputs: the sound server connection and its
// sinks, one CSoundDevice per output, the voice engines with their mastering
// voices, the shared-mode endpoints handed to the players, the exclusive
// device, the JACK host and the level meter's sources. Every output that is
// not in shared mode mixes in its voice engine, whatever its device: a sink
// stream, the exclusive device or the JACK host. The set-up of the program
// drives it step by step and wires the players to what it holds.
//
// Threads: every operation runs on the UI thread. A lost server is reported
// through the handler, which runs on the server's thread.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "output/DeviceModel.h"
#include "output/PeakSource.h"
#include "output/alsa/WaveExWASAPI.h"
#include "output/jack/AsioKernel.h"
#include "output/mixer/VoiceEngine.h"
#include "output/mixer/WaveXAudio.h"
#include "output/pulse/PulseMonitorMeter.h"
#include "output/pulse/PulseServer.h"
#include "output/pulse/PulseSinkDevice.h"
#include "output/pulse/WasapiEndpoint.h"

namespace orvex {

inline constexpr const char* kAsioOpenFailed = "ASIOドライバを開くことができませんでした";
inline constexpr const char* kServerLost =
    "サウンドサーバとの接続が切れました。サウンドサーバのデバイスは音が出ません。"
    "サーバーが戻ると出力を自動的に開き直します";
// Followed by the names of the outputs opened again.
inline constexpr const char* kServerBack = "サウンドサーバーが戻りました。出力を開き直しました";
inline constexpr const char* kJackBack = "JACKサーバーが戻りました。出力を開き直しました";
// Followed by the server's rate in Hz and "Hz）".
inline constexpr const char* kJackBackAtOtherRate =
    "JACKサーバーが別のサンプリングレートで戻りました。ASIO出力は無音のままです。\n"
    "ASIO設定またはデバイスの選択で開き直すと、このレートで出力します。（";

// "Master", "Group1", "Group2".
const char* OutputName(int n);
inline constexpr const char* kDeviceGone =
    "サウンドデバイスが見つからなくなりました。このデバイスの出力は音が出ません";

// What the level meter reads of output 0: its voice engine's mix, or the
// sink monitor of a shared-mode endpoint.
class CMeterSources final : public PeakSource {
 public:
  PeakSource* engine = nullptr;
  PeakSource* endpoint = nullptr;
  bool ReadPeaks(float& left, float& right) override;
  bool Attached() const { return engine || endpoint; }
};

// What the outputs are set up from, as plain values; the set-up rewrites
// them where a device is not found or a device changes what was asked.
struct OutputSettings {
  std::array<std::string, kOutputCount> deviceType{"XAUDIO2", "XAUDIO2", "XAUDIO2"};
  std::array<std::string, kOutputCount> deviceName;
  std::array<int32_t, kOutputCount> exclusive{};
  WaveFormat exclusiveFormat;
  int32_t exclusiveBufferMs = 30;
  int32_t asioBufferFactor = 4;
  int32_t asioRate = 44100;
  std::string jackServers;  // comma-separated
};

class COutputDevices {
 public:
  explicit COutputDevices(OutputSettings& settings);
  ~COutputDevices();
  COutputDevices(const COutputDevices&) = delete;
  COutputDevices& operator=(const COutputDevices&) = delete;

  // Runs on the server thread when the server goes away.
  void SetServerLostHandler(std::function<void()> handler);
  // Runs on the server thread when a sink goes away, with its name.
  void SetSinkGoneHandler(std::function<void(const std::string&)> handler);
  // The names ("DS: ...", "WASAPI: ...") of the outputs' selections on that
  // sink, each once.
  std::vector<std::string> SelectionsOnSink(const std::string& sink) const;
  // Where the operator's messages of a set-up step go.
  void SetReporter(std::function<void(const std::string&)> report);
  // The ALSA device the exclusive mixer opens instead of the endpoint's own
  // hardware (tests define it in a private configuration).
  void SetExclusiveAlsaOverride(const std::string& name) { alsaOverride_ = name; }

  // --- set-up steps, in the order the program runs them ---
  // Connects to the sound server and lists its sinks (once, at start).
  void ConnectServer();
  // After the server went away (it restarted): connects again, so the
  // outputs on its sinks open once more. The device lists stay as they were.
  void ReconnectServerIfLost();
  // The sinks start-up found (ConnectServer calls it; tests give their own).
  void UseSinks(std::vector<pulse::SinkInfo> sinks);
  void CreateXAudioEngines();
  void LoadAsioDriverList();
  // Fills every output's lists from what start-up found.
  void BuildDeviceLists();
  // The four steps above in order: every device an output can use, listed.
  void ListAllDevices();
  void ResolveOutputSetting(int n);
  // Picks each output's endpoint from its selection.
  void BindEndpoints();
  // Opens the exclusive device of the first exclusive output and mixes
  // that output into it.
  bool OpenExclusiveOutput();
  void CloseExclusiveOutput();
  // The shared endpoint meter on output 0, when it has one.
  void AttachEndpointMeter();
  void DetachEndpointMeter();
  // Mastering voices of the outputs on sink streams. False when the set-up
  // of one failed and ended there.
  bool CreateMasteringVoices();
  void ReleaseXAudioEngines();
  // Every engine starts its fade to silence at once, so closing the outputs
  // one after the other waits for one fade, not three.
  void FadeOutAll();
  // Opens the JACK driver of the first JACK output and mixes that output
  // into it.
  bool OpenAsioOutput();
  void CloseAsioOutput();
  // After the selection dialog: DEVICE_TYPE, DEVICE and WASAPI_MODE.
  void StoreSelection();
  // --- servers that come back (see ReturnWatch) ---
  // Outputs whose voice engine renders into a sink stream that broke.
  std::vector<int> LostSinkOutputs() const;
  // The sinks those outputs play on.
  std::vector<std::string> SinksOf(const std::vector<int>& outputs) const;
  // Whether a server answers with every one of those sinks; it connects
  // afresh, so it runs on any thread and never touches what is open.
  static bool SinksAvailable(const std::vector<std::string>& sinks);
  // The server is back: connects again and gives every broken sink stream
  // a new one under its engine; returns the outputs that play again. The
  // players' shared-mode streams on the old connection must be closed first.
  std::vector<int> ReopenLostSinkOutputs();
  // The JACK server of the open driver ("" for the default one).
  std::string AsioServer() const;
  // The JACK server is back: a new client under the same engine.
  CAsioKernel::Reopen ReopenAsioOutput();

  // Everything goes, exclusive mixer first; players must be unloaded.
  void ReleaseAll();

  // --- what the players are wired to ---
  CSoundDevice& Device(int n) { return devices_[Index(n)]; }
  const CSoundDevice& Device(int n) const { return devices_[Index(n)]; }
  std::array<mixer::VoiceEngine*, kOutputCount> Engines() const;
  // The shared-mode endpoint of output n (none for an exclusive one).
  const WasapiEndpoint* SharedEndpoint(int n) const;
  CWaveExWASAPI& Exclusive() { return exclusive_; }
  // The output the exclusive device plays, -1 when none is open.
  int ExclusiveOutput() const { return exclusiveOutput_; }
  CAsioKernel& Asio() { return asio_; }
  // The first output on a JACK driver, -1 when none.
  int AsioOutput() const;
  PeakSource& Meter() { return meter_; }
  bool MeterAttached() const { return meter_.Attached(); }
  pulse::PulseServer& Server() { return server_; }
  const std::vector<std::string>& AsioList() const { return asioList_; }

 private:
  static size_t Index(int n) { return static_cast<size_t>(n < 0 ? 0 : n % kOutputCount); }
  // Output n mixes in its engine into `device`.
  bool AttachEngine(int n, mixer::AudioDevice& device);
  void DetachEngine(int n);
  void UpdateMeter();

  OutputSettings& settings_;
  std::function<void(const std::string&)> report_;
  std::string alsaOverride_;
  pulse::PulseServer server_;
  std::vector<pulse::SinkInfo> sinks_;
  std::vector<WasapiEndpoint> endpoints_;  // one per sink, fixed after start
  std::array<CSoundDevice, kOutputCount> devices_;
  std::vector<std::string> asioList_;
  bool asioListLoaded_ = false;
  std::array<std::unique_ptr<mixer::VoiceEngine>, kOutputCount> engines_;
  std::array<std::unique_ptr<pulse::PulseSinkDevice>, kOutputCount> sinkDevices_;
  std::array<const WasapiEndpoint*, kOutputCount> bound_{};
  std::unique_ptr<pulse::PulseMonitorMeter> endpointMeter_;
  CWaveExWASAPI exclusive_;
  int exclusiveOutput_ = -1;
  CAsioKernel asio_;
  CMeterSources meter_;
};

}  // namespace orvex
