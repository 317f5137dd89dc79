// The OSC server: UDP on one address and port (the machine itself unless
// another address is named). Its thread only parses; every message that
// asks something is posted to the UI thread, where the commands run through
// the console's dispatcher and the sender is told the cue state. Anything
// malformed or unknown is counted and dropped. No Qt here.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/ConsoleCommand.h"
#include "engine/TimerService.h"
#include "engine/UiPoster.h"
#include "engine/UiTimer.h"

namespace orvex::remote {

// What "/orvex/cue" tells: the current and the next cue as the console
// shows them.
struct OscCueState {
  std::string current;
  std::string next;
  bool operator==(const OscCueState&) const = default;
};

class COscServer {
 public:
  using Sink = std::function<void(const std::vector<ConsoleCommand>&)>;  // UI thread
  using StateSource = std::function<OscCueState()>;                      // UI thread

  // Construct on the UI thread; timers and poster outlive the server.
  COscServer(TimerService& timers, UiPoster& poster, Sink sink, StateSource state);
  ~COscServer();
  COscServer(const COscServer&) = delete;
  COscServer& operator=(const COscServer&) = delete;

  // Binds and starts listening; port 0 takes any free port. False with a
  // reason when the address or port cannot be had.
  bool Start(const std::string& address, int port, std::string& error);
  void Stop();
  int Port() const { return port_; }  // the bound port, 0 when stopped

  uint64_t Received() const { return received_.load(); }
  uint64_t Accepted() const { return accepted_.load(); }
  uint64_t Ignored() const { return ignored_.load(); }

 private:
  struct Peer {
    sockaddr_storage address{};
    socklen_t length = 0;
    bool operator==(const Peer& o) const;
  };
  void Serve();
  void Handle(uint8_t* data, size_t size, const Peer& from);
  void SendState(const Peer& to, const OscCueState& state);  // UI thread
  void PushIfChanged();                                      // UI thread

  UiPoster& poster_;
  Sink sink_;
  StateSource state_;
  UiTimer pushTimer_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> quit_{false};
  std::thread thread_;
  std::atomic<uint64_t> received_{0};
  std::atomic<uint64_t> accepted_{0};
  std::atomic<uint64_t> ignored_{0};
  // UI thread.
  std::vector<Peer> subscribers_;
  OscCueState pushed_;
};

}  // namespace orvex::remote
