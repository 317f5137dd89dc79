// RtMidi on the ALSA sequencer; JACK MIDI through libjack itself. RtMidi's
// JACK input unregisters its port when it closes, which crashes inside
// libjack once the server has gone, and it allocates on the server's
// real-time thread; our own client only reads the events and, when the
// server has gone, is just closed. A client of our own watches the JACK
// server for ports that come and go; it stays open while the server runs, so
// the watch adds no client churn to a running show's graph.
//
// libjack keeps one set of server mappings per process. A client open that
// fails while a client of a server that died is still open tears that set
// down, and closing the dead client then crashes; a client opened while one
// is still open uses the dead server's mappings. So whether a server runs is
// judged by its socket file (a client is opened only on a socket not yet
// tried, so a stale file costs one try; connecting to the socket to see
// would leave the server a half-open client it dies of at its own exit),
// and after a server is lost nothing is opened on JACK until every client of
// ours has been closed.
#include <RtMidi.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "midi/MidiPorts.h"

namespace orvex::midi {
namespace {

constexpr const char* kClientName = "Orvex MIDI";

void QuietRtMidiError(RtMidiError::Type, const std::string&, void*) {}

// Where the default server listens. A server that has stopped in order
// removes it; one that was killed leaves it behind.
std::string JackServerSocket() {
  const char* name = std::getenv("JACK_DEFAULT_SERVER");
  return "/dev/shm/jack_" + std::string(name && *name ? name : "default") + "_" +
         std::to_string(getuid()) + "_0";
}

class RtMidiInputPort final : public MidiInputPort {
 public:
  RtMidiInputPort(MidiReceive receive, void* user) : receive_(receive), user_(user) {}
  void Attach(std::unique_ptr<RtMidiIn> in) { in_ = std::move(in); }
  ~RtMidiInputPort() override {
    // Closing the client waits for its input thread; nothing runs after.
    in_.reset();
  }
  static void OnMessage(double, std::vector<unsigned char>* message, void* self) {
    auto* port = static_cast<RtMidiInputPort*>(self);
    if (message && !message->empty()) port->receive_(message->data(), message->size(), port->user_);
  }

 private:
  std::unique_ptr<RtMidiIn> in_;
  MidiReceive receive_;
  void* user_;
};

// One JACK client with one MIDI input port, connected to the source.
class JackMidiInput final : public MidiInputPort {
 public:
  JackMidiInput(MidiReceive receive, void* user, std::atomic<int>& live)
      : receive_(receive), user_(user), live_(live) {
    live_.fetch_add(1);
  }
  ~JackMidiInput() override {
    // Closing deactivates first: no process callback runs after it. Ports
    // go with the client, also when the server is no longer there.
    if (client_) jack_client_close(client_);
    live_.fetch_sub(1);
  }

  bool Open(const std::string& source, std::string& error) {
    jack_status_t status{};
    client_ = jack_client_open(kClientName, JackNoStartServer, &status);
    if (!client_) {
      error = "no JACK server is running";
      return false;
    }
    jack_on_shutdown(
        client_, [](void* self) { static_cast<JackMidiInput*>(self)->gone_.store(true); }, this);
    port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!port_ || jack_set_process_callback(client_, &JackMidiInput::Process, this) != 0 ||
        jack_activate(client_) != 0) {
      error = "the JACK client does not start";
      return false;
    }
    const int rc = jack_connect(client_, source.c_str(), jack_port_name(port_));
    if (rc != 0 && rc != EEXIST) {
      error = "the port does not connect";
      return false;
    }
    return true;
  }

 private:
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackMidiInput*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) == 0 && event.size > 0)
        self->receive_(event.buffer, event.size, self->user_);
    }
    return 0;
  }

  MidiReceive receive_;
  void* user_;
  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  std::atomic<bool> gone_{false};
  std::atomic<int>& live_;
};

class RtMidiPorts final : public MidiPortSystem {
 public:
  ~RtMidiPorts() override {
    std::lock_guard lock(mutex_);
    CloseWatch();
  }

  void KeepWatching(bool on) override {
    std::lock_guard lock(mutex_);
    keep_ = on;
    if (!on) CloseWatch();
  }

  std::vector<MidiPortInfo> ListInputPorts() override {
    std::lock_guard lock(mutex_);
    std::vector<MidiPortInfo> ports;
    if (AlsaLister()) {
      const unsigned n = alsa_->getPortCount();
      for (unsigned i = 0; i < n; ++i) {
        const std::string name = alsa_->getPortName(i);
        if (!name.empty())
          ports.push_back({MidiApi::kAlsa, name, CapsOfPort(MidiApi::kAlsa, name)});
      }
    }
    if (JackWatch()) {
      if (const char** names =
              jack_get_ports(watch_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
        for (const char** p = names; *p; ++p)
          ports.push_back({MidiApi::kJack, *p, CapsOfPort(MidiApi::kJack, *p)});
        jack_free(names);
      }
      // A client left open on a server nobody watches could outlive it.
      if (!keep_ && liveInputs_.load() == 0) CloseWatch();
    }
    return ports;
  }

  std::unique_ptr<MidiInputPort> OpenInput(const MidiPortInfo& port, MidiReceive receive,
                                           void* user, std::string& error) override {
    if (port.api == MidiApi::kJack) {
      std::lock_guard lock(mutex_);
      // Only while the watch knows the server to be there.
      if (!JackWatch()) {
        error = "no JACK server is running";
        return nullptr;
      }
      auto input = std::make_unique<JackMidiInput>(receive, user, liveInputs_);
      if (!input->Open(port.systemName, error)) return nullptr;
      return input;
    }
    try {
      auto in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
      in->setErrorCallback(&QuietRtMidiError);
      // Numbers are only good for this client's own listing: find the name.
      const unsigned n = in->getPortCount();
      unsigned index = n;
      for (unsigned i = 0; i < n && index == n; ++i)
        if (in->getPortName(i) == port.systemName) index = i;
      if (index == n) {
        error = "the port is gone";
        return nullptr;
      }
      in->ignoreTypes(true, true, true);
      auto opened = std::make_unique<RtMidiInputPort>(receive, user);
      in->setCallback(&RtMidiInputPort::OnMessage, opened.get());
      in->openPort(index, "in");
      if (!in->isPortOpen()) {
        error = "the port does not open";
        return nullptr;
      }
      opened->Attach(std::move(in));
      return opened;
    } catch (const RtMidiError& e) {
      error = e.getMessage();
      return nullptr;
    }
  }

  void SetChangeNotifier(std::function<void()> notify) override {
    std::lock_guard lock(mutex_);
    notify_ = std::move(notify);
  }

 private:
  // Kept while it works; a machine without the sequencer is not asked again.
  RtMidiIn* AlsaLister() {
    if (alsa_) return alsa_.get();
    if (noAlsa_) return nullptr;
    if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
      noAlsa_ = true;
      return nullptr;
    }
    try {
      alsa_ = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kClientName);
      alsa_->setErrorCallback(&QuietRtMidiError);
    } catch (const RtMidiError&) {
      noAlsa_ = true;
    }
    return alsa_.get();
  }

  jack_client_t* JackWatch() {
    if (watch_ && gone_.load()) {
      CloseWatch();
      lost_ = true;
      lostAt_ = std::chrono::steady_clock::now();
    }
    if (watch_) return watch_;
    // The inputs of a lost server close when the UI thread hears that their
    // ports are gone, which this listing without JACK ports tells it. A
    // server that is still shutting down is left alone meanwhile: one that
    // is called on its socket then may end without leaving the machine's
    // server registry, and enough such entries keep any server from starting.
    if (lost_ && (liveInputs_.load() > 0 ||
                  std::chrono::steady_clock::now() - lostAt_ < std::chrono::seconds(3)))
      return nullptr;
    lost_ = false;
    struct stat socket {};
    if (stat(JackServerSocket().c_str(), &socket) != 0 || !S_ISSOCK(socket.st_mode)) return nullptr;
    const auto tried = std::pair{socket.st_ino, socket.st_mtim.tv_nsec + socket.st_mtim.tv_sec};
    if (tried == triedSocket_) return nullptr;
    jack_status_t status{};
    watch_ = jack_client_open("Orvex MIDI watch", JackNoStartServer, &status);
    if (!watch_) {
      triedSocket_ = tried;
      return nullptr;
    }
    triedSocket_ = {};
    gone_.store(false);
    jack_on_shutdown(
        watch_, [](void* self) { static_cast<RtMidiPorts*>(self)->gone_.store(true); }, this);
    jack_set_port_registration_callback(
        watch_,
        [](jack_port_id_t, int, void* self) {
          auto* ports = static_cast<RtMidiPorts*>(self);
          ports->changes_.fetch_add(1);
          if (ports->notifyCopy_) ports->notifyCopy_();
        },
        this);
    notifyCopy_ = notify_;
    if (jack_activate(watch_) != 0) CloseWatch();
    return watch_;
  }

  void CloseWatch() {
    if (!watch_) return;
    jack_client_close(watch_);
    watch_ = nullptr;
  }

  std::mutex mutex_;
  std::unique_ptr<RtMidiIn> alsa_;
  bool noAlsa_ = false;
  jack_client_t* watch_ = nullptr;
  std::atomic<bool> gone_{false};
  bool keep_ = false;
  bool lost_ = false;
  std::pair<ino_t, long> triedSocket_{};  // the socket file a client open failed on
  std::chrono::steady_clock::time_point lostAt_;
  std::atomic<int> liveInputs_{0};
  std::atomic<int> changes_{0};
  std::function<void()> notify_;
  // What the watch client's thread calls; replaced only while no client runs.
  std::function<void()> notifyCopy_;
};

}  // namespace

std::unique_ptr<MidiPortSystem> MakeSystemMidiPorts() {
  return std::make_unique<RtMidiPorts>();
}

}  // namespace orvex::midi
