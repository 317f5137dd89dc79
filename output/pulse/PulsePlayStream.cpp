#include "output/pulse/PulsePlayStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace orvex::pulse {
namespace {

pa_sample_format_t SampleFormatOf(const WaveFormat& f) {
  const bool pcm =
      f.formatTag == kFormatPcm || (f.formatTag == kFormatExtensible && f.pcmSubFormat);
  if (pcm) {
    switch (f.bitsPerSample) {
      case 8:
        return PA_SAMPLE_U8;
      case 16:
        return PA_SAMPLE_S16LE;
      case 24:
        return PA_SAMPLE_S24LE;
      case 32:
        return PA_SAMPLE_S32LE;
    }
  }
  if (f.formatTag == kFormatFloat && f.bitsPerSample == 32) return PA_SAMPLE_FLOAT32LE;
  return PA_SAMPLE_INVALID;
}

// The streams whose uncork waits for this thread's StartTogether to end.
thread_local int t_togetherDepth = 0;
thread_local std::vector<PulsePlayStream*> t_held;

}  // namespace

PulsePlayStream::StartTogether::StartTogether() {
  ++t_togetherDepth;
}

PulsePlayStream::StartTogether::~StartTogether() {
  if (--t_togetherDepth > 0) return;
  std::vector<PulsePlayStream*> held;
  held.swap(t_held);
  StartHeld(held);
}

void PulsePlayStream::StartHeld(std::vector<PulsePlayStream*>& held) {
  // One pass per server (a program has one), every uncork sent under one
  // hold of its lock: the commands leave together and the server takes
  // them in one go.
  while (!held.empty()) {
    PulseServer* server = held.front()->server_;
    {
      PulseServer::Lock lock(*server);
      for (PulsePlayStream* s : held)
        if (s->server_ == server && s->Healthy()) s->SendCork(false);
    }
    std::erase_if(held, [server](PulsePlayStream* s) { return s->server_ == server; });
  }
}

bool PulsePlayStream::Open(PulseServer& server, const std::string& sink, const WaveFormat& format,
                           uint32_t bufferMs) {
  Close();
  if (!server.IsConnected()) return false;
  pa_sample_spec spec{SampleFormatOf(format), format.samplesPerSec,
                      static_cast<uint8_t>(format.channels)};
  if (!pa_sample_spec_valid(&spec)) return false;
  PulseServer::Lock lock(server);
  server_ = &server;
  pa_channel_map map;
  pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
  stream_ = pa_stream_new(server.Context(), "Orvex channel", &spec, &map);
  if (!stream_) return false;
  failed_.store(false);
  pa_stream_set_state_callback(stream_, &PulsePlayStream::OnState, this);
  const size_t frame = pa_frame_size(&spec);
  bufferBytes_ = size_t{format.samplesPerSec} * bufferMs / 1000 * frame;
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = static_cast<uint32_t>(bufferBytes_);
  attr.prebuf = 0;  // plays what it has once uncorked, never waits to refill
  attr.minreq = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(-1);
  const auto flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
      // The operator chose this device: never heard on another one.
      PA_STREAM_DONT_MOVE);
  bool ok = pa_stream_connect_playback(stream_, sink.c_str(), &attr, flags, nullptr, nullptr) == 0;
  while (ok) {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) break;
    if (!PA_STREAM_IS_GOOD(state)) ok = false;
    if (ok) pa_threaded_mainloop_wait(server.Mainloop());
  }
  if (ok) {
    writeIndex_ = 0;
    if (const pa_buffer_attr* got = pa_stream_get_buffer_attr(stream_)) bufferBytes_ = got->tlength;
    return true;
  }
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
  return false;
}

void PulsePlayStream::Close() {
  std::erase(t_held, this);
  if (!stream_) return;
  PulseServer::Lock lock(*server_);
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

void PulsePlayStream::OnState(pa_stream* s, void* user) {
  auto* self = static_cast<PulsePlayStream*>(user);
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) self->failed_.store(true);
  pa_threaded_mainloop_signal(self->server_->Mainloop(), 0);
}

size_t PulsePlayStream::Writable() {
  if (!Healthy()) return 0;
  PulseServer::Lock lock(*server_);
  const size_t n = pa_stream_writable_size(stream_);
  return n == static_cast<size_t>(-1) ? 0 : n;
}

bool PulsePlayStream::Write(const void* data, size_t bytes, int64_t index) {
  if (!Healthy() || bytes == 0) return false;
  PulseServer::Lock lock(*server_);
  const bool ok =
      index < 0 ? pa_stream_write(stream_, data, bytes, nullptr, 0, PA_SEEK_RELATIVE) == 0
                : pa_stream_write(stream_, data, bytes, nullptr, index, PA_SEEK_ABSOLUTE) == 0;
  if (ok) writeIndex_ = (index < 0 ? writeIndex_ : index) + static_cast<int64_t>(bytes);
  return ok;
}

bool PulsePlayStream::UpdateTiming() {
  pa_operation* op = pa_stream_update_timing_info(
      stream_,
      [](pa_stream*, int, void* user) {
        pa_threaded_mainloop_signal(static_cast<PulsePlayStream*>(user)->server_->Mainloop(), 0);
      },
      this);
  if (!op) return false;
  while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && !failed_.load())
    pa_threaded_mainloop_wait(server_->Mainloop());
  pa_operation_unref(op);
  return !failed_.load();
}

bool PulsePlayStream::ReadIndex(int64_t& index) {
  if (!Healthy()) return false;
  PulseServer::Lock lock(*server_);
  if (!UpdateTiming()) return false;
  const pa_timing_info* t = pa_stream_get_timing_info(stream_);
  if (!t || t->read_index_corrupt) return false;
  index = t->read_index;
  return true;
}

bool PulsePlayStream::PlayedIndex(int64_t& index) {
  if (!Healthy()) return false;
  PulseServer::Lock lock(*server_);
  return UpdateTiming() && PlayedIndexLocked(index);
}

bool PulsePlayStream::PlayedIndexNow(int64_t& index) {
  if (!Healthy()) return false;
  PulseServer::Lock lock(*server_);
  return PlayedIndexLocked(index);
}

bool PulsePlayStream::PlayedIndexLocked(int64_t& index) {
  pa_usec_t usec = 0;
  if (pa_stream_get_time(stream_, &usec) != 0) return false;
  index = static_cast<int64_t>(pa_usec_to_bytes(usec, pa_stream_get_sample_spec(stream_)));
  return true;
}

bool PulsePlayStream::HeardFirstAt(double& seconds) {
  if (!Healthy()) return false;
  PulseServer::Lock lock(*server_);
  if (!UpdateTiming()) return false;
  const pa_timing_info* t = pa_stream_get_timing_info(stream_);
  if (!t || t->read_index_corrupt) return false;
  const pa_sample_spec* spec = pa_stream_get_sample_spec(stream_);
  const double heard =
      double(pa_bytes_to_usec(static_cast<uint64_t>(std::max<int64_t>(t->read_index, 0)), spec)) -
      double(t->sink_usec);
  seconds = (double(pa_timeval_load(&t->timestamp)) - heard) / 1e6;
  return true;
}

void PulsePlayStream::Cork(bool corked) {
  if (!Healthy()) return;
  // A cork cancels an uncork still waiting.
  std::erase(t_held, this);
  if (!corked && t_togetherDepth > 0) {
    t_held.push_back(this);
    return;
  }
  PulseServer::Lock lock(*server_);
  SendCork(corked);
}

void PulsePlayStream::SendCork(bool corked) {
  if (pa_operation* op = pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr))
    pa_operation_unref(op);
}

void PulsePlayStream::Flush() {
  if (!Healthy()) return;
  {
    PulseServer::Lock lock(*server_);
    if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr)) pa_operation_unref(op);
  }
  // What was written and not played is gone: appends go on from the read
  // index, which the server tells after the flush (requests keep order).
  int64_t read = 0;
  if (ReadIndex(read)) writeIndex_ = read;
}

}  // namespace orvex::pulse
