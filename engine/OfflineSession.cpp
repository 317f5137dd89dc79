#include "engine/OfflineSession.h"

namespace orvex {

OfflineSession::OfflineSession(CueStore& cues, Settings& settings, uint32_t rate, bool capture) {
  static const char* kNames[kOutputCount] = {"Master", "Group1", "Group2"};
  for (int n = 0; n < kOutputCount; ++n) {
    devices_.push_back(std::make_unique<xaudio::VirtualDevice>(std::string("virtual:") + kNames[n],
                                                               kNames[n], 2, rate));
    devices_.back()->SetCapture(capture);
    outputs_.Bind(n, devices_.back().get());
  }
  console_ = std::make_unique<CConsole>(cues, settings, timers_, poster_);
  console_->SetEngines(outputs_.Engines());
  console_->SetListener(this);
  if (std::thread::hardware_concurrency() > 1) {
    for (size_t n = 1; n < devices_.size(); ++n)
      helpers_.emplace_back([this, n] { HelperLoop(n); });
  }
}

OfflineSession::~OfflineSession() {
  {
    std::lock_guard lock(helperMutex_);
    helperStop_ = true;
  }
  helperCv_.notify_all();
  for (std::thread& t : helpers_) t.join();
  console_.reset();
  poster_.RunPending();
  outputs_.ReleaseAll();
}

void OfflineSession::StartUp() {
  console_->LoadFromSettings();
  Settle();
}

void OfflineSession::Step(uint32_t ms) {
  // The outputs play the 10 ms from now first; what falls due at the end of
  // the step (a delayed cue, a fade step) is then heard from that moment on.
  // Frames are counted from time 0, so every rate stays in step with the
  // clock (22050 Hz has no whole number of frames in 10 ms).
  const uint64_t rate = devices_[0]->Rate();
  const uint64_t end = (elapsedMs_ + ms) * rate / 1000;
  stepFrames_ = static_cast<uint32_t>(end - framesPulled_);
  PullOutputs();
  framesPulled_ = end;
  elapsedMs_ += ms;
  timers_.Advance(ms);
  poster_.RunPending();
}

void OfflineSession::Run(uint32_t ms) {
  for (uint32_t t = 0; t < ms; t += kStepMs) Step();
}

void OfflineSession::PullOutputs() {
  const uint32_t frames = stepFrames_;
  if (helpers_.empty()) {
    for (auto& d : devices_) d->Pull(frames);
    return;
  }
  {
    std::lock_guard lock(helperMutex_);
    ++generation_;
    running_ = helpers_.size();
  }
  helperCv_.notify_all();
  devices_[0]->Pull(frames);
  std::unique_lock lock(helperMutex_);
  helperCv_.wait(lock, [this] { return running_ == 0; });
}

void OfflineSession::HelperLoop(size_t device) {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock lock(helperMutex_);
      helperCv_.wait(lock, [&] { return helperStop_ || generation_ != seen; });
      if (helperStop_) return;
      seen = generation_;
    }
    devices_[device]->Pull(stepFrames_);
    {
      std::lock_guard lock(helperMutex_);
      --running_;
    }
    helperCv_.notify_all();
  }
}

std::vector<ConsoleEvent> OfflineSession::Events() const {
  std::lock_guard lock(eventsMutex_);
  return events_;
}

void OfflineSession::OnConsoleEvent(const ConsoleEvent& event) {
  std::lock_guard lock(eventsMutex_);
  events_.push_back(event);
}

}  // namespace orvex
