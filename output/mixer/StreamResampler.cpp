#include "output/mixer/StreamResampler.h"

#include <soxr.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace orvex::mixer {
namespace {

// 20-bit precision. For 44.1 -> 48 kHz the lower settings measured no
// faster, so there is nothing to trade it for.
constexpr unsigned long kQuality = SOXR_HQ;

// The library grows its internal queues on demand and only ever grows them.
// One call much larger than any the audio side makes sizes them for good;
// soxr_clear would throw that away, so a reset means a fresh converter.
constexpr size_t kWarmFrames = 16384;
constexpr size_t kSettleCalls = 64;
constexpr size_t kSettleIn = 512;
constexpr size_t kSettleOut = 1024;

std::atomic<uint64_t> g_created{0};

soxr_t Handle(void* h) {
  return static_cast<soxr_t>(h);
}

}  // namespace

std::unique_ptr<StreamResampler> StreamResampler::Create(double inRate, double outRate,
                                                         uint32_t channels, bool forAudioThread) {
  if (inRate <= 0 || outRate <= 0 || channels == 0) return nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(kQuality, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);  // no helper threads
  soxr_error_t error = nullptr;
  soxr_t h = soxr_create(inRate, outRate, channels, &error, &io, &quality, &runtime);
  if (!h || error) {
    soxr_delete(h);
    return nullptr;
  }
  // A quarter second of silence outlasts the converter's delay at any ratio.
  const uint32_t tail = std::max<uint32_t>(4096, uint32_t(inRate / 4));
  if (!forAudioThread) {
    g_created.fetch_add(1, std::memory_order_relaxed);
    return std::unique_ptr<StreamResampler>(new StreamResampler(h, tail, 0));
  }
  const double ratio = outRate / inRate;
  const size_t warmOut = size_t(std::ceil(double(kWarmFrames) * ratio)) + kSettleOut;
  std::vector<float> in(kWarmFrames * channels, 0.0f);
  std::vector<float> out(std::max(warmOut, kSettleOut) * channels);
  size_t used = 0, made = 0;
  soxr_process(h, in.data(), kWarmFrames, &used, out.data(), warmOut, &made);
  for (size_t i = 0; i < kSettleCalls; ++i)
    soxr_process(h, in.data(), kSettleIn, &used, out.data(), kSettleOut, &made);
  if (soxr_error(h)) {
    soxr_delete(h);
    return nullptr;
  }
  g_created.fetch_add(1, std::memory_order_relaxed);
  const auto lead = uint32_t(std::lround(std::max(0.0, soxr_delay(h))));
  return std::unique_ptr<StreamResampler>(new StreamResampler(h, tail, lead));
}

uint64_t StreamResampler::CreatedCount() {
  return g_created.load(std::memory_order_relaxed);
}

StreamResampler::~StreamResampler() {
  soxr_delete(Handle(handle_));
}

void StreamResampler::Reset() {
  soxr_clear(Handle(handle_));
  leadFrames_ = 0;
}

void StreamResampler::Process(const float* in, size_t inFrames, size_t& inUsed, float* out,
                              size_t outFrames, size_t& outMade) {
  inUsed = 0;
  outMade = 0;
  soxr_process(Handle(handle_), in, inFrames, &inUsed, out, outFrames, &outMade);
}

}  // namespace orvex::mixer
