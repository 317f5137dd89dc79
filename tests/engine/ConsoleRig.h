// A show built in code and the console running it on virtual time. The sound
// files hold constant samples (or a running millisecond count), so every
// output sample is the file's sample times the gain the console set: levels,
// fades and start times can be read straight off the three outputs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/FaderLaw.h"
#include "engine/OfflineSession.h"
#include "engine/WavBytes.h"
#include "unit/MessageRecorder.h"
#include "unit/TempDir.h"

namespace orvex {

inline constexpr uint32_t kRate = 48000;
inline constexpr size_t kFramesPerMs = kRate / 1000;
inline constexpr size_t kFramesPerStep = kFramesPerMs * OfflineSession::kStepMs;
// Off-by-one fader values and float rounding stay well inside this.
inline constexpr float kTol = 3e-5f;

// A record with the fields most tests set; the rest keep their defaults.
inline RecordValues Cue(double q, const std::string& fileOrCommand, double pre = 10,
                        double fadeIn = 0, double fadeOut = 0) {
  RecordValues v;
  v.qNumber = q;
  v.fileOrCommand = fileOrCommand;
  v.title = fileOrCommand;
  v.preLevel = pre;
  v.fadeIn = fadeIn;
  v.fadeOut = fadeOut;
  return v;
}

// The same record auto-run at `ms`, delayed by `ms`, out of the sequence,
// or routed by its own output flags.
inline RecordValues Timed(RecordValues v, int32_t ms) {
  v.timing = ms;
  return v;
}
inline RecordValues Delayed(RecordValues v, int32_t ms) {
  v.delay = ms;
  return v;
}
inline RecordValues OutOfSequence(RecordValues v) {
  v.inSequence = false;
  return v;
}
inline RecordValues Routed(RecordValues v, int32_t flags) {
  v.outputSpecified = true;
  v.outputFlags = flags;
  return v;
}

// What the fader law makes of a DC sample at output gain g (0..1), the way
// the console hands gains to the players: as a value of 0..65535.
inline float Law(double g, float dc = 0.5f, FaderKnee knee = {}) {
  return dc * static_cast<float>(FaderGain(static_cast<uint32_t>(g * 65535), knee));
}
// The gain a fader level (0..10) stands for.
inline double LevelGain(double level) {
  return static_cast<uint32_t>(level / 10 * 65535) / 65535.0;
}
// A DC 0.5 channel straight to the master with everything else full.
inline float AtLevel(double level) {
  return Law(LevelGain(level));
}

struct TestShow {
  TestShow() { cues.SetSoundFolder(dir.Path().string()); }

  // Stereo 16-bit 48 kHz, every sample `value` (16384 reads as 0.5).
  void Dc(const std::string& name, uint32_t ms, int16_t value = 16384, uint16_t channels = 2) {
    Write(name, ms, channels, [value](size_t) { return value; });
  }
  // Every frame holds 1000 + its time in the file in whole milliseconds, so
  // at full gain the output tells which part of the file is playing.
  void Timecode(const std::string& name, uint32_t ms) {
    Write(name, ms, 2,
          [](size_t frame) { return static_cast<int16_t>(1000 + frame / kFramesPerMs); });
  }
  void Write(const std::string& name, uint32_t ms, uint16_t channels,
             const std::function<int16_t(size_t)>& sample) {
    std::string data;
    for (size_t f = 0; f < ms * kFramesPerMs; ++f)
      for (uint16_t c = 0; c < channels; ++c) data += SampleBytes(sample(f), 16);
    dir.Write(name, Wav(channels, kRate, 16, data));
  }
  void Add(int fader, const RecordValues& v) { ASSERT_TRUE(cues.AddRecord(fader, v)); }

  TempDir dir;
  CueStore cues;
  Settings settings;
  MessageRecorder messages;
};

class ConsoleRig {
 public:
  // One-frame quantum: starts and stops land on the sample, so levels and
  // timings read exactly. The fades of a 10 ms quantum are checked with the
  // outputs' own tests.
  static constexpr uint32_t kQuantumFrames = 1;

  explicit ConsoleRig(TestShow& show, SliderPanelLink* slider = nullptr)
      : session(show.cues, show.settings, kRate, true, kQuantumFrames) {
    session.Console().SetSliderPanel(slider);
    session.StartUp();
    C().RefreshAfterCueChange(true);
    C().ApplyFirstCueRouting();  // as when the show is loaded
    session.Settle();
  }

  CConsole& C() { return session.Console(); }
  uint32_t Now() const { return session.Now(); }

  // Steps the virtual clock up to ms (a multiple of 10).
  void RunTo(uint32_t ms) {
    while (session.Now() < ms) session.Step();
  }
  // Runs to ms, then does what the operator does there.
  void At(uint32_t ms, const std::function<void(CConsole&)>& action) {
    // A check of a later sample may already have run the clock past ms.
    EXPECT_LE(session.Now(), ms) << "the action comes too late";
    RunTo(ms);
    action(C());
    session.Settle();
  }

  // The sample at an exact time (ms) on output `out`, side 0 = left.
  float Sample(int out, double ms, int side = 0) {
    const size_t frame = static_cast<size_t>(std::llround(ms * kFramesPerMs));
    RunTo(static_cast<uint32_t>((frame / kFramesPerStep + 1) * OfflineSession::kStepMs));
    return session.Out(out).at(frame * 2 + static_cast<size_t>(side));
  }
  // What output `out` plays once everything that happened at `ms` has been
  // heard: the last frame of the step from ms, by when a gain change made at
  // ms has finished its ramp.
  float Heard(int out, uint32_t ms, int side = 0) {
    return Sample(out, ms + OfflineSession::kStepMs - 1.0 / kFramesPerMs, side);
  }
  // The file millisecond a Timecode file plays at `ms` (full gain, output 0).
  int PlayingMs(double ms) { return static_cast<int>(std::lround(Sample(0, ms) * 32768.0)) - 1000; }

  std::vector<ConsoleEvent> Events(ConsoleEvent::Kind kind, int fader = -1) const {
    std::vector<ConsoleEvent> out;
    for (const ConsoleEvent& e : session.Events())
      if (e.kind == kind && (fader < 0 || e.fader == fader)) out.push_back(e);
    return out;
  }
  std::vector<uint32_t> Times(ConsoleEvent::Kind kind, int fader = -1) const {
    std::vector<uint32_t> out;
    for (const ConsoleEvent& e : Events(kind, fader)) out.push_back(e.timeMs);
    return out;
  }
  // The armed faders as digits ("13": faders 1 and 3), and every fader's
  // current record ("20100000").
  std::string Armed() {
    std::string out;
    for (int k = 1; k <= kFaders; ++k)
      if (C().Armed(k)) out += std::to_string(k);
    return out;
  }
  std::string Records() {
    std::string out;
    for (int k = 1; k <= kFaders; ++k) out += std::to_string(C().CurrentRecord(k));
    return out;
  }

  OfflineSession session;
};

}  // namespace orvex
