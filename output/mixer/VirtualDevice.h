// An output device on virtual time: nothing plays; frames are rendered when
// the owner pulls them and can be kept in memory or written to a WAV file.
// A real-time mode pulls on its own thread at the device rate, for tests that
// need a live audio thread.
//
// Threads: Pull, capture and WAV calls come from one owner thread, never
// while the real-time thread runs. Open and Close may come from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "output/mixer/VoiceEngine.h"

namespace orvex::mixer {

class VirtualDevice : public AudioDevice {
 public:
  VirtualDevice(std::string id, std::string name, uint32_t channels, uint32_t rate);
  ~VirtualDevice() override;
  VirtualDevice(const VirtualDevice&) = delete;
  VirtualDevice& operator=(const VirtualDevice&) = delete;

  std::string Id() const override { return id_; }
  std::string Name() const override { return name_; }
  uint32_t Channels() const override { return channels_; }
  uint32_t Rate() const override { return rate_; }
  // False when a callback is already attached.
  bool Open(RenderCallback* callback) override;
  void Close() override;
  bool IsOpen() const { return callback_.load() != nullptr; }
  // Only the real-time thread pulls without being asked.
  bool PullsByItself() const override { return rtRunning_.load(); }

  // Renders `frames` frames on the calling thread (silence when not open).
  void Pull(uint32_t frames);

  void SetCapture(bool on) { capture_ = on; }
  const std::vector<float>& Captured() const { return captured_; }
  void ClearCapture() { captured_.clear(); }

  // 32-bit float WAV; the first frame pulled afterwards is the file's first.
  bool StartWavFile(const std::string& path);
  // Fixes the header sizes and closes the file. False on a write error.
  bool FinishWavFile();

  // Pulls framesPerPull frames every framesPerPull/rate seconds until
  // stopped. False when already running or framesPerPull is 0.
  bool StartRealtimeThread(uint32_t framesPerPull);
  void StopRealtimeThread();
  // What the real-time thread rendered: frames and the largest |sample|.
  uint64_t RealtimeFramesPulled() const { return rtFrames_.load(std::memory_order_acquire); }
  float RealtimePeak() const { return rtPeak_.load(std::memory_order_acquire); }

 private:
  void RenderInto(float* out, uint32_t frames);
  void RealtimeLoop(uint32_t framesPerPull);

  const std::string id_;
  const std::string name_;
  const uint32_t channels_;
  const uint32_t rate_;

  std::atomic<RenderCallback*> callback_{nullptr};
  std::atomic<uint32_t> rendering_{0};  // Pull calls inside the callback

  std::vector<float> pullBuffer_;
  bool capture_ = false;
  std::vector<float> captured_;
  std::FILE* wav_ = nullptr;
  // The file's buffer: the C library takes a size only with a buffer given.
  std::unique_ptr<char[]> wavBuffer_;
  uint64_t wavDataBytes_ = 0;
  bool wavOk_ = true;

  std::thread rtThread_;
  std::atomic<bool> rtStop_{false};
  std::atomic<bool> rtRunning_{false};
  std::vector<float> rtBuffer_;  // sized before the thread starts
  std::atomic<uint64_t> rtFrames_{0};
  std::atomic<float> rtPeak_{0.0f};
};

}  // namespace orvex::mixer
