#include "output/pulse/PulseMonitorMeter.h"

#include <pulse/pulseaudio.h>

namespace orvex::pulse {

bool PulseMonitorMeter::Open(const std::string& sinkName) {
  Close();
  if (!server_.IsConnected()) return false;
  PulseServer::Lock lock(server_);
  // A low rate is enough: the server sends one peak per fragment.
  pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 100, 2};
  stream_ = pa_stream_new(server_.Context(), "Orvex meter", &spec, nullptr);
  if (!stream_) return false;
  pa_stream_set_read_callback(stream_, &PulseMonitorMeter::OnRead, this);
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
  attr.fragsize = 8;
  const std::string monitor = sinkName + ".monitor";
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_PEAK_DETECT |
                                                    PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(stream_, monitor.c_str(), &attr, flags) != 0) {
    pa_stream_unref(stream_);
    stream_ = nullptr;
    return false;
  }
  return true;
}

void PulseMonitorMeter::Close() {
  PulseServer::Lock lock(server_);
  if (!stream_) return;
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

void PulseMonitorMeter::OnRead(pa_stream* s, size_t, void* user) {
  auto* self = static_cast<PulseMonitorMeter*>(user);
  const void* data = nullptr;
  size_t n = 0;
  while (pa_stream_readable_size(s) > 0) {
    if (pa_stream_peek(s, &data, &n) < 0) return;
    if (n == 0) return;
    if (data) {
      self->peaks_.Measure(static_cast<const float*>(data),
                           static_cast<uint32_t>(n / (2 * sizeof(float))));
    }
    pa_stream_drop(s);
  }
}

bool PulseMonitorMeter::ReadPeaks(float& left, float& right) {
  peaks_.ReadPeaks(left, right);
  return stream_ != nullptr;
}

}  // namespace orvex::pulse
