// Any bytes as the settings file: the reader must not crash, a load and save
// keeps the file as it was (but for line ends), and the settings it reads
// survive being written and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "show/IniFile.h"
#include "show/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  orvex::IniFile ini;
  ini.Parse(input);
  const std::string text = ini.Serialize();
  orvex::IniFile reread;
  reread.Parse(text);
  if (reread.Serialize() != text) std::abort();

  // The first save may round reals; after that values are a fixed point.
  orvex::Settings settings;
  settings.Load(ini);
  settings.Save(ini);
  orvex::IniFile second;
  second.Parse(ini.Serialize());
  orvex::Settings loaded;
  if (!loaded.Load(second)) std::abort();  // the version was just written
  loaded.Save(second);
  orvex::IniFile third;
  third.Parse(second.Serialize());
  orvex::Settings last;
  last.Load(third);
  if (!(last == loaded) || third.Serialize() != second.Serialize()) std::abort();
  return 0;
}
