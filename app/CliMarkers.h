// "orvex-cli markers ..." commands.
#pragma once

#include <string>
#include <vector>

namespace orvex {

int RunMarkersCommand(const std::vector<std::string>& args);

}  // namespace orvex
