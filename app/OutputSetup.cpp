#include "app/OutputSetup.h"

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
  if (player && setUp_) {
    WirePlayer(*player);
    WireAsio(*player, 0);
  }
}

void COutputSetup::SetupOutputs() {
  devices_.ConnectServer();
  devices_.CreateXAudioEngines();
  devices_.LoadAsioDriverList();
  devices_.BuildDeviceLists();
  for (int n = 0; n < kOutputCount; ++n) devices_.ResolveOutputSetting(n);
  ConnectWasapiOutputs();
  CreateMasteringVoices();
  setUp_ = true;
  OpenAsioOutput();
  if (continuous_) {
    WirePlayer(*continuous_);
    WireAsio(*continuous_, 0);
  }
}

void COutputSetup::WirePlayer(CWaveWnd& player) {
  for (int n = 0; n < kOutputCount; ++n) player.Wasapi().SetDevice(n, devices_.Endpoint(n));
  player.SetExclusiveFlags(devices_.ExclusiveFlags());
  player.SetMixer(&devices_.Mixer());
  player.SetEngines(devices_.Engines());
}

void COutputSetup::WireAsio(CWaveWnd& player, int slot) {
  const int n = devices_.AsioOutput();
  if (n < 0 || !devices_.Asio().IsDriverOpen()) {
    player.Asio().Connect(nullptr, slot, -1);
    return;
  }
  player.Asio().Connect(&devices_.Asio(), slot, n);
}

void COutputSetup::ConnectWasapiOutputs() {
  devices_.BindEndpoints();
  for (int ch = 1; ch <= kChannels; ++ch) {
    CWaveWnd& p = console_.Player(ch);
    for (int n = 0; n < kOutputCount; ++n) p.Wasapi().SetDevice(n, devices_.Endpoint(n));
    p.SetExclusiveFlags(devices_.ExclusiveFlags());
    p.SetMixer(&devices_.Mixer());
  }
  devices_.OpenExclusiveOutput();
  devices_.AttachEndpointMeter();
}

void COutputSetup::CreateMasteringVoices() {
  // A failed mastering voice ends the set-up there: no player holds engines.
  const bool ok = devices_.CreateMasteringVoices();
  console_.SetEngines(ok ? devices_.Engines() : std::array<xaudio::VoiceEngine*, kOutputCount>{});
}

bool COutputSetup::OpenAsioOutput() {
  const bool ok = devices_.OpenAsioOutput();
  for (int ch = 1; ch <= kChannels; ++ch) WireAsio(console_.Player(ch), ch);
  return ok;
}

void COutputSetup::CloseAsioOutput() {
  for (int ch = 1; ch <= kChannels; ++ch) console_.Player(ch).Asio().Connect(nullptr, ch, -1);
  if (continuous_) continuous_->Asio().Connect(nullptr, 0, -1);
  devices_.CloseAsioOutput();
}

void COutputSetup::ReconfigureOutputs() {
  devices_.StoreSelection();
  console_.UnloadChannels();
  if (continuous_) continuous_->Unload();
  devices_.CloseExclusiveOutput();
  devices_.DetachEndpointMeter();
  ConnectWasapiOutputs();
  console_.SetEngines({});
  if (continuous_) continuous_->SetEngines({});
  devices_.ReleaseXAudioEngines();
  devices_.CreateXAudioEngines();
  CreateMasteringVoices();
  CloseAsioOutput();
  devices_.LoadAsioDriverList();
  OpenAsioOutput();
  console_.ReloadChannels();
  if (continuous_) {
    WirePlayer(*continuous_);
    WireAsio(*continuous_, 0);
    continuous_->SetAllOutputLevels(continuousLevel_);
  }
}

void COutputSetup::ReopenExclusive(const std::optional<StoredWaveFormat>& format) {
  console_.UnloadChannels();
  if (continuous_) continuous_->Unload();
  devices_.CloseExclusiveOutput();
  if (format) settings_.wasapiFormat = *format;
  devices_.OpenExclusiveOutput();
  console_.ReloadChannels();
  if (continuous_) {
    WirePlayer(*continuous_);
    continuous_->SetAllOutputLevels(continuousLevel_);
  }
}

void COutputSetup::ReleaseOutputs() {
  if (!setUp_) return;
  setUp_ = false;
  // Nothing may read a device once it goes: players first, then mixers.
  console_.UnloadChannels();
  if (continuous_) continuous_->Unload();
  devices_.CloseExclusiveOutput();
  console_.SetEngines({});
  for (int ch = 1; ch <= kChannels; ++ch) {
    CWaveWnd& p = console_.Player(ch);
    for (int n = 0; n < kOutputCount; ++n) p.Wasapi().SetDevice(n, nullptr);
    p.SetMixer(nullptr);
    p.Asio().Connect(nullptr, ch, -1);
  }
  if (continuous_) {
    continuous_->SetEngines({});
    for (int n = 0; n < kOutputCount; ++n) continuous_->Wasapi().SetDevice(n, nullptr);
    continuous_->SetMixer(nullptr);
    continuous_->Asio().Connect(nullptr, 0, -1);
  }
  devices_.ReleaseAll();
}

}  // namespace orvex
