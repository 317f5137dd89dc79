// The program-wide exclusive-mode device: it owns one endpoint's ALSA
// hardware device on one output. A writer thread of its own pulls the
// output's mix from the voice engine attached to EngineDevice(), converts it
// to the stored 16- or 32-bit format (saturating at full scale) and hands it
// to the card, paced by the card's clock or, for a device that takes
// everything at once, by ours.
//
// Threads: the writer thread is an audio thread: it never locks, allocates
// or logs. Everything else runs on the UI thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "output/WaveFormat.h"
#include "output/mixer/RenderPort.h"
#include "output/pulse/WasapiEndpoint.h"

struct _snd_pcm;

namespace orvex {

inline constexpr const char* kExclusiveBusy =
    "WASAPI排他モードは他のソフトが占有中のため使用出来ません";
inline constexpr const char* kExclusiveNoHardware =
    "このデバイスにはALSAのハードウェアがないため、排他モードでは使用出来ません";

class CWaveExWASAPI {
 public:
  // What a device that refuses the stored format plays, and what a first
  // run stores: 16-bit 44100 Hz stereo PCM.
  static WaveFormat FallbackFormat();

  CWaveExWASAPI();
  ~CWaveExWASAPI();
  CWaveExWASAPI(const CWaveExWASAPI&) = delete;
  CWaveExWASAPI& operator=(const CWaveExWASAPI&) = delete;

  // --- set-up (UI thread) ---
  void SetDevice(const WasapiEndpoint* endpoint, int output) {
    endpoint_ = endpoint;
    output_ = output;
  }
  // The stored format and buffer length: the open may rewrite both.
  void SetFormat(WaveFormat* format, int32_t* bufferMs) {
    format_ = format;
    bufferMs_ = bufferMs;
  }
  // Where the operator's messages go (standard error until set).
  void SetReporter(std::function<void(const std::string&)> report) { report_ = std::move(report); }
  // Opens the device (the ALSA name overrides the endpoint's hardware, for
  // tests). False when it cannot be used; the reason was reported.
  bool OpenDevice(const std::string& alsaName = {});
  // Starts the writer thread.
  bool Start();
  void Close();
  bool HasClient() const { return pcm_ != nullptr; }
  int Output() const { return output_.load(); }
  uint32_t BufferFrames() const { return bufferFrames_; }
  uint32_t PeriodMs() const { return periodMs_; }
  // Would the device take this format? (the settings dialog asks)
  bool IsFormatSupported(const WaveFormat& format) const;

  // The device the output's voice engine renders into, from OpenDevice on.
  mixer::AudioDevice& EngineDevice() { return port_; }

  // Frames the writer has handed to the device.
  uint64_t FramesWritten() const { return written_.load(); }
  // Times the device ran dry.
  uint64_t XrunCount() const { return xruns_.load(); }

 private:
  enum class Sample { kInt16, kInt32 };

  void Report(const std::string& text) const;
  bool Running() const { return writer_.joinable(); }
  void WriterLoop();
  void Mix(uint32_t frames);

  const WasapiEndpoint* endpoint_ = nullptr;
  std::atomic<int> output_{-1};
  std::function<void(const std::string&)> report_;
  WaveFormat* format_ = nullptr;
  int32_t* bufferMs_ = nullptr;
  bool suspended_ = false;

  _snd_pcm* pcm_ = nullptr;
  Sample sample_ = Sample::kInt16;
  uint32_t rate_ = 44100;
  uint32_t bufferFrames_ = 0;
  uint32_t periodFrames_ = 0;
  uint32_t periodMs_ = 0;
  std::vector<float> mix_;    // interleaved stereo, bufferFrames_
  std::vector<uint8_t> out_;  // what goes to the device
  mixer::RenderPort port_;

  std::thread writer_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> written_{0};
  std::atomic<uint64_t> xruns_{0};
};

}  // namespace orvex
