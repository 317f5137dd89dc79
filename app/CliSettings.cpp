#include "app/CliSettings.h"

#include <cstdio>

#include "show/AtomicFile.h"
#include "show/IniFile.h"

namespace orvex {

bool LoadCliSettings(const char* command, const std::string& path, Settings& settings) {
  if (path.empty()) return true;
  IniFile ini;
  FileReadStatus status = FileReadStatus::kMissing;
  if (!ini.Load(path, &status) && status != FileReadStatus::kMissing) {
    std::fprintf(stderr, "orvex-cli %s: cannot read settings %s\n", command, path.c_str());
    return false;
  }
  settings.Load(ini);
  return true;
}

}  // namespace orvex
