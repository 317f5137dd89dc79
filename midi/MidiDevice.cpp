#include "midi/MidiDevice.h"

#include <algorithm>

#include "show/Utf16.h"

namespace orvex::midi {
namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

bool IsDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

const char* MidiApiName(MidiApi api) {
  switch (api) {
    case MidiApi::kAlsa:
      return "ALSA";
    case MidiApi::kJack:
      return "JACK";
    case MidiApi::kNone:
      break;
  }
  return "";
}

std::u16string CMidiCaps::Name() const {
  std::u16string name;
  for (char16_t u : nameUnits) {
    if (u == 0) break;
    name += u;
  }
  return name;
}

void CMidiCaps::SetName(const std::u16string& name) {
  nameUnits.fill(0);
  size_t n = std::min<size_t>(name.size(), kCapsNameUnits - 1);
  // Never half a surrogate pair.
  if (n < name.size() && n > 0 && name[n - 1] >= 0xD800 && name[n - 1] <= 0xDBFF) --n;
  std::copy(name.begin(), name.begin() + static_cast<long>(n), nameUnits.begin());
}

std::string CMidiCaps::NameUtf8() const {
  return Utf16ToUtf8(Name());
}

std::array<uint8_t, kCapsBytes> CMidiCaps::ToBytes() const {
  std::array<uint8_t, kCapsBytes> b{};
  Put16(&b[0], manufacturerId);
  Put16(&b[2], productId);
  Put32(&b[4], driverVersion);
  for (size_t i = 0; i < kCapsNameUnits; ++i) Put16(&b[8 + 2 * i], nameUnits[i]);
  Put32(&b[72], support);
  return b;
}

CMidiCaps CMidiCaps::FromBytes(const uint8_t* b) {
  CMidiCaps caps;
  caps.manufacturerId = Le16(&b[0]);
  caps.productId = Le16(&b[2]);
  caps.driverVersion = Le32(&b[4]);
  // A name without its terminating zero ends at the record's end.
  for (size_t i = 0; i < kCapsNameUnits; ++i) caps.nameUnits[i] = Le16(&b[8 + 2 * i]);
  caps.support = Le32(&b[72]);
  return caps;
}

CMidiCaps CapsOfPort(MidiApi api, const std::string& systemName) {
  std::string name = systemName;
  if (api == MidiApi::kAlsa) {
    // "Client:Port 20:0": the numbers go.
    const size_t space = name.rfind(' ');
    if (space != std::string::npos) {
      const std::string tail = name.substr(space + 1);
      const size_t colon = tail.find(':');
      if (colon != std::string::npos && IsDigits(tail.substr(0, colon)) &&
          IsDigits(tail.substr(colon + 1)))
        name.erase(space);
    }
  }
  CMidiCaps caps;
  caps.SetName(Utf8ToUtf16(std::string(MidiApiName(api)) + ": " + name));
  return caps;
}

std::unique_ptr<CMidiDevice> NewMidiDevice(const MidiPortInfo& port) {
  auto d = std::make_unique<CMidiDevice>();
  d->m_present = 1;
  d->m_caps = port.caps;
  d->m_api = port.api;
  d->m_systemName = port.systemName;
  return d;
}

void ReconcileMidiDevices(CMidiDeviceList& devices, const std::vector<MidiPortInfo>& ports) {
  for (auto& d : devices)
    for (const MidiPortInfo& p : ports)
      if (d->m_caps.SameIdentity(p.caps)) d->m_present = 1;
  for (size_t k = 0; k < ports.size(); ++k) {
    const MidiPortInfo& p = ports[k];
    bool known = false;
    for (auto& d : devices) {
      if (!d->m_caps.SameIdentity(p.caps)) continue;
      known = true;
      d->m_deviceId = static_cast<unsigned>(k);
      d->m_api = p.api;
      d->m_systemName = p.systemName;
    }
    if (!known) {
      devices.push_back(NewMidiDevice(p));
      devices.back()->m_deviceId = static_cast<unsigned>(k);
    }
  }
}

}  // namespace orvex::midi
