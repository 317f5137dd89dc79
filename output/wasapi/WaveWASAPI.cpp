#include "output/wasapi/WaveWASAPI.h"

#include <algorithm>
#include <cstring>

namespace orvex {

void CWaveWASAPI::SetStream(StreamStore* stream) {
  std::lock_guard lock(mutex_);
  stream_ = stream;
}

void CWaveWASAPI::SetDevice(int output, const WasapiEndpoint* endpoint) {
  if (output < 0 || output >= kOutputs) return;
  std::lock_guard lock(mutex_);
  Out& o = outs_[static_cast<size_t>(output)];
  if (!endpoint) CloseOutput(o);
  o.endpoint = endpoint;
}

bool CWaveWASAPI::OpenStreams(const WaveFormat& format, uint32_t bufferSeconds,
                              const std::array<uint8_t, 3>& exclusiveFlags) {
  std::lock_guard lock(mutex_);
  for (Out& o : outs_) CloseOutput(o);
  format_ = format;
  started_ = false;
  const uint32_t bufferMs =
      bufferSeconds > 0 ? std::min(kBufferMs, bufferSeconds * 1000) : kBufferMs;
  size_t biggest = 0;
  bool all = true;
  for (int n = 0; n < kOutputs; ++n) {
    Out& o = outs_[static_cast<size_t>(n)];
    if (!o.endpoint || !o.endpoint->server || exclusiveFlags[static_cast<size_t>(n)]) continue;
    auto client = std::make_unique<pulse::PulsePlayStream>();
    if (!client->Open(*o.endpoint->server, o.endpoint->id, format, bufferMs)) {
      all = false;  // this output stays silent for the file
      continue;
    }
    biggest = std::max(biggest, client->BufferBytes());
    o.client = std::move(client);
    o.reader = stream_ ? stream_->OpenReader() : -1;
    o.readPos = 0;
    o.gain.rampFrames = std::max<uint32_t>(format.samplesPerSec / 100, 1);
    o.gain.left = o.gain.right = 0;  // every start fades in from silence
  }
  scratch_.assign(biggest + format.blockAlign, 0);
  return all;
}

void CWaveWASAPI::CloseOutput(Out& o) {
  if (o.client) {
    o.client->Cork(true);
    o.client->Flush();
    o.client->Close();
    o.client.reset();
  }
  if (stream_ && o.reader >= 0) stream_->CloseReader(o.reader);
  o.reader = -1;
  o.readPos = 0;
  o.lost = false;
}

void CWaveWASAPI::WriteFrom(Out& o, size_t bytes) {
  const uint32_t align = std::max<uint16_t>(format_.blockAlign, 1);
  bytes = std::min(bytes, scratch_.size()) / align * align;
  if (bytes == 0) return;
  size_t got = 0;
  if (stream_ && o.reader >= 0 && stream_->IsLost(o.reader)) {
    // Fell behind while the server did not pull: silence until the player
    // puts the stream back at the live position.
    stream_->AskToRejoin(o.reader);
    o.lost = true;
  } else if (stream_ && o.reader >= 0) {
    if (o.lost) {
      o.readPos = stream_->ReaderPos(o.reader);
      o.lost = false;
    }
    for (const StreamStore::Span& s : stream_->Region(o.readPos, bytes)) {
      if (s.size == 0) continue;
      std::memcpy(scratch_.data() + got, s.data, s.size);
      got += s.size;
    }
    got = got / align * align;
    o.readPos += got;
    stream_->SetReaderPos(o.reader, o.readPos);
  }
  if (got == 0) {
    // Caught up with the player: keep the stream fed with silence.
    std::memset(scratch_.data(), format_.bitsPerSample == 8 ? 0x80 : 0, bytes);
    got = bytes;
  }
  float peakL = 0, peakR = 0;
  o.gain.Apply(scratch_.data(), got / align, format_, peakL, peakR);
  o.client->PeakLeft().store(std::max(o.client->PeakLeft().load(), peakL));
  o.client->PeakRight().store(std::max(o.client->PeakRight().load(), peakR));
  o.client->Write(scratch_.data(), got);
}

void CWaveWASAPI::Prefill() {
  std::lock_guard lock(mutex_);
  for (Out& o : outs_) {
    if (!o.client) continue;
    WriteFrom(o, o.client->BufferBytes());
  }
}

void CWaveWASAPI::Refill() {
  std::lock_guard lock(mutex_);
  for (Out& o : outs_) {
    if (!o.client) continue;
    if (!o.client->Healthy()) {
      // A vanished server: stop holding the player's store.
      if (stream_ && o.reader >= 0) stream_->CloseReader(o.reader);
      o.reader = -1;
      continue;
    }
    const size_t free = o.client->Writable();
    if (free > o.client->BufferBytes() / 2) WriteFrom(o, free);
  }
}

void CWaveWASAPI::Start() {
  std::lock_guard lock(mutex_);
  started_ = true;
  for (Out& o : outs_)
    if (o.client) o.client->Cork(false);
}

void CWaveWASAPI::Stop() {
  std::lock_guard lock(mutex_);
  started_ = false;
  for (Out& o : outs_)
    if (o.client) o.client->Cork(true);
}

void CWaveWASAPI::Flush() {
  std::lock_guard lock(mutex_);
  for (Out& o : outs_) {
    if (!o.client) continue;
    o.client->Flush();
    o.readPos = 0;
    o.lost = false;
    o.gain.left = o.gain.right = 0;  // the new position fades in
    if (stream_ && o.reader >= 0) stream_->SetReaderPos(o.reader, 0);
  }
}

void CWaveWASAPI::Close() {
  std::lock_guard lock(mutex_);
  started_ = false;
  for (Out& o : outs_) CloseOutput(o);
}

void CWaveWASAPI::SetOutputLevel(int output, float left, float right) {
  if (output < 0 || output >= kOutputs) return;
  Out& o = outs_[static_cast<size_t>(output)];
  o.gain.targetLeft.store(left);
  o.gain.targetRight.store(right);
}

bool CWaveWASAPI::HasStream(int output) const {
  if (output < 0 || output >= kOutputs) return false;
  std::lock_guard lock(mutex_);
  return outs_[static_cast<size_t>(output)].client != nullptr;
}

bool CWaveWASAPI::AnyStream() const {
  std::lock_guard lock(mutex_);
  return std::any_of(outs_.begin(), outs_.end(), [](const Out& o) { return o.client != nullptr; });
}

}  // namespace orvex
