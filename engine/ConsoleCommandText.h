// The text form of console commands, as scripts give them (orvex-cli's --at
// actions) and logs show them: "go", "play:3", "fader:7=5.5", "route:2=M,X",
// "tone:1=mid,-3.5". Formatting a command and parsing the text gives the same
// command back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/ConsoleCommand.h"

namespace orvex {

struct ParsedCommand {
  std::optional<ConsoleCommand> command;
  std::string error;  // why the text is no command, when command is empty
};

ParsedCommand ParseConsoleCommand(std::string_view text);
std::string FormatConsoleCommand(const ConsoleCommand& command);

}  // namespace orvex
