// One source slot of the block-device host: a player's stream read into two
// halves of stereo float frames at the device's rate, which the process
// callback plays one after the other while the refill thread fills the other.
//
// Ownership of the halves: while `enabled` is false only the UI thread
// touches the slot. While it is true the callback owns `current` and
// `consumed`, and a half belongs to the refill side exactly while its
// `wanted` flag is set (the callback sets it when it leaves the half; the
// refill side clears it after storing `filled`).
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
  // --- shared with the callback ---
  std::atomic<bool> enabled{false};
  std::atomic<bool> playing{false};
  std::atomic<float> left{0};
  std::atomic<float> right{0};
  std::atomic<bool> sounding{false};  // the callback still plays it (ramping included)
  std::array<std::vector<float>, 2> halves;
  std::array<std::atomic<uint32_t>, 2> filled{};  // frames
  std::array<std::atomic<bool>, 2> wanted{};
  std::atomic<int> current{0};
  std::atomic<uint32_t> consumed{0};  // frames of the current half

  // --- callback only ---
  float envelope = 0;
  float gainLeft = 0;
  float gainRight = 0;

  // --- UI thread and refill thread, under mutex ---
  std::mutex mutex;
  StreamStore* stream = nullptr;
  int reader = -1;
  WaveFormat format;
  std::unique_ptr<xaudio::StreamResampler> resampler;
  xaudio::DecodeFn decode = nullptr;
  std::vector<uint8_t> raw;
  std::vector<float> decoded;  // source frames, 1 or 2 channels
  std::vector<float> resampled;
  size_t decodedFrames = 0;
  size_t decodedUsed = 0;
  bool tailPushed = false;
  uint32_t leadToDrop = 0;  // converter output before the first input frame

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
