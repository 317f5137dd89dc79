// A player's link to its slot of the program's block-device host. Without a
// host every step does nothing.
#pragma once

#include "output/StreamStore.h"
#include "output/WaveFormat.h"
#include "output/asio/AsioKernel.h"

namespace orvex {

class CWaveAsio {
 public:
  void Connect(CAsioKernel* host, int slot, int output) {
    host_ = host;
    slot_ = slot;
    output_ = output;
  }
  CAsioKernel* Host() const { return host_; }
  int Slot() const { return slot_; }
  int Output() const { return output_; }

  void SetStream(StreamStore* stream) {
    if (host_) host_->SetSlotStream(slot_, stream);
  }
  void SetFormat(const WaveFormat& format) {
    if (host_) host_->SetSlotFormat(slot_, format);
  }
  // Every reader of the slot starts again at the beginning of the stream.
  void AttachSlot() {
    if (host_) host_->AttachSlot(slot_);
  }
  void DetachSlot() {
    if (host_) host_->DetachSlot(slot_);
  }
  void SetPlaying(bool playing) {
    if (host_ && host_->IsDriverOpen()) host_->SetSlotPlaying(slot_, playing);
  }
  // Gains of one output; only those of the host's output reach the slot.
  void SetGains(int output, float left, float right) {
    if (host_ && output == output_) host_->SetSlotGains(slot_, left, right);
  }

 private:
  CAsioKernel* host_ = nullptr;
  int slot_ = 0;
  int output_ = -1;
};

}  // namespace orvex
