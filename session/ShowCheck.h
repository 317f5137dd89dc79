// The pre-show check: everything a show needs to run as written, looked at
// before the audience is in. It reads files only and never changes them.
#pragma once

#include <string>
#include <vector>

#include "show/Settings.h"

namespace orvex {
class CueStore;
}

namespace orvex {

struct CheckFinding {
  // "error": the show cannot run as written there; "warning": it runs, but
  // not as the file says (a name found only by ignoring letter case).
  std::string severity = "error";
  // What kind of problem: missing-file, not-playable, letter-case,
  // missing-list, unreadable-list, missing-item, unreadable-marker,
  // bad-command, not-a-cue, unreadable-show, missing-device.
  std::string kind;
  int channel = 0;   // 1..8, 0 for none
  double q = 0;      // the cue's Q number when channel is set
  int line = 0;      // a line of the show file that is not a cue
  std::string path;  // as the show or list names it
  std::string item;  // a list's item, as the list names it
  std::string what;  // what is wrong, in words
};

struct ShowCheckResult {
  bool readable = false;  // the show file itself could be read
  std::vector<CheckFinding> findings;
  bool HasErrors() const;
};

// Checks every cue of the show at showPath (native): files found (drive map,
// letter case), WAV files playable, list files and their items, marker files
// readable, channels and commands valid; with checkDevices also the output
// devices the settings name.
ShowCheckResult CheckShow(const std::string& showPath, const Settings& settings, bool checkDevices);
// The same over a show in memory (the one in the console, edits and all);
// skippedLines: the lines its loading set aside.
ShowCheckResult CheckCues(const CueStore& show, const std::vector<int>& skippedLines,
                          const Settings& settings, bool checkDevices);

}  // namespace orvex
