// A private JACK server on the dummy driver for one test, and a client of the
// test that records what reaches its input ports. The server is started with
// a name of its own, so the test never meets another server, and only the
// process started here is ever stopped.
#pragma once

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "output/jack/JackDevice.h"

namespace orvex::test {

class JackServer {
 public:
  // Starts `jackd -R -d dummy -r rate -p period` named `name`.
  explicit JackServer(std::string name, int period = 256, int rate = 48000)
      : name_(std::move(name)) {
    setenv("JACK_NO_START_SERVER", "1", 1);
    const std::string periodText = std::to_string(period);
    std::vector<std::string> args = {
        "jackd", "-R", "-n", name_, "-d", "dummy", "-r", std::to_string(rate), "-p", periodText};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The server ends with the test's process, also when a sanitizer stops it.
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execvp("jackd", argv.data());
      _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      if (jack::JackDevice::ServerRunning(name_)) {
        ready_ = true;
        break;
      }
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~JackServer() { Stop(SIGTERM); }
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Name() const { return name_; }

  // Freezes the server started here (SIGSTOP) or lets it run on (SIGCONT),
  // as a machine that stops scheduling it would.
  void Suspend() {
    if (pid_ > 0) kill(pid_, SIGSTOP);
  }
  void Continue() {
    if (pid_ > 0) kill(pid_, SIGCONT);
  }

  // Sends `sig` to the server started here and reaps it.
  void Stop(int sig) {
    if (pid_ <= 0) return;
    kill(pid_, sig);
    kill(pid_, SIGCONT);  // a frozen server ends too
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    ready_ = false;
  }

 private:
  std::string name_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// Records the left input from the moment it is activated.
class JackRecorder {
 public:
  JackRecorder(const std::string& server, size_t capacityFrames)
      : left_(capacityFrames), right_(capacityFrames) {
    jack_status_t status{};
    client_ = jack_client_open("recorder",
                               static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                               &status, server.c_str());
    if (!client_) return;
    in_[0] = jack_port_register(client_, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    in_[1] = jack_port_register(client_, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &JackRecorder::Process, this);
    jack_on_shutdown(client_, &JackRecorder::Shutdown, this);
    jack_activate(client_);
  }
  ~JackRecorder() {
    if (client_) jack_client_close(client_);
  }
  bool Ok() const { return client_ != nullptr; }
  // False once the server has dropped this client.
  bool Alive() const { return client_ && !gone_.load(); }
  bool Connect(const std::string& from, int input) {
    return client_ && jack_connect(client_, from.c_str(), jack_port_name(in_[input])) == 0;
  }
  bool IsConnected(const std::string& a, const std::string& b) const {
    jack_port_t* port = jack_port_by_name(client_, a.c_str());
    return port && jack_port_connected_to(port, b.c_str());
  }
  size_t Frames() const { return count_.load(std::memory_order_acquire); }
  // Only the frames counted by Frames() are complete.
  const std::vector<float>& Left() const { return left_; }
  const std::vector<float>& Right() const { return right_; }

 private:
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackRecorder*>(arg);
    const auto* l = static_cast<const float*>(jack_port_get_buffer(self->in_[0], frames));
    const auto* r = static_cast<const float*>(jack_port_get_buffer(self->in_[1], frames));
    size_t at = self->count_.load(std::memory_order_relaxed);
    const size_t n = std::min<size_t>(frames, self->left_.size() - at);
    std::copy(l, l + n, self->left_.begin() + at);
    std::copy(r, r + n, self->right_.begin() + at);
    self->count_.store(at + n, std::memory_order_release);
    return 0;
  }

  static void Shutdown(void* arg) { static_cast<JackRecorder*>(arg)->gone_.store(true); }

  jack_client_t* client_ = nullptr;
  std::atomic<bool> gone_{false};
  jack_port_t* in_[2] = {nullptr, nullptr};
  std::vector<float> left_, right_;
  std::atomic<size_t> count_{0};
};

inline std::string PrivateServerName(const char* what) {
  return "orvex-" + std::string(what) + "-" + std::to_string(getpid());
}

}  // namespace orvex::test
