// One source slot of a mixer that sums the players itself (the block-device
// host, the exclusive-mode mixer): a player's stream read into two halves of
// stereo float frames at the device's rate, which the mixing thread plays one
// after the other while a refill thread fills the other. A file whose rate
// differs from the device's is converted on the refill side, never on the
// mixing thread. The mixing side ramps every start, stop and gain change of
// the slot per sample, so none of them clicks.
//
// Ownership of the halves: while `enabled` is false only the control thread
// touches the slot. While it is true the mixing thread owns `current` and
// `consumed`, and a half belongs to the refill side exactly while its
// `wanted` flag is set (the mixing thread sets it when it leaves the half;
// the refill side clears it after storing `filled`).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "output/StreamStore.h"
#include "output/WaveFormat.h"
#include "output/xaudio/SampleConvert.h"
#include "output/xaudio/StreamResampler.h"

namespace orvex::asio {

struct AsioSlot {
  // --- shared with the mixing thread ---
  std::atomic<bool> enabled{false};
  std::atomic<bool> playing{false};
  std::atomic<float> left{0};
  std::atomic<float> right{0};
  std::atomic<bool> sounding{false};  // the mixing thread still plays it (ramping included)
  std::array<std::vector<float>, 2> halves;
  std::array<std::atomic<uint32_t>, 2> filled{};  // frames
  std::array<std::atomic<bool>, 2> wanted{};
  std::atomic<int> current{0};
  std::atomic<uint32_t> consumed{0};  // frames of the current half

  // --- mixing thread only ---
  float envelope = 0;
  float gainLeft = 0;
  float gainRight = 0;

  // --- control thread and refill thread, under mutex ---
  std::mutex mutex;
  StreamStore* stream = nullptr;
  int reader = -1;
  WaveFormat format;
  std::unique_ptr<xaudio::StreamResampler> resampler;
  xaudio::DecodeFn decode = nullptr;
  // Files of more than two channels are folded to stereo as they are read.
  xaudio::DownmixFn downmix = nullptr;
  StereoMatrix matrix;
  std::vector<uint8_t> raw;
  std::vector<float> decoded;  // source frames, 1 or 2 channels
  std::vector<float> resampled;

  // Whether the slot reads a store now (control thread).
  bool Reading() {
    std::lock_guard lock(mutex);
    return reader >= 0;
  }
  size_t decodedFrames = 0;
  size_t decodedUsed = 0;
  bool tailPushed = false;
  uint32_t leadToDrop = 0;  // converter output before the first input frame

  // --- mixing thread ---
  // Adds up to `frames` frames of the slot to left and right, with the
  // envelope (playing or not) and the gains gliding per sample, each by at
  // most a full step over `rampFrames`. True when it handed a finished half
  // to the refill side, which should then be woken.
  bool MixInto(float* mixLeft, float* mixRight, uint32_t frames, uint32_t rampFrames);

  // --- refill thread ---
  // Fills every half the mixing side has handed back. With onlyWhilePlaying
  // a paused slot is left alone, so its stream is not read meanwhile.
  void ServeWanted(uint32_t halfFrames, bool onlyWhilePlaying = false);

  // --- control thread, under mutex ---
  // Sizes both halves and hands them all to the control thread.
  void ResetHalves(uint32_t halfFrames);
  // Opens the stream from its start, converted to `deviceRate`, and fills
  // both halves. False when the format cannot be played.
  bool Prime(uint32_t deviceRate, uint32_t halfFrames);

  // Opens a reader on the stream and prepares decoding from the slot's
  // format to `deviceRate`. False when the format cannot be played.
  bool OpenSource(uint32_t deviceRate);
  // Lets go of the stream's reader and the converter.
  void CloseSource();
  // Fills `half` from the stream; returns the frames placed there.
  uint32_t FillHalf(int half, uint32_t halfFrames);
  // Frames decoded from the stream into `decoded`; 0 when it has caught up.
  size_t ReadSource(size_t maxFrames);
};

}  // namespace orvex::asio
