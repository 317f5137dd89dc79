// A player's voices on the voice-engine outputs: one source voice per output
// that has an engine. Voices at the file's rate play straight out of the
// player's stream store: each submission is a region of the store, released
// back to the writer once the voice has finished it, so nothing is copied and
// the store's memory stays fixed. For each other device rate the file is
// converted once, and every voice at that rate plays from the converted
// stream the same way.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "output/StreamStore.h"
#include "output/ToneEqualizer.h"
#include "output/WaveFormat.h"
#include "output/mixer/ConvertedStream.h"
#include "output/mixer/VoiceEngine.h"

namespace orvex {

inline constexpr int kOutputCount = 3;

class CWaveXAudio : private StreamStore::Holder {
 public:
  CWaveXAudio() = default;
  CWaveXAudio(const CWaveXAudio&) = delete;
  CWaveXAudio& operator=(const CWaveXAudio&) = delete;
  ~CWaveXAudio() { ReleaseVoices(); }

  // The engines of the three outputs (nullptr: no engine); not owned.
  void SetEngines(const std::array<mixer::VoiceEngine*, kOutputCount>& engines);
  void SetStream(StreamStore* stream) { stream_ = stream; }
  // Where the engines sum this player's voices (its channel): the same
  // place whichever player's file opened first.
  void SetMixPlace(int place) { mixPlace_ = place; }

  // Creates one voice per engine for the file's format. Stops at the first
  // output whose voice cannot be created: it and later outputs stay silent
  // for this file.
  bool CreateVoices(const WaveFormat& fileFormat);
  void AllocBuffers(uint32_t blockSize, uint32_t firstBlockSize);
  // Submits the start of the stream (after the first block was appended).
  void Prefill();
  // Tops up voices whose queue runs low; called on every player tick.
  void Refill();
  void Start();
  void Stop();
  void Flush();
  void Silence();
  void ReleaseVoices();

  // Set while the file has no more data: caught-up voices then get silence.
  void SetEndFlag(bool end) { endFlag_.store(end); }
  // Gains of one output; kept and applied to voices created later, so a
  // freshly loaded file never plays at a level nobody set.
  void SetOutputLevel(int output, float left, float right);

  // Tone control: an equaliser on each output's voice of one- and
  // two-channel files, from InitEffects on. A band's gain set before a voice
  // exists is used when it is created.
  void InitEffects();
  void SetToneGain(int band, float x);

 private:
  // A converted stream and the voices at its rate.
  struct Conversion : StreamStore::Holder {
    CWaveXAudio* owner = nullptr;
    mixer::ConvertedStream stream;
    // Its writer runs inside the owner's operations, which hold the lock.
    void LetGo(int reader) override { owner->LetGoLocked(&stream.Store(), reader); }
  };

  struct Voice {
    mixer::SourceVoice* voice = nullptr;
    // The store it plays from: the player's, or a conversion's.
    StreamStore* store = nullptr;
    Conversion* conversion = nullptr;
    int reader = -1;
    uint64_t readPos = 0;
    // Store position each submission ends at, by submission number, so the
    // bytes are released when the voice reports the buffer finished.
    std::array<uint64_t, 32> ends{};
    uint64_t submitted = 0;
    uint64_t released = 0;
    // The store took the voice's place (its device stopped pulling): it
    // plays silence until that has been heard, then asks to come back.
    bool lost = false;
    // The engine's count of device stalls when the voice last looked.
    uint64_t resumes = 0;
  };

  // The store's writer takes a lagging voice's bytes back (timer thread).
  void LetGo(int reader) override;
  void LetGoLocked(const StreamStore* store, int reader);
  // The conversion to `rate`, opened on first use; nullptr when the rates
  // cannot be converted (the engine then converts the voice itself).
  Conversion* ConversionFor(uint32_t rate, const WaveFormat& decoded);
  void PumpConversions(double seconds);
  void TopUp(Voice& v, const mixer::VoiceState& state);
  // A voice whose device stalled and went on plays late: it lets go of what
  // it holds and comes back at the clock, as a voice that lost its place.
  void CatchUpAfterStall(int output);

  void ApplyLevel(int output);
  void ReleaseFinished(Voice& v);
  // Submits up to n bytes of the store from v.readPos; returns bytes taken.
  size_t SubmitRegion(Voice& v, size_t n);
  void SubmitSilence(Voice& v, uint32_t bytes);
  void ResetTracking(Voice& v, uint64_t pos = 0);
  // Every voice lets go of its queue and starts again at the stream's
  // start; so does every conversion. The lock is held.
  void FlushLocked();

  // Level changes come from fade steps on the timer thread while the UI
  // thread may create or release voices; every operation holds this. No
  // audio thread ever takes it.
  mutable std::mutex mutex_;
  std::array<mixer::VoiceEngine*, kOutputCount> engines_{};
  std::array<Voice, kOutputCount> voices_;
  std::array<std::array<float, 2>, kOutputCount> levels_{};
  StreamStore* stream_ = nullptr;
  int mixPlace_ = -1;
  WaveFormat format_;
  uint32_t blockSize_ = 0;
  uint32_t firstBlockSize_ = 0;
  std::vector<uint8_t> silence_;
  std::array<std::unique_ptr<Conversion>, kOutputCount> conversions_;
  std::atomic<bool> endFlag_{true};
  std::array<ToneEqualizer, kOutputCount> effects_;
  FxEqParameters tone_;
  bool effectsOn_ = false;
};

}  // namespace orvex
