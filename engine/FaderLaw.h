// The console's fader law: a fader value (0..65535) to a linear gain. Two
// straight lines meet at the knee, so the bottom of the travel stays fine
// grained at low levels.
#pragma once

#include <cstdint>

namespace orvex {

inline constexpr double kFaderScale = 655.35;

struct FaderKnee {
  double point = 1.0;  // where the knee sits on the 0..10 fader scale
  double level = 0.5;  // the level there, on the 0..10 scale
};

inline double FaderGain(uint32_t value, const FaderKnee& knee) {
  if (value >= 65535) return 1.0;  // full travel is unity gain, exactly
  const double v = static_cast<double>(value);
  const double b = 10 * kFaderScale * knee.point;
  const double a = 10 * kFaderScale * knee.level / 65535;
  // With the knee at 0 the first line is empty: silence at 0, then the
  // second line (rather than 0/0).
  if (v <= b) return b > 0 ? a * v / b : 0.0;
  return a + (v - b) / (65535 - b) * (1 - a);
}

}  // namespace orvex
