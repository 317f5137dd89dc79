// The machine's MIDI input ports: listing them and opening one. The real
// system is RtMidi on the ALSA sequencer and on JACK MIDI; tests may give
// their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiDevice.h"

namespace orvex::midi {

// Called on the port's input thread (for JACK MIDI the server's real-time
// thread) with one whole message: no locks, no allocation, no waiting.
using MidiReceive = void (*)(const uint8_t* bytes, size_t size, void* user);

// An open input port; closing it (the destructor) waits for a callback in
// flight and no callback runs after.
class MidiInputPort {
 public:
  virtual ~MidiInputPort() = default;
};

class MidiPortSystem {
 public:
  virtual ~MidiPortSystem() = default;
  // Every input port now, ALSA before JACK. May wait on a sound server:
  // not for the UI thread.
  virtual std::vector<MidiPortInfo> ListInputPorts() = 0;
  // Null with a reason when the port cannot be opened.
  virtual std::unique_ptr<MidiInputPort> OpenInput(const MidiPortInfo& port, MidiReceive receive,
                                                   void* user, std::string& error) = 0;
  // Called on any thread when the system tells that ports came or went.
  virtual void SetChangeNotifier(std::function<void()> notify) { (void)notify; }
  // While on, whatever listens for changes stays with the system between
  // listings; off, each listing asks afresh and leaves nothing behind.
  virtual void KeepWatching(bool on) { (void)on; }
};

// RtMidi on the ALSA sequencer (where /dev/snd/seq exists) and on the default
// JACK server (where one runs).
std::unique_ptr<MidiPortSystem> MakeSystemMidiPorts();

}  // namespace orvex::midi
