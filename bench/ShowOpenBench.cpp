// What opening a 10 000-cue show costs: the read (off the UI thread) and the
// part that runs on the UI thread (the show put in place, then the console
// refresh with the six channel files loaded). The UI part must stay well
// under a frame (16 ms).
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "engine/Console.h"
#include "engine/ManualTimerService.h"
#include "engine/UiPoster.h"
#include "session/OrvexDoc.h"
#include "show/Messages.h"
#include "show/ShowFile.h"

namespace {

class QuietSink final : public orvex::MessageSink {
 public:
  int Show(const std::string&, bool) override { return orvex::kAnswerNo; }
};

// 10 000 cues over the six channels and the groups, each channel's sounds
// being real 30-second WAV files.
const std::string& ShowPath() {
  static const std::string path = [] {
    const auto dir = std::filesystem::temp_directory_path() / "orvex-show-bench";
    std::filesystem::create_directories(dir);
    const uint32_t bytes = 44100 * 4 * 30;
    for (int ch = 1; ch <= 6; ++ch) {
      std::ofstream wav(dir / ("ch" + std::to_string(ch) + ".wav"), std::ios::binary);
      auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) wav.put(char((v >> (8 * i)) & 0xFF));
      };
      wav.write("RIFF", 4);
      put(36 + bytes, 4);
      wav.write("WAVEfmt ", 8);
      put(16, 4), put(1, 2), put(2, 2), put(44100, 4), put(44100 * 4, 4), put(4, 2), put(16, 2);
      wav.write("data", 4);
      put(bytes, 4);
      std::string silence(bytes, '\0');
      wav.write(silence.data(), std::streamsize(silence.size()));
    }
    orvex::CueStore store;
    store.SetSoundFolder(dir.string());
    for (int i = 0; i < 10000; ++i) {
      orvex::RecordValues v;
      v.qNumber = i + 1;
      const int ch = i % 8 + 1;
      v.title = "キュー " + std::to_string(i + 1);
      v.fileOrCommand = ch <= 6 ? "ch" + std::to_string(ch) + ".wav" : "FUP";
      v.description = "説明のテキスト";
      v.preLevel = 8;
      v.fadeIn = 1;
      v.fadeOut = 2;
      store.AddRecord(ch, v);
    }
    const std::string file = (dir / "big.csv").string();
    orvex::SaveShowFile(file, store);
    return file;
  }();
  return path;
}

void BM_ReadShowOffUiThread(benchmark::State& state) {
  QuietSink sink;
  orvex::SetMessageSink(&sink);
  for (auto _ : state) {
    orvex::ReadShowResult result = orvex::ReadShow(ShowPath());
    benchmark::DoNotOptimize(result.ok);
  }
  orvex::SetMessageSink(nullptr);
}
BENCHMARK(BM_ReadShowOffUiThread)->Unit(benchmark::kMillisecond);

void BM_PutInPlaceAndRefreshOnUiThread(benchmark::State& state) {
  QuietSink sink;
  orvex::SetMessageSink(&sink);
  orvex::COrvexDoc doc("/nonexistent/orvex-bench.ini");
  orvex::ManualTimerService timers;
  orvex::ManualUiPoster poster;
  orvex::CConsole console(doc, doc.GetSettings(), timers, poster);
  console.LoadFromSettings();
  for (auto _ : state) {
    state.PauseTiming();
    orvex::ReadShowResult result = orvex::ReadShow(ShowPath());
    state.ResumeTiming();
    doc.TakeShow(*result.store, std::move(result.skippedLines));
    console.RefreshAfterCueChange(true);
    state.PauseTiming();
    poster.RunPending();
    result.store.reset();  // the previous show goes with the result, off the clock
    state.ResumeTiming();
  }
  console.Shutdown();
  orvex::SetMessageSink(nullptr);
}
BENCHMARK(BM_PutInPlaceAndRefreshOnUiThread)->Unit(benchmark::kMillisecond);

}  // namespace
