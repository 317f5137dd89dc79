// "orvex-cli play": runs a show in real time on the outputs the settings
// (and --device) choose, and prints every console event as it happens.
#pragma once

#include <string>
#include <vector>

namespace orvex {

int RunPlayCommand(const std::vector<std::string>& args, const std::string& settingsPath);

}  // namespace orvex
