#include "output/mixer/VirtualDevice.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "output/WaveFormat.h"

namespace orvex::mixer {
namespace {

// RIFF header, an 18-byte fmt chunk, a fact chunk (non-PCM files carry one)
// and the data chunk's header.
constexpr size_t kWavHeaderBytes = 58;
constexpr long kRiffSizeAt = 4;
constexpr long kFactFramesAt = 46;
constexpr long kDataSizeAt = 54;

void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

std::array<uint8_t, kWavHeaderBytes> WavHeader(uint32_t channels, uint32_t rate,
                                               uint32_t dataBytes) {
  std::array<uint8_t, kWavHeaderBytes> h{};
  uint8_t* p = h.data();
  const uint32_t blockAlign = channels * 4;
  std::memcpy(p, "RIFF", 4);
  Put32(p + kRiffSizeAt, uint32_t(kWavHeaderBytes - 8) + dataBytes);
  std::memcpy(p + 8, "WAVE", 4);
  std::memcpy(p + 12, "fmt ", 4);
  Put32(p + 16, 18);
  Put16(p + 20, kFormatFloat);
  Put16(p + 22, uint16_t(channels));
  Put32(p + 24, rate);
  Put32(p + 28, rate * blockAlign);
  Put16(p + 32, uint16_t(blockAlign));
  Put16(p + 34, 32);
  Put16(p + 36, 0);  // no extra format bytes
  std::memcpy(p + 38, "fact", 4);
  Put32(p + 42, 4);
  Put32(p + kFactFramesAt, dataBytes / blockAlign);
  std::memcpy(p + 50, "data", 4);
  Put32(p + kDataSizeAt, dataBytes);
  return h;
}

}  // namespace

VirtualDevice::VirtualDevice(std::string id, std::string name, uint32_t channels, uint32_t rate)
    : id_(std::move(id)), name_(std::move(name)), channels_(channels), rate_(rate) {}

VirtualDevice::~VirtualDevice() {
  StopRealtimeThread();
  Close();
  FinishWavFile();
}

bool VirtualDevice::Open(RenderCallback* callback) {
  if (!callback) return false;
  RenderCallback* expected = nullptr;
  return callback_.compare_exchange_strong(expected, callback);
}

void VirtualDevice::Close() {
  callback_.store(nullptr);
  // A pull that loaded the old callback counted itself in first; wait for it.
  while (rendering_.load() != 0) std::this_thread::yield();
}

void VirtualDevice::RenderInto(float* out, uint32_t frames) {
  rendering_.fetch_add(1);
  if (RenderCallback* cb = callback_.load()) {
    cb->Render(out, frames);
  } else {
    std::fill(out, out + size_t(frames) * channels_, 0.0f);
  }
  rendering_.fetch_sub(1, std::memory_order_release);
}

void VirtualDevice::Pull(uint32_t frames) {
  if (frames == 0) return;
  const size_t samples = size_t(frames) * channels_;
  if (pullBuffer_.size() < samples) pullBuffer_.resize(samples);
  RenderInto(pullBuffer_.data(), frames);
  if (capture_) captured_.insert(captured_.end(), pullBuffer_.data(), pullBuffer_.data() + samples);
  if (wav_) {
    const size_t bytes = samples * sizeof(float);
    if (wavDataBytes_ + bytes > std::numeric_limits<uint32_t>::max() - kWavHeaderBytes) {
      wavOk_ = false;  // RIFF sizes are 32-bit; stop growing the file
    } else if (std::fwrite(pullBuffer_.data(), 1, bytes, wav_) != bytes) {
      wavOk_ = false;
    } else {
      wavDataBytes_ += bytes;
    }
  }
}

bool VirtualDevice::StartWavFile(const std::string& path) {
  FinishWavFile();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  // Large writes: a render otherwise makes a system call every 10 ms step.
  constexpr size_t kBuffer = 1 << 20;
  wavBuffer_ = std::make_unique_for_overwrite<char[]>(kBuffer);
  std::setvbuf(f, wavBuffer_.get(), _IOFBF, kBuffer);
  const auto header = WavHeader(channels_, rate_, 0);
  if (std::fwrite(header.data(), 1, header.size(), f) != header.size()) {
    std::fclose(f);
    return false;
  }
  wav_ = f;
  wavDataBytes_ = 0;
  wavOk_ = true;
  return true;
}

bool VirtualDevice::FinishWavFile() {
  if (!wav_) return false;
  const auto header = WavHeader(channels_, rate_, uint32_t(wavDataBytes_));
  bool ok = wavOk_ && std::fseek(wav_, 0, SEEK_SET) == 0 &&
            std::fwrite(header.data(), 1, header.size(), wav_) == header.size();
  ok = std::fclose(wav_) == 0 && ok;
  wav_ = nullptr;
  wavBuffer_.reset();
  return ok;
}

bool VirtualDevice::StartRealtimeThread(uint32_t framesPerPull) {
  if (framesPerPull == 0 || rate_ == 0 || rtThread_.joinable()) return false;
  rtBuffer_.assign(size_t(framesPerPull) * channels_, 0.0f);
  rtStop_.store(false);
  rtThread_ = std::thread([this, framesPerPull] { RealtimeLoop(framesPerPull); });
  rtRunning_.store(true);
  return true;
}

void VirtualDevice::StopRealtimeThread() {
  if (!rtThread_.joinable()) return;
  rtRunning_.store(false);
  rtStop_.store(true, std::memory_order_release);
  rtThread_.join();
}

void VirtualDevice::RealtimeLoop(uint32_t framesPerPull) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  uint64_t pulled = 0;
  float peak = rtPeak_.load(std::memory_order_relaxed);
  while (!rtStop_.load(std::memory_order_acquire)) {
    RenderInto(rtBuffer_.data(), framesPerPull);
    for (float s : rtBuffer_) peak = std::max(peak, std::fabs(s));
    rtPeak_.store(peak, std::memory_order_release);
    rtFrames_.fetch_add(framesPerPull, std::memory_order_release);
    pulled += framesPerPull;
    // Deadlines from the start, so scheduling jitter never accumulates.
    const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(double(pulled) / rate_));
    std::this_thread::sleep_until(due);
  }
}

}  // namespace orvex::mixer
