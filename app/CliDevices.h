// "orvex-cli devices": the devices an output can be bound to, in
// DeviceIndex order, as the selection dialog lists them.
#pragma once

#include <string>
#include <vector>

namespace orvex {

int RunDevicesCommand(const std::vector<std::string>& args, const std::string& settingsPath);

}  // namespace orvex
