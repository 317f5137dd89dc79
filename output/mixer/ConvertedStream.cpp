#include "output/mixer/ConvertedStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvex::mixer {
namespace {

// Source frames decoded per step of the converter.
constexpr uint32_t kChunkFrames = 4096;

}  // namespace

bool ConvertedStream::Open(StreamStore& source, const WaveFormat& decoded, uint32_t rate) {
  Close();
  if (decoded.samplesPerSec == 0 || decoded.blockAlign == 0 || rate == 0) return false;
  const DecodeFn decode = DecoderFor(decoded.bitsPerSample);
  const DownmixFn downmix = decoded.channels > 2 ? DownmixerFor(decoded.bitsPerSample) : nullptr;
  if (!decode || (decoded.channels > 2 && !downmix)) return false;
  channels_ = decoded.channels == 1 ? 1 : 2;
  // Built off the audio side and used only here, so it needs no warm-up.
  resampler_ = StreamResampler::Create(decoded.samplesPerSec, rate, channels_, false);
  if (!resampler_) return false;
  reader_ = source.OpenReader(nullptr);
  if (reader_ < 0) {
    resampler_.reset();
    return false;
  }
  source_ = &source;
  decoded_ = decoded;
  decode_ = decode;
  downmix_ = downmix;
  matrix_ = StereoDownmix(decoded.channels, decoded.channelMask);

  format_ = WaveFormat{};
  format_.formatTag = kFormatFloat;
  format_.channels = static_cast<uint16_t>(channels_);
  format_.samplesPerSec = rate;
  format_.bitsPerSample = 32;
  format_.blockAlign = static_cast<uint16_t>(4 * channels_);
  format_.avgBytesPerSec = rate * format_.blockAlign;

  const auto frames = static_cast<size_t>(kStoreSeconds * rate);
  store_.Allocate(frames * format_.blockAlign, format_.blockAlign);
  silence_.assign(format_.avgBytesPerSec, 0);
  in_.assign(size_t{kChunkFrames} * channels_, 0.0f);
  const double ratio = double(rate) / decoded.samplesPerSec;
  out_.assign((size_t(std::ceil(kChunkFrames * ratio)) + 64) * channels_, 0.0f);
  Restart();
  return true;
}

void ConvertedStream::Close() {
  if (source_ && reader_ >= 0) source_->CloseReader(reader_);
  source_ = nullptr;
  reader_ = -1;
  resampler_.reset();
  store_.Release();
  silence_.clear();
  in_.clear();
  out_.clear();
  drained_ = false;
}

void ConvertedStream::Restart() {
  if (!IsOpen()) return;
  resampler_->Reset();
  store_.Reset();
  readPos_ = 0;
  source_->SetReaderPos(reader_, 0);
  inPos_ = inFrames_ = 0;
  framesIn_ = framesOut_ = 0;
  drained_ = false;
}

uint64_t ConvertedStream::FramesFor(uint64_t sourceFrames) const {
  return sourceFrames * format_.samplesPerSec / decoded_.samplesPerSec;
}

bool ConvertedStream::ReadSource() {
  if (source_->IsLost(reader_)) {
    // Only when its own store stayed full for long: it comes back at the
    // clock, and the voices hear the jump once.
    source_->AskToRejoin(reader_);
    return false;
  }
  readPos_ = std::max(readPos_, source_->ReaderPos(reader_));
  const uint32_t align = decoded_.blockAlign;
  const uint64_t have = source_->WritePos() - std::min(readPos_, source_->WritePos());
  const auto frames = static_cast<uint32_t>(std::min<uint64_t>(have / align, kChunkFrames));
  if (frames == 0) return false;
  uint32_t done = 0;
  for (const StreamStore::Span& span : source_->Region(readPos_, size_t{frames} * align)) {
    const auto n = static_cast<uint32_t>(span.size / align);
    if (n == 0) continue;
    float* to = in_.data() + size_t{done} * channels_;
    if (downmix_) {
      downmix_(span.data, decoded_.channels, n, to, matrix_);
    } else {
      decode_(span.data, decoded_.channels, n, to, channels_);
    }
    done += n;
  }
  readPos_ += uint64_t{done} * align;
  source_->SetReaderPos(reader_, readPos_);
  framesIn_ += done;
  inPos_ = 0;
  inFrames_ = done;
  return done > 0;
}

bool ConvertedStream::FeedTail() {
  if (framesOut_ >= FramesFor(framesIn_)) {
    drained_ = true;
    return false;
  }
  std::fill(in_.begin(), in_.end(), 0.0f);
  inPos_ = 0;
  inFrames_ = kChunkFrames;
  return true;
}

size_t ConvertedStream::Pump(size_t maxFrames, bool sourceEnded) {
  if (!IsOpen()) return 0;
  const uint32_t fb = format_.blockAlign;
  const size_t outCap = out_.size() / channels_;
  const auto maxLag = static_cast<uint64_t>(kMaxLagSeconds * format_.samplesPerSec) * fb;
  size_t made = 0;
  int idle = 0;
  while (made < maxFrames && !drained_) {
    size_t room = store_.FreeSpace() / fb;
    if (room < outCap) {
      // A voice whose device stopped pulling never holds the others back.
      store_.DropLaggingReaders(outCap * fb, maxLag);
      room = store_.FreeSpace() / fb;
      if (room == 0) break;
    }
    if (inPos_ == inFrames_ && !ReadSource() && (!sourceEnded || !FeedTail())) break;
    const bool tail = framesIn_ > 0 && source_->WritePos() <= readPos_ && sourceEnded;
    size_t used = 0, got = 0;
    resampler_->Process(in_.data() + size_t{inPos_} * channels_, inFrames_ - inPos_, used,
                        out_.data(), std::min({room, maxFrames - made, outCap}), got);
    inPos_ += static_cast<uint32_t>(used);
    if (tail) {
      // Past the file's last frame only the converter's held-back sound
      // comes out; the zeros after it are not part of the file.
      const uint64_t left = FramesFor(framesIn_) - std::min(framesOut_, FramesFor(framesIn_));
      if (got >= left) {
        got = static_cast<size_t>(left);
        drained_ = true;
      }
    }
    store_.Append(reinterpret_cast<const uint8_t*>(out_.data()), got * fb);
    framesOut_ += got;
    made += got;
    idle = (used == 0 && got == 0) ? idle + 1 : 0;
    if (idle > 2) break;
  }
  return made;
}

void ConvertedStream::FollowLive() {
  if (!IsOpen()) return;
  const uint64_t frames = source_->LivePos() / decoded_.blockAlign;
  store_.SetLivePos(FramesFor(frames) * format_.blockAlign);
  store_.RejoinWaiting();
}

}  // namespace orvex::mixer
