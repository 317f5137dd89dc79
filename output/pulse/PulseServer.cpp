#include "output/pulse/PulseServer.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdlib>

#include "output/pulse/PulsePlayStream.h"
#include "output/pulse/SuspendRecord.h"

namespace orvex::pulse {
namespace {

int PropertyInt(const pa_proplist* props, const char* key) {
  const char* text = props ? pa_proplist_gets(props, key) : nullptr;
  if (!text || !*text) return -1;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  return (end && *end == 0 && v >= 0 && v < 1000) ? static_cast<int>(v) : -1;
}

// Waits on the server thread's condition until the operation is done.
// Called with the lock held.
void WaitFor(pa_threaded_mainloop* loop, pa_context* context, pa_operation* op) {
  if (!op) return;
  while (pa_operation_get_state(op) == PA_OPERATION_RUNNING &&
         PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
    pa_threaded_mainloop_wait(loop);
  pa_operation_unref(op);
}

}  // namespace

PulseServer::PulseServer() = default;

PulseServer::~PulseServer() {
  Disconnect();
}

PulseServer::Lock::Lock(const PulseServer& server) : mainloop_(server.mainloop_) {
  if (mainloop_) pa_threaded_mainloop_lock(mainloop_);
}

PulseServer::Lock::~Lock() {
  if (mainloop_) pa_threaded_mainloop_unlock(mainloop_);
}

void PulseServer::OnContextState(pa_context* c, void* user) {
  auto* self = static_cast<PulseServer*>(user);
  const pa_context_state_t state = pa_context_get_state(c);
  if (!PA_CONTEXT_IS_GOOD(state) && self->connected_.load() && !self->lost_.exchange(true)) {
    if (self->onLost_) self->onLost_();
  }
  pa_threaded_mainloop_signal(self->mainloop_, 0);
}

void PulseServer::OnEvent(int type, uint32_t index, void* user) {
  auto* self = static_cast<PulseServer*>(user);
  if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK ||
      (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_REMOVE)
    return;
  const auto it = self->sinkNames_.find(index);
  if (it == self->sinkNames_.end()) return;
  const std::string name = it->second;
  self->sinkNames_.erase(it);
  if (self->onSinkGone_) self->onSinkGone_(name);
}

bool PulseServer::Connect(const std::string& clientName) {
  Disconnect();
  mainloop_ = pa_threaded_mainloop_new();
  if (!mainloop_) return false;
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), clientName.c_str());
  if (!context_) {
    Disconnect();
    return false;
  }
  pa_context_set_state_callback(context_, &PulseServer::OnContextState, this);
  pa_threaded_mainloop_lock(mainloop_);
  bool ok = pa_threaded_mainloop_start(mainloop_) == 0 &&
            pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0;
  while (ok) {
    const pa_context_state_t state = pa_context_get_state(context_);
    if (state == PA_CONTEXT_READY) break;
    if (!PA_CONTEXT_IS_GOOD(state)) ok = false;
    if (ok) pa_threaded_mainloop_wait(mainloop_);
  }
  if (ok) {
    const char* server = pa_context_get_server(context_);
    serverName_ = server ? server : "";
    connected_.store(true);
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context*, pa_subscription_event_type_t type, uint32_t index, void* user) {
          OnEvent(static_cast<int>(type), index, user);
        },
        this);
    if (pa_operation* op =
            pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SINK, nullptr, nullptr))
      pa_operation_unref(op);
  }
  pa_threaded_mainloop_unlock(mainloop_);
  if (!ok) Disconnect();
  return ok;
}

void PulseServer::CloseLater(std::unique_ptr<PulsePlayStream> stream,
                             std::chrono::milliseconds after) {
  if (!stream) return;
  std::lock_guard lock(closeMutex_);
  closing_.emplace_back(Clock::now() + after, std::move(stream));
  if (!closer_.joinable()) {
    closerQuit_ = false;
    closer_ = std::thread([this] { CloseLoop(); });
  }
  closeWake_.notify_one();
}

void PulseServer::CloseLoop() {
  std::unique_lock lock(closeMutex_);
  while (!closerQuit_) {
    if (closing_.empty()) {
      closeWake_.wait(lock);
      continue;
    }
    auto first = std::min_element(closing_.begin(), closing_.end(),
                                  [](const auto& a, const auto& b) { return a.first < b.first; });
    // A copy: a stream queued while this waits may move the list.
    const Clock::time_point when = first->first;
    if (Clock::now() < when) {
      closeWake_.wait_until(lock, when);
      continue;
    }
    std::unique_ptr<PulsePlayStream> due = std::move(first->second);
    closing_.erase(first);
    lock.unlock();
    due.reset();  // closes under the server's lock, not ours
    lock.lock();
  }
}

void PulseServer::CloseEverythingWaiting() {
  std::vector<std::pair<Clock::time_point, std::unique_ptr<PulsePlayStream>>> rest;
  {
    std::lock_guard lock(closeMutex_);
    closerQuit_ = true;
    closeWake_.notify_one();
  }
  if (closer_.joinable()) closer_.join();
  std::lock_guard lock(closeMutex_);
  rest.swap(closing_);
  closerQuit_ = false;
  // `rest` closes its streams here, while the connection is still up.
}

void PulseServer::Disconnect() {
  CloseEverythingWaiting();
  if (mainloop_) pa_threaded_mainloop_stop(mainloop_);
  if (context_) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }
  if (mainloop_) {
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
  }
  connected_.store(false);
  lost_.store(false);
}

std::vector<SinkInfo> PulseServer::ListSinks() {
  struct Query {
    PulseServer* self;
    std::vector<SinkInfo> sinks;
  } query{this, {}};
  if (!IsConnected()) return {};
  Lock lock(*this);
  auto onSink = [](pa_context*, const pa_sink_info* info, int eol, void* user) {
    auto* q = static_cast<Query*>(user);
    if (eol == 0 && info) {
      SinkInfo s;
      s.name = info->name ? info->name : "";
      s.description = info->description ? info->description : s.name;
      s.rate = info->sample_spec.rate;
      s.channels = info->sample_spec.channels;
      s.alsaCard = PropertyInt(info->proplist, "alsa.card");
      s.alsaDevice = PropertyInt(info->proplist, "alsa.device");
      q->self->sinkNames_[info->index] = s.name;
      q->sinks.push_back(std::move(s));
    }
    pa_threaded_mainloop_signal(q->self->mainloop_, 0);
  };
  WaitFor(mainloop_, context_, pa_context_get_sink_info_list(context_, onSink, &query));
  return std::move(query.sinks);
}

bool PulseServer::SuspendSink(const std::string& name, bool suspend) {
  SuspendRecord record(recordPath_.empty() ? SuspendRecord::DefaultPath() : recordPath_);
  // Recorded before the server is asked: a run killed right after the
  // request still leaves its line behind.
  if (suspend && IsConnected()) record.Add(serverName_, name);
  const bool ok = SuspendSinkNow(name, suspend);
  if (!suspend || !ok) record.Remove(serverName_, name);
  return ok;
}

std::vector<std::string> PulseServer::GiveBackOrphanedSinks() {
  if (!IsConnected()) return {};
  SuspendRecord record(recordPath_.empty() ? SuspendRecord::DefaultPath() : recordPath_);
  std::vector<std::string> sinks = record.TakeOrphans(serverName_);
  for (const std::string& sink : sinks) SuspendSinkNow(sink, false);
  return sinks;
}

bool PulseServer::SuspendSinkNow(const std::string& name, bool suspend) {
  if (!IsConnected()) return false;
  struct Result {
    PulseServer* self;
    bool ok = false;
  } result{this};
  Lock lock(*this);
  auto onDone = [](pa_context*, int success, void* user) {
    auto* r = static_cast<Result*>(user);
    r->ok = success != 0;
    pa_threaded_mainloop_signal(r->self->mainloop_, 0);
  };
  WaitFor(
      mainloop_, context_,
      pa_context_suspend_sink_by_name(context_, name.c_str(), suspend ? 1 : 0, onDone, &result));
  return result.ok;
}

}  // namespace orvex::pulse
