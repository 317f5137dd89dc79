#include "output/asio/AsioSlot.h"

#include <algorithm>

namespace orvex::asio {
namespace {

constexpr size_t kChunkFrames = 1024;

uint32_t SourceChannels(const WaveFormat& f) {
  return std::min<uint32_t>(f.channels, 2);
}

// Stereo out of 1 or 2 channels: mono goes to both sides.
void ToStereo(const float* in, uint32_t channels, size_t frames, float* out) {
  if (channels == 2) {
    std::copy(in, in + 2 * frames, out);
    return;
  }
  for (size_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = in[i];
}

float MoveToward(float value, float target, float step) {
  if (value < target) return std::min(target, value + step);
  if (value > target) return std::max(target, value - step);
  return value;
}

}  // namespace

bool AsioSlot::MixInto(float* mixLeft, float* mixRight, uint32_t frames, uint32_t rampFrames) {
  if (!enabled.load()) {
    envelope = 0;
    sounding.store(false, std::memory_order_relaxed);
    return false;
  }
  const float target = playing.load(std::memory_order_acquire) ? 1.0f : 0.0f;
  const float wantLeft = left.load(std::memory_order_relaxed);
  const float wantRight = right.load(std::memory_order_relaxed);
  if (envelope == 0 && target == 0) {
    // A slot that does not sound follows its gains at once, so the next
    // start ramps from silence to the level set meanwhile.
    gainLeft = wantLeft;
    gainRight = wantRight;
    sounding.store(false, std::memory_order_release);
    return false;
  }
  sounding.store(true, std::memory_order_relaxed);
  const float step = 1.0f / static_cast<float>(std::max<uint32_t>(rampFrames, 1));
  bool requested = false;
  int cur = current.load(std::memory_order_relaxed);
  uint32_t used = consumed.load(std::memory_order_relaxed);
  uint32_t have = filled[cur].load(std::memory_order_acquire);
  bool dry = false;
  for (uint32_t i = 0; i < frames; ++i) {
    if (used >= have) {
      if (have == 0) {  // the refill has not delivered this half yet
        dry = true;
        break;
      }
      // Hand the finished half to the refill side and go on with the other.
      filled[cur].store(0, std::memory_order_relaxed);
      wanted[cur].store(true, std::memory_order_release);
      requested = true;
      cur ^= 1;
      used = 0;
      have = filled[cur].load(std::memory_order_acquire);
      if (have == 0) {  // nor the next one
        dry = true;
        break;
      }
    }
    const float* src = halves[cur].data() + 2 * size_t{used};
    envelope = MoveToward(envelope, target, step);
    gainLeft = MoveToward(gainLeft, wantLeft, step);
    gainRight = MoveToward(gainRight, wantRight, step);
    mixLeft[i] += src[0] * gainLeft * envelope;
    mixRight[i] += src[1] * gainRight * envelope;
    ++used;
    if (envelope == 0) break;  // ramped out: stop on this frame
  }
  current.store(cur, std::memory_order_relaxed);
  consumed.store(used, std::memory_order_relaxed);
  // A slot that ran dry (the end of its file, or a refill that fell behind)
  // is silent already: it has nothing left to ramp out, and what comes next
  // ramps in.
  if (dry) envelope = 0;
  if (envelope == 0) sounding.store(false, std::memory_order_release);
  return requested;
}

void AsioSlot::ServeWanted(uint32_t halfFrames, bool onlyWhilePlaying) {
  for (int h = 0; h < 2; ++h) {
    if (!wanted[h].load(std::memory_order_acquire)) continue;
    std::lock_guard lock(mutex);
    // Checked again under the lock: an attach or detach may have taken the
    // half back meanwhile, or a pause may want the stream left alone.
    if (!wanted[h].load(std::memory_order_acquire)) continue;
    if (onlyWhilePlaying && !playing.load(std::memory_order_acquire)) continue;
    const uint32_t n = FillHalf(h, halfFrames);
    if (n == 0) continue;  // nothing new in the store yet: try again later
    filled[h].store(n, std::memory_order_release);
    wanted[h].store(false, std::memory_order_release);
  }
}

void AsioSlot::ResetHalves(uint32_t halfFrames) {
  for (int h = 0; h < 2; ++h) {
    halves[h].assign(2 * size_t{halfFrames}, 0.0f);
    filled[h].store(0);
    wanted[h].store(false);
  }
  current.store(0);
  consumed.store(0);
}

bool AsioSlot::Prime(uint32_t deviceRate, uint32_t halfFrames) {
  CloseSource();
  for (int h = 0; h < 2; ++h) {
    wanted[h].store(false);
    filled[h].store(0);
  }
  current.store(0);
  consumed.store(0);
  if (!OpenSource(deviceRate)) return false;
  for (int h = 0; h < 2; ++h) {
    const uint32_t n = FillHalf(h, halfFrames);
    filled[h].store(n);
    wanted[h].store(n == 0);
  }
  return true;
}

bool AsioSlot::OpenSource(uint32_t deviceRate) {
  CloseSource();
  if (!stream || format.blockAlign == 0 || format.channels == 0 || deviceRate == 0) return false;
  decode = xaudio::DecoderFor(format.bitsPerSample);
  if (!decode || format.formatTag == kFormatFloat) return false;
  downmix = format.channels > 2 ? xaudio::DownmixerFor(format.bitsPerSample) : nullptr;
  if (downmix) matrix = StereoDownmix(format.channels, format.channelMask);
  const uint32_t channels = SourceChannels(format);
  if (format.samplesPerSec != deviceRate) {
    // The device cannot follow the file's rate: convert it here, off the
    // audio thread, so it plays at its own speed and pitch.
    resampler = xaudio::StreamResampler::Create(format.samplesPerSec, deviceRate, channels);
    if (!resampler) return false;
  }
  reader = stream->OpenReader();
  if (reader < 0) return false;
  raw.assign(kChunkFrames * format.blockAlign, 0);
  const size_t tail = resampler ? resampler->TailFrames() : 0;
  decoded.assign(std::max(kChunkFrames, tail) * channels, 0.0f);
  resampled.assign(kChunkFrames * channels, 0.0f);
  decodedFrames = decodedUsed = 0;
  tailPushed = false;
  // The converter starts with its delay of silence; dropping it lets a cue
  // start as soon as one at the device's own rate.
  leadToDrop = resampler ? resampler->LeadFrames() : 0;
  return true;
}

void AsioSlot::CloseSource() {
  if (stream && reader >= 0) stream->CloseReader(reader);
  reader = -1;
  resampler.reset();
  decode = nullptr;
  downmix = nullptr;
  decodedFrames = decodedUsed = 0;
}

size_t AsioSlot::ReadSource(size_t maxFrames) {
  const uint32_t align = format.blockAlign;
  // A slot whose device fell behind has lost its place in the store: it
  // reads nothing until the store puts it back at the live position.
  if (!stream->EnterRead(reader)) return 0;
  const uint64_t pos = stream->ReaderPos(reader);
  size_t available = 0;
  for (const StreamStore::Span& s : stream->Region(pos, maxFrames * align)) available += s.size;
  // Only whole frames: a partly appended frame waits for its rest.
  const size_t frames = available / align;
  if (frames > 0) stream->Read(reader, raw.data(), frames * align);
  stream->LeaveRead(reader);
  if (frames == 0) return 0;
  if (downmix) {
    downmix(raw.data(), format.channels, static_cast<uint32_t>(frames), decoded.data(), matrix);
  } else {
    decode(raw.data(), format.channels, static_cast<uint32_t>(frames), decoded.data(),
           SourceChannels(format));
  }
  return frames;
}

uint32_t AsioSlot::FillHalf(int half, uint32_t halfFrames) {
  if (reader < 0 || !decode) return 0;
  float* out = halves[static_cast<size_t>(half)].data();
  const uint32_t channels = SourceChannels(format);
  uint32_t made = 0;
  while (made < halfFrames) {
    if (decodedUsed == decodedFrames) {
      decodedUsed = 0;
      decodedFrames =
          ReadSource(std::min<size_t>(kChunkFrames, resampler ? kChunkFrames : halfFrames - made));
      if (decodedFrames > 0) {
        tailPushed = false;
      } else if (resampler && !tailPushed) {
        // Caught up with the file: push out what the converter still holds.
        decodedFrames = resampler->TailFrames();
        std::fill(decoded.begin(), decoded.begin() + decodedFrames * channels, 0.0f);
        tailPushed = true;
      }
      if (decodedFrames == 0) break;
    }
    const size_t room = halfFrames - made;
    if (!resampler) {
      const size_t n = std::min(room, decodedFrames - decodedUsed);
      ToStereo(decoded.data() + decodedUsed * channels, channels, n, out + 2 * size_t{made});
      decodedUsed += n;
      made += static_cast<uint32_t>(n);
      continue;
    }
    size_t used = 0, produced = 0;
    resampler->Process(decoded.data() + decodedUsed * channels, decodedFrames - decodedUsed, used,
                       resampled.data(), std::min(room, kChunkFrames), produced);
    const size_t dropped = std::min<size_t>(produced, leadToDrop);
    leadToDrop -= static_cast<uint32_t>(dropped);
    ToStereo(resampled.data() + dropped * channels, channels, produced - dropped,
             out + 2 * size_t{made});
    decodedUsed += used;
    made += static_cast<uint32_t>(produced - dropped);
    if (used == 0 && produced == 0) break;
  }
  return made;
}

}  // namespace orvex::asio
