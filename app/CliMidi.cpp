#include "app/CliMidi.h"

#include <cstdio>

#include "app/Json.h"
#include "engine/ConsoleCommandText.h"

namespace orvex {

int RunMidiCommand(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0] != "ports") {
    std::fprintf(stderr, "usage: orvex-cli midi ports\n");
    return 2;
  }
  auto ports = midi::MakeSystemMidiPorts();
  for (const midi::MidiPortInfo& p : ports->ListInputPorts()) {
    const std::string identity = JsonObject()
                                     .Add("manufacturer", int{p.caps.manufacturerId})
                                     .Add("product", int{p.caps.productId})
                                     .Add("name", p.caps.NameUtf8())
                                     .Text();
    std::printf("%s\n", JsonObject()
                            .Add("api", midi::MidiApiName(p.api))
                            .Add("name", p.systemName)
                            .AddJson("identity", identity)
                            .Text()
                            .c_str());
  }
  return 0;
}

CliMidi::CliMidi(CConsole& console, UiPoster& poster, double (*clock)())
    : console_(console), clock_(clock), ports_(midi::MakeSystemMidiPorts()) {
  control_ =
      std::make_unique<midi::CMidiControl>(*ports_, poster, [this](const midi::MidiEvent& event) {
        std::string bytes, commands = "[";
        char hex[4];
        for (int i = 0; i < event.size; ++i) {
          std::snprintf(hex, sizeof hex, "%02X", event.bytes[static_cast<size_t>(i)]);
          bytes += (i ? " " : "") + std::string(hex);
        }
        for (const ConsoleCommand& c : event.commands)
          commands += (commands.size() > 1 ? ", " : "") + JsonString(FormatConsoleCommand(c));
        commands += "]";
        std::printf("%s\n", JsonObject()
                                .Add("event", "midi")
                                .Add("port", event.port)
                                .Add("bytes", bytes)
                                .AddJson("commands", commands)
                                .Add("mono", clock_())
                                .Text()
                                .c_str());
        std::fflush(stdout);
        for (const ConsoleCommand& c : event.commands) console_.Execute(c);
      });
}

CliMidi::~CliMidi() {
  Stop();
}

void CliMidi::Start(const Settings& settings, const std::string& match) {
  if (!settings.midiConfFile.empty()) control_->LoadSettings(settings.midiConfFile);
  control_->EnumerateMidiDevices();
  if (match.empty()) {
    if (!settings.midiConnect) return;
  } else {
    for (auto& d : control_->Devices())
      d->m_enabled = d->m_present && d->m_systemName.find(match) != std::string::npos;
    // And those that come later.
    control_->SetCheckNewPorts([match](const midi::MidiPortInfo& port) {
      return port.systemName.find(match) != std::string::npos;
    });
  }
  control_->ConnectMidi();
  for (const auto& d : control_->Devices())
    if (d->m_opened)
      std::fprintf(stderr, "midi: %s (mode %d)\n", d->m_systemName.c_str(), d->m_mode);
}

CliOsc::CliOsc(CConsole& console, TimerService& timers, UiPoster& poster, double (*clock)())
    : console_(console),
      clock_(clock),
      server_(
          timers, poster,
          [this](const std::vector<ConsoleCommand>& commands) {
            std::string list = "[";
            for (const ConsoleCommand& c : commands)
              list += (list.size() > 1 ? ", " : "") + JsonString(FormatConsoleCommand(c));
            std::printf("%s\n", JsonObject()
                                    .Add("event", "osc")
                                    .AddJson("commands", list + "]")
                                    .Add("mono", clock_())
                                    .Text()
                                    .c_str());
            std::fflush(stdout);
            for (const ConsoleCommand& c : commands) console_.Execute(c);
          },
          [this] {
            return remote::OscCueState{console_.CurrentCueText(), console_.NextCueText()};
          }) {}

bool CliOsc::Start(const std::string& address, int port) {
  std::string error;
  if (!server_.Start(address, port, error)) {
    std::fprintf(stderr, "orvex-cli play: OSC on %s:%d: %s\n", address.c_str(), port,
                 error.c_str());
    return false;
  }
  std::fprintf(stderr, "osc: %s:%d\n", address.c_str(), server_.Port());
  return true;
}

void CliMidi::Stop() {
  if (control_) control_->DisconnectMidi();
}

}  // namespace orvex
