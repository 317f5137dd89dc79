// RtMidi on the ALSA sequencer and JACK MIDI. A client of our own watches the
// JACK server for ports that come and go; it stays open while the server
// runs, so the watch adds no client churn to a running show's graph.
#include <RtMidi.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "midi/MidiPorts.h"
#include "output/jack/JackDevice.h"

namespace orvex::midi {
namespace {

constexpr const char* kClientName = "Orvex MIDI";

void QuietRtMidiError(RtMidiError::Type, const std::string&, void*) {}

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

class RtMidiPorts final : public MidiPortSystem {
 public:
  ~RtMidiPorts() override {
    std::lock_guard lock(mutex_);
    CloseWatch();
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
    }
    return ports;
  }

  std::unique_ptr<MidiInputPort> OpenInput(const MidiPortInfo& port, MidiReceive receive,
                                           void* user, std::string& error) override {
    const RtMidi::Api api = port.api == MidiApi::kAlsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
    if (port.api == MidiApi::kJack && !jack::JackDevice::ServerRunning("")) {
      error = "no JACK server is running";
      return nullptr;
    }
    try {
      auto in = std::make_unique<RtMidiIn>(api, kClientName);
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
    if (watch_ && gone_.load()) CloseWatch();
    if (watch_) return watch_;
    if (!jack::JackDevice::ServerRunning("")) return nullptr;
    jack_status_t status{};
    watch_ = jack_client_open("Orvex MIDI watch", JackNoStartServer, &status);
    if (!watch_) return nullptr;
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
