#include "output/OutputDevices.h"

#include <algorithm>
#include <cstdio>

namespace orvex {
bool CMeterSources::ReadPeaks(float& left, float& right) {
  left = right = 0;
  if (engine) return engine->ReadPeaks(left, right);
  return endpoint && endpoint->ReadPeaks(left, right);
}

const char* OutputName(int n) {
  static const char* const kNames[kOutputCount] = {"Master", "Group1", "Group2"};
  return n >= 0 && n < kOutputCount ? kNames[n] : "";
}

COutputDevices::COutputDevices(OutputSettings& settings) : settings_(settings) {}

void COutputDevices::SetReporter(std::function<void(const std::string&)> report) {
  report_ = report;
  exclusive_.SetReporter(std::move(report));
}

COutputDevices::~COutputDevices() {
  ReleaseAll();
  server_.Disconnect();
}

void COutputDevices::SetServerLostHandler(std::function<void()> handler) {
  server_.SetLostHandler(std::move(handler));
}

void COutputDevices::SetSinkGoneHandler(std::function<void(const std::string&)> handler) {
  server_.SetSinkGoneHandler(std::move(handler));
}

std::vector<std::string> COutputDevices::SelectionsOnSink(const std::string& sink) const {
  std::vector<std::string> names;
  for (int n = 0; n < kOutputCount; ++n) {
    const CSoundDevice& d = Device(n);
    const DeviceKind kind = d.KindOf(d.m_selected);
    if (kind != DeviceKind::kXAudio && kind != DeviceKind::kWasapi) continue;
    if (d.GetDeviceId(d.m_selected) != sink) continue;
    const std::string name = d.DisplayName(d.m_selected);
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

void COutputDevices::ConnectServer() {
  std::vector<pulse::SinkInfo> sinks;
  if (server_.Connect("Orvex")) {
    // A run that was killed while it held a sink for exclusive use left the
    // server keeping it suspended, silent for everyone: take it back first.
    for (const std::string& sink : server_.GiveBackOrphanedSinks())
      std::fprintf(stderr, "以前の実行が排他モードで止めたままのデバイス %s を戻しました\n",
                   sink.c_str());
    sinks = server_.ListSinks();
  } else {
    std::fprintf(stderr, "No sound server: no DS or WASAPI devices\n");
  }
  UseSinks(std::move(sinks));
}

void COutputDevices::ReconnectServerIfLost() {
  if (!server_.IsLost()) return;
  // Listing the sinks again also tells the server's thread their names.
  if (server_.Connect("Orvex")) server_.ListSinks();
}

void COutputDevices::UseSinks(std::vector<pulse::SinkInfo> sinks) {
  sinks_ = std::move(sinks);
  endpoints_.clear();
  for (const pulse::SinkInfo& s : sinks_)
    endpoints_.push_back({&server_, s.name, s.description, s.alsaCard, s.alsaDevice});
}

void COutputDevices::CreateXAudioEngines() {
  for (auto& engine : engines_) {
    engine = mixer::CreateVoiceEngine();
    if (!engine) {
      std::fprintf(stderr, "Failed to init XAudio2 engine: %#X\n", 0x80004005u);
      break;
    }
  }
}

void COutputDevices::LoadAsioDriverList() {
  asioList_ = CAsioKernel::ListDrivers(CAsioKernel::ParseServerList(settings_.jackServers));
  asio_.SetDriverList(asioList_);
  asioListLoaded_ = true;
}

void COutputDevices::ListAllDevices() {
  ConnectServer();
  CreateXAudioEngines();
  LoadAsioDriverList();
  BuildDeviceLists();
}

void COutputDevices::BuildDeviceLists() {
  for (int n = 0; n < kOutputCount; ++n) {
    CSoundDevice& d = devices_[Index(n)];
    std::vector<EndpointEntry> entries;
    for (const WasapiEndpoint& e : endpoints_) entries.push_back({e.id, e.name});
    d.SetEndpoints(std::move(entries));
    d.m_xaDevices.clear();
    if (engines_[Index(n)]) {
      for (const pulse::SinkInfo& s : sinks_)
        d.m_xaDevices.push_back({s.name, s.description, 2, s.rate ? s.rate : 48000});
    }
    d.m_asioList = &asioList_;
    for (size_t capacity = 10;; capacity += 10)
      if (d.LoadAsioNames(capacity)) break;
  }
}

void COutputDevices::ResolveOutputSetting(int n) {
  CSoundDevice& d = devices_[Index(n)];
  std::string& type = settings_.deviceType[Index(n)];
  std::string& id = settings_.deviceName[Index(n)];
  d.m_selected = -1;
  bool known = true, found = false;
  if (type == "WASAPI") {
    for (int i = 0; i < d.EndpointCount() && !found; ++i) {
      if (d.m_endpoints[static_cast<size_t>(i)].id != id) continue;
      d.m_selected = d.XaCount() + i;
      d.m_exclusive[static_cast<size_t>(i)] = settings_.exclusive[Index(n)] ? 1 : 0;
      found = true;
    }
  } else if (type == "XAUDIO2") {
    for (int i = 0; i < d.XaCount() && !found; ++i) {
      if (d.m_xaDevices[static_cast<size_t>(i)].deviceId != id) continue;
      d.m_selected = i;
      found = true;
    }
  } else if (type == "ASIO") {
    for (int i = 0; i < d.AsioCount() && !found; ++i) {
      if (d.m_asioNames[static_cast<size_t>(i)] != id) continue;
      d.SelectAsioDriver(i);
      found = true;
    }
  } else {
    known = false;
  }
  if (!known) {
    type.clear();
    id.clear();
  } else if (!found) {
    // A device that has gone falls back to the first voice-engine device.
    d.m_selected = 0;
    id = d.XaCount() > 0 ? d.m_xaDevices[0].deviceId : std::string();
    type = "XAUDIO2";
    if (d.XaCount() == 0) d.m_selected = -1;
  }
}

void COutputDevices::BindEndpoints() {
  for (int n = 0; n < kOutputCount; ++n) {
    const CSoundDevice& d = devices_[Index(n)];
    bound_[Index(n)] = nullptr;
    if (d.KindOf(d.m_selected) == DeviceKind::kWasapi)
      bound_[Index(n)] = &endpoints_[static_cast<size_t>(d.m_selected - d.XaCount())];
  }
}

const WasapiEndpoint* COutputDevices::SharedEndpoint(int n) const {
  return devices_[Index(n)].SelectedExclusive() ? nullptr : bound_[Index(n)];
}

bool COutputDevices::AttachEngine(int n, mixer::AudioDevice& device) {
  auto& engine = engines_[Index(n)];
  if (!engine) engine = mixer::CreateVoiceEngine();
  if (engine->HasMasteringVoice()) engine->DestroyMasteringVoice();
  const bool ok = engine->CreateMasteringVoice(device);
  UpdateMeter();
  return ok;
}

void COutputDevices::DetachEngine(int n) {
  if (auto& engine = engines_[Index(n)]) engine->DestroyMasteringVoice();
  UpdateMeter();
}

void COutputDevices::UpdateMeter() {
  auto& engine = engines_[0];
  meter_.engine = engine && engine->HasMasteringVoice() ? &engine->Peaks() : nullptr;
}

bool COutputDevices::OpenExclusiveOutput() {
  for (int n = 0; n < kOutputCount; ++n) {
    if (!bound_[Index(n)] || !devices_[Index(n)].SelectedExclusive()) continue;
    exclusive_.SetFormat(&settings_.exclusiveFormat, &settings_.exclusiveBufferMs);
    exclusive_.SetDevice(bound_[Index(n)], n);
    if (!exclusive_.OpenDevice(alsaOverride_)) return false;
    exclusive_.Start();
    exclusiveOutput_ = n;
    return AttachEngine(n, exclusive_.EngineDevice());  // later exclusive outputs are ignored
  }
  return false;
}

void COutputDevices::CloseExclusiveOutput() {
  if (exclusiveOutput_ >= 0) DetachEngine(exclusiveOutput_);
  exclusiveOutput_ = -1;
  exclusive_.Close();
}

void COutputDevices::AttachEndpointMeter() {
  DetachEndpointMeter();
  const WasapiEndpoint* e = SharedEndpoint(0);
  if (!e) return;
  endpointMeter_ = std::make_unique<pulse::PulseMonitorMeter>(server_);
  if (endpointMeter_->Open(e->id)) {
    meter_.endpoint = endpointMeter_.get();
  } else {
    endpointMeter_.reset();
  }
}

void COutputDevices::DetachEndpointMeter() {
  meter_.endpoint = nullptr;
  endpointMeter_.reset();
}

bool COutputDevices::CreateMasteringVoices() {
  for (int n = 0; n < kOutputCount; ++n) {
    const CSoundDevice& d = devices_[Index(n)];
    auto& engine = engines_[Index(n)];
    if (d.KindOf(d.m_selected) != DeviceKind::kXAudio || !engine) continue;
    const size_t i = static_cast<size_t>(d.m_selected);
    auto device = std::make_unique<pulse::PulseSinkDevice>(server_, sinks_.at(i));
    if (!engine->CreateMasteringVoice(*device)) {
      std::fprintf(stderr, "Failed creating mastering voice: %#X\n",
                   static_cast<unsigned>(device->LastError()));
      // The set-up ends here: this and later outputs on sink streams get
      // no mastering voice.
      for (int m = n; m < kOutputCount; ++m)
        if (devices_[Index(m)].KindOf(devices_[Index(m)].m_selected) == DeviceKind::kXAudio)
          engines_[Index(m)].reset();
      UpdateMeter();
      return false;
    }
    sinkDevices_[Index(n)] = std::move(device);
  }
  UpdateMeter();
  return true;
}

void COutputDevices::ReleaseXAudioEngines() {
  meter_.engine = nullptr;
  for (int n = 0; n < kOutputCount; ++n) {
    if (engines_[Index(n)]) engines_[Index(n)]->DestroyMasteringVoice();
    engines_[Index(n)].reset();
    sinkDevices_[Index(n)].reset();
  }
}

void COutputDevices::FadeOutAll() {
  for (auto& engine : engines_)
    if (engine) engine->FadeOut();
}

std::array<mixer::VoiceEngine*, kOutputCount> COutputDevices::Engines() const {
  std::array<mixer::VoiceEngine*, kOutputCount> e{};
  for (int n = 0; n < kOutputCount; ++n) {
    auto* engine = engines_[Index(n)].get();
    e[Index(n)] = engine && engine->HasMasteringVoice() ? engine : nullptr;
  }
  return e;
}

int COutputDevices::AsioOutput() const {
  for (int n = 0; n < kOutputCount; ++n) {
    const CSoundDevice& d = devices_[Index(n)];
    if (d.KindOf(d.m_selected) == DeviceKind::kAsio) return n;
  }
  return -1;
}

bool COutputDevices::OpenAsioOutput() {
  const int n = AsioOutput();
  if (n < 0) return false;
  if (!asioListLoaded_) LoadAsioDriverList();
  const CSoundDevice& d = devices_[Index(n)];
  const std::string name = d.GetDeviceId(d.m_selected);
  asio_.SetOutput(n);
  int factor = settings_.asioBufferFactor;
  if (!asio_.OpenDriver(factor, settings_.asioRate, name)) {
    if (report_) report_(kAsioOpenFailed);
    return false;
  }
  settings_.asioBufferFactor = factor;
  asio_.Start();
  return AttachEngine(n, asio_.EngineDevice());
}

void COutputDevices::CloseAsioOutput() {
  if (asio_.Output() >= 0) DetachEngine(asio_.Output());
  asio_.SetOutput(-1);
  asio_.CloseDriver();
  asio_.SetDriverList({});
  asioList_.clear();
  asioListLoaded_ = false;
}

std::vector<int> COutputDevices::LostSinkOutputs() const {
  std::vector<int> lost;
  for (int n = 0; n < kOutputCount; ++n)
    if (sinkDevices_[Index(n)] && sinkDevices_[Index(n)]->Lost()) lost.push_back(n);
  return lost;
}

std::vector<std::string> COutputDevices::SinksOf(const std::vector<int>& outputs) const {
  std::vector<std::string> sinks;
  for (int n : outputs)
    if (const auto& device = sinkDevices_[Index(n)]) sinks.push_back(device->Id());
  return sinks;
}

bool COutputDevices::SinksAvailable(const std::vector<std::string>& sinks) {
  pulse::PulseServer probe;
  if (!probe.Connect("Orvex")) return false;
  const std::vector<pulse::SinkInfo> there = probe.ListSinks();
  return std::all_of(sinks.begin(), sinks.end(), [&](const std::string& name) {
    return std::any_of(there.begin(), there.end(),
                       [&](const pulse::SinkInfo& s) { return s.name == name; });
  });
}

std::vector<int> COutputDevices::ReopenLostSinkOutputs() {
  std::vector<int> reopened;
  if (server_.IsLost()) {
    // The meter's stream lives on the old connection, which goes now.
    const bool metered = endpointMeter_ != nullptr;
    DetachEndpointMeter();
    ReconnectServerIfLost();
    if (metered) AttachEndpointMeter();
  }
  if (!server_.IsConnected()) return reopened;
  for (int n : LostSinkOutputs())
    if (sinkDevices_[Index(n)]->Reopen()) reopened.push_back(n);
  return reopened;
}

std::string COutputDevices::AsioServer() const {
  return CAsioKernel::ServerOfDriver(asio_.CurrentDriver());
}

CAsioKernel::Reopen COutputDevices::ReopenAsioOutput() {
  return asio_.Output() >= 0 ? asio_.ReopenDriver() : CAsioKernel::Reopen::kNotThere;
}

void COutputDevices::StoreSelection() {
  for (int n = 0; n < kOutputCount; ++n) {
    const CSoundDevice& d = devices_[Index(n)];
    const size_t i = Index(n);
    settings_.exclusive[i] = 0;
    switch (d.KindOf(d.m_selected)) {
      case DeviceKind::kWasapi:
        settings_.deviceType[i] = "WASAPI";
        settings_.exclusive[i] = d.SelectedExclusive() ? 1 : 0;
        break;
      case DeviceKind::kXAudio:
        settings_.deviceType[i] = "XAUDIO2";
        break;
      case DeviceKind::kAsio:
        settings_.deviceType[i] = "ASIO";
        break;
      case DeviceKind::kNone:
        settings_.deviceType[i].clear();
        break;
    }
    settings_.deviceName[i] = d.GetDeviceId(d.m_selected);
  }
}

void COutputDevices::ReleaseAll() {
  FadeOutAll();
  CloseExclusiveOutput();
  CloseAsioOutput();
  DetachEndpointMeter();
  for (auto& b : bound_) b = nullptr;
  ReleaseXAudioEngines();
}

}  // namespace orvex
