// The program-wide exclusive-mode mixer: it owns one endpoint's ALSA
// hardware device on one output and sums the players' streams itself, each
// player through its slot (0 the continuous-play player, which is not
// mixed; 1..6 CH1..CH6). The mix runs on a writer thread of its own, paced
// by the clock and bounded by the room the device has. Without a device the
// slots only keep their values.
//
// Threads: the writer thread is an audio thread: it never locks, allocates
// or logs. Slot attach, restart, playing and gains come from the UI and
// timer threads; a player that lets go of its stream waits for a pass in
// progress to finish first.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "output/StreamStore.h"
#include "output/WaveFormat.h"
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

  CWaveExWASAPI() = default;
  ~CWaveExWASAPI() { Close(); }
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
  int Output() const { return output_; }
  uint32_t BufferFrames() const { return bufferFrames_; }
  uint32_t PeriodMs() const { return periodMs_; }
  // Would the device take this format? (the settings dialog asks)
  bool IsFormatSupported(const StoredWaveFormat& format) const;

  // --- slots (players) ---
  void AttachSlot(int n, StreamStore* stream, const WaveFormat& format);
  // The slot reads again from the start of its stream (first block, seek).
  void RestartSlot(int n);
  // Stopping waits until a pass in progress no longer reads the stream.
  void SetSlotPlaying(int n, bool playing);
  void DetachSlot(int n);
  void SetSlotGains(int n, int output, float left, float right);
  bool SlotPlaying(int n) const { return slots_[Index(n)].playing.load(); }

  // Largest |sample| per side since the last read, 0..1.
  bool OutputPeak(float& left, float& right);
  // Frames the writer has handed to the device.
  uint64_t FramesWritten() const { return written_.load(); }

 private:
  struct Slot {
    std::atomic<bool> attached{false};
    std::atomic<bool> playing{false};
    std::atomic<bool> restart{false};
    std::atomic<float> left{0};
    std::atomic<float> right{0};
    StreamStore* stream = nullptr;  // written only while not attached
    WaveFormat format;
    int reader = -1;
    uint64_t readPos = 0;  // the writer's own
    bool lost = false;     // the writer's own: the store took the slot's place
  };
  enum class Sample { kInt16, kInt32, kFloat32 };

  static size_t Index(int n) { return static_cast<size_t>(n < 0 ? 0 : n % kSlots); }
  void WaitForPass() const;
  void WriterLoop();
  void Mix(uint32_t frames);
  void MixSlot(Slot& s, uint32_t frames);

  const WasapiEndpoint* endpoint_ = nullptr;
  int output_ = -1;
  StoredWaveFormat* format_ = nullptr;
  int32_t* bufferMs_ = nullptr;
  bool suspended_ = false;

  _snd_pcm* pcm_ = nullptr;
  Sample sample_ = Sample::kInt16;
  uint32_t rate_ = 44100;
  uint32_t bufferFrames_ = 0;
  uint32_t periodFrames_ = 0;
  uint32_t periodMs_ = 0;
  std::vector<int64_t> mix_;  // left, right per frame
  std::vector<uint8_t> out_;  // what goes to the device
  std::array<Slot, kSlots> slots_;

  std::thread writer_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> busy_{false};
  std::atomic<uint64_t> written_{0};
  std::atomic<float> peakLeft_{0};
  std::atomic<float> peakRight_{0};
};

}  // namespace orvex
