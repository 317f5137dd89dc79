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

}  // namespace

bool AsioSlot::OpenSource(uint32_t deviceRate) {
  CloseSource();
  if (!stream || format.blockAlign == 0 || format.channels == 0 || deviceRate == 0) return false;
  decode = xaudio::DecoderFor(format.bitsPerSample);
  if (!decode || format.formatTag == kFormatFloat) return false;
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
  decode(raw.data(), format.channels, static_cast<uint32_t>(frames), decoded.data(),
         SourceChannels(format));
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
