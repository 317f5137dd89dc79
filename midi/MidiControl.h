// MIDI remote control: the device list, enumeration, connecting the chosen
// ports, and the path from a port's input thread to the console.
//
// A port's input thread decodes each message with the mapping the port had
// when it was connected and queues the commands in the port's own ring,
// without locks or allocation; a dispatcher thread of ours hands them to the
// UI thread, where the sink runs them through the console's one dispatcher,
// so a GO from MIDI is the GO of a click. The list and its records are the
// UI thread's.
//
// While connected, a watch thread lists the ports every second and when the
// system tells of a change: a port that went is closed (its record stays
// checked), and when a port of the same identity comes back, under whatever
// number, it is opened again.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <semaphore>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/UiPoster.h"
#include "midi/MidiDecode.h"
#include "midi/MidiDevice.h"
#include "midi/MidiPorts.h"
#include "midi/MidiSettingsFile.h"

namespace orvex::midi {

// One message that asked something of the console, as the UI thread gets it.
struct MidiEvent {
  std::string port;  // the record's port name
  std::array<uint8_t, 3> bytes{};
  int size = 0;
  MidiCommands commands;
};

// Reported once per port until it opens again.
std::string MidiOpenFailedMessage(const std::string& portName);

class CMidiControl {
 public:
  // Runs on the UI thread for every message that gives commands.
  using Sink = std::function<void(const MidiEvent&)>;

  // Construct on the UI thread; ports and poster outlive the control.
  CMidiControl(MidiPortSystem& ports, UiPoster& poster, Sink sink);
  ~CMidiControl();  // disconnects
  CMidiControl(const CMidiControl&) = delete;
  CMidiControl& operator=(const CMidiControl&) = delete;

  // The list the settings dialog edits (shared, not copied).
  CMidiDeviceList& Devices() { return devices_; }
  // The dialog's list after "開く": the open ports close first.
  void ReplaceDevices(CMidiDeviceList devices);

  // Closes the open ports, then reads the file into the list (nothing
  // changes when it cannot be read or is damaged).
  MidiFileStatus LoadSettings(const std::string& path);
  bool SaveSettings(const std::string& path) const { return SaveMidiSettings(path, devices_); }

  // Records whose port is on the machine become present; new ports are
  // appended (unchecked, mode 1, channels 1..7). Asks the sound servers.
  void EnumerateMidiDevices();
  // The ports of the machine now, for a list the dialog holds of its own
  // (after "開く": ReconcileMidiDevices(itsList, ListPorts())).
  std::vector<MidiPortInfo> ListPorts() { return ports_.ListInputPorts(); }
  // Opens and starts every present, checked record's port; one that fails is
  // reported once and skipped. Then keeps watching for ports that come back.
  void ConnectMidi();
  // Stops and closes every open port and the watch.
  void DisconnectMidi();
  bool Connected() const { return connected_; }
  // Ports that appear while connected and pass `check` are checked at once
  // (and so opened): the command line's "every port named like this".
  void SetCheckNewPorts(std::function<bool(const MidiPortInfo&)> check) {
    checkNew_ = std::move(check);
  }

  // Messages that gave commands, and those lost because the UI thread fell
  // behind by a whole ring.
  uint64_t Received() const { return received_.load(); }
  uint64_t Dropped() const { return dropped_.load(); }

 private:
  struct Slot {
    std::array<uint8_t, 3> bytes{};
    int size = 0;
    MidiCommands commands;
  };
  // One open port: written by its input thread, read by the dispatcher.
  struct Link {
    static constexpr uint32_t kRing = 256;
    CMidiControl* owner = nullptr;
    CMidiDevice* device = nullptr;
    std::string portName;
    MidiMapping mapping;
    std::atomic<bool> started{false};
    std::array<Slot, kRing> ring;
    std::atomic<uint32_t> head{0};  // written by the input thread
    std::atomic<uint32_t> tail{0};  // written by the dispatcher
    std::unique_ptr<MidiInputPort> port;
  };

  static void Receive(const uint8_t* bytes, size_t size, void* user);
  bool Open(CMidiDevice& device);
  void Close(Link& link);
  void CloseAll();
  void Dispatch();
  void Watch();
  void StartWatch();
  void StopWatch();
  // UI thread: the ports the watch listed.
  void OnPortsListed(const std::vector<MidiPortInfo>& ports);

  MidiPortSystem& ports_;
  UiPoster& poster_;
  Sink sink_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  CMidiDeviceList devices_;
  bool connected_ = false;
  std::set<std::u16string> failed_;  // names reported as not opening
  std::function<bool(const MidiPortInfo&)> checkNew_;

  std::mutex linksMutex_;  // never taken by an input thread
  std::vector<std::unique_ptr<Link>> links_;
  std::counting_semaphore<> pending_{0};
  std::atomic<bool> quit_{false};
  std::thread dispatcher_;
  std::atomic<uint64_t> received_{0};
  std::atomic<uint64_t> dropped_{0};

  std::mutex watchMutex_;
  std::condition_variable watchWake_;
  bool watchQuit_ = false;
  bool watchPoke_ = false;
  std::thread watcher_;
};

}  // namespace orvex::midi
