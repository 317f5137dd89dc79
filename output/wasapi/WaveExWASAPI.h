// The program-wide exclusive-mode mixer: it owns one endpoint's ALSA
// hardware device on one output and sums the players' streams itself, each
// player through its slot (0 the continuous-play player, which is not
// mixed; 1..6 CH1..CH6). The mix runs on a writer thread of its own, paced
// by the clock and bounded by the room the device has. A refill thread moves
// each player's stream into its slot, converting a file whose rate is not
// the device's. Every start, stop, pause, restart and gain change of a slot
// is ramped per sample over one quantum (10 ms), so none of them clicks; the
// sum saturates at full scale. Without a device the slots only keep their
// values.
//
// Threads: the writer thread is an audio thread: it never locks, allocates
// or logs. Slot attach, restart, playing and gains come from the UI and
// timer threads; stopping, restarting or detaching a sounding slot waits
// (briefly) for the writer to ramp it out, and for the refill side to let
// go of its stream.
#pragma once

#include <semaphore.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "output/StreamStore.h"
#include "output/WaveFormat.h"
#include "output/asio/AsioSlot.h"
#include "output/wasapi/WasapiEndpoint.h"
#include "show/Settings.h"

struct _snd_pcm;

namespace orvex {

inline constexpr const char* kExclusiveBusy =
    "WASAPI排他モードは他のソフトが占有中のため使用出来ません";
inline constexpr const char* kExclusiveNoHardware =
    "このデバイスにはALSAのハードウェアがないため、排他モードでは使用出来ません";

class CWaveExWASAPI {
 public:
  static constexpr int kSlots = 7;

  CWaveExWASAPI();
  ~CWaveExWASAPI();
  CWaveExWASAPI(const CWaveExWASAPI&) = delete;
  CWaveExWASAPI& operator=(const CWaveExWASAPI&) = delete;

  // --- set-up (UI thread) ---
  void SetDevice(const WasapiEndpoint* endpoint, int output) {
    endpoint_ = endpoint;
    output_ = output;
  }
  // The stored FORMAT and BUFSIZE: the open may rewrite both.
  void SetFormat(StoredWaveFormat* format, int32_t* bufferMs) {
    format_ = format;
    bufferMs_ = bufferMs;
  }
  // Opens the device (the ALSA name overrides the endpoint's hardware, for
  // tests). False when it cannot be used; the reason was shown.
  bool OpenDevice(const std::string& alsaName = {});
  // Starts the writer thread.
  bool Start();
  void Close();
  bool HasClient() const { return pcm_ != nullptr; }
  int Output() const { return output_.load(); }
  uint32_t BufferFrames() const { return bufferFrames_; }
  uint32_t PeriodMs() const { return periodMs_; }
  // Would the device take this format? (the settings dialog asks)
  bool IsFormatSupported(const StoredWaveFormat& format) const;

  // --- slots (players) ---
  void AttachSlot(int n, StreamStore* stream, const WaveFormat& format);
  // The slot reads again from the start of its stream (first block, seek);
  // what it still sounded ramps out first.
  void RestartSlot(int n);
  // A start ramps in; a stop ramps out from what the slot holds, and returns
  // once the slot is silent and its stream is no longer read.
  void SetSlotPlaying(int n, bool playing);
  void DetachSlot(int n);
  void SetSlotGains(int n, int output, float left, float right);
  bool SlotPlaying(int n) const { return slots_[Index(n)].playing.load(); }
  // True while no slot waits for the refill thread (tests).
  bool RefillIdle() const;

  // Largest |sample| per side since the last read, 0..1.
  bool OutputPeak(float& left, float& right);
  // Frames the writer has handed to the device.
  uint64_t FramesWritten() const { return written_.load(); }
  // Times the device ran dry.
  uint64_t XrunCount() const { return xruns_.load(); }

 private:
  enum class Sample { kInt16, kInt32 };

  static size_t Index(int n) { return static_cast<size_t>(n < 0 ? 0 : n % kSlots); }
  bool Running() const { return writer_.joinable(); }
  // Waits until a writer pass that may still have seen a slot enabled is over.
  void AwaitPass() const;
  void RampOut(asio::AsioSlot& s);
  void Disable(asio::AsioSlot& s);
  void StopThreads();
  void WriterLoop();
  void RefillLoop();
  void Mix(uint32_t frames);

  const WasapiEndpoint* endpoint_ = nullptr;
  std::atomic<int> output_{-1};
  StoredWaveFormat* format_ = nullptr;
  int32_t* bufferMs_ = nullptr;
  bool suspended_ = false;

  _snd_pcm* pcm_ = nullptr;
  Sample sample_ = Sample::kInt16;
  uint32_t rate_ = 44100;
  uint32_t bufferFrames_ = 0;
  uint32_t periodFrames_ = 0;
  uint32_t periodMs_ = 0;
  uint32_t halfFrames_ = 0;
  uint32_t rampFrames_ = 1;
  std::vector<float> mixLeft_, mixRight_;
  std::vector<uint8_t> out_;  // what goes to the device
  std::array<asio::AsioSlot, kSlots> slots_;

  std::thread writer_;
  std::thread refill_;
  sem_t wake_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> cycle_{0};  // odd while a writer pass runs
  std::atomic<uint64_t> written_{0};
  std::atomic<uint64_t> xruns_{0};
  std::atomic<float> peakLeft_{0};
  std::atomic<float> peakRight_{0};
};

}  // namespace orvex
