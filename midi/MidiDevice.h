// The MIDI input ports Orvex knows: one record per port, as the settings
// dialog edits them and the ".cnf" file stores them. No Qt here.
//
// A port's identity is its manufacturer id, product id and name; the number
// the system gives it changes from one enumeration to the next and is not
// part of it. The name begins with the API that serves the port ("JACK: ",
// "ALSA: ") and keeps at most 31 UTF-16 units, as the stored record does, so
// a port read back from a file compares equal to the port it was saved from.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvex::midi {

// Console targets a port's channel table drives: 0 the GO button, 1..6 CH1..CH6.
inline constexpr int kMidiTargets = 7;
inline constexpr int kCapsNameUnits = 32;  // with the terminating zero
inline constexpr size_t kCapsBytes = 76;

enum class MidiApi { kNone, kAlsa, kJack };
const char* MidiApiName(MidiApi api);  // "ALSA", "JACK", ""

// The 76-byte capability record of a port as the settings file stores it.
struct CMidiCaps {
  uint16_t manufacturerId = 0;
  uint16_t productId = 0;
  uint32_t driverVersion = 0;
  // The name as the record holds it: up to the first zero unit. Units after
  // it are kept as read, so a file is written back as it came.
  std::array<char16_t, kCapsNameUnits> nameUnits{};
  uint32_t support = 0;

  std::u16string Name() const;
  void SetName(const std::u16string& name);  // cut to 31 units
  bool SameIdentity(const CMidiCaps& o) const {
    return manufacturerId == o.manufacturerId && productId == o.productId && Name() == o.Name();
  }
  std::string NameUtf8() const;
  // The record's bytes; the name zero-filled to 32 units.
  std::array<uint8_t, kCapsBytes> ToBytes() const;
  static CMidiCaps FromBytes(const uint8_t* bytes);  // kCapsBytes of them
  bool operator==(const CMidiCaps&) const = default;
};

// The caps a port of `api` named `systemName` has on this machine: its name
// prefixed with the API and cut to what the record holds (ALSA's client and
// port numbers dropped, since they change when a device is plugged in again).
CMidiCaps CapsOfPort(MidiApi api, const std::string& systemName);

// One input port as the system lists it now.
struct MidiPortInfo {
  MidiApi api = MidiApi::kNone;
  std::string systemName;  // what the API opens it by
  CMidiCaps caps;
};

// Channel table defaults: the GO button on MIDI channel 1, CHn on channel n+1.
inline constexpr std::array<int, kMidiTargets> kDefaultMidiChannels{0, 1, 2, 3, 4, 5, 6};

class CMidiDevice {
 public:
  virtual ~CMidiDevice() = default;

  uint8_t m_present = 0;  // a port with this identity is on the machine now
  uint8_t m_enabled = 0;  // the operator checked it
  uint8_t m_opened = 0;
  uint8_t m_started = 0;
  // System real-time messages: 0 unused, 1 Start/Stop press GO and STOP ALL,
  // 2 they run and stop the auto-run clock.
  int m_mode = 1;
  // 0-based MIDI channel per target (0 GO, 1..6 CH1..CH6), -1 unassigned.
  std::array<int, kMidiTargets> m_channels = kDefaultMidiChannels;
  CMidiCaps m_caps;
  // The port's place in the last enumeration, and how to open it; not stored.
  unsigned m_deviceId = 0;
  MidiApi m_api = MidiApi::kNone;
  std::string m_systemName;

  std::string PortName() const { return m_caps.NameUtf8(); }
};

// The ordered records, owned. Reads and changes happen on the UI thread.
using CMidiDeviceList = std::vector<std::unique_ptr<CMidiDevice>>;

// A record as enumeration adds it for a port seen for the first time.
std::unique_ptr<CMidiDevice> NewMidiDevice(const MidiPortInfo& port);

// Step 1 and 2 of enumeration over the ports listed now: records whose port
// is there become present (and learn its number and system name); ports no
// record has are appended. Records never leave the list.
void ReconcileMidiDevices(CMidiDeviceList& devices, const std::vector<MidiPortInfo>& ports);

}  // namespace orvex::midi
