// What one MIDI message asks of the console, as console commands in the
// order they are to run. A pure function of the bytes and the port's mode
// and channel table: the input callback runs it without allocating and hands
// the result to the UI thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/ConsoleCommand.h"
#include "midi/MidiDevice.h"

namespace orvex::midi {

// At most one command per target, and Start in mode 2 gives three.
struct MidiCommands {
  static constexpr int kCapacity = kMidiTargets;
  std::array<ConsoleCommand, kCapacity> items;
  int count = 0;

  void Add(const ConsoleCommand& c) {
    if (count < kCapacity) items[static_cast<size_t>(count++)] = c;
  }
  const ConsoleCommand* begin() const { return items.data(); }
  const ConsoleCommand* end() const { return items.data() + count; }
  bool empty() const { return count == 0; }
};

// What the routing of a port is made of (a copy, so the callback never reads
// a record the UI thread may change).
struct MidiMapping {
  int mode = 1;
  std::array<int, kMidiTargets> channels = kDefaultMidiChannels;
};
MidiMapping MappingOf(const CMidiDevice& device);

// Fader level 0..10 of a controller value 0..127, and pan -10000..10000.
double FaderLevelOfController(int value);
int PanOfController(int value);

// bytes: one message as the port delivered it (missing data bytes read 0).
MidiCommands DecodeMidiMessage(const uint8_t* bytes, size_t size, const MidiMapping& mapping);

}  // namespace orvex::midi
