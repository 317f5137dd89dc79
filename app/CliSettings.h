// The settings file of an orvex-cli command, read as the desktop program
// reads it: an absent file gives the first-run values; one that is there but
// cannot be read stops the command, so a typo in a path never passes silently
// for settings the operator meant.
#pragma once

#include <string>

#include "show/Settings.h"

namespace orvex {

// False (with a line on standard error naming the command) when the file
// exists and cannot be read. An empty path leaves the first-run values.
bool LoadCliSettings(const char* command, const std::string& path, Settings& settings);

}  // namespace orvex
