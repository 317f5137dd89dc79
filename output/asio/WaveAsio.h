// The JACK host (one for the program) sums the players' streams in its
// process callback, each player through a slot; CWaveAsio is a player's link
// to its slot. Without an open driver every step only keeps its values.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "output/StreamStore.h"

namespace orvex {

class CAsioKernel {
 public:
  static constexpr int kSlots = 7;

  struct Slot {
    StreamStore* stream = nullptr;
    int reader = -1;
    std::atomic<bool> attached{false};
    std::atomic<bool> playing{false};
    std::atomic<float> left{0};
    std::atomic<float> right{0};
  };

  bool IsDriverOpen() const { return false; }
  int Output() const { return output_; }
  Slot& GetSlot(int n) { return slots_[static_cast<size_t>(n)]; }

 private:
  int output_ = -1;
  std::array<Slot, kSlots> slots_;
};

class CWaveAsio {
 public:
  void Connect(CAsioKernel* host, int slot, int output) {
    host_ = host;
    slot_ = slot;
    output_ = output;
  }
  void SetStream(StreamStore* stream) {
    if (host_) host_->GetSlot(slot_).stream = stream;
  }
  // Every reader of the slot starts again at the beginning of the stream.
  void AttachSlot() {
    if (host_) host_->GetSlot(slot_).attached.store(true);
  }
  void DetachSlot() {
    if (!host_) return;
    host_->GetSlot(slot_).attached.store(false);
    host_->GetSlot(slot_).playing.store(false);
  }
  void SetPlaying(bool playing) {
    if (host_ && host_->IsDriverOpen()) host_->GetSlot(slot_).playing.store(playing);
  }
  void SetGains(int output, float left, float right) {
    if (!host_ || output != output_) return;
    host_->GetSlot(slot_).left.store(left);
    host_->GetSlot(slot_).right.store(right);
  }

 private:
  CAsioKernel* host_ = nullptr;
  int slot_ = 0;
  int output_ = -1;
};

}  // namespace orvex
