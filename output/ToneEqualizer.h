// The tone control's equaliser: four peaking bands (the RBJ peaking biquad),
// each with a centre frequency, a linear gain at the centre and a bandwidth
// in octaves. It runs as the effect of a voice.
//
// Threads: SetParameters on any thread but the audio one; Process on the
// audio thread, never locking or allocating. A change glides to its new
// values over about 10 ms, so moving a tone slider never clicks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "output/mixer/VoiceEngine.h"

namespace orvex {

// The parameter record, twelve floats in this order (48 bytes).
struct FxEqParameters {
  float FrequencyCenter0 = 100, Gain0 = 1, Bandwidth0 = 1;
  float FrequencyCenter1 = 2500, Gain1 = 1, Bandwidth1 = 1;
  float FrequencyCenter2 = 8000, Gain2 = 1, Bandwidth2 = 1;
  float FrequencyCenter3 = 10000, Gain3 = 1, Bandwidth3 = 1;

  float& Frequency(int band) { return (&FrequencyCenter0)[3 * band]; }
  float& Gain(int band) { return (&FrequencyCenter0)[3 * band + 1]; }
  float& Bandwidth(int band) { return (&FrequencyCenter0)[3 * band + 2]; }
  bool operator==(const FxEqParameters&) const = default;
};
static_assert(sizeof(FxEqParameters) == 48);

inline constexpr float kToneGainMin = 0.126f;
inline constexpr float kToneGainMax = 7.94f;

// Band gain of a tone value x (-15..15): 2^(x/5) within the gain limits.
float ToneGain(float x);

class ToneEqualizer final : public mixer::Effect {
 public:
  static constexpr int kBands = 4;

  ToneEqualizer();
  // Values outside what the filters can take are held at their limits.
  void SetParameters(const FxEqParameters& p);
  FxEqParameters Parameters() const;

  void Prepare(uint32_t channels, uint32_t rate) override;
  void Process(float* interleaved, uint32_t frames, uint32_t channels) override;
  bool Bypassed() const override {
    return quiet_ && version_.load(std::memory_order_acquire) == seen_;
  }

  // |H(f)| of the four bands with parameters p at sample rate `rate`.
  static double Magnitude(const FxEqParameters& p, double rate, double f);

 private:
  struct Coefficients {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  };
  static Coefficients Design(double rate, double f0, double gain, double octaves);
  void Glide();
  void Redesign();

  static constexpr int kValues = 12;
  std::array<std::atomic<float>, kValues> target_;
  std::atomic<uint32_t> version_{0};

  // Audio side.
  uint32_t seen_ = ~0u;
  double rate_ = 48000;
  double glideCoefficient_ = 1;
  bool moving_ = false;
  std::array<double, kValues> current_{};
  std::array<double, kValues> wanted_{};
  std::array<Coefficients, kBands> coefficients_{};
  // A band at unity gain whose state has died away passes its input
  // unchanged, so it is skipped: the usual setting costs nothing.
  std::array<bool, kBands> flat_{};
  // Every band flat and rung out: Process has nothing to do until a change.
  bool quiet_ = false;
  // Transposed direct form II state per band and channel.
  std::array<std::array<std::array<double, 2>, 2>, kBands> state_{};
};

}  // namespace orvex
