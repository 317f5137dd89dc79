// orvex-cli: the command-line companion of the desktop program.
#include <cstdio>
#include <string>
#include <vector>

#include "app/CliCheck.h"
#include "app/CliDevices.h"
#include "app/CliMarkers.h"
#include "app/CliMidi.h"
#include "app/CliPlay.h"
#include "app/CliRender.h"
#include "app/CliShow.h"
#include "app/CliWav.h"
#include "session/OrvexDoc.h"
#include "show/Messages.h"

namespace {

void Usage() {
  std::fprintf(
      stderr,
      "usage: orvex-cli [--settings FILE] COMMAND ...\n"
      "  show dump FILE.csv         print the show as JSON Lines\n"
      "  show save IN.csv OUT.csv   load a show and write it again\n"
      "  check SHOW.csv             the pre-show check: one JSON line per problem found;\n"
      "                             exit status 0 when there is none\n"
      "  wav info FILE.wav          print the format of a WAV file as JSON\n"
      "  markers dump FILE.wav      print the markers of a WAV file as JSON\n"
      "  render SHOW.csv --out DIR [--rate HZ] [--length SECONDS] [--at SECONDS ACTION]...\n"
      "                             run the show offline; write the outputs and events\n"
      "  devices                    list the devices an output can use, as JSON Lines\n"
      "  play SHOW.csv [--device OUTPUT=INDEX]... [--exclusive OUTPUT] [--length SECONDS]\n"
      "       [--at SECONDS ACTION]... [--midi NAME] [--osc PORT]\n"
      "                             run the show in real time on the devices\n"
      "  midi ports                 list the MIDI input ports as JSON Lines\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string settingsPath = orvex::TakeSettingsOption(argc, argv);
  orvex::StderrMessageSink sink;
  orvex::SetMessageSink(&sink);
  if (argc < 2) {
    Usage();
    return 2;
  }
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  int rc = 2;
  if (command == "show") {
    rc = orvex::RunShowCommand(args, settingsPath);
  } else if (command == "check") {
    rc = orvex::RunCheckCommand(args, settingsPath);
  } else if (command == "wav") {
    rc = orvex::RunWavCommand(args);
  } else if (command == "markers") {
    rc = orvex::RunMarkersCommand(args);
  } else if (command == "render") {
    rc = orvex::RunRenderCommand(args, settingsPath);
  } else if (command == "devices") {
    rc = orvex::RunDevicesCommand(args, settingsPath);
  } else if (command == "midi") {
    rc = orvex::RunMidiCommand(args);
  } else if (command == "play") {
    rc = orvex::RunPlayCommand(args, settingsPath);
  } else {
    Usage();
  }
  orvex::SetMessageSink(nullptr);
  return rc;
}
