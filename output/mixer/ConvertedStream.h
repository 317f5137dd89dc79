// A player's stream converted once to one device rate, for every voice of
// that player on an engine at that rate: six channels on three outputs at
// one rate need six converters, not eighteen.
//
// The converter runs where the player tops up its voices (its timer thread,
// or the UI thread when a file is prepared or a seek lands), never on an
// audio thread: it decodes the player's store, converts, and appends float
// frames to a store of its own that the voices play from, as voices at the
// file's rate play from the player's store.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "output/StreamStore.h"
#include "output/WaveFormat.h"
#include "output/mixer/SampleConvert.h"
#include "output/mixer/StreamResampler.h"

namespace orvex::mixer {

class ConvertedStream {
 public:
  // Seconds of converted sound the store holds, and the most one Pump makes.
  static constexpr double kStoreSeconds = 4.0;
  static constexpr double kPumpSeconds = 0.5;
  // A voice further than this behind the clock loses its place when the
  // converter needs its bytes.
  static constexpr double kMaxLagSeconds = 1.5;

  ConvertedStream() = default;
  ConvertedStream(const ConvertedStream&) = delete;
  ConvertedStream& operator=(const ConvertedStream&) = delete;
  ~ConvertedStream() { Close(); }

  // `decoded` is how the source's frames are read (its channel layout
  // decides the fold to stereo). False when the rates cannot be converted;
  // nothing is held then.
  bool Open(StreamStore& source, const WaveFormat& decoded, uint32_t rate);
  void Close();
  bool IsOpen() const { return resampler_ != nullptr; }

  uint32_t Rate() const { return format_.samplesPerSec; }
  // Float frames of one or two channels at Rate().
  const WaveFormat& Format() const { return format_; }
  StreamStore& Store() { return store_; }
  // Zeros of Format(), a second at most.
  const std::vector<uint8_t>& Silence() const { return silence_; }

  // Back to the start of the source. Only while no voice holds the store.
  void Restart();
  // Converts up to maxFrames more output frames, as far as the source has
  // bytes and the store has room. With sourceEnded, the converter's tail is
  // pushed out after the last byte, so the sound ends where the file does.
  size_t Pump(size_t maxFrames, bool sourceEnded);
  // Everything the source will ever hold has been converted.
  bool Drained() const { return drained_; }
  // Follows the source's live position, and brings voices that asked to
  // come back to it.
  void FollowLive();

 private:
  // Decodes up to one chunk from the source into in_; false when it has none.
  bool ReadSource();
  // Feeds zeros up to the output the source's frames make; false when done.
  bool FeedTail();
  uint64_t FramesFor(uint64_t sourceFrames) const;

  StreamStore* source_ = nullptr;
  int reader_ = -1;
  uint64_t readPos_ = 0;
  WaveFormat decoded_;
  WaveFormat format_;
  uint32_t channels_ = 0;  // 1 or 2
  DecodeFn decode_ = nullptr;
  DownmixFn downmix_ = nullptr;
  StereoMatrix matrix_{};
  std::unique_ptr<StreamResampler> resampler_;
  StreamStore store_;
  std::vector<uint8_t> silence_;
  std::vector<float> in_;   // decoded source frames waiting for the converter
  std::vector<float> out_;  // converter output before it goes to the store
  uint32_t inPos_ = 0, inFrames_ = 0;
  uint32_t leadToDrop_ = 0;
  uint64_t framesIn_ = 0, framesOut_ = 0;
  bool drained_ = false;
};

}  // namespace orvex::mixer
