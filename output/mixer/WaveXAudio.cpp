#include "output/mixer/WaveXAudio.h"

#include <algorithm>

#include "output/Downmix.h"

namespace orvex {
namespace {
// Upper bound of the silence block submitted after the end of the file.
constexpr uint32_t kMaxSilenceBytes = 1 << 20;
// Buffers a voice on a converted stream may have queued (of the 32 it can
// track; one top-up adds at most two).
constexpr uint32_t kMaxConvertedBuffers = 16;
}  // namespace

void CWaveXAudio::SetEngines(const std::array<mixer::VoiceEngine*, kOutputCount>& engines) {
  std::lock_guard lock(mutex_);
  engines_ = engines;
}

bool CWaveXAudio::CreateVoices(const WaveFormat& fileFormat) {
  std::lock_guard lock(mutex_);
  format_ = fileFormat;
  WaveFormat voiceFormat = fileFormat;
  if (fileFormat.bitsPerSample > 16) {
    // Wider samples travel in the extensible layout with every bit valid.
    voiceFormat.formatTag = kFormatExtensible;
    voiceFormat.extraSize = 22;
    voiceFormat.validBits = fileFormat.bitsPerSample;
    // Front left and right, or the usual layout of a wider file, so that
    // its centre and surrounds are folded into the pair.
    voiceFormat.channelMask = fileFormat.channels > 2 ? DefaultChannelMask(fileFormat.channels) : 3;
    voiceFormat.pcmSubFormat = true;
  }
  for (int n = 0; n < kOutputCount; ++n) {
    if (!engines_[n]) continue;
    const uint32_t rate = engines_[n]->DeviceRate();
    Conversion* conversion = stream_ && rate != 0 && rate != fileFormat.samplesPerSec
                                 ? ConversionFor(rate, voiceFormat)
                                 : nullptr;
    const WaveFormat& format = conversion ? conversion->stream.Format() : voiceFormat;
    mixer::SourceVoice* voice = engines_[n]->CreateSourceVoice(format, 2.0f, mixPlace_);
    if (!voice) {
      // That output and the later ones stay silent for this file only: the
      // engine stays, so the next file plays on it again.
      return false;
    }
    voice->SetVolume(1.0f);
    if (effectsOn_ && fileFormat.channels <= 2) {
      effects_[n].SetParameters(tone_);
      voice->SetEffectChain(&effects_[n]);
    }
    Voice& v = voices_[n];
    v.voice = voice;
    v.resumes = engines_[n]->DeviceResumes();
    v.conversion = conversion;
    v.store = conversion ? &conversion->stream.Store() : stream_;
    StreamStore::Holder* holder = conversion ? static_cast<StreamStore::Holder*>(conversion) : this;
    v.reader = v.store ? v.store->OpenReader(holder) : -1;
    ResetTracking(v);
    ApplyLevel(n);
  }
  return true;
}

CWaveXAudio::Conversion* CWaveXAudio::ConversionFor(uint32_t rate, const WaveFormat& decoded) {
  for (auto& c : conversions_)
    if (c && c->stream.Rate() == rate) return c.get();
  for (auto& c : conversions_) {
    if (c) continue;
    auto made = std::make_unique<Conversion>();
    made->owner = this;
    if (!made->stream.Open(*stream_, decoded, rate)) return nullptr;
    c = std::move(made);
    return c.get();
  }
  return nullptr;
}

void CWaveXAudio::PumpConversions(double seconds) {
  for (auto& c : conversions_) {
    if (!c) continue;
    c->stream.FollowLive();
    c->stream.Pump(static_cast<size_t>(seconds * c->stream.Rate()), endFlag_.load());
  }
}

void CWaveXAudio::AllocBuffers(uint32_t blockSize, uint32_t firstBlockSize) {
  std::lock_guard lock(mutex_);
  blockSize_ = blockSize;
  firstBlockSize_ = firstBlockSize;
  uint32_t align = std::max<uint32_t>(format_.blockAlign, 1);
  uint32_t silence = std::min({std::max(blockSize, firstBlockSize), kMaxSilenceBytes,
                               std::max<uint32_t>(format_.avgBytesPerSec, align)});
  silence_.assign(std::max(silence / align, 1u) * align, 0);
  // 8-bit samples are unsigned: their silence is the mid value.
  if (format_.bitsPerSample == 8) std::fill(silence_.begin(), silence_.end(), 0x80);
}

void CWaveXAudio::ResetTracking(Voice& v, uint64_t pos) {
  v.readPos = pos;
  v.submitted = 0;
  v.released = 0;
  v.lost = false;
  if (v.store && v.reader >= 0) v.store->SetReaderPos(v.reader, pos);
}

void CWaveXAudio::LetGo(int reader) {
  std::lock_guard lock(mutex_);
  LetGoLocked(stream_, reader);
}

void CWaveXAudio::LetGoLocked(const StreamStore* store, int reader) {
  for (Voice& v : voices_) {
    if (!v.voice || v.store != store || v.reader != reader) continue;
    // The voice fades out of what it holds and hands the store's bytes back.
    v.voice->FlushSourceBuffers();
    v.submitted = v.released = 0;
    v.lost = true;
    SubmitSilence(v, std::max<uint32_t>(v.voice->Format().avgBytesPerSec / 10, 1));
  }
}

size_t CWaveXAudio::SubmitRegion(Voice& v, size_t n) {
  size_t total = 0;
  for (const StreamStore::Span& span : v.store->Region(v.readPos, n)) {
    if (span.size == 0) continue;
    if (!v.voice->SubmitSourceBuffer(span.data, static_cast<uint32_t>(span.size))) break;
    total += span.size;
    v.ends[v.submitted++ % v.ends.size()] = v.readPos + total;
  }
  v.readPos += total;
  return total;
}

void CWaveXAudio::SubmitSilence(Voice& v, uint32_t bytes) {
  const std::vector<uint8_t>& silence = v.conversion ? v.conversion->stream.Silence() : silence_;
  if (silence.empty()) return;
  uint32_t piece = std::min<uint32_t>(bytes, static_cast<uint32_t>(silence.size()));
  if (piece > 0 && v.voice->SubmitSourceBuffer(silence.data(), piece))
    v.ends[v.submitted++ % v.ends.size()] = v.readPos;
}

void CWaveXAudio::ReleaseFinished(Voice& v) {
  if (v.lost) return;
  uint64_t queued = v.voice->GetState().buffersQueued;
  uint64_t finished = v.submitted >= queued ? v.submitted - queued : 0;
  if (finished > v.released) {
    v.released = finished;
    if (v.store && v.reader >= 0)
      v.store->SetReaderPos(v.reader, v.ends[(finished - 1) % v.ends.size()]);
  }
}

void CWaveXAudio::Prefill() {
  std::lock_guard lock(mutex_);
  if (!stream_) return;
  FlushLocked();
  // The start of each conversion now, the rest on the ticks that follow: a
  // GO waits for a fraction of a second's conversion, not a block's.
  PumpConversions(mixer::ConvertedStream::kPumpSeconds);
  for (Voice& v : voices_) {
    if (!v.voice) continue;
    const size_t first = v.conversion ? v.store->Capacity() : firstBlockSize_;
    if (SubmitRegion(v, first) == 0) SubmitSilence(v, firstBlockSize_);
  }
}

void CWaveXAudio::Refill() {
  std::lock_guard lock(mutex_);
  if (!stream_) return;
  PumpConversions(mixer::ConvertedStream::kPumpSeconds);
  for (int n = 0; n < kOutputCount; ++n) {
    Voice& v = voices_[n];
    if (!v.voice) continue;
    CatchUpAfterStall(n);
    mixer::VoiceState state = v.voice->GetState();
    if (v.lost) {
      if (!v.store->IsLost(v.reader)) {
        // Back at the live position. The silence that carried the fade-out
        // used up the voice's fade-in: a flush (of silence) gives the
        // material from here a fade-in of its own instead of a jump.
        v.voice->FlushSourceBuffers();
        ResetTracking(v, v.store->ReaderPos(v.reader));
      } else {
        // Once its silence has played the device pulls again.
        if (state.buffersQueued == 0) v.store->AskToRejoin(v.reader);
        continue;
      }
    }
    ReleaseFinished(v);
    TopUp(v, state);
  }
}

void CWaveXAudio::CatchUpAfterStall(int output) {
  Voice& v = voices_[output];
  const uint64_t resumes = engines_[output] ? engines_[output]->DeviceResumes() : v.resumes;
  if (resumes == v.resumes) return;
  v.resumes = resumes;
  if (v.lost || !v.store || v.reader < 0) return;  // already on its way back
  v.store->LosePlace(v.reader);
  // It fades out of what it holds (a few ms of silence carry the fade) and
  // asks at once to come back: the player's tick puts it at the clock, so
  // the gap lasts one tick, not the stall.
  v.voice->FlushSourceBuffers();
  v.submitted = v.released = 0;
  v.lost = true;
  SubmitSilence(v, std::max<uint32_t>(v.voice->Format().avgBytesPerSec / 50, 1));
  v.store->AskToRejoin(v.reader);
}

void CWaveXAudio::TopUp(Voice& v, const mixer::VoiceState& state) {
  const uint64_t written = v.store->WritePos();
  if (v.conversion) {
    // A converted stream grows a little on every tick: hand each voice what
    // is new once it is worth a buffer, or at once when the voice runs low.
    const uint64_t worth = v.voice->Format().avgBytesPerSec / 10;
    const uint64_t fresh = written - std::min(v.readPos, written);
    if (state.buffersQueued >= kMaxConvertedBuffers) return;
    if (fresh > 0 && (fresh >= worth || state.buffersQueued <= 1)) {
      SubmitRegion(v, v.store->Capacity());
    } else if (fresh == 0 && v.conversion->stream.Drained() && state.buffersQueued <= 1) {
      SubmitSilence(v, v.voice->Format().avgBytesPerSec);
    }
    return;
  }
  // Each voice is topped up by its own queue, so a voice that runs behind
  // the others is never handed more than it can hold.
  if (state.buffersQueued >= 2) return;
  if (v.readPos < written) {
    SubmitRegion(v, blockSize_);
  } else if (endFlag_.load()) {
    SubmitSilence(v, blockSize_);
  }
}

void CWaveXAudio::Start() {
  std::lock_guard lock(mutex_);
  for (int n = 0; n < kOutputCount; ++n) {
    Voice& v = voices_[n];
    if (!v.voice) continue;
    // A voice that starts now is on time, whatever its device did while it
    // stood still.
    if (engines_[n]) v.resumes = engines_[n]->DeviceResumes();
    v.voice->Start();
  }
}

void CWaveXAudio::Stop() {
  std::lock_guard lock(mutex_);
  for (Voice& v : voices_)
    if (v.voice) v.voice->Stop();
}

void CWaveXAudio::Flush() {
  std::lock_guard lock(mutex_);
  FlushLocked();
}

void CWaveXAudio::FlushLocked() {
  for (Voice& v : voices_) {
    if (!v.voice) continue;
    v.voice->FlushSourceBuffers();
    ResetTracking(v);
  }
  for (auto& c : conversions_)
    if (c) c->stream.Restart();
}

void CWaveXAudio::Silence() {
  std::lock_guard lock(mutex_);
  for (Voice& v : voices_) {
    if (!v.voice) continue;
    v.voice->Stop();
    v.voice->SetVolume(0.0f);
  }
}

void CWaveXAudio::ReleaseVoices() {
  std::lock_guard lock(mutex_);
  for (int n = 0; n < kOutputCount; ++n) {
    Voice& v = voices_[n];
    if (!v.voice) continue;
    if (engines_[n]) engines_[n]->DestroyVoice(v.voice);
    if (v.store && v.reader >= 0) v.store->CloseReader(v.reader);
    v = Voice{};
  }
  for (auto& c : conversions_) c.reset();
  silence_.clear();
  silence_.shrink_to_fit();
}

void CWaveXAudio::SetOutputLevel(int output, float left, float right) {
  if (output < 0 || output >= kOutputCount) return;
  std::lock_guard lock(mutex_);
  levels_[output] = {left, right};
  ApplyLevel(output);
}

void CWaveXAudio::ApplyLevel(int output) {
  mixer::SourceVoice* voice = voices_[output].voice;
  if (!voice) return;
  uint32_t channels = std::max<uint32_t>(voice->Format().channels, 1);
  // The pair fills the first two places of the per-channel list; a mono
  // stream takes only the left value.
  std::array<float, 32> volumes{};
  uint32_t count = std::min<uint32_t>(channels, volumes.size());
  volumes[0] = levels_[output][0];
  if (count > 1) volumes[1] = levels_[output][1];
  voice->SetChannelVolumes(count, volumes.data());
}

void CWaveXAudio::InitEffects() {
  std::lock_guard lock(mutex_);
  // Centres, bandwidths and the fourth band from the table; the three tone
  // gains stay as they were set.
  FxEqParameters p;
  for (int band = 0; band < 3; ++band) p.Gain(band) = tone_.Gain(band);
  tone_ = p;
  effectsOn_ = true;
}

void CWaveXAudio::SetToneGain(int band, float x) {
  if (band < 0 || band > 2) return;
  std::lock_guard lock(mutex_);
  tone_.Gain(band) = ToneGain(x);
  for (int n = 0; n < kOutputCount; ++n)
    if (voices_[n].voice) effects_[n].SetParameters(tone_);
}

}  // namespace orvex
