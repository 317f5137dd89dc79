// The engine's source voice. Control threads set atomics and feed a
// single-producer/single-consumer buffer queue; the audio side (MixInto)
// reads them without locks and owns all decoding and resampling state.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "output/GainRamp.h"
#include "output/mixer/RenderGate.h"
#include "output/mixer/SampleConvert.h"
#include "output/mixer/StreamResampler.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex::mixer {

// The engine renders in blocks of at most this many frames, so every
// per-voice scratch buffer has a fixed size.
inline constexpr uint32_t kMaxBlockFrames = 1024;
inline constexpr uint32_t kVoiceQueueCapacity = 64;

class SourceVoiceImpl final : public SourceVoice {
 public:
  // `resampler` is null when the source already runs at the device rate.
  SourceVoiceImpl(const WaveFormat& format, float maxFrequencyRatio, uint32_t deviceRate,
                  uint32_t quantumFrames, std::unique_ptr<StreamResampler> resampler,
                  RenderGate& gate);
  ~SourceVoiceImpl() override;

  bool SubmitSourceBuffer(const uint8_t* data, uint32_t bytes) override;
  // Fades in over one quantum from where the voice stopped.
  void Start() override;
  // Fades out over one quantum, then stops consuming.
  void Stop() override;
  // Drops every queued buffer at once, the playing one too even while the
  // voice runs. What was sounding fades out over one quantum from the voice's
  // own read-ahead, so the buffers are the caller's again when this returns.
  // The converter starts afresh, so no old sound leaks into what comes next.
  void FlushSourceBuffers() override;
  VoiceState GetState() const override;
  void SetVolume(float volume) override;
  bool SetChannelVolumes(uint32_t count, const float* volumes) override;
  // The effect sees the voice's stereo frames at the device rate:
  // Prepare(2, deviceRate).
  void SetEffectChain(Effect* effect) override;
  const WaveFormat& Format() const override { return format_; }
  float MaxFrequencyRatio() const override { return maxFrequencyRatio_; }

  // The engine's side of DestroyVoice: lets go of the caller's buffers and
  // effect at once and fades out what is sounding. Retired() turns true once
  // the audio side has nothing left to play. False when it is silent
  // already, so the voice can go at once.
  bool Retire();
  bool Retired() const { return retired_.load(std::memory_order_acquire); }

  // Audio side: adds n <= kMaxBlockFrames stereo frames into mix.
  void MixInto(float* mix, uint32_t n);

 private:
  struct QueuedBuffer {
    const uint8_t* data = nullptr;
    uint32_t frames = 0;
  };

  // Audio side helpers.
  uint32_t ReadQueue(float* dst, uint32_t frames);
  // Up to n frames at the device rate into dst; fewer when the queue is dry.
  uint32_t Produce(float* dst, uint32_t n);
  uint32_t ProduceResampled(float* dst, uint32_t n);
  bool RefillStage(uint32_t outFramesWanted);
  // Keeps `frames` frames decoded ahead, as far as the queue allows.
  void FillLookahead(uint32_t frames);
  // Moves up to n frames out of the read-ahead into dst, ramping the fade
  // envelope up (sounding) or down per frame; a fade-out ends early once
  // silent. Returns the frames taken.
  uint32_t TakeLookahead(float* dst, uint32_t n, bool sounding);
  void PublishPlayed();
  void ApplyFlush(uint64_t seq);
  // A flush while sounding: the rest of the fade-out moves to the tail, so
  // what comes next fades in at once while the old sound fades out under it.
  void MoveFadeToTail();
  void MixTail(float* dst, uint32_t n);
  void ApplyGains(const float* src, float* dst, uint32_t n, bool accumulate);
  // Frees a converter the audio side has handed back (control side).
  void DropRetiredConverter();
  void PublishFlush();

  const WaveFormat format_;
  const float maxFrequencyRatio_;
  const uint32_t deviceRate_;
  const uint32_t quantum_;
  const uint32_t outChannels_;  // 1 for mono sources, else 2
  const DecodeFn decode_;
  const DownmixFn downmix_;  // sources of more than two channels
  const StereoMatrix matrix_;
  const bool converts_;
  RenderGate& gate_;

  // Control-side state.
  std::mutex controlMutex_;

  // Shared state.
  std::array<QueuedBuffer, kVoiceQueueCapacity> queue_{};
  std::atomic<uint64_t> writeIndex_{0};  // producer-owned
  std::atomic<uint64_t> readIndex_{0};   // consumer-owned; counts finished buffers
  // Buffers below flushIndex_ are dropped; the audio side catches up with a
  // flush once flushSeq_ differs from the last one it applied.
  std::atomic<uint64_t> flushIndex_{0};
  std::atomic<uint64_t> flushSeq_{0};
  std::atomic<uint64_t> samplesPlayed_{0};
  std::atomic<bool> running_{false};
  std::atomic<bool> retiring_{false};
  std::atomic<bool> retired_{false};
  std::atomic<bool> sounding_{false};  // the last pass ended above silence
  std::atomic<float> volume_{1.0f};
  std::array<std::atomic<float>, 2> channelVolumes_{1.0f, 1.0f};
  std::atomic<Effect*> effect_{nullptr};
  // The converter has been fed since it was new (audio side sets it).
  std::atomic<bool> converterFed_{false};
  // A fresh converter for the next flush, and the old one handed back.
  std::atomic<StreamResampler*> spareConverter_{nullptr};
  std::atomic<StreamResampler*> oldConverter_{nullptr};

  // Audio-side state.
  uint64_t seenFlushSeq_ = 0;
  bool headValid_ = false;
  QueuedBuffer head_{};
  uint32_t headPos_ = 0;
  uint64_t played_ = 0;
  bool rendered_ = false;
  uint32_t fadePos_ = 0;  // transport fade: 0 silent .. quantum_ full
  GainRamp rampL_, rampR_;
  std::unique_ptr<StreamResampler> resampler_;
  std::vector<float> stage_;  // decoded input waiting for the resampler
  uint32_t stagePos_ = 0;
  uint32_t stageFrames_ = 0;
  uint32_t silenceFed_ = 0;  // zero frames fed since the queue ran dry
  uint32_t leadToDrop_ = 0;  // a new converter's leading output still to drop
  // Frames decoded ahead of the play point, at least a quantum while the
  // voice runs: a fade-out plays from here, never from the caller's buffers.
  std::vector<float> lookahead_;
  uint32_t lookCapacity_ = 0;  // frames
  uint32_t lookStart_ = 0;
  uint32_t lookFrames_ = 0;
  // The fade-out of flushed sound, gains applied: at most a quantum.
  std::vector<float> tail_;
  uint32_t tailStart_ = 0;
  uint32_t tailFrames_ = 0;
  std::vector<float> voiceFrames_;   // n frames of outChannels_, before gain
  std::vector<float> effectFrames_;  // n stereo frames for the effect
};

}  // namespace orvex::mixer
