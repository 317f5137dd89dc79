#include "engine/OfflineSession.h"

namespace orvex {
OfflineSession::OfflineSession(CueStore& cues, Settings& settings, uint32_t rate, bool capture,
                               uint32_t quantumFrames) {
  static const char* kNames[kOutputCount] = {"Master", "Group1", "Group2"};
  for (int n = 0; n < kOutputCount; ++n) {
    devices_.push_back(std::make_unique<mixer::VirtualDevice>(std::string("virtual:") + kNames[n],
                                                              kNames[n], 2, rate));
    devices_.back()->SetCapture(capture);
    outputs_.Bind(n, devices_.back().get(), quantumFrames);
  }
  console_ = std::make_unique<CConsole>(cues, settings, timers_, poster_);
  console_->SetEngines(outputs_.Engines());
  console_->SetListener(this);
}

OfflineSession::~OfflineSession() {
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
  const auto frames = static_cast<uint32_t>(end - framesPulled_);
  for (auto& d : devices_) d->Pull(frames);
  framesPulled_ = end;
  elapsedMs_ += ms;
  timers_.Advance(ms);
  Settle();
}

void OfflineSession::Settle() {
  do {
    for (int ch = 1; ch <= kChannels; ++ch) console_->Player(ch).WaitForReader(readWait_);
    console_->Background().Player().WaitForReader(readWait_);
  } while (poster_.RunPending() > 0);
}

void OfflineSession::Run(uint32_t ms) {
  for (uint32_t t = 0; t < ms; t += kStepMs) Step();
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
