#include "output/DeviceModel.h"

namespace orvex {

DeviceKind CSoundDevice::KindOf(int index) const {
  if (index < 0) return DeviceKind::kNone;
  if (index < XaCount()) return DeviceKind::kXAudio;
  if (index < XaCount() + EndpointCount()) return DeviceKind::kWasapi;
  if (index < Count()) return DeviceKind::kAsio;
  return DeviceKind::kNone;
}

std::string CSoundDevice::GetDeviceId(int index) const {
  switch (KindOf(index)) {
    case DeviceKind::kXAudio:
      return m_xaDevices[static_cast<size_t>(index)].deviceId;
    case DeviceKind::kWasapi:
      return m_endpoints[static_cast<size_t>(index - XaCount())].id;
    case DeviceKind::kAsio:
      return m_asioNames[static_cast<size_t>(index - XaCount() - EndpointCount())];
    case DeviceKind::kNone:
      break;
  }
  return {};
}

std::string CSoundDevice::DisplayName(int index) const {
  switch (KindOf(index)) {
    case DeviceKind::kXAudio:
      return "DS: " + m_xaDevices[static_cast<size_t>(index)].displayName;
    case DeviceKind::kWasapi:
      return "WASAPI: " + m_endpoints[static_cast<size_t>(index - XaCount())].name;
    case DeviceKind::kAsio:
      return "ASIO: " + GetDeviceId(index);
    case DeviceKind::kNone:
      break;
  }
  return "なし";
}

void CSoundDevice::SetExclusive(bool exclusive) {
  if (KindOf(m_selected) != DeviceKind::kWasapi) return;
  m_exclusive[static_cast<size_t>(m_selected - XaCount())] = exclusive ? 1 : 0;
}

bool CSoundDevice::SelectedExclusive() const {
  if (KindOf(m_selected) != DeviceKind::kWasapi) return false;
  return m_exclusive[static_cast<size_t>(m_selected - XaCount())] != 0;
}

std::string AsioSlotName(const std::string& name) {
  if (name.size() < CSoundDevice::kNameSlot) return name;
  size_t cut = 28;
  // Never split a multibyte character.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut) + "...";
}

bool CSoundDevice::LoadAsioNames(size_t capacity) {
  m_asioNames.assign(capacity, std::string());
  const size_t listed = m_asioList ? m_asioList->size() : 0;
  m_asioCount = std::min(listed, capacity);
  for (size_t i = 0; i < m_asioCount; ++i) m_asioNames[i] = AsioSlotName((*m_asioList)[i]);
  return m_asioCount < capacity;
}

void CSoundDevice::SetEndpoints(std::vector<EndpointEntry> endpoints) {
  m_endpoints = std::move(endpoints);
  m_exclusive.assign(m_endpoints.size(), 0);
}

namespace {

// The exclusive rules for output a against the two others.
std::optional<std::string> CheckExclusive(const std::array<const CSoundDevice*, 3>& d,
                                          const std::array<int, 3>& sel, int a) {
  const CSoundDevice& own = *d[static_cast<size_t>(a)];
  const int m = sel[static_cast<size_t>(a)];
  const int others[3][2] = {{1, 2}, {0, 2}, {0, 1}};
  for (int other : others[a]) {
    if (sel[static_cast<size_t>(other)] == m) return std::string(kExclusiveTwice);
  }
  const std::string id = own.GetDeviceId(m);
  for (int other : others[a]) {
    const CSoundDevice& od = *d[static_cast<size_t>(other)];
    const int s = sel[static_cast<size_t>(other)];
    if (od.KindOf(s) == DeviceKind::kXAudio && od.GetDeviceId(s) == id)
      return std::string(kExclusiveSameLine);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckDeviceSelection(const std::array<const CSoundDevice*, 3>& d,
                                                const std::array<int, 3>& sel,
                                                const std::array<bool, 3>& exclusive) {
  auto asio = [&](int n) {
    return d[static_cast<size_t>(n)]->KindOf(sel[static_cast<size_t>(n)]) == DeviceKind::kAsio;
  };
  if ((asio(0) && asio(1)) || (asio(0) && asio(2)) || (asio(1) && asio(2)))
    return std::string(kAsioTwice);
  for (int n = 0; n < 3; ++n) {
    const bool endpoint =
        d[static_cast<size_t>(n)]->KindOf(sel[static_cast<size_t>(n)]) == DeviceKind::kWasapi;
    if (!endpoint || !exclusive[static_cast<size_t>(n)]) continue;
    if (auto message = CheckExclusive(d, sel, n)) return message;
  }
  return std::nullopt;
}

}  // namespace orvex
