// The console's fader law: a fader value (0..65535) to a linear gain. Two
// straight lines meet at the knee, so the bottom of the travel stays fine
// grained at low levels.
#pragma once

#include <algorithm>
#include <cstdint>

namespace orvex {

inline constexpr double kFaderScale = 655.35;

struct FaderKnee {
  double point = 1.0;  // where the knee sits on the 0..10 fader scale
  double level = 0.5;  // the level there, on the 0..10 scale
};

inline double FaderGain(uint32_t value, const FaderKnee& knee) {
  const double v = std::min<double>(value, 65535);
  // The settings allow 0..10 for both; anything else would bend the law
  // outside silence..unity.
  const double point = std::clamp(knee.point, 0.0, 10.0);
  const double level = std::clamp(knee.level, 0.0, 10.0);
  // With the knee at 0 the lower line is one value wide, so the bottom of
  // the travel is still silence and the law has no jump.
  const double b = std::max(10 * kFaderScale * point, 1.0);
  const double a = 10 * kFaderScale * level / 65535;
  if (v <= b) return a * v / b;  // with the knee at 10 this runs to the top
  // The upper line ends at unity exactly (a + (1 - a) may round below it).
  if (v >= 65535) return 1.0;
  return a + (v - b) / (65535 - b) * (1 - a);
}

}  // namespace orvex
