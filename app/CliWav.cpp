#include "app/CliWav.h"

#include <cstdio>
#include <cstring>

#include "app/Json.h"
#include "engine/WaveSource.h"

namespace orvex {
namespace {

int Info(const std::string& path) {
  // Index -1: inspecting a file must not change what a player has loaded.
  CWaveSource source(-1);
  if (!source.OpenWaveFile(path)) {
    // Refusals with a message have already reported it on standard error.
    if (source.LastOpenError() == WaveOpenError::kCannotOpen) {
      std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), std::strerror(source.OpenErrno()));
    } else if (source.LastOpenError() == WaveOpenError::kEmptyData) {
      std::fprintf(stderr, "%s: no sample data\n", path.c_str());
    }
    return 1;
  }
  const WaveFormat& f = source.Format();
  std::string out = JsonObject()
                        .Add("formatTag", static_cast<int>(f.formatTag))
                        .Add("channels", static_cast<int>(f.channels))
                        .Add("rate", f.samplesPerSec)
                        .Add("bytesPerSecond", source.BytesPerSecond())
                        .Add("blockAlign", static_cast<int>(f.blockAlign))
                        .Add("bits", static_cast<int>(f.bitsPerSample))
                        .Add("dataOffset", static_cast<int64_t>(source.DataOffset()))
                        .Add("dataSize", source.DataSize())
                        .Text() +
                    "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int RunWavCommand(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "info") return Info(args[1]);
  std::fprintf(stderr, "usage: orvex-cli wav info FILE.wav\n");
  return 2;
}

}  // namespace orvex
