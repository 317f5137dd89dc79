// Presses GO on Orvex from outside, COUNT times every PERIOD_MS, and prints
// for each the CLOCK_MONOTONIC time it left as one JSON line {"sent": SECONDS};
// PERIOD_MS - 50 after each it stops CH1, so the next GO finds a cue loaded.
//   jack_remote_send midi COUNT PERIOD_MS   MIDI Start (0xFA) from the JACK
//       MIDI port "bench_midi:out", once Orvex's input is connected to it;
//       the time is that of the sample the event sits on
//   jack_remote_send osc COUNT PERIOD_MS PORT   "/orvex/go" to 127.0.0.1:PORT
#include <arpa/inet.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double MonotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void SleepUntil(double t) {
  const double now = MonotonicSeconds();
  if (t > now) usleep(static_cast<useconds_t>((t - now) * 1e6));
}

jack_client_t* g_client = nullptr;
jack_port_t* g_out = nullptr;
double g_clockOffset = 0;
// One message at a time from the main thread; the process thread sends it at
// the start of its next cycle and notes when that was.
std::atomic<int> g_pending{0};  // 0 none, 1 Start, 2 CH1 stop
std::atomic<double> g_sentAt{0};

int Process(jack_nframes_t frames, void*) {
  void* buffer = jack_port_get_buffer(g_out, frames);
  jack_midi_clear_buffer(buffer);
  const int what = g_pending.load(std::memory_order_acquire);
  if (what == 0) return 0;
  const jack_midi_data_t start[] = {0xFA};
  const jack_midi_data_t stop[] = {0x81, 60, 0};
  if (what == 1)
    jack_midi_event_write(buffer, 0, start, 1);
  else
    jack_midi_event_write(buffer, 0, stop, 3);
  jack_nframes_t cycleStart = 0;
  jack_time_t usecs = 0, next = 0;
  float period = 0;
  jack_get_cycle_times(g_client, &cycleStart, &usecs, &next, &period);
  g_sentAt.store(double(usecs) * 1e-6 + g_clockOffset);
  g_pending.store(0, std::memory_order_release);
  return 0;
}

double SendMidi(int what) {
  g_pending.store(what, std::memory_order_release);
  while (g_pending.load(std::memory_order_acquire) != 0) usleep(200);
  return g_sentAt.load();
}

int RunMidi(int count, double period) {
  jack_status_t status{};
  g_client = jack_client_open("bench_midi", JackNoStartServer, &status);
  if (!g_client) {
    std::fprintf(stderr, "jack_remote_send: no JACK server\n");
    return 1;
  }
  g_clockOffset = MonotonicSeconds() - double(jack_get_time()) * 1e-6;
  g_out = jack_port_register(g_client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  jack_set_process_callback(g_client, &Process, nullptr);
  if (!g_out || jack_activate(g_client) != 0) return 1;
  const double deadline = MonotonicSeconds() + 30;
  while (jack_port_connected(g_out) == 0) {
    if (MonotonicSeconds() > deadline) {
      std::fprintf(stderr, "jack_remote_send: nothing connected to bench_midi:out\n");
      return 1;
    }
    usleep(5000);
  }
  double t = MonotonicSeconds() + 1;
  for (int i = 0; i < count; ++i, t += period) {
    SleepUntil(t);
    std::printf("{\"sent\": %.6f}\n", SendMidi(1));
    std::fflush(stdout);
    SleepUntil(t + period - 0.05);
    SendMidi(2);
  }
  jack_client_close(g_client);
  return 0;
}

int RunOsc(int count, double period, int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto message = [](const char* path, size_t& size) {
    lo_message m = lo_message_new();
    void* bytes = lo_message_serialise(m, path, nullptr, &size);
    lo_message_free(m);
    return bytes;
  };
  size_t goSize = 0, stopSize = 0;
  void* go = message("/orvex/go", goSize);
  void* stop = message("/orvex/ch/1/stop", stopSize);
  double t = MonotonicSeconds() + 1;
  for (int i = 0; i < count; ++i, t += period) {
    SleepUntil(t);
    const double sent = MonotonicSeconds();
    sendto(fd, go, goSize, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::printf("{\"sent\": %.6f}\n", sent);
    std::fflush(stdout);
    SleepUntil(t + period - 0.05);
    sendto(fd, stop, stopSize, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  std::free(go);
  std::free(stop);
  close(fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const int count = argc > 2 ? std::atoi(argv[2]) : 0;
  const double period = argc > 3 ? std::atof(argv[3]) / 1000 : 0;
  if (mode == "midi" && argc == 4 && count > 0 && period > 0.1) return RunMidi(count, period);
  if (mode == "osc" && argc == 5 && count > 0 && period > 0.1)
    return RunOsc(count, period, std::atoi(argv[4]));
  std::fprintf(stderr, "usage: jack_remote_send midi COUNT PERIOD_MS | osc COUNT PERIOD_MS PORT\n");
  return 2;
}
