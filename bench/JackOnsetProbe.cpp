// A JACK client outside Orvex that listens to Orvex's left output and prints,
// for every sound that starts after at least 100 ms of silence, the
// CLOCK_MONOTONIC time of its first sample as one JSON line:
//   {"onset": SECONDS}
// The time of a sample is the start of the cycle that carried it plus its
// place in the buffer. Runs until SIGINT or SIGTERM.
//   jack_onset_probe [PORT]     (default "Orvex:out_1")
//   jack_onset_probe --record FILE [PORT]   also keeps every sample heard (up
//       to two minutes) and writes them at exit to FILE as raw mono float32
//   jack_onset_probe --write-beep FILE   writes the 100 ms test sound
// At exit it reports on stderr how many xruns the server had meanwhile: a
// recording across an xrun has lost or repeated frames.
#include <jack/jack.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::atomic<bool> g_quit{false};
jack_port_t* g_in = nullptr;
jack_client_t* g_client = nullptr;

// Onsets handed from the process thread to the main thread.
constexpr int kRing = 1024;
double g_onsets[kRing];
std::atomic<int> g_written{0};

uint64_t g_silentFrames = 1u << 30;
uint32_t g_rate = 48000;

double MonotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Offset from the JACK clock to CLOCK_MONOTONIC, measured at start.
double g_clockOffset = 0;

// --record: sized before activation, so the process thread never allocates.
std::vector<float> g_record;
std::atomic<size_t> g_recorded{0};
std::atomic<int> g_xruns{0};

int Process(jack_nframes_t frames, void*) {
  const auto* x = static_cast<const float*>(jack_port_get_buffer(g_in, frames));
  if (!g_record.empty()) {
    const size_t at = g_recorded.load(std::memory_order_relaxed);
    const size_t n = std::min<size_t>(frames, g_record.size() - at);
    std::copy(x, x + n, g_record.begin() + long(at));
    g_recorded.store(at + n, std::memory_order_release);
  }
  jack_nframes_t cycleStart = 0;
  jack_time_t startUsecs = 0, nextUsecs = 0;
  float period = 0;
  jack_get_cycle_times(g_client, &cycleStart, &startUsecs, &nextUsecs, &period);
  for (jack_nframes_t i = 0; i < frames; ++i) {
    if (x[i] == 0.0f) {
      ++g_silentFrames;
      continue;
    }
    if (g_silentFrames >= g_rate / 10) {
      const int n = g_written.load(std::memory_order_relaxed);
      g_onsets[n % kRing] = double(startUsecs) * 1e-6 + double(i) / g_rate + g_clockOffset;
      g_written.store(n + 1, std::memory_order_release);
    }
    g_silentFrames = 0;
  }
  return 0;
}

}  // namespace

// 100 ms of a 16-bit stereo 48 kHz square wave that starts at full swing.
int WriteBeep(const char* path) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return 1;
  const uint32_t frames = 4800, data = frames * 4;
  const auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
  const auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
  std::fwrite("RIFF", 1, 4, f);
  u32(36 + data);
  std::fwrite("WAVEfmt ", 1, 8, f);
  u32(16);
  u16(1);
  u16(2);
  u32(48000);
  u32(48000 * 4);
  u16(4);
  u16(16);
  std::fwrite("data", 1, 4, f);
  u32(data);
  for (uint32_t i = 0; i < frames; ++i) {
    const int16_t v = (i / 48) % 2 ? -8192 : 8192;
    std::fwrite(&v, 2, 1, f);
    std::fwrite(&v, 2, 1, f);
  }
  return std::fclose(f) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--write-beep") return WriteBeep(argv[2]);
  std::string recordPath;
  if (argc > 2 && std::string(argv[1]) == "--record") {
    recordPath = argv[2];
    argv += 2;
    argc -= 2;
  }
  const std::string port = argc > 1 ? argv[1] : "Orvex:out_1";
  signal(SIGINT, [](int) { g_quit.store(true); });
  signal(SIGTERM, [](int) { g_quit.store(true); });
  jack_status_t status{};
  g_client = jack_client_open("onset_probe", JackNoStartServer, &status);
  if (!g_client) {
    std::fprintf(stderr, "jack_onset_probe: no JACK server\n");
    return 1;
  }
  g_rate = jack_get_sample_rate(g_client);
  g_clockOffset = MonotonicSeconds() - double(jack_get_time()) * 1e-6;
  g_in = jack_port_register(g_client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  if (!recordPath.empty()) g_record.resize(size_t(g_rate) * 120);
  jack_set_process_callback(g_client, &Process, nullptr);
  jack_set_xrun_callback(
      g_client,
      [](void*) {
        g_xruns.fetch_add(1);
        return 0;
      },
      nullptr);
  if (jack_activate(g_client) != 0) return 1;
  std::fprintf(stderr, "jack_onset_probe: clock offset %.6f s\n", g_clockOffset);
  bool connected = false;
  int read = 0;
  while (!g_quit.load()) {
    if (!connected) connected = jack_connect(g_client, port.c_str(), jack_port_name(g_in)) == 0;
    for (const int n = g_written.load(std::memory_order_acquire); read < n; ++read)
      std::printf("{\"onset\": %.6f}\n", g_onsets[read % kRing]);
    std::fflush(stdout);
    usleep(connected ? 10000 : 2000);
  }
  jack_client_close(g_client);
  std::fprintf(stderr, "jack_onset_probe: %d xruns\n", g_xruns.load());
  if (recordPath.empty()) return 0;
  FILE* f = std::fopen(recordPath.c_str(), "wb");
  const size_t n = g_recorded.load(std::memory_order_acquire);
  if (!f || std::fwrite(g_record.data(), sizeof(float), n, f) != n || std::fclose(f) != 0) {
    std::fprintf(stderr, "jack_onset_probe: cannot write %s\n", recordPath.c_str());
    return 1;
  }
  return 0;
}
