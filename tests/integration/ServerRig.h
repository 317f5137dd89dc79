// Processes an integration test starts and stops itself: a private sound
// server with null sinks, its recorder, and the command-line program.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <pulse/pulseaudio.h>

#include <mutex>

#include "engine/WavBytes.h"
#include "output/pulse/PulseServer.h"
#include "unit/TempDir.h"

namespace orvex {

// A 440 Hz tone of `seconds` at 48 kHz, 16-bit stereo, peaking at `peak`
// (of 32768), as a WAV file's bytes.
inline std::string ToneWav(int seconds, int peak) {
  std::string data;
  for (int i = 0; i < 48000 * seconds; ++i) {
    const auto v = static_cast<int16_t>(std::lround(peak * std::sin(2 * M_PI * 440 * i / 48000)));
    data += SampleBytes(v, 16) + SampleBytes(v, 16);
  }
  return Wav(2, 48000, 16, data);
}

// Starts argv with stdout and stderr sent to files; returns the pid. The
// process ends with the test's: a test a sanitizer stops mid-way leaves no
// server behind.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& out,
                   const std::string& err) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(o, 1);
  dup2(e, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

// Waits for pid to end, at most `seconds`; its exit status, or -1.
inline int WaitExit(pid_t pid, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

inline void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  WaitExit(pid, 5);
  pid = -1;
}

// The line `pactl list short sinks` gives for `sink` ("none" without one),
// with the state the server gives it ("SUSPENDED" while someone asks it to
// let go of its card). dir holds the command's output.
inline std::string SinkLine(const TempDir& dir, const std::string& sink) {
  const pid_t pid =
      Spawn({"pactl", "list", "short", "sinks"}, dir.File("sinks.out"), dir.File("sinks.err"));
  EXPECT_EQ(WaitExit(pid, 20), 0) << dir.Read("sinks.err");
  const std::string sinks = dir.Read("sinks.out");
  const size_t at = sinks.find(sink);
  return at == std::string::npos ? std::string("none")
                                 : sinks.substr(at, sinks.find('\n', at) - at);
}

// A sound server of the test's own on a private socket, with the null
// sinks given as module arguments and further daemon options, if any.
class PrivateSoundServer {
 public:
  explicit PrivateSoundServer(const std::vector<std::string>& sinks,
                              const std::vector<std::string>& options = {}) {
    const std::string socket = dir.File("native");
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    setenv("HOME", dir.Path().c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    std::vector<std::string> argv = {
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--use-pid-file=no",
        "--disallow-module-loading=no",
        "-L",
        "module-native-protocol-unix socket=" + socket + " auth-anonymous=1"};
    argv.insert(argv.end(), options.begin(), options.end());
    for (const std::string& s : sinks) {
      argv.push_back("-L");
      argv.push_back("module-null-sink " + s);
    }
    argv_ = std::move(argv);
    Start();
  }
  // Starts the server again on the same socket, after Kill.
  bool Restart() {
    Kill();
    Start();
    return ready;
  }
  ~PrivateSoundServer() {
    Stop(pid);
    unsetenv("PULSE_SERVER");
  }
  void Kill() {
    if (pid > 0) kill(pid, SIGKILL);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    pid = -1;
  }

  TempDir dir;
  pid_t pid = -1;
  bool ready = false;

 private:
  void Start() {
    ready = false;
    pid = Spawn(argv_, dir.File("server.out"), dir.File("server.err"));
    // Ready once a client gets through; give up after ten seconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      pulse::PulseServer probe;
      if (probe.Connect("probe")) {
        ready = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  std::vector<std::string> argv_;
};

// Records a sink's monitor as float stereo frames at the given rate.
class MonitorRecorder {
 public:
  MonitorRecorder(const std::string& sink, uint32_t rate) {
    if (!server_.Connect("recorder")) return;
    pulse::PulseServer::Lock lock(server_);
    pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, rate, 2};
    stream_ = pa_stream_new(server_.Context(), "recorder", &spec, nullptr);
    pa_stream_set_read_callback(stream_, &MonitorRecorder::OnRead, this);
    pa_stream_set_state_callback(
        stream_,
        [](pa_stream*, void* user) {
          auto* self = static_cast<MonitorRecorder*>(user);
          pa_threaded_mainloop_signal(self->server_.Mainloop(), 0);
        },
        this);
    pa_buffer_attr attr{static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                        static_cast<uint32_t>(-1), static_cast<uint32_t>(-1), rate / 50 * 8};
    pa_stream_connect_record(stream_, (sink + ".monitor").c_str(), &attr, PA_STREAM_ADJUST_LATENCY);
    while (pa_stream_get_state(stream_) == PA_STREAM_CREATING)
      pa_threaded_mainloop_wait(server_.Mainloop());
    ready = pa_stream_get_state(stream_) == PA_STREAM_READY;
  }
  ~MonitorRecorder() { Stop(); }
  void Stop() {
    pulse::PulseServer::Lock lock(server_);
    if (!stream_) return;
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
  std::vector<float> Samples() {
    std::lock_guard lock(mutex_);
    return samples_;
  }
  bool ready = false;

 private:
  static void OnRead(pa_stream* s, size_t, void* user) {
    auto* self = static_cast<MonitorRecorder*>(user);
    const void* data = nullptr;
    size_t n = 0;
    while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &data, &n) == 0 && n > 0) {
      std::lock_guard lock(self->mutex_);
      if (data) {
        const auto* f = static_cast<const float*>(data);
        self->samples_.insert(self->samples_.end(), f, f + n / 4);
      } else {
        self->samples_.insert(self->samples_.end(), n / 4, 0.0f);
      }
      pa_stream_drop(s);
    }
  }
  pulse::PulseServer server_;
  pa_stream* stream_ = nullptr;
  std::mutex mutex_;
  std::vector<float> samples_;
};

// Largest |sample| of interleaved stereo float frames [from, to).
inline float PeakOf(const std::vector<float>& s, size_t from, size_t to) {
  float p = 0;
  for (size_t i = from * 2; i < to * 2 && i < s.size(); ++i) p = std::max(p, std::fabs(s[i]));
  return p;
}

inline std::vector<float> FloatsOf(const std::string& bytes, size_t skip = 0) {
  std::vector<float> s(bytes.size() > skip ? (bytes.size() - skip) / 4 : 0);
  if (!s.empty()) std::memcpy(s.data(), bytes.data() + skip, s.size() * 4);
  return s;
}

}  // namespace orvex
