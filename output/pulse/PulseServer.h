// The connection to the sound server (its Pulse protocol, which PipeWire
// serves too): the sink list, suspending a sink for exclusive use, and the
// thread on which every stream of the program runs its callbacks.
//
// Threads: the server's callbacks run on its own thread with its lock held;
// that thread is an audio thread. Any other thread that touches a stream
// takes the lock (Lock) for the call; no audio thread waits for it long.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;

namespace orvex::pulse {

class PulsePlayStream;

struct SinkInfo {
  std::string name;         // the sink's name: the device identifier
  std::string description;  // what the operator sees
  uint32_t rate = 0;
  uint32_t channels = 0;
  // The ALSA hardware behind the sink (alsa.card, alsa.device), -1 if none.
  int alsaCard = -1;
  int alsaDevice = -1;
};

class PulseServer {
 public:
  PulseServer();
  ~PulseServer();
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  // Connects to the running server; never starts one. False when no server
  // answers (there are then no sinks).
  bool Connect(const std::string& clientName);
  void Disconnect();
  bool IsConnected() const { return connected_.load() && !lost_.load(); }
  // Set once the connection broke after it was made.
  bool IsLost() const { return lost_.load(); }

  // Sinks in the server's order; empty without a connection.
  std::vector<SinkInfo> ListSinks();
  // Asks the server to let go of (or take back) the sink's hardware. While
  // this process holds a sink suspended, the suspend record says so.
  bool SuspendSink(const std::string& name, bool suspend);
  // Takes back the sinks that earlier runs suspended and never gave back
  // (killed, crashed); returns their names. Sinks of runs still alive stay.
  std::vector<std::string> GiveBackOrphanedSinks();
  // Where suspensions are recorded (tests give a file of their own).
  void SetSuspendRecordPath(std::string path) { recordPath_ = std::move(path); }

  // Closes a stream once `after` has passed, on a thread of its own: a
  // stream that was just given its fade-out closes once the server has
  // played it, and the caller waits for neither. Disconnect closes what is
  // still waiting.
  void CloseLater(std::unique_ptr<PulsePlayStream> stream, std::chrono::milliseconds after);

  // Runs on the server thread, once, when a made connection breaks. It must
  // only hand the news on (post it), never block.
  void SetLostHandler(std::function<void()> handler) { onLost_ = std::move(handler); }
  // Runs on the server thread when a sink listed before goes away (its
  // module unloaded, its card unplugged), with the sink's name. Streams on
  // it end then rather than move to another device. Post, never block.
  void SetSinkGoneHandler(std::function<void(const std::string&)> handler) {
    onSinkGone_ = std::move(handler);
  }

  pa_threaded_mainloop* Mainloop() const { return mainloop_; }
  pa_context* Context() const { return context_; }

  // Holds the server thread's lock (nothing when not connected).
  class Lock {
   public:
    explicit Lock(const PulseServer& server);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* mainloop_;
  };

 private:
  static void OnContextState(pa_context* c, void* user);
  static void OnEvent(int type, uint32_t index, void* user);
  void CloseLoop();
  bool SuspendSinkNow(const std::string& name, bool suspend);
  void CloseEverythingWaiting();

  using Clock = std::chrono::steady_clock;
  std::mutex closeMutex_;
  std::condition_variable closeWake_;
  std::vector<std::pair<Clock::time_point, std::unique_ptr<PulsePlayStream>>> closing_;
  std::thread closer_;
  bool closerQuit_ = false;

  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  std::atomic<bool> connected_{false};
  // The server's address as connected, which names it in the record.
  std::string serverName_;
  std::string recordPath_;
  std::atomic<bool> lost_{false};
  std::function<void()> onLost_;
  std::function<void(const std::string&)> onSinkGone_;
  // Names of the sinks listed, by server index; under the server's lock.
  std::map<uint32_t, std::string> sinkNames_;
};

}  // namespace orvex::pulse
