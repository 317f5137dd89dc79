#include "output/OutputDevices.h"

#include <cstdio>

#include "show/Messages.h"

namespace orvex {
bool CMeterSources::ReadPeaks(float& left, float& right) {
  left = right = 0;
  bool any = false;
  float l = 0, r = 0;
  if (xaudio && xaudio->ReadPeaks(l, r)) {
    left = l, right = r, any = true;
  }
  if (endpoint && endpoint->ReadPeaks(l, r)) {
    left = l, right = r, any = true;
  }
  if (asio && asio->IsDriverOpen() && asio->OutputPeak(l, r)) {
    left = l, right = r, any = true;
  }
  if (mixer && mixer->HasClient() && mixer->Output() == 0 && mixer->OutputPeak(l, r)) {
    left = l, right = r, any = true;
  }
  return any;
}

COutputDevices::COutputDevices(Settings& settings) : settings_(settings) {}

COutputDevices::~COutputDevices() {
  ReleaseAll();
  server_.Disconnect();
}

void COutputDevices::SetServerLostHandler(std::function<void()> handler) {
  server_.SetLostHandler(std::move(handler));
}

void COutputDevices::ConnectServer() {
  std::vector<pulse::SinkInfo> sinks;
  if (server_.Connect("Orvex")) {
    sinks = server_.ListSinks();
  } else {
    std::fprintf(stderr, "No sound server: no DS or WASAPI devices\n");
  }
  UseSinks(std::move(sinks));
}

void COutputDevices::UseSinks(std::vector<pulse::SinkInfo> sinks) {
  sinks_ = std::move(sinks);
  endpoints_.clear();
  for (const pulse::SinkInfo& s : sinks_)
    endpoints_.push_back({&server_, s.name, s.description, s.alsaCard, s.alsaDevice});
}

void COutputDevices::CreateXAudioEngines() {
  for (auto& engine : engines_) {
    engine = xaudio::CreateVoiceEngine();
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
      d.m_exclusive[static_cast<size_t>(i)] = settings_.wasapiExclusive[Index(n)] ? 1 : 0;
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

std::array<uint8_t, kOutputCount> COutputDevices::ExclusiveFlags() const {
  std::array<uint8_t, kOutputCount> flags{};
  for (int n = 0; n < kOutputCount; ++n) flags[Index(n)] = devices_[Index(n)].SelectedExclusive();
  return flags;
}

bool COutputDevices::OpenExclusiveOutput() {
  for (int n = 0; n < kOutputCount; ++n) {
    if (!bound_[Index(n)] || !devices_[Index(n)].SelectedExclusive()) continue;
    mixer_.SetFormat(&settings_.wasapiFormat, &settings_.wasapiBufSize);
    mixer_.SetDevice(bound_[Index(n)], n);
    if (!mixer_.OpenDevice(alsaOverride_)) return false;
    mixer_.Start();
    if (n == 0) meter_.mixer = &mixer_;
    return true;  // later exclusive outputs are ignored
  }
  return false;
}

void COutputDevices::CloseExclusiveOutput() {
  meter_.mixer = nullptr;
  mixer_.Close();
}

void COutputDevices::AttachEndpointMeter() {
  DetachEndpointMeter();
  const WasapiEndpoint* e = bound_[0];
  if (!e || devices_[0].SelectedExclusive()) return;
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
    if (d.KindOf(d.m_selected) != DeviceKind::kXAudio) {
      engine.reset();
      continue;
    }
    if (!engine) continue;
    const size_t i = static_cast<size_t>(d.m_selected);
    auto device = std::make_unique<pulse::PulseSinkDevice>(server_, sinks_.at(i));
    if (!engine->CreateMasteringVoice(*device)) {
      std::fprintf(stderr, "Failed creating mastering voice: %#X\n",
                   static_cast<unsigned>(device->LastError()));
      // The set-up ends here: this and later outputs get no mastering voice.
      for (int m = n; m < kOutputCount; ++m) engines_[Index(m)].reset();
      return false;
    }
    sinkDevices_[Index(n)] = std::move(device);
  }
  meter_.xaudio = sinkDevices_[0].get();
  return true;
}

void COutputDevices::ReleaseXAudioEngines() {
  meter_.xaudio = nullptr;
  for (int n = 0; n < kOutputCount; ++n) {
    if (engines_[Index(n)]) engines_[Index(n)]->DestroyMasteringVoice();
    engines_[Index(n)].reset();
    sinkDevices_[Index(n)].reset();
  }
}

std::array<xaudio::VoiceEngine*, kOutputCount> COutputDevices::Engines() const {
  std::array<xaudio::VoiceEngine*, kOutputCount> e{};
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
    ConfirmYesNo(kAsioOpenFailed);
    return false;
  }
  settings_.asioBufferFactor = factor;
  meter_.asio = &asio_;
  asio_.Start();
  return true;
}

void COutputDevices::CloseAsioOutput() {
  meter_.asio = nullptr;
  asio_.CloseDriver();
  asio_.SetDriverList({});
  asioList_.clear();
  asioListLoaded_ = false;
}

void COutputDevices::StoreSelection() {
  for (int n = 0; n < kOutputCount; ++n) {
    const CSoundDevice& d = devices_[Index(n)];
    const size_t i = Index(n);
    settings_.wasapiExclusive[i] = 0;
    switch (d.KindOf(d.m_selected)) {
      case DeviceKind::kWasapi:
        settings_.deviceType[i] = "WASAPI";
        settings_.wasapiExclusive[i] = d.SelectedExclusive() ? 1 : 0;
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
  CloseExclusiveOutput();
  DetachEndpointMeter();
  for (auto& b : bound_) b = nullptr;
  ReleaseXAudioEngines();
  CloseAsioOutput();
}

}  // namespace orvex
