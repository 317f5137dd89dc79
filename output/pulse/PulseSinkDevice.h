// A voice engine's device on a sound-server sink: one float32 stereo
// playback stream at the sink's rate with about 20 ms of latency; the
// server thread asks for frames and the engine renders them in place.
// It also keeps the peaks of what it played, for the level meter.
#pragma once

#include <atomic>
#include <string>

#include "output/PeakSource.h"
#include "output/pulse/PulseServer.h"
#include "output/xaudio/VoiceEngine.h"

struct pa_stream;

namespace orvex::pulse {

class PulseSinkDevice final : public xaudio::AudioDevice, public PeakSource {
 public:
  static constexpr uint32_t kLatencyMs = 20;

  PulseSinkDevice(PulseServer& server, SinkInfo sink);
  ~PulseSinkDevice() override;
  PulseSinkDevice(const PulseSinkDevice&) = delete;
  PulseSinkDevice& operator=(const PulseSinkDevice&) = delete;

  std::string Id() const override { return sink_.name; }
  std::string Name() const override { return sink_.description; }
  uint32_t Channels() const override { return 2; }
  uint32_t Rate() const override { return sink_.rate ? sink_.rate : 48000; }
  bool Open(xaudio::RenderCallback* callback) override;
  void Close() override;

  // The largest |sample| per side since the last read.
  bool ReadPeaks(float& left, float& right) override;
  // The server's error code of the last failed open (0: none).
  int LastError() const { return lastError_; }
  // False once the server dropped the stream.
  bool Healthy() const { return !failed_.load(); }

 private:
  static void OnWrite(pa_stream* s, size_t nbytes, void* user);
  static void OnState(pa_stream* s, void* user);

  PulseServer& server_;
  const SinkInfo sink_;
  pa_stream* stream_ = nullptr;  // under the server lock
  xaudio::RenderCallback* callback_ = nullptr;
  int lastError_ = 0;
  std::atomic<bool> failed_{false};
  std::atomic<bool> open_{false};
  std::atomic<float> peakLeft_{0};
  std::atomic<float> peakRight_{0};
};

}  // namespace orvex::pulse
