// A voice engine's device on a sound-server sink: one float32 stereo
// playback stream at the sink's rate with about 20 ms of latency; the
// server thread asks for frames and the engine renders them in place. The
// stream has a connection of its own, so its render never waits for the
// lock that the shared-mode streams and the UI's round trips take.
#pragma once

#include <atomic>
#include <string>

#include "output/mixer/VoiceEngine.h"
#include "output/pulse/PulseServer.h"

struct pa_stream;

namespace orvex::pulse {

class PulseSinkDevice final : public mixer::AudioDevice {
 public:
  // What the server holds ahead of the ear: 20 ms dropped out under load
  // more often than a plain client does; 30 ms holds (bench/dropouts.sh).
  static constexpr uint32_t kLatencyMs = 40;

  // server: the program's connection, which says whether the server is up.
  PulseSinkDevice(PulseServer& server, SinkInfo sink);
  ~PulseSinkDevice() override;
  PulseSinkDevice(const PulseSinkDevice&) = delete;
  PulseSinkDevice& operator=(const PulseSinkDevice&) = delete;

  std::string Id() const override { return sink_.name; }
  std::string Name() const override { return sink_.description; }
  uint32_t Channels() const override { return 2; }
  uint32_t Rate() const override { return sink_.rate ? sink_.rate : 48000; }
  bool Open(mixer::RenderCallback* callback) override;
  void Close() override;
  // What the stream holds ahead of the sink.
  uint32_t PlayOutFrames() const override { return Rate() * kLatencyMs / 1000; }
  bool PullsByItself() const override { return stream_ && Healthy() && own_.IsConnected(); }

  // After the server came back: a new connection and stream for the engine
  // that rendered into the old one, which goes on without knowing. Its
  // voices are told they fell behind, so they come back at their players'
  // clocks instead of playing what they held when the server went.
  bool Reopen();
  // The stream or its connection broke (the server went away).
  bool Lost() const { return engine_ && (!stream_ || !Healthy() || own_.IsLost()); }

  // The server's error code of the last failed open (0: none).
  int LastError() const { return lastError_; }
  // False once the server dropped the stream.
  bool Healthy() const { return !failed_.load(); }

 private:
  static void OnWrite(pa_stream* s, size_t nbytes, void* user);
  static void OnState(pa_stream* s, void* user);
  // Closes the stream; the engine stays for a reopen.
  void CloseStream();

  PulseServer& server_;
  PulseServer own_;  // this stream's connection
  const SinkInfo sink_;
  pa_stream* stream_ = nullptr;  // under the server lock
  mixer::RenderCallback* callback_ = nullptr;
  // The engine the device was opened for, until it closes it.
  mixer::RenderCallback* engine_ = nullptr;
  int lastError_ = 0;
  std::atomic<bool> failed_{false};
  bool realTimeAsked_ = false;  // the connection's thread only
};

}  // namespace orvex::pulse
