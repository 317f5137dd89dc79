// What the console's level meter reads every 50 ms: the left and right peak
// (0 to 1) of output 0 since the previous read. The output set-up attaches
// the sources; with none attached the meter shows silence.
#pragma once

namespace orvex {

class PeakSource {
 public:
  virtual ~PeakSource() = default;
  // False while no source is attached (left and right are then left at 0).
  virtual bool ReadPeaks(float& left, float& right) = 0;
};

}  // namespace orvex
