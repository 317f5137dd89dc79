// A player's shared-mode streams on sound-server endpoints: one stream per
// output whose device is an endpoint not run exclusively. Until endpoints are
// bound no output has one, and every step does nothing.
#pragma once

#include <array>
#include <cstdint>

#include "output/StreamStore.h"
#include "output/WaveFormat.h"

namespace orvex {

class CWaveWASAPI {
 public:
  void SetStream(StreamStore* stream) { stream_ = stream; }
  // Opens a stream for every output with an endpoint that is not exclusive.
  bool OpenStreams(const WaveFormat& format, uint32_t bufferSeconds,
                   const std::array<uint8_t, 3>& exclusiveFlags);
  void Prefill() {}
  void Refill() {}
  void Start() {}
  void Stop() {}
  void Flush() {}
  void Close() { open_ = {}; }
  void SetOutputLevel(int /*output*/, float /*left*/, float /*right*/) {}
  bool HasStream(int output) const { return output >= 0 && output < 3 && open_[output]; }

 private:
  StreamStore* stream_ = nullptr;
  std::array<bool, 3> open_{};
};

inline bool CWaveWASAPI::OpenStreams(const WaveFormat&, uint32_t, const std::array<uint8_t, 3>&) {
  open_ = {};
  return true;
}

}  // namespace orvex
