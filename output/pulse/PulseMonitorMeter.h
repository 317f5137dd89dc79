// The peak of everything a sink plays, read from its monitor with the
// server's peak detection: the level meter's source for a shared endpoint,
// where every player's stream is summed by the server.
#pragma once

#include <atomic>
#include <string>

#include "output/PeakMeter.h"
#include "output/pulse/PulseServer.h"

struct pa_stream;

namespace orvex::pulse {

class PulseMonitorMeter final : public PeakSource {
 public:
  explicit PulseMonitorMeter(PulseServer& server) : server_(server) {}
  ~PulseMonitorMeter() override { Close(); }
  PulseMonitorMeter(const PulseMonitorMeter&) = delete;
  PulseMonitorMeter& operator=(const PulseMonitorMeter&) = delete;

  bool Open(const std::string& sinkName);
  void Close();
  bool ReadPeaks(float& left, float& right) override;

 private:
  static void OnRead(pa_stream* s, size_t nbytes, void* user);

  PulseServer& server_;
  pa_stream* stream_ = nullptr;
  PeakMeter peaks_;
};

}  // namespace orvex::pulse
