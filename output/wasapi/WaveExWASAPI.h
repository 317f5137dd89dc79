// The program-wide exclusive-mode mixer: it owns one exclusive client on one
// output and sums the players' streams itself, each player through its slot.
// Without a client the slots only keep their values.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "output/StreamStore.h"
#include "output/WaveFormat.h"

namespace orvex {

class CWaveExWASAPI {
 public:
  static constexpr int kSlots = 7;

  struct Slot {
    StreamStore* stream = nullptr;
    WaveFormat format;
    std::atomic<uint64_t> readPos{0};
    std::atomic<bool> playing{false};
    std::atomic<float> left{0};
    std::atomic<float> right{0};
  };

  bool HasClient() const { return false; }
  int Output() const { return output_; }
  Slot& GetSlot(int n) { return slots_[static_cast<size_t>(n)]; }
  void SetSlotGains(int n, int output, float left, float right) {
    if (output != output_) return;
    slots_[static_cast<size_t>(n)].left.store(left);
    slots_[static_cast<size_t>(n)].right.store(right);
  }

 private:
  int output_ = -1;
  std::array<Slot, kSlots> slots_;
};

}  // namespace orvex
