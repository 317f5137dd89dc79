// "orvex-cli wav ..." commands.
#pragma once

#include <string>
#include <vector>

namespace orvex {

int RunWavCommand(const std::vector<std::string>& args);

}  // namespace orvex
