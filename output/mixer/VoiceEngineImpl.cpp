// The engine: a fixed table of voices the device's render pass walks, and
// the control-side bookkeeping that creates and retires them.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "output/PeakMeter.h"
#include "output/mixer/SourceVoiceImpl.h"
#include "output/mixer/StreamResampler.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex::mixer {
namespace {

constexpr size_t kMaxVoices = 64;

class VoiceEngineImpl final : public VoiceEngine, public RenderCallback {
 public:
  explicit VoiceEngineImpl(uint32_t quantumFrames) : requestedQuantum_(quantumFrames) {}
  ~VoiceEngineImpl() override { DestroyMasteringVoice(); }

  bool CreateMasteringVoice(AudioDevice& device) override;
  void DestroyMasteringVoice() override;
  void FadeOut() override;
  bool HasMasteringVoice() const override;
  uint32_t DeviceChannels() const override;
  uint32_t DeviceRate() const override;
  SourceVoice* CreateSourceVoice(const WaveFormat& format, float maxFrequencyRatio,
                                 int place) override;
  void DestroyVoice(SourceVoice* voice) override;
  PeakSource& Peaks() override { return peaks_; }
  uint64_t DeviceResumes() const override { return resumes_.load(std::memory_order_acquire); }

  void Render(float* interleaved, uint32_t frames) override;
  // The device went on after a stall, or came back under the engine after
  // its server restarted: what it plays next starts from silence, ramped,
  // however the wave stood when it stopped.
  void OnDeviceResumed() override {
    rampIn_.store(true, std::memory_order_release);
    resumes_.fetch_add(1, std::memory_order_release);
  }

 private:
  void WriteOut(float* out, uint32_t n) const;
  // Applies the closing fade to the block in mix_ (audio side).
  void ApplyFade(uint32_t n);
  // Applies the ramp from silence after a resume (audio side).
  void ApplyRampIn(uint32_t n);
  // Counts the silent frames at the end of what was rendered (audio side).
  void TrackSilence(uint32_t n);
  // Waits until the closing fade has been heard, or the device stopped
  // pulling, or a deadline passed. controlMutex_ is held.
  void WaitForFadeHeard();
  // Frees retired voices whose fade-out has played.
  void CollectRetired();

  const uint32_t requestedQuantum_;
  mutable std::mutex controlMutex_;
  AudioDevice* device_ = nullptr;

  // Set while the device is closed; the audio side only reads them.
  uint32_t channels_ = 0;
  uint32_t rate_ = 0;
  uint32_t quantum_ = 0;
  std::vector<float> mix_;  // kMaxBlockFrames stereo frames

  std::array<std::atomic<SourceVoiceImpl*>, kMaxVoices> slots_{};
  std::vector<SourceVoiceImpl*> retiring_;  // still in slots_, fading out
  RenderGate gate_;
  PeakMeter peaks_;

  // The closing fade: requested by a control thread; the gain is the audio
  // side's own, reset while the device is closed.
  std::atomic<bool> fading_{false};
  float fadeGain_ = 1.0f;
  // Silent frames rendered since the last sound, and render passes made:
  // what a close waits on.
  std::atomic<uint64_t> silentRun_{0};
  std::atomic<uint64_t> passes_{0};
  std::atomic<uint64_t> resumes_{0};
  // Asked by OnDeviceResumed; the gain is the audio side's own.
  std::atomic<bool> rampIn_{false};
  float rampGain_ = 1.0f;
};

bool VoiceEngineImpl::CreateMasteringVoice(AudioDevice& device) {
  std::lock_guard lock(controlMutex_);
  if (device_) return false;
  const uint32_t channels = device.Channels();
  const uint32_t rate = device.Rate();
  if (channels == 0 || rate == 0) return false;
  channels_ = channels;
  rate_ = rate;
  quantum_ = requestedQuantum_ ? requestedQuantum_ : std::max<uint32_t>(1, rate / 100);
  mix_.assign(size_t(kMaxBlockFrames) * 2, 0.0f);
  fading_.store(false);
  fadeGain_ = 1.0f;
  rampIn_.store(false);
  rampGain_ = 1.0f;
  silentRun_.store(0);
  device_ = &device;
  if (!device.Open(this)) {
    device_ = nullptr;
    return false;
  }
  peaks_.SetLive(true);
  return true;
}

void VoiceEngineImpl::DestroyMasteringVoice() {
  std::lock_guard lock(controlMutex_);
  if (!device_) return;
  peaks_.SetLive(false);
  WaitForFadeHeard();
  device_->Close();  // no render pass runs after this
  // Voices are bound to this device's rate, so they go with it.
  for (auto& slot : slots_) delete slot.exchange(nullptr);
  retiring_.clear();
  device_ = nullptr;
  channels_ = rate_ = quantum_ = 0;
}

void VoiceEngineImpl::FadeOut() {
  std::lock_guard lock(controlMutex_);
  if (device_) fading_.store(true, std::memory_order_release);
}

void VoiceEngineImpl::WaitForFadeHeard() {
  using Clock = std::chrono::steady_clock;
  if (!device_->PullsByItself()) return;
  fading_.store(true, std::memory_order_release);
  // Heard once the fade and the device's buffers of silence after it have
  // been rendered; one quantum more covers the pass that was under way.
  const uint64_t heard = uint64_t{device_->PlayOutFrames()} + quantum_;
  const auto ms = [&](uint64_t frames) {
    return std::chrono::milliseconds(frames * 1000 / std::max<uint32_t>(rate_, 1) + 1);
  };
  const auto start = Clock::now();
  // A device that renders at all reaches that within the fade, its buffer
  // and a few passes of scheduling; one that stopped is let go sooner.
  const auto deadline = start + ms(heard + quantum_) + std::chrono::milliseconds(40);
  const auto stalled = ms(heard) + std::chrono::milliseconds(10);
  const uint64_t passesAtStart = passes_.load();
  while (silentRun_.load(std::memory_order_acquire) < heard) {
    const auto now = Clock::now();
    if (now >= deadline) return;
    if (now - start >= stalled && passes_.load() == passesAtStart) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool VoiceEngineImpl::HasMasteringVoice() const {
  std::lock_guard lock(controlMutex_);
  return device_ != nullptr;
}

uint32_t VoiceEngineImpl::DeviceChannels() const {
  std::lock_guard lock(controlMutex_);
  return channels_;
}

uint32_t VoiceEngineImpl::DeviceRate() const {
  std::lock_guard lock(controlMutex_);
  return rate_;
}

SourceVoice* VoiceEngineImpl::CreateSourceVoice(const WaveFormat& format, float maxFrequencyRatio,
                                                int place) {
  std::lock_guard lock(controlMutex_);
  if (!device_ || !(IsPlayableFormat(format) || IsConvertedFormat(format))) return nullptr;
  CollectRetired();
  const auto empty = [](const auto& s) { return s.load() == nullptr; };
  auto free = place >= 0 && size_t(place) < slots_.size() && empty(slots_[size_t(place)])
                  ? slots_.begin() + place
                  : std::find_if(slots_.begin(), slots_.end(), empty);
  if (free == slots_.end()) return nullptr;
  std::unique_ptr<StreamResampler> resampler;
  if (format.samplesPerSec != rate_) {
    resampler = StreamResampler::Create(format.samplesPerSec, rate_, format.channels == 1 ? 1 : 2);
    if (!resampler) return nullptr;
  }
  auto* voice =
      new SourceVoiceImpl(format, maxFrequencyRatio, rate_, quantum_, std::move(resampler), gate_);
  free->store(voice);  // publishes the fully built voice to the audio side
  return voice;
}

void VoiceEngineImpl::DestroyVoice(SourceVoice* voice) {
  if (!voice) return;
  std::lock_guard lock(controlMutex_);
  for (auto& slot : slots_) {
    SourceVoiceImpl* v = slot.load();
    if (v == nullptr || static_cast<SourceVoice*>(v) != voice) continue;
    if (std::find(retiring_.begin(), retiring_.end(), v) != retiring_.end()) return;
    // The caller's buffers and effect are free when this returns; what was
    // sounding fades out from the voice's own read-ahead, and the voice goes
    // once that has played. A mute followed at once by a destroy, as a
    // channel stop does, therefore never cuts the sound.
    if (v->Retire()) {
      retiring_.push_back(v);
    } else {
      slot.store(nullptr);
      gate_.WaitForPassInProgress();
      delete v;
    }
    break;
  }
  CollectRetired();
}

void VoiceEngineImpl::CollectRetired() {
  std::vector<SourceVoiceImpl*> done;
  std::erase_if(retiring_, [&](SourceVoiceImpl* v) {
    if (!v->Retired()) return false;
    done.push_back(v);
    return true;
  });
  if (done.empty()) return;
  for (SourceVoiceImpl* v : done)
    for (auto& slot : slots_)
      if (slot.load() == v) slot.store(nullptr);
  // A pass that started before the stores may still hold the pointers.
  gate_.WaitForPassInProgress();
  for (SourceVoiceImpl* v : done) delete v;
}

void VoiceEngineImpl::Render(float* interleaved, uint32_t frames) {
  gate_.Enter();
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(kMaxBlockFrames, frames - done);
    std::fill(mix_.begin(), mix_.begin() + size_t(n) * 2, 0.0f);
    for (auto& slot : slots_) {
      if (SourceVoiceImpl* v = slot.load()) v->MixInto(mix_.data(), n);
    }
    if (rampIn_.exchange(false, std::memory_order_acq_rel)) rampGain_ = 0.0f;
    if (rampGain_ < 1.0f) ApplyRampIn(n);
    if (fading_.load(std::memory_order_acquire)) ApplyFade(n);
    TrackSilence(n);
    peaks_.Measure(mix_.data(), n);
    WriteOut(interleaved + size_t(done) * channels_, n);
    done += n;
  }
  passes_.fetch_add(1, std::memory_order_release);
  gate_.Leave();
}

void VoiceEngineImpl::ApplyFade(uint32_t n) {
  const float step = 1.0f / float(std::max<uint32_t>(quantum_, 1));
  float* mix = mix_.data();
  for (uint32_t i = 0; i < n; ++i) {
    fadeGain_ = std::max(0.0f, fadeGain_ - step);
    mix[2 * i] *= fadeGain_;
    mix[2 * i + 1] *= fadeGain_;
  }
}

void VoiceEngineImpl::ApplyRampIn(uint32_t n) {
  const float step = 1.0f / float(std::max<uint32_t>(quantum_, 1));
  float* mix = mix_.data();
  for (uint32_t i = 0; i < n && rampGain_ < 1.0f; ++i) {
    rampGain_ = std::min(1.0f, rampGain_ + step);
    mix[2 * i] *= rampGain_;
    mix[2 * i + 1] *= rampGain_;
  }
}

void VoiceEngineImpl::TrackSilence(uint32_t n) {
  const float* mix = mix_.data();
  uint32_t quiet = 0;
  while (quiet < n && mix[2 * (n - 1 - quiet)] == 0.0f && mix[2 * (n - 1 - quiet) + 1] == 0.0f)
    ++quiet;
  const uint64_t run = silentRun_.load(std::memory_order_relaxed);
  silentRun_.store(quiet == n ? run + n : quiet, std::memory_order_release);
}

void VoiceEngineImpl::WriteOut(float* out, uint32_t n) const {
  const float* mix = mix_.data();
  if (channels_ == 2) {
    std::memcpy(out, mix, sizeof(float) * n * 2);
  } else if (channels_ == 1) {
    for (uint32_t i = 0; i < n; ++i) out[i] = 0.5f * (mix[2 * i] + mix[2 * i + 1]);
  } else {
    // Wider devices: the mix goes to the first pair, the rest stays silent.
    std::fill(out, out + size_t(n) * channels_, 0.0f);
    for (uint32_t i = 0; i < n; ++i) {
      out[size_t(i) * channels_] = mix[2 * i];
      out[size_t(i) * channels_ + 1] = mix[2 * i + 1];
    }
  }
}

}  // namespace

bool IsPlayableFormat(const WaveFormat& f) {
  if (f.channels == 0 || f.channels > kMaxMixChannels || f.samplesPerSec == 0) return false;
  const uint16_t bits = f.bitsPerSample;
  // Extensible samples that do not fill their container (20 valid bits in
  // 24, say) are refused rather than played at the wrong scale.
  const bool pcm = f.formatTag == kFormatPcm ||
                   (f.formatTag == kFormatExtensible && f.pcmSubFormat && f.validBits == bits);
  if (!pcm || DecoderFor(bits) == nullptr) return false;
  return f.blockAlign == uint32_t(f.channels) * bits / 8;
}

std::unique_ptr<VoiceEngine> CreateVoiceEngine(uint32_t processingQuantumFrames) {
  return std::make_unique<VoiceEngineImpl>(processingQuantumFrames);
}

}  // namespace orvex::mixer
