// Any bytes as a MIDI settings file (.cnf): a damaged or hostile file must be
// refused without a crash, a huge allocation or a read past its end; one that
// reads must write back byte for byte as it would be written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "midi/MidiSettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  orvex::midi::CMidiDeviceList list;
  if (orvex::midi::ParseMidiSettings(bytes, list) != orvex::midi::MidiFileStatus::kOk) {
    if (!list.empty()) std::abort();  // a refused file leaves the list as it was
    return 0;
  }
  const std::string written = orvex::midi::MidiSettingsBytes(list);
  orvex::midi::CMidiDeviceList back;
  if (orvex::midi::ParseMidiSettings(written, back) != orvex::midi::MidiFileStatus::kOk)
    std::abort();
  if (orvex::midi::MidiSettingsBytes(back) != written) std::abort();
  return 0;
}
