// "orvex-cli show ..." commands.
#pragma once

#include <string>
#include <vector>

namespace orvex {

int RunShowCommand(const std::vector<std::string>& args, const std::string& settingsPath);

}  // namespace orvex
