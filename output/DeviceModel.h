// One output's device lists and selection (CSoundDevice) and the rules the
// device selection dialog enforces. Every output lists the same machine in
// the same order, so a DeviceIndex names the same device on all three:
// voice-engine devices ("DS: "), then endpoints ("WASAPI: "), then JACK
// drivers ("ASIO: "); -1 is none ("なし").
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// What the voice engine knows of a device.
struct XaDeviceDetails {
  std::string deviceId;
  std::string displayName;
  uint32_t channels = 2;
  uint32_t rate = 48000;
};

struct EndpointEntry {
  std::string id;
  std::string name;
};

enum class DeviceKind { kNone, kXAudio, kWasapi, kAsio };

class CSoundDevice {
 public:
  // Driver names live in 32-byte slots: longer names are cut to 28 bytes
  // followed by "...".
  static constexpr size_t kNameSlot = 32;

  int m_selected = -1;
  std::vector<EndpointEntry> m_endpoints;
  std::vector<uint8_t> m_exclusive;  // one per endpoint
  std::vector<XaDeviceDetails> m_xaDevices;
  const std::vector<std::string>* m_asioList = nullptr;  // not owned
  std::vector<std::string> m_asioNames;                  // m_asioCount used
  size_t m_asioCount = 0;

  int XaCount() const { return static_cast<int>(m_xaDevices.size()); }
  int EndpointCount() const { return static_cast<int>(m_endpoints.size()); }
  int AsioCount() const { return static_cast<int>(m_asioCount); }
  int Count() const { return XaCount() + EndpointCount() + AsioCount(); }

  DeviceKind KindOf(int index) const;
  // The identifier stored in DEVICE: DeviceID, endpoint id or driver name.
  std::string GetDeviceId(int index) const;
  // As the selection dialog lists it ("DS: ...", "WASAPI: ...", "ASIO: ...").
  std::string DisplayName(int index) const;
  // The flag of the selected endpoint; nothing for other selections.
  void SetExclusive(bool exclusive);
  bool SelectedExclusive() const;
  void SelectAsioDriver(int i) { m_selected = XaCount() + EndpointCount() + i; }
  // Empty slots for `capacity` names, then the first of m_asioList; true
  // when a slot is left free.
  bool LoadAsioNames(size_t capacity);
  // Fills the endpoint lists and clears the exclusive flags.
  void SetEndpoints(std::vector<EndpointEntry> endpoints);
};

// The name as its 32-byte slot holds it.
std::string AsioSlotName(const std::string& name);

// Checks the selection dialog's rules for the DeviceIndex values and
// exclusive boxes of outputs 0..2; the message to show, or nothing.
std::optional<std::string> CheckDeviceSelection(const std::array<const CSoundDevice*, 3>& devices,
                                                const std::array<int, 3>& selected,
                                                const std::array<bool, 3>& exclusive);

inline constexpr const char* kAsioTwice = "ASIOドライバーは複数選択できません";
inline constexpr const char* kExclusiveTwice =
    "排他モードのWASAPIドライバーが選択されているときは、\n同じWASAPIドライバを複数選択できません";
inline constexpr const char* kExclusiveSameLine =
    "排他モードのWASAPIドライバーが選択されているときは、\n同じ系統のDirectSoundドライバを選択でき"
    "ません";

}  // namespace orvex
