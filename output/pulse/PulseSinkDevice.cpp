#include "output/pulse/PulseSinkDevice.h"

#include <pulse/pulseaudio.h>

#include "output/RealTimeThread.h"

namespace orvex::pulse {

PulseSinkDevice::PulseSinkDevice(PulseServer& server, SinkInfo sink)
    : server_(server), sink_(std::move(sink)) {}

PulseSinkDevice::~PulseSinkDevice() {
  Close();
}

bool PulseSinkDevice::Open(mixer::RenderCallback* callback) {
  if (!callback || !server_.IsConnected() || stream_) {
    lastError_ = PA_ERR_CONNECTIONREFUSED;
    return false;
  }
  if (!own_.IsConnected() && !own_.Connect("Orvex")) {
    lastError_ = PA_ERR_CONNECTIONREFUSED;
    return false;
  }
  PulseServer::Lock lock(own_);
  pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, Rate(), 2};
  stream_ = pa_stream_new(own_.Context(), "Orvex output", &spec, nullptr);
  if (!stream_) {
    lastError_ = pa_context_errno(own_.Context());
    return false;
  }
  callback_ = callback;
  engine_ = callback;
  failed_.store(false);
  pa_stream_set_write_callback(stream_, &PulseSinkDevice::OnWrite, this);
  pa_stream_set_state_callback(stream_, &PulseSinkDevice::OnState, this);
  const uint32_t frameBytes = 8;
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = Rate() * kLatencyMs / 1000 * frameBytes;
  attr.prebuf = static_cast<uint32_t>(-1);
  attr.minreq = Rate() * (kLatencyMs / 4) / 1000 * frameBytes;
  attr.fragsize = static_cast<uint32_t>(-1);
  // The operator chose this device: never heard on another one.
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                    PA_STREAM_NOT_MONOTONIC | PA_STREAM_DONT_MOVE);
  bool ok =
      pa_stream_connect_playback(stream_, sink_.name.c_str(), &attr, flags, nullptr, nullptr) == 0;
  while (ok) {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) break;
    if (!PA_STREAM_IS_GOOD(state)) ok = false;
    if (ok) pa_threaded_mainloop_wait(own_.Mainloop());
  }
  if (!ok) {
    lastError_ = pa_context_errno(own_.Context());
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
    callback_ = nullptr;
    return false;
  }
  return true;
}

void PulseSinkDevice::Close() {
  CloseStream();
  engine_ = nullptr;
}

void PulseSinkDevice::CloseStream() {
  PulseServer::Lock lock(own_);
  // Callbacks run under this lock, so none runs once the stream is gone.
  if (!stream_) return;
  pa_stream_set_write_callback(stream_, nullptr, nullptr);
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
  callback_ = nullptr;
}

bool PulseSinkDevice::Reopen() {
  mixer::RenderCallback* callback = engine_;
  if (!callback) return false;
  CloseStream();
  own_.Disconnect();       // the broken connection goes with its thread
  realTimeAsked_ = false;  // the new connection's thread asks again
  // Told before the stream runs, so its first frames already ramp in.
  callback->OnDeviceResumed();
  return Open(callback);
}

void PulseSinkDevice::OnState(pa_stream* s, void* user) {
  auto* self = static_cast<PulseSinkDevice*>(user);
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) self->failed_.store(true);
  pa_threaded_mainloop_signal(self->own_.Mainloop(), 0);
}

void PulseSinkDevice::OnWrite(pa_stream* s, size_t nbytes, void* user) {
  auto* self = static_cast<PulseSinkDevice*>(user);
  // Once, on the connection's own thread, which only this stream uses.
  if (!self->realTimeAsked_) {
    self->realTimeAsked_ = true;
    MakeThisThreadRealTime();
  }
  while (nbytes >= 8) {
    void* data = nullptr;
    size_t n = nbytes;
    if (pa_stream_begin_write(s, &data, &n) < 0 || !data || n < 8) return;
    const uint32_t frames = static_cast<uint32_t>(n / 8);
    auto* out = static_cast<float*>(data);
    self->callback_->Render(out, frames);
    if (pa_stream_write(s, data, size_t{frames} * 8, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    nbytes -= size_t{frames} * 8;
  }
}

}  // namespace orvex::pulse
