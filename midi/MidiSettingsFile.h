// The MIDI settings file (".cnf"): a little-endian header (version 1, N
// records, 16, L = 7) and N records of the 76-byte capability record, the
// enabled byte, the mode byte and L channel bytes.
#pragma once

#include <string>

#include "midi/MidiDevice.h"

namespace orvex::midi {

// Records beyond these are no settings file an operator made: such a file
// is refused whole rather than read into a huge list.
inline constexpr uint32_t kMaxMidiRecords = 4096;
inline constexpr uint32_t kMaxChannelTable = 4096;

enum class MidiFileStatus {
  kOk,
  kUnreadable,  // no such file, or it cannot be read: nothing changes
  kDamaged,     // short, or a count no file could hold: nothing changes
};

// Replaces devices by the file's records in file order (not present, not
// open, device number 0). Channel bytes are sign-extended; targets past the
// file's table are unassigned, bytes past 7 skipped. The list is left as it
// was unless the whole file reads.
MidiFileStatus LoadMidiSettings(const std::string& path, CMidiDeviceList& devices);

// Every record, present or not. Written beside the file and renamed over it,
// so a failure leaves the old file. False when it could not be written.
bool SaveMidiSettings(const std::string& path, const CMidiDeviceList& devices);

// The bytes of such a file, and the parse of them (what the two above use).
std::string MidiSettingsBytes(const CMidiDeviceList& devices);
MidiFileStatus ParseMidiSettings(const std::string& bytes, CMidiDeviceList& devices);

}  // namespace orvex::midi
