// The one gain ramp of every output: a gain change glides linearly over a
// given number of frames from the gain in use, so no change, start or stop
// of a sounding voice clicks. A constant gain stays the exact float it was
// set to.
#pragma once

#include <cstdint>

namespace orvex {

struct GainRamp {
  float current = 1.0f;
  float start = 1.0f;
  float target = 1.0f;
  uint32_t pos = 0;
  uint32_t len = 0;

  // Glides to t over `frames` frames from where the ramp is now; jump sets it.
  void Retarget(float t, uint32_t frames, bool jump) {
    if (t == target) return;
    target = t;
    if (jump || frames == 0) {
      current = t;
      len = 0;
      return;
    }
    start = current;
    pos = 0;
    len = frames;
  }
  // Sets the gain at once (a stream that starts from silence).
  void Set(float g) {
    current = start = target = g;
    pos = len = 0;
  }
  bool Ramping() const { return pos < len; }
  float Next() {
    if (pos >= len) return current = target;
    ++pos;
    current = pos >= len ? target : start + (target - start) * (float(pos) / float(len));
    return current;
  }
};

}  // namespace orvex
