// A streaming sample-rate converter for one voice, safe to run on the audio
// thread once created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace orvex::mixer {

class StreamResampler {
 public:
  // Creates a converter for interleaved float frames, not on the audio
  // thread. One for the audio thread is warmed up so that it never
  // allocates there. nullptr when the library refuses the rates.
  static std::unique_ptr<StreamResampler> Create(double inRate, double outRate, uint32_t channels,
                                                 bool forAudioThread = true);
  ~StreamResampler();
  StreamResampler(const StreamResampler&) = delete;
  StreamResampler& operator=(const StreamResampler&) = delete;

  // Audio side: takes up to inFrames frames from `in` and writes up to
  // outFrames frames to `out`. Never allocates after Create. Output lags the
  // input by a fixed delay (the converter starts with silence in its history).
  void Process(const float* in, size_t inFrames, size_t& inUsed, float* out, size_t outFrames,
               size_t& outMade);

  // Forgets all input, as if new (it may allocate again: not for the audio
  // thread). A converter that starts afresh gives no leading frames.
  void Reset();

  // Converters built so far in this process (each is a costly warm-up).
  static uint64_t CreatedCount();

  // Input frames of silence that push everything still held out of it.
  uint32_t TailFrames() const { return tailFrames_; }
  // Output frames a new converter gives before the first input frame: drop
  // them, and the output starts with the input instead of after a gap.
  uint32_t LeadFrames() const { return leadFrames_; }

 private:
  StreamResampler(void* handle, uint32_t tailFrames, uint32_t leadFrames)
      : handle_(handle), tailFrames_(tailFrames), leadFrames_(leadFrames) {}
  void* handle_;
  uint32_t tailFrames_;
  uint32_t leadFrames_;
};

}  // namespace orvex::mixer
