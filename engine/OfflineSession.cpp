#include "engine/OfflineSession.h"

namespace orvex {
OfflineSession::OfflineSession(CueStore& cues, Settings& settings, uint32_t rate, bool capture,
                               uint32_t quantumFrames) {
  static const char* kNames[kOutputCount] = {"Master", "Group1", "Group2"};
  for (int n = 0; n < kOutputCount; ++n) {
    devices_.push_back(std::make_unique<xaudio::VirtualDevice>(std::string("virtual:") + kNames[n],
                                                               kNames[n], 2, rate));
    devices_.back()->SetCapture(capture);
    outputs_.Bind(n, devices_.back().get(), quantumFrames);
  }
  console_ = std::make_unique<CConsole>(cues, settings, timers_, poster_);
  console_->SetEngines(outputs_.Engines());
  console_->SetListener(this);
  if (std::thread::hardware_concurrency() > 1) helper_ = std::thread([this] { HelperLoop(); });
}

OfflineSession::~OfflineSession() {
  if (helper_.joinable()) {
    helperStop_.store(true);
    generation_.fetch_add(1);
    generation_.notify_one();
    helper_.join();
  }
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
  if (!helper_.joinable()) {
    for (auto& d : devices_) d->Pull(stepFrames_);
    return;
  }
  nextDevice_.store(0);
  remaining_.store(static_cast<int>(devices_.size()));
  generation_.fetch_add(1);
  generation_.notify_one();
  PullShare();
  // Blocks in the kernel until the helper has finished its share: spinning
  // here cost a fifth of a render's CPU.
  for (int left = remaining_.load(); left > 0; left = remaining_.load()) remaining_.wait(left);
}

void OfflineSession::PullShare() {
  for (int n = nextDevice_.fetch_add(1); n < static_cast<int>(devices_.size());
       n = nextDevice_.fetch_add(1)) {
    devices_[static_cast<size_t>(n)]->Pull(stepFrames_);
    if (remaining_.fetch_sub(1) == 1) remaining_.notify_one();
  }
}

void OfflineSession::HelperLoop() {
  uint64_t seen = 0;
  for (;;) {
    generation_.wait(seen);
    if (helperStop_.load()) return;
    seen = generation_.load();
    PullShare();
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
