#include "output/mixer/SourceVoiceImpl.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>

namespace orvex::mixer {
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

SourceVoiceImpl::SourceVoiceImpl(const WaveFormat& format, float maxFrequencyRatio,
                                 uint32_t deviceRate, uint32_t quantumFrames,
                                 std::unique_ptr<StreamResampler> resampler, RenderGate& gate)
    : format_(format),
      maxFrequencyRatio_(maxFrequencyRatio),
      deviceRate_(deviceRate),
      quantum_(std::max<uint32_t>(quantumFrames, 1)),
      outChannels_(format.channels == 1 ? 1 : 2),
      decode_(DecoderFor(format)),
      downmix_(format.channels > 2 ? DownmixerFor(format.bitsPerSample) : nullptr),
      matrix_(StereoDownmix(format.channels, format.channelMask)),
      converts_(resampler != nullptr),
      gate_(gate),
      resampler_(std::move(resampler)),
      voiceFrames_(size_t(kMaxBlockFrames) * 2),
      effectFrames_(size_t(kMaxBlockFrames) * 2) {
  if (resampler_) {
    stage_.resize(size_t(kStageFrames) * outChannels_);
    silenceFed_ = resampler_->TailFrames();  // a fresh converter holds no sound
    leadToDrop_ = resampler_->LeadFrames();
  }
  // One pass takes at most kMaxBlockFrames and leaves a quantum behind.
  lookCapacity_ = kMaxBlockFrames + quantum_;
  lookahead_.resize(size_t(lookCapacity_) * outChannels_);
  tail_.resize(size_t(quantum_) * outChannels_);
}

SourceVoiceImpl::~SourceVoiceImpl() {
  delete spareConverter_.exchange(nullptr);
  delete oldConverter_.exchange(nullptr);
}

bool SourceVoiceImpl::SubmitSourceBuffer(const uint8_t* data, uint32_t bytes) {
  // A trailing partial frame is never played.
  const uint32_t frames = bytes / format_.blockAlign;
  if (!data && frames > 0) return false;
  std::lock_guard lock(controlMutex_);
  const uint64_t w = writeIndex_.load(std::memory_order_relaxed);
  const uint64_t r = std::max(readIndex_.load(std::memory_order_acquire),
                              flushIndex_.load(std::memory_order_relaxed));
  if (w - r >= kVoiceQueueCapacity) return false;
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

void SourceVoiceImpl::DropRetiredConverter() {
  delete oldConverter_.exchange(nullptr);
}

void SourceVoiceImpl::PublishFlush() {
  // A pass that read the transport flags before the caller stopped the voice
  // may still be feeding the converter: let it finish before looking.
  gate_.WaitForPassInProgress();
  DropRetiredConverter();
  if (converts_ && spareConverter_.load() == nullptr && (converterFed_.load() || running_.load())) {
    // Built here, off the audio side: it allocates and takes a moment. A
    // converter nothing has gone through yet is kept, so a voice created a
    // moment ago is not rebuilt.
    auto fresh = StreamResampler::Create(format_.samplesPerSec, deviceRate_, outChannels_);
    spareConverter_.store(fresh.release());
  }
  flushIndex_.store(writeIndex_.load(std::memory_order_relaxed), std::memory_order_release);
  flushSeq_.fetch_add(1);
  // After this no pass reads the dropped buffers.
  gate_.WaitForPassInProgress();
}

void SourceVoiceImpl::FlushSourceBuffers() {
  std::lock_guard lock(controlMutex_);
  PublishFlush();
}

bool SourceVoiceImpl::Retire() {
  std::lock_guard lock(controlMutex_);
  retiring_.store(true);
  effect_.store(nullptr);
  PublishFlush();
  // Every pass from now on sees the retirement; only a fade under way plays.
  return sounding_.load();
}

VoiceState SourceVoiceImpl::GetState() const {
  // Read the consumer's index first: it never passes the producer's.
  const uint64_t r = std::max(readIndex_.load(std::memory_order_acquire),
                              flushIndex_.load(std::memory_order_acquire));
  const uint64_t w = writeIndex_.load(std::memory_order_acquire);
  return VoiceState{uint32_t(w - std::min(r, w)), samplesPlayed_.load(std::memory_order_acquire)};
}

void SourceVoiceImpl::SetVolume(float volume) {
  if (std::isfinite(volume)) volume_.store(volume, std::memory_order_relaxed);
}

bool SourceVoiceImpl::SetChannelVolumes(uint32_t count, const float* volumes) {
  if (count != format_.channels || !volumes) return false;
  if (!std::all_of(volumes, volumes + count, [](float v) { return std::isfinite(v); }))
    return false;
  // The first two scale the left and right of the voice's stereo pair (a
  // wider source is folded into it first); the rest do not matter.
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

// ---------------------------------------------------------------------------
// Audio side

void SourceVoiceImpl::MixInto(float* mix, uint32_t n) {
  const uint64_t flushSeq = flushSeq_.load(std::memory_order_acquire);
  bool flushPending = flushSeq != seenFlushSeq_;
  const bool run = running_.load(std::memory_order_acquire) && !retiring_.load();
  if (!run && fadePos_ == 0 && tailFrames_ == 0) {
    if (flushPending) ApplyFlush(flushSeq);
    PublishPlayed();
    sounding_.store(false);
    if (retiring_.load()) retired_.store(true, std::memory_order_release);
    return;
  }

  const float volume = volume_.load(std::memory_order_relaxed);
  const float left = volume * channelVolumes_[0].load(std::memory_order_relaxed);
  const float right =
      outChannels_ == 1 ? left : volume * channelVolumes_[1].load(std::memory_order_relaxed);
  // Volumes set before the first sound apply at once: there is nothing to
  // ramp from, and a ramp would blip at the old level.
  rampL_.Retarget(left, quantum_, !rendered_);
  rampR_.Retarget(right, quantum_, !rendered_);
  rendered_ = true;

  float* src = voiceFrames_.data();
  uint32_t done = 0;
  while (done < n) {
    const bool sounding = run && !flushPending;
    if (flushPending && fadePos_ > 0) MoveFadeToTail();
    if (!sounding && fadePos_ == 0) {
      if (!flushPending) break;  // stopped: the rest of the block is silent
      ApplyFlush(flushSeq);
      flushPending = false;
      continue;
    }
    // The queue is read only while the voice sounds; a fade-out plays what
    // is already decoded.
    if (sounding) FillLookahead(n - done + quantum_);
    const uint32_t take = std::min(n - done, lookFrames_);
    if (take == 0) {
      // Dry: the material itself ends here, so there is nothing to fade.
      if (sounding) break;
      fadePos_ = 0;
      continue;
    }
    done += TakeLookahead(src + size_t(done) * outChannels_, take, sounding);
  }
  std::fill(src + size_t(done) * outChannels_, src + size_t(n) * outChannels_, 0.0f);
  if (tailFrames_ > 0) MixTail(src, n);

  Effect* fx = effect_.load(std::memory_order_acquire);
  if (fx && !fx->Bypassed()) {
    float* frames = effectFrames_.data();
    ApplyGains(src, frames, n, false);
    fx->Process(frames, n, 2);
    for (uint32_t i = 0; i < 2 * n; ++i) mix[i] += frames[i];
  } else {
    ApplyGains(src, mix, n, true);
  }
  PublishPlayed();
  sounding_.store(fadePos_ > 0 || tailFrames_ > 0);
}

void SourceVoiceImpl::MoveFadeToTail() {
  const uint32_t ch = outChannels_;
  // What is left of an earlier tail goes to the front; the new fade adds to it.
  std::memmove(tail_.data(), tail_.data() + size_t(tailStart_) * ch,
               sizeof(float) * size_t(tailFrames_) * ch);
  std::fill(tail_.begin() + size_t(tailFrames_) * ch, tail_.end(), 0.0f);
  tailStart_ = 0;
  // The same gains the fade-out would have played: (f-1)/q down to 1/q.
  const float q = float(quantum_);
  const uint32_t frames = std::min(fadePos_ - 1, lookFrames_);
  for (uint32_t k = 0; k < frames; ++k) {
    const float g = float(fadePos_ - 1 - k) / q;
    const float* from = lookahead_.data() + size_t((lookStart_ + k) % lookCapacity_) * ch;
    for (uint32_t c = 0; c < ch; ++c) tail_[size_t(k) * ch + c] += from[c] * g;
  }
  tailFrames_ = std::max(tailFrames_, frames);
  fadePos_ = 0;
}

void SourceVoiceImpl::MixTail(float* dst, uint32_t n) {
  const uint32_t ch = outChannels_;
  const uint32_t take = std::min(n, tailFrames_);
  const float* from = tail_.data() + size_t(tailStart_) * ch;
  for (uint32_t i = 0; i < take * ch; ++i) dst[i] += from[i];
  tailStart_ += take;
  tailFrames_ -= take;
  if (tailFrames_ == 0) tailStart_ = 0;
}

void SourceVoiceImpl::PublishPlayed() {
  // The read-ahead is decoded but not heard yet.
  uint64_t ahead = lookFrames_;
  if (resampler_) ahead = ahead * format_.samplesPerSec / deviceRate_;
  samplesPlayed_.store(played_ - std::min(ahead, played_), std::memory_order_release);
}

void SourceVoiceImpl::ApplyFlush(uint64_t seq) {
  seenFlushSeq_ = seq;
  readIndex_.store(flushIndex_.load(std::memory_order_acquire), std::memory_order_release);
  headValid_ = false;
  headPos_ = 0;
  stagePos_ = 0;
  stageFrames_ = 0;
  lookStart_ = 0;
  lookFrames_ = 0;
  fadePos_ = 0;
  if (resampler_ && converterFed_.load(std::memory_order_relaxed)) {
    // Swap in the fresh converter; the control side frees the old one.
    if (StreamResampler* fresh = spareConverter_.exchange(nullptr)) {
      oldConverter_.store(resampler_.release());
      resampler_.reset(fresh);
      silenceFed_ = resampler_->TailFrames();
      leadToDrop_ = resampler_->LeadFrames();
      converterFed_.store(false, std::memory_order_relaxed);
    }
  }
}

void SourceVoiceImpl::FillLookahead(uint32_t frames) {
  frames = std::min(frames, lookCapacity_);
  while (lookFrames_ < frames) {
    const uint32_t at = (lookStart_ + lookFrames_) % lookCapacity_;
    const uint32_t room = std::min(frames - lookFrames_, lookCapacity_ - at);
    const uint32_t got = Produce(lookahead_.data() + size_t(at) * outChannels_, room);
    lookFrames_ += got;
    if (got < room) return;
  }
}

uint32_t SourceVoiceImpl::TakeLookahead(float* dst, uint32_t n, bool sounding) {
  // A fade-in plays 1/q, 2/q ... 1 and a fade-out (q-1)/q ... 1/q, so a
  // quantum of one frame starts and stops on the sample.
  const float q = float(quantum_);
  const uint32_t ch = outChannels_;
  uint32_t i = 0;
  while (i < n) {
    const uint32_t piece = std::min(n - i, lookCapacity_ - lookStart_);
    const float* from = lookahead_.data() + size_t(lookStart_) * ch;
    float* to = dst + size_t(i) * ch;
    uint32_t k = 0;
    bool silent = false;
    if (sounding) {
      for (; k < piece && fadePos_ < quantum_; ++k) {
        const float g = float(++fadePos_) / q;
        for (uint32_t c = 0; c < ch; ++c) to[k * ch + c] = from[k * ch + c] * g;
      }
      std::memcpy(to + size_t(k) * ch, from + size_t(k) * ch, sizeof(float) * (piece - k) * ch);
      k = piece;
    } else {
      for (; k < piece; ++k) {
        if (--fadePos_ == 0) {
          silent = true;
          break;
        }
        const float g = float(fadePos_) / q;
        for (uint32_t c = 0; c < ch; ++c) to[k * ch + c] = from[k * ch + c] * g;
      }
    }
    lookStart_ = (lookStart_ + k) % lookCapacity_;
    lookFrames_ -= k;
    i += k;
    if (silent) break;
  }
  return i;
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
      const uint8_t* from = head_.data + size_t(headPos_) * format_.blockAlign;
      float* to = dst + size_t(done) * outChannels_;
      if (downmix_) {
        downmix_(from, format_.channels, take, to, matrix_);
      } else {
        decode_(from, format_.channels, take, to, outChannels_);
      }
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

uint32_t SourceVoiceImpl::Produce(float* dst, uint32_t n) {
  if (resampler_) return ProduceResampled(dst, n);
  // A dry queue yields fewer; the next buffer continues where this stopped.
  return ReadQueue(dst, n);
}

uint32_t SourceVoiceImpl::ProduceResampled(float* out, uint32_t n) {
  uint32_t done = 0;
  int idle = 0;
  while (done < n) {
    if (stageFrames_ == 0 && !RefillStage(n - done)) break;
    size_t used = 0, made = 0;
    resampler_->Process(stage_.data() + size_t(stagePos_) * outChannels_, stageFrames_, used,
                        out + size_t(done) * outChannels_, n - done, made);
    stagePos_ += uint32_t(used);
    stageFrames_ -= uint32_t(used);
    if (leadToDrop_ > 0 && made > 0) {
      // Only the history of silence comes out first: the sound starts after it.
      const size_t drop = std::min<size_t>(leadToDrop_, made);
      float* at = out + size_t(done) * outChannels_;
      std::memmove(at, at + drop * outChannels_, (made - drop) * outChannels_ * sizeof(float));
      leadToDrop_ -= uint32_t(drop);
      made -= drop;
      if (made == 0 && used > 0) continue;
    }
    done += uint32_t(made);
    idle = (used == 0 && made == 0) ? idle + 1 : 0;
    if (idle > 2) break;  // should not happen; never spin on the audio thread
  }
  return done;
}

bool SourceVoiceImpl::RefillStage(uint32_t outFramesWanted) {
  stagePos_ = 0;
  stageFrames_ = ReadQueue(stage_.data(), kStageFrames);
  if (stageFrames_ > 0) {
    silenceFed_ = 0;
    converterFed_.store(true, std::memory_order_relaxed);
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

}  // namespace orvex::mixer
