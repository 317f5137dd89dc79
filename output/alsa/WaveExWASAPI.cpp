#include "output/alsa/WaveExWASAPI.h"

#include <alsa/asoundlib.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "output/DeviceSamples.h"
#include "output/RealTimeThread.h"

namespace orvex {
namespace {

// The writer wakes at least this often, so a stop is heard (and returns)
// within a few milliseconds whatever the device's period.
constexpr uint64_t kLongestPassNs = 5000000;
std::string HardwareName(const WasapiEndpoint& e) {
  return "hw:" + std::to_string(e.alsaCard) + "," +
         std::to_string(e.alsaDevice < 0 ? 0 : e.alsaDevice);
}

snd_pcm_format_t AlsaFormatOf(const WaveFormat& f) {
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

CWaveExWASAPI::CWaveExWASAPI() = default;

WaveFormat CWaveExWASAPI::FallbackFormat() {
  WaveFormat f;  // PCM, 2 channels, 44100 Hz, 16 bits
  f.formatTag = kFormatPcm;
  f.channels = 2;
  f.samplesPerSec = 44100;
  f.avgBytesPerSec = 176400;
  f.blockAlign = 4;
  f.bitsPerSample = 16;
  f.extraSize = 0;
  f.validBits = 0;
  f.channelMask = 3;
  f.pcmSubFormat = true;
  return f;
}

void CWaveExWASAPI::Report(const std::string& text) const {
  if (report_) {
    report_(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

CWaveExWASAPI::~CWaveExWASAPI() {
  Close();
}

bool CWaveExWASAPI::OpenDevice(const std::string& alsaName) {
  Close();
  if (!endpoint_ || !format_ || !bufferMs_) return false;
  std::string name = alsaName;
  if (name.empty()) {
    if (endpoint_->alsaCard < 0) {
      Report(kExclusiveNoHardware);
      return false;
    }
    name = HardwareName(*endpoint_);
  }
  // The server holds the card while its sink runs; ask it to let go.
  if (endpoint_->server) suspended_ = endpoint_->server->SuspendSink(endpoint_->id, true);
  snd_pcm_t* pcm = nullptr;
  int rc = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  // A server that suspended its sink may close the card a moment later.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (rc == -EBUSY && suspended_ && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    rc = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  }
  if (rc == -EBUSY) {
    Report(kExclusiveBusy);
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
  mix_.assign(size_t{bufferFrames_} * 2, 0.0f);
  out_.assign(size_t{bufferFrames_} * 2 * (sample_ == Sample::kInt16 ? 2 : 4), 0);
  port_.Configure(endpoint_->id, endpoint_->name, rate_);
  // A fade rendered at close is heard once the card's buffer has played.
  port_.SetPlayOutFrames(bufferFrames_);
  written_.store(0);
  xruns_.store(0);
  return true;
}

bool CWaveExWASAPI::IsFormatSupported(const WaveFormat& format) const {
  if (!pcm_) return false;
  return Supports(pcm_, AlsaFormatOf(format), format.samplesPerSec);
}

bool CWaveExWASAPI::Start() {
  if (!pcm_ || Running()) return false;
  stop_.store(false);
  writer_ = std::thread([this] { WriterLoop(); });
  return true;
}

void CWaveExWASAPI::Close() {
  if (Running()) {
    stop_.store(true);
    writer_.join();
  }
  // An engine still attached hears nothing more from this device.
  port_.Close();
  port_.Configure({}, {}, 0);
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

void CWaveExWASAPI::WriterLoop() {
  MakeThisThreadRealTime();
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const uint64_t periodNs =
      std::min<uint64_t>(uint64_t{periodFrames_} * 1000000000ull / rate_, kLongestPassNs);
  timespec next = start;
  // Frames due by our clock: the device's buffer full, then its rate. A
  // card that plays at its own pace moves the schedule to where it is.
  int64_t shift = 0;
  uint64_t byClock = bufferFrames_;
  while (!stop_.load(std::memory_order_acquire)) {
    snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
    if (avail == -EPIPE || avail == -ESTRPIPE) {
      xruns_.fetch_add(1, std::memory_order_relaxed);
      snd_pcm_prepare(pcm_);
      avail = snd_pcm_avail_update(pcm_);
    }
    const uint64_t sent = written_.load(std::memory_order_relaxed);
    const int64_t due = static_cast<int64_t>(byClock) + shift;
    // A device that still holds frames it was given plays them by its own
    // clock (a sound card): its room is what it wants, however far that
    // clock runs from ours. One that takes everything at once (a file)
    // would take the players' streams faster than they play: ours paces it.
    snd_pcm_sframes_t delay = 0;
    const bool ownClock = snd_pcm_delay(pcm_, &delay) == 0 && delay > 0;
    const uint64_t want = ownClock ? uint64_t(std::max<snd_pcm_sframes_t>(avail, 0))
                          : due > static_cast<int64_t>(sent) ? uint64_t(due) - sent
                                                             : 0;
    if (avail > 0 && want > 0) {
      const auto n = static_cast<uint32_t>(
          std::min<uint64_t>({uint64_t(avail), want, uint64_t{bufferFrames_}}));
      Mix(n);
      snd_pcm_sframes_t w = snd_pcm_writei(pcm_, out_.data(), n);
      if (w == -EPIPE) {
        xruns_.fetch_add(1, std::memory_order_relaxed);
        snd_pcm_prepare(pcm_);
        w = snd_pcm_writei(pcm_, out_.data(), n);
      }
      // Frames the device did not take are dropped, not played late.
      written_.store(sent + n, std::memory_order_relaxed);
      if (ownClock) shift = static_cast<int64_t>(sent + n) - static_cast<int64_t>(byClock);
    }
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
    byClock = bufferFrames_ + static_cast<uint64_t>(elapsed * rate_);
  }
}

void CWaveExWASAPI::Mix(uint32_t frames) {
  port_.Render(mix_.data(), frames);
  const int type = sample_ == Sample::kInt16 ? kInt16LSB : kInt32LSB;
  WriteSamples(type, mix_.data(), 2, out_.data(), 2, frames);
  WriteSamples(type, mix_.data() + 1, 2, out_.data() + (sample_ == Sample::kInt16 ? 2 : 4), 2,
               frames);
}

}  // namespace orvex
