#include "output/ToneEqualizer.h"

#include <algorithm>
#include <cmath>

namespace orvex {
namespace {

// Coefficients are redesigned every this many frames while a change glides.
constexpr uint32_t kGlideFrames = 16;
constexpr double kGlideSeconds = 0.010;

// Frequencies and gains glide on a log scale, bandwidths linearly.
bool IsLogValue(int i) {
  return i % 3 != 2;
}

double ToGlide(int i, double v) {
  return IsLogValue(i) ? std::log(v) : v;
}
double FromGlide(int i, double v) {
  return IsLogValue(i) ? std::exp(v) : v;
}

// A unity band's state is what still differs between its output and its
// input: below this it is far under the last bit of a float sample.
bool Settled(const std::array<std::array<double, 2>, 2>& state) {
  for (const auto& ch : state)
    for (double v : ch)
      if (std::fabs(v) > 1e-10) return false;
  return true;
}

}  // namespace

float ToneGain(float x) {
  return std::clamp(std::exp2(x / 5.0f), kToneGainMin, kToneGainMax);
}

ToneEqualizer::ToneEqualizer() {
  SetParameters(FxEqParameters{});
}

void ToneEqualizer::SetParameters(const FxEqParameters& p) {
  FxEqParameters q = p;
  for (int b = 0; b < kBands; ++b) {
    q.Frequency(b) = std::clamp(q.Frequency(b), 20.0f, 20000.0f);
    q.Gain(b) = std::clamp(q.Gain(b), kToneGainMin, kToneGainMax);
    q.Bandwidth(b) = std::clamp(q.Bandwidth(b), 0.1f, 2.0f);
  }
  const float* values = &q.FrequencyCenter0;
  for (int i = 0; i < kValues; ++i) target_[i].store(values[i], std::memory_order_relaxed);
  version_.fetch_add(1, std::memory_order_release);
}

FxEqParameters ToneEqualizer::Parameters() const {
  FxEqParameters p;
  float* values = &p.FrequencyCenter0;
  for (int i = 0; i < kValues; ++i) values[i] = target_[i].load(std::memory_order_relaxed);
  return p;
}

ToneEqualizer::Coefficients ToneEqualizer::Design(double rate, double f0, double gain,
                                                  double octaves) {
  // A centre above the device's range is held just below its Nyquist limit.
  f0 = std::min(f0, 0.45 * rate);
  const double a = std::sqrt(gain);  // |H(f0)| = a^2 = gain
  const double w0 = 2 * M_PI * f0 / rate;
  const double sn = std::sin(w0), cs = std::cos(w0);
  const double alpha = sn * std::sinh(std::log(2.0) / 2 * octaves * w0 / sn);
  const double a0 = 1 + alpha / a;
  Coefficients c;
  c.b0 = (1 + alpha * a) / a0;
  c.b1 = -2 * cs / a0;
  c.b2 = (1 - alpha * a) / a0;
  c.a1 = -2 * cs / a0;
  c.a2 = (1 - alpha / a) / a0;
  return c;
}

double ToneEqualizer::Magnitude(const FxEqParameters& p, double rate, double f) {
  FxEqParameters q = p;
  const double w = 2 * M_PI * f / rate;
  double m = 1;
  for (int b = 0; b < kBands; ++b) {
    const Coefficients c = Design(rate, q.Frequency(b), q.Gain(b), q.Bandwidth(b));
    const double cr = std::cos(w), ci = -std::sin(w), c2r = std::cos(2 * w), c2i = -std::sin(2 * w);
    const double nr = c.b0 + c.b1 * cr + c.b2 * c2r, ni = c.b1 * ci + c.b2 * c2i;
    const double dr = 1 + c.a1 * cr + c.a2 * c2r, di = c.a1 * ci + c.a2 * c2i;
    m *= std::sqrt((nr * nr + ni * ni) / (dr * dr + di * di));
  }
  return m;
}

void ToneEqualizer::Prepare(uint32_t, uint32_t rate) {
  rate_ = rate > 0 ? rate : 48000;
  glideCoefficient_ = 1 - std::exp(-double(kGlideFrames) / (kGlideSeconds * rate_));
  for (int i = 0; i < kValues; ++i) {
    wanted_[i] = ToGlide(i, target_[i].load(std::memory_order_relaxed));
    current_[i] = wanted_[i];
  }
  seen_ = version_.load(std::memory_order_acquire);
  Redesign();
  state_ = {};
  moving_ = false;
  quiet_ = false;
}

void ToneEqualizer::Redesign() {
  for (int b = 0; b < kBands; ++b) {
    coefficients_[b] = Design(rate_, FromGlide(0, current_[3 * b]),
                              FromGlide(1, current_[3 * b + 1]), current_[3 * b + 2]);
    // The glide lands exactly on log(1) = 0, where b = a and out = in.
    flat_[b] = current_[3 * b + 1] == 0.0;
  }
}

void ToneEqualizer::Glide() {
  const uint32_t v = version_.load(std::memory_order_acquire);
  if (v != seen_) {
    seen_ = v;
    for (int i = 0; i < kValues; ++i)
      wanted_[i] = ToGlide(i, target_[i].load(std::memory_order_relaxed));
    moving_ = true;
  }
  if (!moving_) return;
  bool still = false;
  for (int i = 0; i < kValues; ++i) {
    const double d = wanted_[i] - current_[i];
    if (std::fabs(d) < 1e-5) {
      current_[i] = wanted_[i];
    } else {
      current_[i] += d * glideCoefficient_;
      still = true;
    }
  }
  Redesign();
  moving_ = still;
}

void ToneEqualizer::Process(float* x, uint32_t frames, uint32_t channels) {
  if (Bypassed()) return;
  const uint32_t used = std::min<uint32_t>(channels, 2);
  for (uint32_t start = 0; start < frames; start += kGlideFrames) {
    Glide();
    const uint32_t end = std::min(frames, start + kGlideFrames);
    for (int b = 0; b < kBands; ++b) {
      if (flat_[b] && Settled(state_[b])) {
        state_[b] = {};
        continue;
      }
      const Coefficients& c = coefficients_[b];
      for (uint32_t ch = 0; ch < used; ++ch) {
        double s1 = state_[b][ch][0], s2 = state_[b][ch][1];
        for (uint32_t i = start; i < end; ++i) {
          float& v = x[size_t{i} * channels + ch];
          const double in = v;
          const double out = c.b0 * in + s1;
          s1 = c.b1 * in - c.a1 * out + s2;
          s2 = c.b2 * in - c.a2 * out;
          v = static_cast<float>(out);
        }
        // Decaying state would sink into denormals and slow the audio thread.
        state_[b][ch][0] = std::fabs(s1) < 1e-30 ? 0 : s1;
        state_[b][ch][1] = std::fabs(s2) < 1e-30 ? 0 : s2;
      }
    }
  }
  quiet_ = !moving_ && std::all_of(flat_.begin(), flat_.end(), [](bool f) { return f; }) &&
           std::all_of(state_.begin(), state_.end(), [](const auto& b) { return Settled(b); });
}

}  // namespace orvex
