// "orvex-cli render": runs a show on the console offline and writes what the
// three outputs played and what happened.
#pragma once

#include <string>
#include <vector>

#include "app/Json.h"
#include "engine/ConsoleTypes.h"

namespace orvex {

// One console event as render and play write it.
JsonObject EventObject(const ConsoleEvent& e);

int RunRenderCommand(const std::vector<std::string>& args, const std::string& settingsPath);

}  // namespace orvex
