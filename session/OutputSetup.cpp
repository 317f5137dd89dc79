#include "session/OutputSetup.h"

#include "show/Messages.h"

namespace orvex {

COutputSetup::COutputSetup(CConsole& console, Settings& settings, UiPoster& poster)
    : console_(console), settings_(settings), poster_(poster), devices_(settings) {
  std::weak_ptr<bool> alive = alive_;
  devices_.SetServerLostHandler([this, alive] {
    // The server thread only hands the news on.
    poster_.Post([alive] {
      if (alive.lock()) ConfirmYesNo(kServerLost);
    });
  });
  devices_.Asio().SetNoticeHandler([this, alive](const std::string& text) {
    poster_.Post([alive, text] {
      if (alive.lock()) ConfirmYesNo(text);
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

void COutputSetup::SetupOutputs() {
  devices_.ConnectServer();
  devices_.CreateXAudioEngines();
  devices_.LoadAsioDriverList();
  devices_.BuildDeviceLists();
  for (int n = 0; n < kOutputCount; ++n) devices_.ResolveOutputSetting(n);
  OpenDevices();
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
  for (int ch = 1; ch <= kChannels; ++ch) UnwirePlayer(console_.Player(ch));
  if (continuous_) UnwirePlayer(*continuous_);
  devices_.CloseExclusiveOutput();
  devices_.DetachEndpointMeter();
  devices_.CloseAsioOutput();
  devices_.ReleaseXAudioEngines();
}

void COutputSetup::WirePlayers() {
  for (int ch = 1; ch <= kChannels; ++ch) WirePlayer(console_.Player(ch));
  if (continuous_) WirePlayer(*continuous_);
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
  devices_.StoreSelection();
  UnloadPlayers();
  CloseDevices();
  devices_.CreateXAudioEngines();
  devices_.LoadAsioDriverList();
  OpenDevices();
  WirePlayers();
  ReloadPlayers();
}

void COutputSetup::ReopenExclusive(const std::optional<StoredWaveFormat>& format) {
  UnloadPlayers();
  for (int ch = 1; ch <= kChannels; ++ch) UnwirePlayer(console_.Player(ch));
  if (continuous_) UnwirePlayer(*continuous_);
  devices_.CloseExclusiveOutput();
  if (format) settings_.wasapiFormat = *format;
  devices_.OpenExclusiveOutput();
  WirePlayers();
  ReloadPlayers();
}

void COutputSetup::ReopenAsio() {
  UnloadPlayers();
  for (int ch = 1; ch <= kChannels; ++ch) UnwirePlayer(console_.Player(ch));
  if (continuous_) UnwirePlayer(*continuous_);
  devices_.CloseAsioOutput();
  devices_.LoadAsioDriverList();
  devices_.OpenAsioOutput();
  WirePlayers();
  ReloadPlayers();
}

void COutputSetup::ReleaseOutputs() {
  if (!setUp_) return;
  setUp_ = false;
  // Nothing may read a device once it goes: players first, then devices.
  UnloadPlayers();
  CloseDevices();
  devices_.ReleaseAll();
}

}  // namespace orvex
