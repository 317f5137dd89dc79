// The console actions a render applies at given times.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvex {

class CConsole;

struct RenderAction {
  uint32_t timeMs = 0;
  std::string text;  // as given, for messages
};

// Checks an action's form; returns an error text, or nothing when it is valid.
std::optional<std::string> CheckRenderAction(const std::string& action);
// Applies a valid action to the console.
void ApplyRenderAction(const std::string& action, CConsole& console);

}  // namespace orvex
