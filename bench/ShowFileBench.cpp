// Cost of loading and saving shows and reading the settings file, including
// the inputs that used to take quadratic time. A 10 000-cue show must load
// and save in well under 50 ms.
#include <benchmark/benchmark.h>

#include <string>

#include "show/CueStore.h"
#include "show/IniFile.h"
#include "show/Settings.h"
#include "show/ShowFile.h"

namespace {

std::string ShowText(int cues) {
  std::string text = "D:\\音響\\本番,\r\n";
  for (int i = 1; i <= cues; ++i) {
    text += std::to_string(i) + "," + std::to_string(1 + i % 6) + ",\"雷, 第" + std::to_string(i) +
            "場\",act1\\thunder" + std::to_string(i) + ".wav,8,1.5,2,desc,261,1,0,500,1,\r\n";
  }
  return text;
}

void BM_LoadShow(benchmark::State& state) {
  const std::string text = ShowText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    orvex::CueStore store;
    benchmark::DoNotOptimize(orvex::ParseShowText(text, store).ok);
  }
}
BENCHMARK(BM_LoadShow)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_SaveShow(benchmark::State& state) {
  orvex::CueStore store;
  orvex::ParseShowText(ShowText(static_cast<int>(state.range(0))), store);
  for (auto _ : state) {
    std::string bytes;
    benchmark::DoNotOptimize(orvex::FormatShowText(store, &bytes));
  }
}
BENCHMARK(BM_SaveShow)->Arg(10000)->Unit(benchmark::kMillisecond);

// An unquoted field of n doubled quotes.
void BM_FieldOfDoubledQuotes(benchmark::State& state) {
  const std::string text =
      ",\r\n1,1,x" + std::string(static_cast<size_t>(state.range(0)), '"') + ",a.wav,\r\n";
  for (auto _ : state) {
    orvex::CueStore store;
    orvex::ParseShowText(text, store);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FieldOfDoubledQuotes)
    ->Arg(64 << 10)
    ->Arg(256 << 10)
    ->Arg(2 << 20)
    ->Unit(benchmark::kMillisecond);

void BM_MoveSmallerToFront(benchmark::State& state) {
  const bool descending = state.range(1) != 0;
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    orvex::CQSheet sheet;
    for (int i = 0; i < n; ++i) {
      orvex::RecordValues v;
      v.qNumber = descending ? n - i : i + 1;
      sheet.Add(v);
    }
    state.ResumeTiming();
    sheet.MoveSmallerToFront();
  }
}
BENCHMARK(BM_MoveSmallerToFront)
    ->Args({20000, 1})
    ->Args({200000, 0})
    ->Args({200000, 1})
    ->Unit(benchmark::kMillisecond);

// n entries in one section, then every setting read as at start-up.
void BM_SettingsWithManyEntries(benchmark::State& state) {
  std::string text = "[VERSION]\nVERSION=710\n[DRIVES]\n";
  for (int i = 0; i < state.range(0); ++i) text += "K" + std::to_string(i) + "=/x\n";
  for (auto _ : state) {
    orvex::IniFile ini;
    ini.Parse(text);
    orvex::Settings settings;
    benchmark::DoNotOptimize(settings.Load(ini));
  }
}
BENCHMARK(BM_SettingsWithManyEntries)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
