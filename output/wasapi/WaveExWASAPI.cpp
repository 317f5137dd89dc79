#include "output/wasapi/WaveExWASAPI.h"

#include <alsa/asoundlib.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "show/Messages.h"

namespace orvex {
namespace {

// How long a control thread waits for the writer to ramp a slot out.
constexpr auto kRampWaitLimit = std::chrono::milliseconds(200);
// The writer wakes at least this often, so a stop is heard (and returns)
// within a few milliseconds whatever the device's period.
constexpr uint64_t kLongestPassNs = 5000000;
// How long the refill thread sleeps when nothing asks for it.
constexpr long kRefillPollNs = 20000000;
// The slots skip the continuous-play player.
constexpr int kFirstMixedSlot = 1;

// A sample of the float mix in an integer container: scaled, truncated
// toward zero, saturated at full scale instead of wrapping around.
inline int64_t ToInteger(float v, double scale, int64_t lo, int64_t hi) {
  const double x = double(v) * scale;
  if (!(x > double(lo))) return lo;  // NaN goes to the floor
  if (x >= double(hi)) return hi;
  return static_cast<int64_t>(x);
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

CWaveExWASAPI::CWaveExWASAPI() {
  sem_init(&wake_, 0, 0);
}

CWaveExWASAPI::~CWaveExWASAPI() {
  Close();
  sem_destroy(&wake_);
}

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
  // A server that suspended its sink may close the card a moment later.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (rc == -EBUSY && suspended_ && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    rc = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  }
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
  rampFrames_ = std::max<uint32_t>(rate_ / 100, 1);
  // Each half holds at least 200 ms, so a refill thread held up on a busy
  // machine still finds the writer playing the other half.
  halfFrames_ = std::max(2 * bufferFrames_, rate_ / 5);
  mixLeft_.assign(bufferFrames_, 0.0f);
  mixRight_.assign(bufferFrames_, 0.0f);
  out_.assign(size_t{bufferFrames_} * 2 * (sample_ == Sample::kInt16 ? 2 : 4), 0);
  for (asio::AsioSlot& s : slots_) {
    std::lock_guard lock(s.mutex);
    s.enabled.store(false);
    s.envelope = 0;
    s.CloseSource();
    s.ResetHalves(halfFrames_);
  }
  written_.store(0);
  xruns_.store(0);
  return true;
}

bool CWaveExWASAPI::IsFormatSupported(const StoredWaveFormat& format) const {
  if (!pcm_) return false;
  return Supports(pcm_, AlsaFormatOf(format), format.samplesPerSec);
}

bool CWaveExWASAPI::Start() {
  if (!pcm_ || Running()) return false;
  stop_.store(false);
  writer_ = std::thread([this] { WriterLoop(); });
  refill_ = std::thread([this] { RefillLoop(); });
  return true;
}

void CWaveExWASAPI::StopThreads() {
  if (!Running()) return;
  stop_.store(true);
  sem_post(&wake_);
  writer_.join();
  refill_.join();
}

void CWaveExWASAPI::Close() {
  StopThreads();
  for (int n = 0; n < kSlots; ++n) {
    asio::AsioSlot& s = slots_[Index(n)];
    if (n >= kFirstMixedSlot) {
      s.left.store(0);
      s.right.store(0);
    }
    s.playing.store(false);
    s.enabled.store(false);
    s.sounding.store(false);
    std::lock_guard lock(s.mutex);
    s.CloseSource();
    s.ResetHalves(0);
  }
  if (pcm_) {
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }
  if (suspended_ && endpoint_ && endpoint_->server)
    endpoint_->server->SuspendSink(endpoint_->id, false);
  suspended_ = false;
  bufferFrames_ = periodFrames_ = periodMs_ = halfFrames_ = 0;
}

// ------------------------------------------------------------------ slots

void CWaveExWASAPI::AwaitPass() const {
  const uint64_t c = cycle_.load();
  if (c % 2 == 0) return;
  const auto deadline = std::chrono::steady_clock::now() + kRampWaitLimit;
  while (cycle_.load() == c && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
}

void CWaveExWASAPI::RampOut(asio::AsioSlot& s) {
  s.playing.store(false, std::memory_order_release);
  if (!s.enabled.load() || !Running()) return;
  const auto deadline = std::chrono::steady_clock::now() + kRampWaitLimit;
  while (s.sounding.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(500));
}

void CWaveExWASAPI::Disable(asio::AsioSlot& s) {
  s.enabled.store(false);
  AwaitPass();
}

void CWaveExWASAPI::AttachSlot(int n, StreamStore* stream, const WaveFormat& format) {
  asio::AsioSlot& s = slots_[Index(n)];
  if (s.Reading()) DetachSlot(n);
  std::lock_guard lock(s.mutex);
  s.stream = stream;
  s.format = format;
}

void CWaveExWASAPI::RestartSlot(int n) {
  if (n < kFirstMixedSlot || n >= kSlots || !pcm_) return;
  asio::AsioSlot& s = slots_[Index(n)];
  const bool wasPlaying = s.playing.load();
  RampOut(s);
  Disable(s);
  std::lock_guard lock(s.mutex);
  if (!s.stream || !s.Prime(rate_, halfFrames_)) return;
  s.playing.store(wasPlaying);
  s.enabled.store(true);
}

void CWaveExWASAPI::SetSlotPlaying(int n, bool playing) {
  asio::AsioSlot& s = slots_[Index(n)];
  if (playing) {
    if (pcm_) s.playing.store(true, std::memory_order_release);  // only a mixer with a device plays
    return;
  }
  RampOut(s);
  // A refill under way ends before the player may reset its stream; a
  // paused slot's stream is not read again until it plays.
  std::lock_guard lock(s.mutex);
}

void CWaveExWASAPI::DetachSlot(int n) {
  asio::AsioSlot& s = slots_[Index(n)];
  RampOut(s);
  s.left.store(0);
  s.right.store(0);
  Disable(s);
  std::lock_guard lock(s.mutex);
  s.CloseSource();
  s.stream = nullptr;
  for (int h = 0; h < 2; ++h) {
    s.wanted[h].store(false);
    s.filled[h].store(0);
  }
}

void CWaveExWASAPI::SetSlotGains(int n, int output, float left, float right) {
  if (output != output_.load()) return;
  slots_[Index(n)].left.store(left);
  slots_[Index(n)].right.store(right);
}

bool CWaveExWASAPI::RefillIdle() const {
  for (const asio::AsioSlot& s : slots_)
    if (s.wanted[0].load() || s.wanted[1].load()) return false;
  return true;
}

bool CWaveExWASAPI::OutputPeak(float& left, float& right) {
  left = peakLeft_.exchange(0.0f);
  right = peakRight_.exchange(0.0f);
  return pcm_ != nullptr;
}

// ------------------------------------------------------------ threads

void CWaveExWASAPI::RefillLoop() {
  while (!stop_.load(std::memory_order_acquire)) {
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_nsec += kRefillPollNs;
    if (until.tv_nsec >= 1000000000) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000;
    }
    sem_clockwait(&wake_, CLOCK_MONOTONIC, &until);
    if (stop_.load(std::memory_order_acquire)) break;
    for (int n = kFirstMixedSlot; n < kSlots; ++n)
      slots_[Index(n)].ServeWanted(halfFrames_, /*onlyWhilePlaying=*/true);
  }
}

void CWaveExWASAPI::WriterLoop() {
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
    cycle_.fetch_add(1);
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
    cycle_.fetch_add(1);
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
  std::fill(mixLeft_.begin(), mixLeft_.begin() + frames, 0.0f);
  std::fill(mixRight_.begin(), mixRight_.begin() + frames, 0.0f);
  bool requested = false;
  // The continuous-play slot 0 is not heard on the exclusive output.
  for (int n = kFirstMixedSlot; n < kSlots; ++n)
    requested |= slots_[Index(n)].MixInto(mixLeft_.data(), mixRight_.data(), frames, rampFrames_);
  if (requested) sem_post(&wake_);
  float peakL = 0, peakR = 0;
  if (sample_ == Sample::kInt16) {
    auto* out = reinterpret_cast<int16_t*>(out_.data());
    for (uint32_t i = 0; i < frames; ++i) {
      // Loud passages clip at full scale instead of wrapping around.
      const int64_t l = ToInteger(mixLeft_[i], 32768.0, INT16_MIN, INT16_MAX);
      const int64_t r = ToInteger(mixRight_[i], 32768.0, INT16_MIN, INT16_MAX);
      out[2 * i] = static_cast<int16_t>(l);
      out[2 * i + 1] = static_cast<int16_t>(r);
      peakL = std::max(peakL, std::fabs(float(l)) / 32767.0f);
      peakR = std::max(peakR, std::fabs(float(r)) / 32767.0f);
    }
  } else {
    auto* out = reinterpret_cast<int32_t*>(out_.data());
    for (uint32_t i = 0; i < frames; ++i) {
      const int64_t l = ToInteger(mixLeft_[i], 2147483648.0, INT32_MIN, INT32_MAX);
      const int64_t r = ToInteger(mixRight_[i], 2147483648.0, INT32_MIN, INT32_MAX);
      out[2 * i] = static_cast<int32_t>(l);
      out[2 * i + 1] = static_cast<int32_t>(r);
      peakL = std::max(peakL, float(std::fabs(double(l)) / 2147483647.0));
      peakR = std::max(peakR, float(std::fabs(double(r)) / 2147483647.0));
    }
  }
  RaisePeak(peakLeft_, std::min(peakL, 1.0f));
  RaisePeak(peakRight_, std::min(peakR, 1.0f));
}

}  // namespace orvex
