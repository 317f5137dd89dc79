// A player's shared-mode streams on sound-server endpoints: one stream per
// output whose device is an endpoint not run exclusively, in the file's own
// format and rate. The player's gain on an output is applied here, ramped
// per sample as the bytes are written. Outputs without an endpoint do
// nothing at every step.
//
// Threads: Refill runs on the player's timer thread, the rest on the UI
// thread; SetOutputLevel comes from both. A mutex no audio thread takes
// guards the streams.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "output/StreamStore.h"
#include "output/WaveFormat.h"
#include "output/pulse/PulsePlayStream.h"
#include "output/pulse/StreamGain.h"
#include "output/pulse/WasapiEndpoint.h"

namespace orvex {

class CWaveWASAPI {
 public:
  static constexpr int kOutputs = 3;
  // Kept short so level changes are heard soon after they are made; the
  // player tops the streams up every 100 ms.
  static constexpr uint32_t kBufferMs = 300;

  // Players that start while one exists (on the UI thread) start their
  // streams together when the outermost one ends: the uncorks go to the
  // server at once, and since the server still starts each stream when it
  // gets to it, each stream's sound is then moved to the moment the last
  // one on its sink started. Six cues of one GO begin on the same frame.
  class StartTogether {
   public:
    StartTogether();
    ~StartTogether();
    StartTogether(const StartTogether&) = delete;
    StartTogether& operator=(const StartTogether&) = delete;

   private:
    std::optional<pulse::PulsePlayStream::StartTogether> uncorks_;
  };

  CWaveWASAPI() = default;
  ~CWaveWASAPI();
  CWaveWASAPI(const CWaveWASAPI&) = delete;
  CWaveWASAPI& operator=(const CWaveWASAPI&) = delete;

  void SetStream(StreamStore* stream);
  // The endpoint of an output; nullptr also closes that output's stream.
  void SetDevice(int output, const WasapiEndpoint* endpoint);
  // Opens a stream for every output with an endpoint (outputs in shared
  // mode only have one). bufferSeconds only caps the buffer; see kBufferMs.
  bool OpenStreams(const WaveFormat& format, uint32_t bufferSeconds);
  void Prefill();
  void Refill();
  void Start();
  void Stop();
  void Flush();
  void Close();
  // After the server came back (the endpoint set again): a stream for the
  // file is opened anew on that output. A player that has started comes
  // in again where its clock is, fading in; a paused one waits for its
  // resume; one not yet started is filled from its beginning. False when
  // nothing was open for a file or the server refuses.
  bool Reopen(int output);
  void SetOutputLevel(int output, float left, float right);
  // Whether the player's data ends where the store's does (the default).
  // While more is to follow, a stream that has caught up is kept fed with
  // only a little silence, so what follows is not queued behind much of it.
  void SetEndFlag(bool end) { endFlag_.store(end); }
  bool HasStream(int output) const;
  // The driver state the settings dialog shows: a working stream somewhere.
  bool AnyStream() const;

 private:
  // What one write put where: stream bytes from `index` hold store bytes
  // from `pos` (or silence), scaled along gain ramps that stood at `left`
  // and `right` at its first frame.
  struct Segment {
    int64_t index = 0;
    uint64_t pos = 0;
    size_t bytes = 0;
    bool silence = true;
    GainRamp left, right;
    bool fixed = false;  // a pause's fade: never written again
  };
  struct Out {
    const WasapiEndpoint* endpoint = nullptr;
    std::unique_ptr<pulse::PulsePlayStream> client;
    int reader = -1;
    uint64_t readPos = 0;
    bool lost = false;  // the store took its place; it asked to come back
    StreamGain gain;
    std::vector<Segment> segments;  // in stream order, none overlapping
    bool stopped = false;           // faded out; the stream runs on into silence
    int64_t resumeAt = -1;          // where the next write goes after a stop
    bool startHeld = false;         // began in a StartTogether, not yet aligned
  };

  // Writes up to `bytes` from the store (silence when it has none).
  void WriteFrom(Out& o, size_t bytes);
  // Notes what a write at seg.index put there: it replaces whatever the
  // stream held from there on.
  static void AddSegment(Out& o, const Segment& seg);
  // The segment that holds stream byte `at`, if any.
  static const Segment* SegmentAt(const Out& o, int64_t at);
  // The ramps as they stand at stream byte `at` of `seg`.
  void RampsAt(const Segment& seg, int64_t at, GainRamp& left, GainRamp& right) const;
  // Rewrites what the server has not played yet at the gains asked for now,
  // gliding there from the gains it plays, so a level change is heard
  // within the margin and the ramp instead of after the queue.
  void Regain(Out& o);
  // Replaces what the server has not played yet by a short fade to silence.
  void FadeOut(Out& o);
  // Before the first write after a stop: write where the fade ended if the
  // server has not got there yet, otherwise from where it is.
  void PrepareResume(Out& o);
  // Silence of 20 ms appended before a fade-in that starts where the server
  // plays now.
  void WriteLeadIn(Out& o);
  void CloseOutput(Out& o);
  // A stream just opened becomes the output's, from the file's beginning.
  void TakeClient(Out& o, std::unique_ptr<pulse::PulsePlayStream> client);
  // Streams that began in one StartTogether: how far each has played.
  struct Started {
    CWaveWASAPI* owner = nullptr;
    int output = 0;
    std::string sink;
    double heardFirstAt = 0;  // seconds of the server's clock
    uint32_t rate = 0;
  };
  void MeasureStarted(std::vector<Started>& into);
  // Moves the sound of a stream that began `frames` before the others on
  // its sink that much later; false when the server has got too far.
  bool DelayStart(int output, int64_t frames);
  static void AlignStarts(const std::vector<CWaveWASAPI*>& players);

  mutable std::mutex mutex_;
  StreamStore* stream_ = nullptr;
  WaveFormat format_;
  std::array<Out, kOutputs> outs_;
  std::vector<uint8_t> scratch_;
  std::atomic<bool> endFlag_{true};
  bool started_ = false;
  bool paused_ = false;  // stopped after a start; Start resumes
  bool opened_ = false;  // streams are open for a file
  uint32_t bufferMs_ = kBufferMs;
};

}  // namespace orvex
