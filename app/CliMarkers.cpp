#include "app/CliMarkers.h"

#include <cstdio>
#include <cstring>

#include "app/Json.h"
#include "engine/MarkerPanel.h"
#include "engine/WaveSource.h"
#include "show/AtomicFile.h"
#include "show/MarkerFile.h"

namespace orvex {
namespace {

// The markers of a WAV file as the slider panel would list them: the marker
// file read as a show load reads it (duplicates dropped), each position with
// its entry text.
int Dump(const std::string& path) {
  // Index -1: inspecting a file must not change what a player has loaded.
  CWaveSource source(-1);
  if (!source.OpenWaveFile(path)) {
    if (source.LastOpenError() == WaveOpenError::kCannotOpen)
      std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), std::strerror(source.OpenErrno()));
    return 1;
  }
  const uint32_t bytesPerSecond = source.BytesPerSecond();
  const uint32_t dataSize = source.DataSize();
  source.CloseWaveFile();

  const std::string markerPath = MarkerFileName(path);
  const FileRead read = ReadRegularFile(markerPath);
  if (read.status == FileReadStatus::kUnreadable) {
    std::fprintf(stderr, "cannot read %s\n", markerPath.c_str());
    return 1;
  }
  MarkerList list;
  if (read.status == FileReadStatus::kOk) MergeMarkerText(read.bytes, list);
  std::string markers = "[";
  for (uint32_t p : list) {
    if (markers.size() > 1) markers += ", ";
    markers +=
        JsonObject().Add("position", p).Add("text", MarkerEntryText(p, bytesPerSecond)).Text();
  }
  markers += "]";
  const std::string out = JsonObject()
                              .Add("wav", path)
                              .Add("markerFile", markerPath)
                              .Add("found", read.status == FileReadStatus::kOk)
                              .Add("bytesPerSecond", bytesPerSecond)
                              .Add("dataSize", dataSize)
                              .AddJson("markers", markers)
                              .Text() +
                          "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int RunMarkersCommand(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "dump") return Dump(args[1]);
  std::fprintf(stderr, "usage: orvex-cli markers dump FILE.wav\n");
  return 2;
}

}  // namespace orvex
