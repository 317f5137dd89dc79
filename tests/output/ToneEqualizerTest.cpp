// The tone control's gain law and the equaliser's response, measured on
// sines run through it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "output/ToneEqualizer.h"

namespace orvex {
namespace {

constexpr double kRate = 48000;

// Stereo sine of `seconds` at f, amplitude 0.25.
std::vector<float> Sine(double f, double seconds) {
  const size_t n = size_t(seconds * kRate);
  std::vector<float> x(2 * n);
  for (size_t i = 0; i < n; ++i)
    x[2 * i] = x[2 * i + 1] = float(0.25 * std::sin(2 * M_PI * f * double(i) / kRate));
  return x;
}

double Rms(const std::vector<float>& x, size_t fromFrame, int channel) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = fromFrame; 2 * i + 1 < x.size(); ++i, ++n)
    sum += double(x[2 * i + channel]) * x[2 * i + channel];
  return std::sqrt(sum / double(n));
}

// The largest step from one left sample to the next, from frame `from` on.
double MaxStep(const std::vector<float>& x, size_t from = 1) {
  double step = 0;
  for (size_t i = std::max<size_t>(from, 1); i < x.size() / 2; ++i)
    step = std::max(step, std::fabs(double(x[2 * i]) - x[2 * i - 2]));
  return step;
}

// Gain the equaliser applies to a sine at f, after it settled.
double MeasuredGain(ToneEqualizer& eq, double f) {
  std::vector<float> x = Sine(f, 0.5);
  const double in = Rms(x, 4800, 0);
  for (size_t at = 0; at < x.size() / 2; at += 480) eq.Process(x.data() + 2 * at, 480, 2);
  EXPECT_NEAR(Rms(x, 4800, 0), Rms(x, 4800, 1), 1e-9);
  return Rms(x, 4800, 0) / in;
}

TEST(ToneGain, FollowsTheLawWithinTheEqualisersLimits) {
  EXPECT_FLOAT_EQ(ToneGain(0), 1.0f);
  EXPECT_FLOAT_EQ(ToneGain(5), 2.0f);
  EXPECT_FLOAT_EQ(ToneGain(-5), 0.5f);
  EXPECT_FLOAT_EQ(ToneGain(15), 7.94f);    // 8 is beyond the limit
  EXPECT_FLOAT_EQ(ToneGain(-15), 0.126f);  // as is 0.125
  EXPECT_NEAR(ToneGain(0.1f), 1.0140, 1e-4);
}

TEST(ToneEqualizer, FlatParametersLeaveTheSignalAlone) {
  ToneEqualizer eq;
  eq.Prepare(2, 48000);
  std::vector<float> x = Sine(1234, 0.1), y = x;
  eq.Process(y.data(), static_cast<uint32_t>(y.size() / 2), 2);
  for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(y[i], x[i]) << i;
}

TEST(ToneEqualizer, ABandBackAtUnityHandsOverToTheDrySignalWithoutAStep) {
  // A boost at the start, back to flat after 0.2 s: the filter rings out and
  // then lets the samples through untouched, with no jump where it stops.
  FxEqParameters p;
  p.Gain(1) = kToneGainMax;
  ToneEqualizer eq;
  eq.SetParameters(p);
  eq.Prepare(2, 48000);
  const std::vector<float> x = Sine(2500, 1.0);
  std::vector<float> y = x;
  for (size_t at = 0; at < y.size() / 2; at += 480) {
    if (at == 9600) eq.SetParameters(FxEqParameters{});
    eq.Process(y.data() + 2 * at, 480, 2);
  }
  const double maxStep = MaxStep(y, 9600);
  // The tone itself moves up to 2 pi 2500 / 48000 * peak per sample.
  EXPECT_LT(maxStep, 0.25 * 7.94 * 2 * M_PI * 2500 / 48000 * 1.05);
  for (size_t i = 2 * 36000; i < y.size(); ++i) ASSERT_EQ(y[i], x[i]) << i;
}

TEST(ToneEqualizer, EachBandHasItsGainAtItsCentreAndLittleFarAway) {
  const double centres[4] = {100, 2500, 8000, 10000};
  for (int band = 0; band < 4; ++band) {
    for (float gain : {kToneGainMin, 0.5f, 2.0f, kToneGainMax}) {
      FxEqParameters p;
      p.Gain(band) = gain;
      ToneEqualizer eq;
      eq.SetParameters(p);
      eq.Prepare(2, 48000);
      EXPECT_NEAR(MeasuredGain(eq, centres[band]), gain, gain * 0.01) << band << " " << gain;
      EXPECT_NEAR(ToneEqualizer::Magnitude(p, kRate, centres[band]), gain, gain * 1e-6);
      // Two octaves and more away from a one-octave band the level stays
      // within 2 dB.
      const double far = band == 0 ? 1000 : 50;
      EXPECT_NEAR(20 * std::log10(ToneEqualizer::Magnitude(p, kRate, far)), 0, 2) << band;
    }
  }
}

TEST(ToneEqualizer, BandwidthIsInOctaves) {
  FxEqParameters p;
  p.Gain(1) = 4;  // +12 dB at 2500 Hz
  // With the RBJ definition the half-gain (in dB) points lie half the
  // bandwidth either side of the centre.
  const double edge = 2500 * std::exp2(-0.5);
  EXPECT_NEAR(20 * std::log10(ToneEqualizer::Magnitude(p, kRate, edge)), 6.0, 0.6);
  p.Bandwidth(1) = 2;
  EXPECT_NEAR(20 * std::log10(ToneEqualizer::Magnitude(p, kRate, 1250)), 6.0, 0.6);
}

TEST(ToneEqualizer, ChangesGlideWithoutAStep) {
  // A low sine at full boost, switched to full cut in the middle.
  FxEqParameters p;
  p.Gain(0) = kToneGainMax;
  ToneEqualizer eq;
  eq.SetParameters(p);
  eq.Prepare(2, 48000);
  std::vector<float> x = Sine(100, 1.0);
  const uint32_t block = 480;
  for (size_t at = 0; at < x.size() / 2; at += block) {
    if (at == 24000) {
      p.Gain(0) = kToneGainMin;
      eq.SetParameters(p);
    }
    eq.Process(x.data() + 2 * at, block, 2);
  }
  const double maxStep = MaxStep(x);
  // A 100 Hz sine of peak 0.25 * 7.94 moves at most ~0.026 per sample; a
  // switch without a glide would jump by most of its peak.
  EXPECT_LT(maxStep, 0.03);
  // ...and it has arrived at the cut shortly after.
  EXPECT_NEAR(Rms(x, 36000, 0) / (0.25 / std::sqrt(2.0)), kToneGainMin, 0.01);
}

}  // namespace
}  // namespace orvex
