#include "output/xaudio/SourceVoiceImpl.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>

namespace orvex::xaudio {
namespace {

// Decoded input handed to the resampler per refill.
constexpr uint32_t kStageFrames = 512;

template <uint32_t Ch, bool Accumulate>
inline void ScaleFrame(const float* src, float* dst, float gl, float gr) {
  const float l = src[0] * gl;
  const float r = src[Ch - 1] * gr;  // a mono source feeds both sides
  if constexpr (Accumulate) {
    dst[0] += l;
    dst[1] += r;
  } else {
    dst[0] = l;
    dst[1] = r;
  }
}

// One chunk of frames at constant gains (see kLanes).
template <uint32_t Ch, bool Accumulate>
void ScaleLanes(const float* __restrict src, float* __restrict dst, float gl, float gr) {
  for (uint32_t i = 0; i < kLanes / 2; ++i)
    ScaleFrame<Ch, Accumulate>(src + i * Ch, dst + 2 * i, gl, gr);
}

// Scales n frames of Ch channels into stereo, per sample while a ramp runs.
template <uint32_t Ch, bool Accumulate>
void Scale(const float* src, float* dst, uint32_t n, GainRamp& left, GainRamp& right) {
  uint32_t i = 0;
  for (; i < n && (left.Ramping() || right.Ramping()); ++i) {
    const float gl = left.Ramping() ? left.Next() : left.current;
    const float gr = right.Ramping() ? right.Next() : right.current;
    ScaleFrame<Ch, Accumulate>(src + i * Ch, dst + 2 * i, gl, gr);
  }
  for (; i + kLanes / 2 <= n; i += kLanes / 2)
    ScaleLanes<Ch, Accumulate>(src + i * Ch, dst + 2 * i, left.current, right.current);
  for (; i < n; ++i)
    ScaleFrame<Ch, Accumulate>(src + i * Ch, dst + 2 * i, left.current, right.current);
}

}  // namespace

void RenderGate::WaitForPassInProgress() const {
  const uint64_t seen = seq_.load();
  if ((seen & 1) == 0) return;  // nothing rendering; later passes see the change
  while (seq_.load() == seen) std::this_thread::yield();
}

SourceVoiceImpl::SourceVoiceImpl(const WaveFormat& format, float maxFrequencyRatio,
                                 uint32_t deviceRate, uint32_t quantumFrames,
                                 std::unique_ptr<StreamResampler> resampler, RenderGate& gate)
    : format_(format),
      maxFrequencyRatio_(maxFrequencyRatio),
      deviceRate_(deviceRate),
      quantum_(quantumFrames),
      outChannels_(format.channels == 1 ? 1 : 2),
      decode_(DecoderFor(format.bitsPerSample)),
      gate_(gate),
      resampler_(std::move(resampler)),
      voiceFrames_(size_t(kMaxBlockFrames) * 2),
      effectFrames_(size_t(kMaxBlockFrames) * 2) {
  if (resampler_) {
    stage_.resize(size_t(kStageFrames) * outChannels_);
    silenceFed_ = resampler_->TailFrames();  // a fresh converter holds no sound
  }
}

SourceVoiceImpl::~SourceVoiceImpl() = default;

bool SourceVoiceImpl::SubmitSourceBuffer(const uint8_t* data, uint32_t bytes) {
  // A trailing partial frame is never played.
  const uint32_t frames = bytes / format_.blockAlign;
  if (!data && frames > 0) return false;
  std::lock_guard lock(controlMutex_);
  const uint64_t w = writeIndex_.load(std::memory_order_relaxed);
  if (w - readIndex_.load(std::memory_order_acquire) >= kVoiceQueueCapacity) return false;
  queue_[w % kVoiceQueueCapacity] = QueuedBuffer{data, frames};
  writeIndex_.store(w + 1, std::memory_order_release);
  return true;
}

void SourceVoiceImpl::Start() {
  running_.store(true, std::memory_order_release);
}

void SourceVoiceImpl::Stop() {
  running_.store(false, std::memory_order_release);
}

void SourceVoiceImpl::FlushSourceBuffers() {
  std::lock_guard lock(controlMutex_);
  // Build the replacement converter before excluding the audio side: it
  // allocates and takes a moment.
  std::unique_ptr<StreamResampler> fresh;
  if (resampler_) {
    fresh = StreamResampler::Create(format_.samplesPerSec, deviceRate_, outChannels_);
  }
  HoldAudio();
  readIndex_.store(writeIndex_.load(std::memory_order_relaxed), std::memory_order_release);
  headValid_ = false;
  headPos_ = 0;
  stagePos_ = 0;
  stageFrames_ = 0;
  if (fresh) {
    resampler_.swap(fresh);
    silenceFed_ = resampler_->TailFrames();
  }
  ReleaseAudio();
  // `fresh` now owns the old converter and frees it here, off the audio side.
}

VoiceState SourceVoiceImpl::GetState() const {
  // Read the consumer's index first: it never passes the producer's.
  const uint64_t r = readIndex_.load(std::memory_order_acquire);
  const uint64_t w = writeIndex_.load(std::memory_order_acquire);
  return VoiceState{uint32_t(w - r), samplesPlayed_.load(std::memory_order_acquire)};
}

void SourceVoiceImpl::SetVolume(float volume) {
  if (std::isfinite(volume)) volume_.store(volume, std::memory_order_relaxed);
}

bool SourceVoiceImpl::SetChannelVolumes(uint32_t count, const float* volumes) {
  if (count != format_.channels || !volumes) return false;
  if (!std::all_of(volumes, volumes + count, [](float v) { return std::isfinite(v); }))
    return false;
  // Channels past the second are not mixed, so their volumes do not matter.
  for (uint32_t c = 0; c < std::min<uint32_t>(count, 2); ++c)
    channelVolumes_[c].store(volumes[c], std::memory_order_relaxed);
  return true;
}

void SourceVoiceImpl::SetEffectChain(Effect* effect) {
  std::lock_guard lock(controlMutex_);
  if (effect == effect_.load()) return;  // never Prepare an effect while it runs
  if (effect) effect->Prepare(2, deviceRate_);
  effect_.store(effect);
  gate_.WaitForPassInProgress();
}

void SourceVoiceImpl::HoldAudio() {
  controlHold_.store(true);
  while (audioBusy_.load()) std::this_thread::yield();
}

void SourceVoiceImpl::ReleaseAudio() {
  controlHold_.store(false, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Audio side

void SourceVoiceImpl::MixInto(float* mix, uint32_t n) {
  if (!running_.load(std::memory_order_acquire)) return;
  audioBusy_.store(true);
  if (controlHold_.load()) {
    audioBusy_.store(false, std::memory_order_release);
    return;
  }
  const float* src = Produce(n);

  const float volume = volume_.load(std::memory_order_relaxed);
  const float left = volume * channelVolumes_[0].load(std::memory_order_relaxed);
  const float right =
      outChannels_ == 1 ? left : volume * channelVolumes_[1].load(std::memory_order_relaxed);
  // Volumes set before the first sound apply at once: there is nothing to
  // ramp from, and a ramp would blip at the old level.
  rampL_.Retarget(left, quantum_, !rendered_);
  rampR_.Retarget(right, quantum_, !rendered_);
  rendered_ = true;

  if (Effect* fx = effect_.load(std::memory_order_acquire)) {
    float* frames = effectFrames_.data();
    ApplyGains(src, frames, n, false);
    fx->Process(frames, n, 2);
    for (uint32_t i = 0; i < 2 * n; ++i) mix[i] += frames[i];
  } else {
    ApplyGains(src, mix, n, true);
  }
  samplesPlayed_.store(played_, std::memory_order_release);
  audioBusy_.store(false, std::memory_order_release);
}

uint32_t SourceVoiceImpl::ReadQueue(float* dst, uint32_t frames) {
  uint32_t done = 0;
  while (done < frames) {
    if (!headValid_) {
      const uint64_t r = readIndex_.load(std::memory_order_relaxed);
      if (r == writeIndex_.load(std::memory_order_acquire)) break;
      head_ = queue_[r % kVoiceQueueCapacity];
      headPos_ = 0;
      headValid_ = true;
    }
    const uint32_t take = std::min(frames - done, head_.frames - headPos_);
    if (take > 0) {
      decode_(head_.data + size_t(headPos_) * format_.blockAlign, format_.channels, take,
              dst + size_t(done) * outChannels_, outChannels_);
      headPos_ += take;
      done += take;
    }
    if (headPos_ == head_.frames) {
      // Publishing the finished buffer hands its memory back to the caller.
      headValid_ = false;
      readIndex_.store(readIndex_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
  }
  played_ += done;
  return done;
}

const float* SourceVoiceImpl::Produce(uint32_t n) {
  if (resampler_) return ProduceResampled(n);
  float* out = voiceFrames_.data();
  const uint32_t got = ReadQueue(out, n);
  // A dry queue plays silence; the next buffer continues where this stopped.
  std::fill(out + size_t(got) * outChannels_, out + size_t(n) * outChannels_, 0.0f);
  return out;
}

const float* SourceVoiceImpl::ProduceResampled(uint32_t n) {
  float* out = voiceFrames_.data();
  uint32_t done = 0;
  int idle = 0;
  while (done < n) {
    if (stageFrames_ == 0 && !RefillStage(n - done)) break;
    size_t used = 0, made = 0;
    resampler_->Process(stage_.data() + size_t(stagePos_) * outChannels_, stageFrames_, used,
                        out + size_t(done) * outChannels_, n - done, made);
    stagePos_ += uint32_t(used);
    stageFrames_ -= uint32_t(used);
    done += uint32_t(made);
    idle = (used == 0 && made == 0) ? idle + 1 : 0;
    if (idle > 2) break;  // should not happen; never spin on the audio thread
  }
  std::fill(out + size_t(done) * outChannels_, out + size_t(n) * outChannels_, 0.0f);
  return out;
}

bool SourceVoiceImpl::RefillStage(uint32_t outFramesWanted) {
  stagePos_ = 0;
  stageFrames_ = ReadQueue(stage_.data(), kStageFrames);
  if (stageFrames_ > 0) {
    silenceFed_ = 0;
    return true;
  }
  // Dry queue: feed silence until the converter has let go of the last
  // sound, then stop working. Only as much as this block needs, so a buffer
  // that arrives next does not wait behind a long run of zeros.
  if (silenceFed_ >= resampler_->TailFrames()) return false;
  const uint64_t need =
      (uint64_t(outFramesWanted) * format_.samplesPerSec + deviceRate_ - 1) / deviceRate_ + 1;
  stageFrames_ = uint32_t(std::min<uint64_t>(need, kStageFrames));
  std::fill(stage_.begin(), stage_.begin() + size_t(stageFrames_) * outChannels_, 0.0f);
  silenceFed_ += stageFrames_;
  return true;
}

void SourceVoiceImpl::ApplyGains(const float* src, float* dst, uint32_t n, bool accumulate) {
  if (outChannels_ == 1) {
    accumulate ? Scale<1, true>(src, dst, n, rampL_, rampR_)
               : Scale<1, false>(src, dst, n, rampL_, rampR_);
  } else {
    accumulate ? Scale<2, true>(src, dst, n, rampL_, rampR_)
               : Scale<2, false>(src, dst, n, rampL_, rampR_);
  }
}

}  // namespace orvex::xaudio
