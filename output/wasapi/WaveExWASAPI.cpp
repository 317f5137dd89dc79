#include "output/wasapi/WaveExWASAPI.h"

#include <alsa/asoundlib.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "show/Messages.h"

namespace orvex {
namespace {

// What a source sample adds before its gain, scaled to a 32-bit container.
inline int32_t Contribution32(const uint8_t* p, uint16_t bits) {
  switch (bits) {
    case 8:
      return (int32_t(p[0]) - 128) * (1 << 24);
    case 16:
      return int32_t(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 24);
    case 24:
      return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24);
    case 32:
      return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                     uint32_t(p[3]) << 24);
  }
  return 0;
}

inline int64_t Clamp(int64_t v, int64_t lo, int64_t hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

void RaisePeak(std::atomic<float>& peak, float value) {
  float old = peak.load(std::memory_order_relaxed);
  while (value > old && !peak.compare_exchange_weak(old, value, std::memory_order_relaxed)) {
  }
}

std::string HardwareName(const WasapiEndpoint& e) {
  return "hw:" + std::to_string(e.alsaCard) + "," +
         std::to_string(e.alsaDevice < 0 ? 0 : e.alsaDevice);
}

StoredWaveFormat FallbackFormat() {
  StoredWaveFormat f;  // PCM, 2 channels, 44100 Hz, 16 bits
  f.formatTag = kFormatPcm;
  f.channels = 2;
  f.samplesPerSec = 44100;
  f.avgBytesPerSec = 176400;
  f.blockAlign = 4;
  f.bitsPerSample = 16;
  f.extraSize = 0;
  f.validBits = 0;
  f.channelMask = 3;
  return f;
}

snd_pcm_format_t AlsaFormatOf(const StoredWaveFormat& f) {
  if (f.channels != 2) return SND_PCM_FORMAT_UNKNOWN;
  if (f.bitsPerSample == 16) return SND_PCM_FORMAT_S16_LE;
  if (f.bitsPerSample == 32) return SND_PCM_FORMAT_S32_LE;
  return SND_PCM_FORMAT_UNKNOWN;
}

bool Supports(snd_pcm_t* pcm, snd_pcm_format_t format, uint32_t rate) {
  if (format == SND_PCM_FORMAT_UNKNOWN) return false;
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  if (snd_pcm_hw_params_any(pcm, hw) < 0) return false;
  snd_pcm_hw_params_set_rate_resample(pcm, hw, 0);
  return snd_pcm_hw_params_test_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) == 0 &&
         snd_pcm_hw_params_test_format(pcm, hw, format) == 0 &&
         snd_pcm_hw_params_test_channels(pcm, hw, 2) == 0 &&
         snd_pcm_hw_params_test_rate(pcm, hw, rate, 0) == 0;
}

}  // namespace

bool CWaveExWASAPI::OpenDevice(const std::string& alsaName) {
  Close();
  if (!endpoint_ || !format_ || !bufferMs_) return false;
  std::string name = alsaName;
  if (name.empty()) {
    if (endpoint_->alsaCard < 0) {
      ConfirmYesNo(kExclusiveNoHardware);
      return false;
    }
    name = HardwareName(*endpoint_);
  }
  // The server holds the card while its sink runs; ask it to let go.
  if (endpoint_->server) suspended_ = endpoint_->server->SuspendSink(endpoint_->id, true);
  snd_pcm_t* pcm = nullptr;
  int rc = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (rc == -EBUSY) {
    ConfirmYesNo(kExclusiveBusy);
  } else if (rc < 0) {
    std::fprintf(stderr, "Exclusive device %s: %s\n", name.c_str(), snd_strerror(rc));
  }
  if (rc < 0) {
    if (suspended_) endpoint_->server->SuspendSink(endpoint_->id, false);
    suspended_ = false;
    return false;
  }
  if (!Supports(pcm, AlsaFormatOf(*format_), format_->samplesPerSec)) *format_ = FallbackFormat();
  const snd_pcm_format_t alsaFormat = AlsaFormatOf(*format_);
  rate_ = format_->samplesPerSec;
  sample_ = alsaFormat == SND_PCM_FORMAT_S16_LE ? Sample::kInt16 : Sample::kInt32;

  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  bool ok = snd_pcm_hw_params_any(pcm, hw) >= 0;
  ok = ok && snd_pcm_hw_params_set_rate_resample(pcm, hw, 0) >= 0;
  ok = ok && snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0;
  ok = ok && snd_pcm_hw_params_set_format(pcm, hw, alsaFormat) >= 0;
  ok = ok && snd_pcm_hw_params_set_channels(pcm, hw, 2) >= 0;
  ok = ok && snd_pcm_hw_params_set_rate(pcm, hw, rate_, 0) >= 0;
  if (ok) {
    // The buffer is twice the stored length, and never shorter than the
    // device's shortest period; the stored length follows the latter.
    unsigned minPeriodUs = 0;
    int dir = 0;
    snd_pcm_hw_params_get_period_time_min(hw, &minPeriodUs, &dir);
    unsigned bufferUs = static_cast<unsigned>(std::max(*bufferMs_, 0)) * 2000;
    if (minPeriodUs >= bufferUs) {
      bufferUs = minPeriodUs;
      *bufferMs_ = static_cast<int32_t>(minPeriodUs / 2000);
    }
    unsigned periodUs = std::max(bufferUs / 2, minPeriodUs);
    dir = 0;
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, &dir);
    dir = 0;
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, &dir);
    ok = snd_pcm_hw_params(pcm, hw) >= 0;
  }
  snd_pcm_uframes_t bufferFrames = 0, periodFrames = 0;
  if (ok) {
    snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames);
    int dir = 0;
    snd_pcm_hw_params_get_period_size(hw, &periodFrames, &dir);
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    ok = snd_pcm_sw_params_current(pcm, sw) >= 0 &&
         snd_pcm_sw_params_set_start_threshold(pcm, sw, periodFrames) >= 0 &&
         snd_pcm_sw_params_set_avail_min(pcm, sw, periodFrames) >= 0 &&
         snd_pcm_sw_params(pcm, sw) >= 0 && bufferFrames > 0;
  }
  if (!ok) {
    std::fprintf(stderr, "Exclusive device %s: cannot set up the stream\n", name.c_str());
    snd_pcm_close(pcm);
    if (suspended_) endpoint_->server->SuspendSink(endpoint_->id, false);
    suspended_ = false;
    return false;
  }
  pcm_ = pcm;
  bufferFrames_ = static_cast<uint32_t>(bufferFrames);
  periodFrames_ = static_cast<uint32_t>(std::max<snd_pcm_uframes_t>(periodFrames, 1));
  periodMs_ = std::max<uint32_t>(bufferFrames_ * 1000 / (rate_ * 2), 1);
  mix_.assign(size_t{bufferFrames_} * 2, 0);
  out_.assign(size_t{bufferFrames_} * 2 * (sample_ == Sample::kInt16 ? 2 : 4), 0);
  written_.store(0);
  return true;
}

bool CWaveExWASAPI::IsFormatSupported(const StoredWaveFormat& format) const {
  if (!pcm_) return false;
  return Supports(pcm_, AlsaFormatOf(format), format.samplesPerSec);
}

bool CWaveExWASAPI::Start() {
  if (!pcm_ || writer_.joinable()) return false;
  stop_.store(false);
  writer_ = std::thread([this] { WriterLoop(); });
  return true;
}

void CWaveExWASAPI::Close() {
  if (writer_.joinable()) {
    stop_.store(true);
    writer_.join();
  }
  for (int n = 1; n < kSlots; ++n) {
    slots_[Index(n)].left.store(0);
    slots_[Index(n)].right.store(0);
  }
  if (pcm_) {
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }
  if (suspended_ && endpoint_ && endpoint_->server)
    endpoint_->server->SuspendSink(endpoint_->id, false);
  suspended_ = false;
  bufferFrames_ = periodFrames_ = periodMs_ = 0;
}

void CWaveExWASAPI::WaitForPass() const {
  while (busy_.load(std::memory_order_acquire)) std::this_thread::yield();
}

void CWaveExWASAPI::AttachSlot(int n, StreamStore* stream, const WaveFormat& format) {
  DetachSlot(n);
  Slot& s = slots_[Index(n)];
  s.stream = stream;
  s.format = format;
  s.reader = stream ? stream->OpenReader() : -1;
  s.readPos = 0;
  s.restart.store(false);
  s.attached.store(stream != nullptr, std::memory_order_release);
}

void CWaveExWASAPI::RestartSlot(int n) {
  slots_[Index(n)].restart.store(true, std::memory_order_release);
}

void CWaveExWASAPI::SetSlotPlaying(int n, bool playing) {
  Slot& s = slots_[Index(n)];
  if (playing && !pcm_) return;  // only a mixer with a device plays
  s.playing.store(playing, std::memory_order_release);
  if (!playing) WaitForPass();
}

void CWaveExWASAPI::DetachSlot(int n) {
  Slot& s = slots_[Index(n)];
  s.playing.store(false);
  s.attached.store(false, std::memory_order_release);
  WaitForPass();
  if (s.stream && s.reader >= 0) s.stream->CloseReader(s.reader);
  s.stream = nullptr;
  s.reader = -1;
}

void CWaveExWASAPI::SetSlotGains(int n, int output, float left, float right) {
  if (output != output_) return;
  slots_[Index(n)].left.store(left);
  slots_[Index(n)].right.store(right);
}

bool CWaveExWASAPI::OutputPeak(float& left, float& right) {
  left = peakLeft_.exchange(0.0f);
  right = peakRight_.exchange(0.0f);
  return pcm_ != nullptr;
}

void CWaveExWASAPI::WriterLoop() {
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const uint64_t periodNs = uint64_t{periodFrames_} * 1000000000ull / rate_;
  timespec next = start;
  uint64_t due = bufferFrames_;  // keep the device's buffer full
  while (!stop_.load(std::memory_order_acquire)) {
    busy_.store(true, std::memory_order_release);
    snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
    if (avail == -EPIPE || avail == -ESTRPIPE) {
      snd_pcm_prepare(pcm_);
      avail = snd_pcm_avail_update(pcm_);
    }
    const uint64_t sent = written_.load(std::memory_order_relaxed);
    if (avail > 0 && due > sent) {
      const auto n = static_cast<uint32_t>(
          std::min<uint64_t>({uint64_t(avail), due - sent, uint64_t{bufferFrames_}}));
      Mix(n);
      snd_pcm_sframes_t w = snd_pcm_writei(pcm_, out_.data(), n);
      if (w == -EPIPE) {
        snd_pcm_prepare(pcm_);
        w = snd_pcm_writei(pcm_, out_.data(), n);
      }
      // Frames the device did not take are dropped, not played late.
      written_.store(sent + n, std::memory_order_relaxed);
    }
    busy_.store(false, std::memory_order_release);
    // Pace by the clock: a device that takes anything (a file) still plays
    // at its rate, and the players' stores stay ahead of it.
    uint64_t ns = uint64_t(next.tv_nsec) + periodNs;
    next.tv_sec += static_cast<time_t>(ns / 1000000000ull);
    next.tv_nsec = static_cast<long>(ns % 1000000000ull);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double elapsed =
        double(now.tv_sec - start.tv_sec) + 1e-9 * double(now.tv_nsec - start.tv_nsec);
    due = bufferFrames_ + static_cast<uint64_t>(elapsed * rate_);
  }
}

void CWaveExWASAPI::Mix(uint32_t frames) {
  std::fill(mix_.begin(), mix_.begin() + size_t{frames} * 2, 0);
  // The continuous-play slot 0 is not heard on the exclusive output.
  for (int n = 1; n < kSlots; ++n) {
    Slot& s = slots_[Index(n)];
    if (s.attached.load(std::memory_order_acquire)) MixSlot(s, frames);
  }
  float peakL = 0, peakR = 0;
  if (sample_ == Sample::kInt16) {
    auto* out = reinterpret_cast<int16_t*>(out_.data());
    for (size_t i = 0; i < size_t{frames} * 2; ++i) {
      // Loud passages clip at full scale instead of wrapping around.
      const int64_t v = Clamp(mix_[i] >> 16, INT16_MIN, INT16_MAX);
      out[i] = static_cast<int16_t>(v);
      float& peak = (i % 2 == 0) ? peakL : peakR;
      peak = std::max(peak, std::fabs(float(v)) / 32767.0f);
    }
  } else {
    auto* out = reinterpret_cast<int32_t*>(out_.data());
    for (size_t i = 0; i < size_t{frames} * 2; ++i) {
      const int64_t v = Clamp(mix_[i], INT32_MIN, INT32_MAX);
      out[i] = static_cast<int32_t>(v);
      float& peak = (i % 2 == 0) ? peakL : peakR;
      peak = std::max(peak, float(std::fabs(double(v)) / 2147483647.0));
    }
  }
  RaisePeak(peakLeft_, std::min(peakL, 1.0f));
  RaisePeak(peakRight_, std::min(peakR, 1.0f));
}

void CWaveExWASAPI::MixSlot(Slot& s, uint32_t frames) {
  if (s.restart.exchange(false, std::memory_order_acq_rel)) {
    s.readPos = 0;
    s.lost = false;
  }
  if (!s.playing.load(std::memory_order_acquire) || !s.stream) return;
  const WaveFormat& f = s.format;
  const uint32_t align = f.blockAlign;
  const uint16_t bits = f.bitsPerSample;
  if (align == 0 || (bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
      f.formatTag == kFormatFloat)
    return;
  const size_t sampleBytes = bits / 8;
  const bool stereo = f.channels >= 2;
  const double gl = s.left.load(std::memory_order_relaxed);
  const double gr = s.right.load(std::memory_order_relaxed);
  // The player's writer never takes bytes from under a read; a slot that
  // lost its place plays silence and comes back at the live position.
  if (s.reader >= 0 && !s.stream->EnterRead(s.reader)) {
    s.lost = true;
    return;
  }
  if (s.lost) {
    s.readPos = s.stream->ReaderPos(s.reader);
    s.lost = false;
  }
  size_t frame = 0;
  uint64_t pos = s.readPos;
  // The store hands out at most two pieces; a frame never straddles them
  // because the ring holds whole frames.
  for (const StreamStore::Span& span : s.stream->Region(pos, size_t{frames} * align)) {
    const size_t n = span.size / align;
    for (size_t i = 0; i < n; ++i, ++frame) {
      const uint8_t* p = span.data + i * align;
      const int32_t l = Contribution32(p, bits);
      const int32_t r = stereo ? Contribution32(p + sampleBytes, bits) : l;
      // In the 16-bit container the product is truncated at 16 bits, as the
      // sum of the contributions' upper halves.
      if (sample_ == Sample::kInt16) {
        mix_[frame * 2] += static_cast<int64_t>(std::trunc((l >> 16) * gl)) * 65536;
        mix_[frame * 2 + 1] += static_cast<int64_t>(std::trunc((r >> 16) * gr)) * 65536;
      } else {
        mix_[frame * 2] += static_cast<int64_t>(std::trunc(l * gl));
        mix_[frame * 2 + 1] += static_cast<int64_t>(std::trunc(r * gr));
      }
    }
    pos += n * align;
  }
  s.readPos = pos;
  if (s.reader >= 0) {
    s.stream->SetReaderPos(s.reader, pos);
    s.stream->LeaveRead(s.reader);
  }
}

}  // namespace orvex
