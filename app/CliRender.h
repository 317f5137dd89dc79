// "orvex-cli render": runs a show on the console offline and writes what the
// three outputs played and what happened.
#pragma once

#include <string>
#include <vector>

namespace orvex {

int RunRenderCommand(const std::vector<std::string>& args, const std::string& settingsPath);

}  // namespace orvex
