// "orvex-cli check SHOW.csv": the pre-show check, one JSON line per finding.
#pragma once

#include <string>
#include <vector>

namespace orvex {

// 0: nothing found; 1: findings (the show cannot run as written, or runs
// only by ignoring letter case); 2: usage or settings error.
int RunCheckCommand(const std::vector<std::string>& args, const std::string& settingsPath);

}  // namespace orvex
