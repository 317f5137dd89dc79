// Peak memory a player adds while streaming a long file to the end: the
// store holds a fixed number of blocks, so an hour costs what a minute does.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/ManualTimerService.h"
#include "engine/UiPoster.h"
#include "engine/WaveWnd.h"
#include "output/OutputSet.h"
#include "output/mixer/VirtualDevice.h"

namespace {

double ResidentMegabytes() {
  long pages = 0, resident = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(f);
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A 16-bit stereo 44.1 kHz file of the given length; the sample data is a
// hole in the file, so it costs no disk.
std::string MakeSparseWav(uint32_t seconds) {
  char path[] = "/tmp/orvex-bench-XXXXXX";
  int fd = mkstemp(path);
  const uint32_t dataSize = seconds * 176400;
  unsigned char h[44] = {'R', 'I', 'F', 'F', 0,  0, 0,   0,   'W', 'A', 'V', 'E', 'f', 'm', 't',
                         ' ', 16,  0,   0,   0,  1, 0,   2,   0,   0,   0,   0,   0,   0,   0,
                         0,   0,   4,   0,   16, 0, 'd', 'a', 't', 'a', 0,   0,   0,   0};
  Put32(h + 4, 36 + dataSize);
  Put32(h + 24, 44100);
  Put32(h + 28, 176400);
  Put32(h + 40, dataSize);
  if (write(fd, h, sizeof h) != static_cast<ssize_t>(sizeof h) ||
      ftruncate(fd, 44 + static_cast<off_t>(dataSize)) != 0) {
    std::perror("bench file");
  }
  close(fd);
  return path;
}

void BM_PlayerPeakMemory(benchmark::State& state) {
  const auto seconds = static_cast<uint32_t>(state.range(0));
  const std::string path = MakeSparseWav(seconds);
  double growth = 0;
  for (auto _ : state) {
    orvex::ManualTimerService timers;
    orvex::ManualUiPoster poster;
    orvex::mixer::VirtualDevice device("bench", "Bench", 2, 44100);
    orvex::OutputSet outputs;
    outputs.Bind(0, &device);
    orvex::CWaveWnd player(1, timers, poster);
    player.SetEngines(outputs.Engines());
    player.SetBufferSeconds(10, 20);
    player.SetAllOutputLevels(65535);
    const double before = ResidentMegabytes();
    double peak = before;
    player.LoadFile(path);
    player.WaitForReader(std::chrono::seconds(30));
    poster.RunPending();
    player.Play();
    for (uint32_t ms = 0; ms < (seconds + 1) * 1000; ms += 10) {
      timers.Advance(10);
      // Every block asked for is read before the clock goes on, as a real
      // disk keeps up with real time: the store is as full as it gets.
      player.WaitForReader(std::chrono::seconds(30));
      poster.RunPending();
      device.Pull(441);
      if (ms % 1000 == 0) peak = std::max(peak, ResidentMegabytes());
    }
    player.Unload();
    growth = peak - before;
  }
  std::remove(path.c_str());
  state.counters["peak_growth_MB"] = growth;
}
BENCHMARK(BM_PlayerPeakMemory)->Arg(60)->Arg(3600)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
