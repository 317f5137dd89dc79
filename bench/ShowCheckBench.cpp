// The pre-show check of a 2 000-cue show on a warm disk: every cue names a
// WAV file of its own (each opened and its header read), with a marker file
// beside every tenth. The target is well under a second.
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "session/ShowCheck.h"
#include "show/CueStore.h"
#include "show/ShowFile.h"

namespace {

std::string MakeShow() {
  const auto dir = std::filesystem::temp_directory_path() / "orvex-check-bench";
  std::filesystem::create_directories(dir / "snd");
  orvex::CueStore store;
  store.SetSoundFolder((dir / "snd").string());
  for (int i = 0; i < 2000; ++i) {
    const std::string name = "cue" + std::to_string(i) + ".wav";
    std::ofstream wav(dir / "snd" / name, std::ios::binary);
    auto put = [&](uint32_t v, int n) {
      for (int k = 0; k < n; ++k) wav.put(char((v >> (8 * k)) & 0xFF));
    };
    const uint32_t bytes = 48000 * 4;  // a second of stereo 16-bit
    wav.write("RIFF", 4);
    put(36 + bytes, 4);
    wav.write("WAVEfmt ", 8);
    put(16, 4), put(1, 2), put(2, 2), put(48000, 4), put(48000 * 4, 4), put(4, 2), put(16, 2);
    wav.write("data", 4);
    put(bytes, 4);
    wav.write(std::string(bytes, '\0').data(), bytes);
    if (i % 10 == 0)
      std::ofstream(dir / "snd" / ("cue" + std::to_string(i) + ".mrk")) << "1\r\n0\r\n";
    orvex::RecordValues v;
    v.qNumber = i + 1;
    v.title = "cue";
    v.fileOrCommand = name;
    v.preLevel = 8;
    store.AddRecord(1 + i % 6, v);
  }
  const std::string path = (dir / "show.csv").string();
  orvex::SaveShowFile(path, store);
  return path;
}

void BM_CheckShow2000(benchmark::State& state) {
  static const std::string path = MakeShow();
  orvex::Settings settings;
  for (auto _ : state) {
    const orvex::ShowCheckResult r = orvex::CheckShow(path, settings, false);
    if (!r.findings.empty()) state.SkipWithError("the bench show has findings");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_CheckShow2000)->Unit(benchmark::kMillisecond);

}  // namespace
