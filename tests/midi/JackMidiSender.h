// A JACK client of the test with one MIDI output port: what is queued is
// sent at the start of the next cycle, as a controller's bytes arrive.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

class JackMidiSender {
 public:
  JackMidiSender(const std::string& server, const std::string& client, const std::string& port)
      : portName_(port) {
    ring_ = jack_ringbuffer_create(1 << 14);
    jack_status_t status{};
    client_ = jack_client_open(
        client.c_str(),
        static_cast<jack_options_t>(JackNoStartServer | JackServerName | JackUseExactName), &status,
        server.c_str());
    if (!client_) return;
    Register();
    jack_set_process_callback(client_, &JackMidiSender::Process, this);
    jack_activate(client_);
  }
  ~JackMidiSender() {
    if (client_) jack_client_close(client_);
    jack_ringbuffer_free(ring_);
  }
  bool Ok() const { return client_ && port_.load(); }
  std::string FullName() const { return client_ ? jack_port_name(port_.load()) : ""; }

  // The port goes away and comes back, as a controller unplugged and
  // plugged in again.
  void Unregister() {
    jack_port_t* p = port_.exchange(nullptr);
    if (p) jack_port_unregister(client_, p);
  }
  void Register() {
    port_.store(jack_port_register(client_, portName_.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                   JackPortIsOutput, 0));
  }
  // Orvex's input is connected to the port.
  bool Connected() const {
    jack_port_t* p = port_.load();
    return p && jack_port_connected(p) > 0;
  }
  bool WaitConnected(bool connected = true, double seconds = 5) const {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    while (Connected() != connected) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  void Send(std::vector<uint8_t> bytes) {
    // One write, so the process thread never sees half a message.
    bytes.insert(bytes.begin(), static_cast<uint8_t>(bytes.size()));
    jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }

 private:
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackMidiSender*>(arg);
    jack_port_t* port = self->port_.load();
    if (!port) return 0;
    void* buffer = jack_port_get_buffer(port, frames);
    jack_midi_clear_buffer(buffer);
    uint8_t size = 0;
    uint8_t bytes[256];
    jack_nframes_t at = 0;
    while (jack_ringbuffer_read_space(self->ring_) > 0 &&
           jack_ringbuffer_read(self->ring_, reinterpret_cast<char*>(&size), 1) == 1) {
      jack_ringbuffer_read(self->ring_, reinterpret_cast<char*>(bytes), size);
      jack_midi_event_write(buffer, at < frames ? at++ : frames - 1, bytes, size);
    }
    return 0;
  }

  std::string portName_;
  jack_client_t* client_ = nullptr;
  std::atomic<jack_port_t*> port_{nullptr};
  jack_ringbuffer_t* ring_ = nullptr;
};

}  // namespace orvex::test
