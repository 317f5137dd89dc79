#include "session/OutputSetup.h"

#include <algorithm>

#include "output/jack/AsioMessages.h"
#include "output/jack/JackDevice.h"
#include "show/Messages.h"

namespace orvex {

namespace {
// The sub-format of plain PCM samples.
constexpr std::array<uint8_t, 16> kPcmSubFormat = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
}  // namespace

WaveFormat ToWaveFormat(const StoredWaveFormat& s) {
  WaveFormat f;
  f.formatTag = s.formatTag;
  f.channels = s.channels;
  f.samplesPerSec = s.samplesPerSec;
  f.avgBytesPerSec = s.avgBytesPerSec;
  f.blockAlign = s.blockAlign;
  f.bitsPerSample = s.bitsPerSample;
  f.extraSize = s.extraSize;
  f.validBits = s.validBits;
  f.channelMask = s.channelMask;
  f.pcmSubFormat = s.subFormat == kPcmSubFormat;
  return f;
}

StoredWaveFormat ToStoredFormat(const WaveFormat& f, const StoredWaveFormat& before) {
  if (ToWaveFormat(before) == f) return before;
  StoredWaveFormat s = before;
  s.formatTag = f.formatTag;
  s.channels = f.channels;
  s.samplesPerSec = f.samplesPerSec;
  s.avgBytesPerSec = f.avgBytesPerSec;
  s.blockAlign = f.blockAlign;
  s.bitsPerSample = f.bitsPerSample;
  s.extraSize = f.extraSize;
  s.validBits = f.validBits;
  s.channelMask = f.channelMask;
  if (f.pcmSubFormat) s.subFormat = kPcmSubFormat;
  return s;
}

COutputSetup::COutputSetup(CConsole& console, Settings& settings, UiPoster& poster)
    : console_(console), settings_(settings), poster_(poster), devices_(outputSettings_) {
  devices_.SetReporter([](const std::string& text) { ReportMessage(text); });
  std::weak_ptr<bool> alive = alive_;
  devices_.SetServerLostHandler([this, alive] {
    // The server thread only hands the news on.
    poster_.Post([this, alive] {
      if (!alive.lock()) return;
      ReportMessage(kServerLost);
      std::vector<int> outputs;
      for (int n = 0; n < kOutputCount; ++n)
        if (!ServerSinksOf(n).empty()) outputs.push_back(n);
      OnSoundServerLost(outputs);
    });
  });
  devices_.SetSinkGoneHandler([this, alive](const std::string& sink) {
    poster_.Post([this, alive, sink] {
      if (!alive.lock()) return;
      // Its streams have ended where they were; nothing moves elsewhere.
      for (const std::string& name : devices_.SelectionsOnSink(sink))
        ReportMessage(std::string(kDeviceGone) + "\n" + name);
      std::vector<int> outputs;
      for (int n = 0; n < kOutputCount; ++n)
        if (devices_.SinksOf({n}) == std::vector<std::string>{sink}) outputs.push_back(n);
      OnSoundServerLost(outputs);
    });
  });
  devices_.Asio().SetNoticeHandler([this, alive](const std::string& text) {
    poster_.Post([this, alive, text] {
      if (!alive.lock()) return;
      ReportMessage(text);
      if (text == kAsioDeviceLost) OnJackLost();
    });
  });
}

COutputSetup::~COutputSetup() {
  ReleaseOutputs();
}

void COutputSetup::SetContinuousPlayer(CWaveWnd* player, uint32_t faderValue) {
  continuous_ = player;
  continuousLevel_ = faderValue;
  if (player && setUp_) WirePlayer(*player);
}

void COutputSetup::PullSettings() {
  OutputSettings& o = outputSettings_;
  o.deviceType = settings_.deviceType;
  o.deviceName = settings_.deviceName;
  o.exclusive = settings_.wasapiExclusive;
  o.exclusiveFormat = ToWaveFormat(settings_.wasapiFormat);
  o.exclusiveBufferMs = settings_.wasapiBufSize;
  o.asioBufferFactor = settings_.asioBufferFactor;
  o.asioRate = settings_.asioRate;
  o.jackServers = settings_.jackServers;
}

void COutputSetup::PushSettings() {
  const OutputSettings& o = outputSettings_;
  settings_.deviceType = o.deviceType;
  settings_.deviceName = o.deviceName;
  settings_.wasapiExclusive = o.exclusive;
  settings_.wasapiFormat = ToStoredFormat(o.exclusiveFormat, settings_.wasapiFormat);
  settings_.wasapiBufSize = o.exclusiveBufferMs;
  settings_.asioBufferFactor = o.asioBufferFactor;
}

void COutputSetup::SetupOutputs() {
  PrepareOutputs();
  OpenOutputs();
}

void COutputSetup::PrepareOutputs() {
  PullSettings();
  devices_.ListAllDevices();
  for (int n = 0; n < kOutputCount; ++n) devices_.ResolveOutputSetting(n);
  prepared_ = true;
}

void COutputSetup::OpenOutputs() {
  OpenDevices();
  PushSettings();
  setUp_ = true;
  WirePlayers();
}

void COutputSetup::OpenDevices() {
  devices_.BindEndpoints();
  devices_.OpenExclusiveOutput();
  devices_.AttachEndpointMeter();
  devices_.CreateMasteringVoices();
  devices_.OpenAsioOutput();
}

void COutputSetup::CloseDevices() {
  UnwirePlayers();
  devices_.FadeOutAll();
  devices_.CloseExclusiveOutput();
  devices_.DetachEndpointMeter();
  devices_.CloseAsioOutput();
  devices_.ReleaseXAudioEngines();
}

void COutputSetup::WirePlayers() {
  for (int ch = 1; ch <= kChannels; ++ch) WirePlayer(console_.Player(ch));
  if (continuous_) WirePlayer(*continuous_);
}

void COutputSetup::UnwirePlayers() {
  for (int ch = 1; ch <= kChannels; ++ch) UnwirePlayer(console_.Player(ch));
  if (continuous_) UnwirePlayer(*continuous_);
}

void COutputSetup::WirePlayer(CWaveWnd& player) {
  for (int n = 0; n < kOutputCount; ++n) player.Wasapi().SetDevice(n, devices_.SharedEndpoint(n));
  player.SetEngines(devices_.Engines());
}

void COutputSetup::UnwirePlayer(CWaveWnd& player) {
  player.SetEngines({});
  for (int n = 0; n < kOutputCount; ++n) player.Wasapi().SetDevice(n, nullptr);
}

void COutputSetup::UnloadPlayers() {
  console_.UnloadChannels();
  if (continuous_) continuous_->Unload();
}

void COutputSetup::ReloadPlayers() {
  console_.ReloadChannels();
  if (continuous_) continuous_->SetAllOutputLevels(continuousLevel_);
}

void COutputSetup::ReconfigureOutputs() {
  StopWatches();
  PullSettings();
  devices_.StoreSelection();
  UnloadPlayers();
  CloseDevices();
  // A sound server that restarted is reached again by choosing its devices.
  devices_.ReconnectServerIfLost();
  devices_.CreateXAudioEngines();
  devices_.LoadAsioDriverList();
  OpenDevices();
  PushSettings();
  WirePlayers();
  ReloadPlayers();
  WatchWhatIsLost();
}

void COutputSetup::ReopenExclusive(const std::optional<StoredWaveFormat>& format) {
  StopWatches();
  UnloadPlayers();
  UnwirePlayers();
  devices_.CloseExclusiveOutput();
  if (format) settings_.wasapiFormat = *format;
  PullSettings();
  devices_.OpenExclusiveOutput();
  PushSettings();
  WirePlayers();
  ReloadPlayers();
  WatchWhatIsLost();
}

void COutputSetup::ReopenAsio() {
  StopWatches();
  UnloadPlayers();
  UnwirePlayers();
  devices_.CloseAsioOutput();
  PullSettings();
  devices_.LoadAsioDriverList();
  devices_.OpenAsioOutput();
  PushSettings();
  WirePlayers();
  ReloadPlayers();
  WatchWhatIsLost();
}

void COutputSetup::ReleaseOutputs() {
  StopWatches();
  if (!prepared_) return;
  prepared_ = setUp_ = false;
  // Nothing may read a device once it goes: players first, then devices.
  UnloadPlayers();
  CloseDevices();
  devices_.ReleaseAll();
}

// --------------------------------------------- servers that come back

void COutputSetup::Tell(bool back, const std::vector<int>& outputs, const char* server) {
  if (!onOutputEvent_) return;
  for (int n : outputs) onOutputEvent_(OutputEvent{back, n, server});
}

void COutputSetup::OnSoundServerLost(const std::vector<int>& outputs) {
  if (!setUp_ || outputs.empty()) return;
  Tell(false, outputs, "pulse");
  WatchSoundServer();
}

void COutputSetup::OnJackLost() {
  const int n = devices_.AsioOutput();
  if (!setUp_ || n < 0 || !devices_.Asio().IsDriverOpen()) return;
  devices_.Asio().LetGoOfLostDevice();
  jackRateTold_ = false;
  Tell(false, {n}, "jack");
  WatchJack();
}

std::vector<std::string> COutputSetup::ServerSinksOf(int n) const {
  std::vector<std::string> sinks = devices_.SinksOf({n});
  if (const WasapiEndpoint* e = devices_.SharedEndpoint(n)) sinks.push_back(e->id);
  return sinks;
}

void COutputSetup::WatchSoundServer() {
  std::vector<std::string> sinks;
  for (int n = 0; n < kOutputCount; ++n)
    for (std::string& sink : ServerSinksOf(n)) sinks.push_back(std::move(sink));
  if (sinks.empty()) return;
  std::weak_ptr<bool> alive = alive_;
  const uint64_t generation = watchGeneration_;
  soundWatch_.Start([sinks] { return COutputDevices::SinksAvailable(sinks); },
                    [this, alive, generation] {
                      poster_.Post([this, alive, generation] {
                        if (alive.lock() && generation == watchGeneration_) OnSoundServerBack();
                      });
                    },
                    probePeriod_);
}

void COutputSetup::WatchJack(std::optional<std::chrono::milliseconds> period) {
  std::weak_ptr<bool> alive = alive_;
  const uint64_t generation = watchGeneration_;
  jackWatch_.Start(
      [server = devices_.AsioServer()] { return jack::JackDevice::ServerRunning(server); },
      [this, alive, generation] {
        poster_.Post([this, alive, generation] {
          if (alive.lock() && generation == watchGeneration_) OnJackBack();
        });
      },
      period.value_or(probePeriod_));
}

void COutputSetup::SetSharedEndpoints(bool on) {
  const auto set = [&](CWaveWnd& player) {
    for (int n = 0; n < kOutputCount; ++n)
      if (const WasapiEndpoint* e = devices_.SharedEndpoint(n)) {
        player.Wasapi().SetDevice(n, on ? e : nullptr);
        if (on) player.Wasapi().Reopen(n);
      }
  };
  for (int ch = 1; ch <= kChannels; ++ch) set(console_.Player(ch));
  if (continuous_) set(*continuous_);
}

void COutputSetup::OnSoundServerBack() {
  const bool reconnect = devices_.Server().IsLost();
  // The players' shared-mode streams belong to the connection that goes:
  // they close before it does and open again on the new one, where a cue
  // that plays comes back at its clock's position.
  if (reconnect) SetSharedEndpoints(false);
  std::vector<int> reopened = devices_.ReopenLostSinkOutputs();
  if (reconnect && devices_.Server().IsConnected()) {
    SetSharedEndpoints(true);
    for (int n = 0; n < kOutputCount; ++n)
      if (devices_.SharedEndpoint(n)) reopened.push_back(n);
    std::sort(reopened.begin(), reopened.end());
  }
  if (!reopened.empty()) {
    std::string names;
    for (int n : reopened) names += std::string(names.empty() ? "" : ", ") + OutputName(n);
    ReportMessage(std::string(kServerBack) + "（" + names + "）");
    Tell(true, reopened, "pulse");
  }
  // Gone again already, or a sink not yet there: keep watching.
  if (devices_.Server().IsLost() || !devices_.LostSinkOutputs().empty()) WatchSoundServer();
}

void COutputSetup::OnJackBack() {
  const int n = devices_.AsioOutput();
  if (n < 0 || !devices_.Asio().IsDriverOpen()) return;
  switch (devices_.ReopenAsioOutput()) {
    case CAsioKernel::Reopen::kDone:
      jackRateTold_ = false;
      ReportMessage(std::string(kJackBack) + "（" + OutputName(n) + "）");
      Tell(true, {n}, "jack");
      return;
    case CAsioKernel::Reopen::kOtherRate:
      // Told once; the server may yet be restarted at the output's rate,
      // which is asked about less often (each ask is a client on it).
      if (!jackRateTold_)
        ReportMessage(std::string(kJackBackAtOtherRate) +
                      std::to_string(devices_.Asio().ReturnedRate()) + " Hz）");
      jackRateTold_ = true;
      WatchJack(std::max(probePeriod_, std::chrono::milliseconds(2000)));
      return;
    case CAsioKernel::Reopen::kNotThere:
      WatchJack();
      return;
  }
}

void COutputSetup::WatchWhatIsLost() {
  if (!setUp_) return;
  if (devices_.Server().IsLost() || !devices_.LostSinkOutputs().empty()) WatchSoundServer();
  if (devices_.AsioOutput() >= 0 && devices_.Asio().IsDriverOpen() && devices_.Asio().DeviceLost())
    WatchJack();
}

void COutputSetup::StopWatches() {
  ++watchGeneration_;
  soundWatch_.Stop();
  jackWatch_.Stop();
}

}  // namespace orvex
