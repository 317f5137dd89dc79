// A channel player on a real output back-end, judged by what a listener on
// the far side of the back-end recorded. Every back-end plays the same
// scenes and is held to the same rules; a back-end only says how to open
// itself, how to listen, and whether its server lost sound on its own.
//
// The player's ticks run on virtual time kept in step with the clock, so
// that the back-end pulls the mix in real time while the test decides when
// each transport step happens.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <iostream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "engine/PlayerRig.h"
#include "engine/WavBytes.h"
#include "output/mixer/VoiceEngine.h"
#include "unit/TempDir.h"

namespace orvex::test {

class PlayerBackend {
 public:
  virtual ~PlayerBackend() = default;
  // "" once the back-end's server runs, or why it does not.
  virtual std::string Started() const { return ""; }
  // The rate the engine renders at, and the rate of the recording.
  virtual uint32_t Rate() const = 0;
  // Opens the output, binds the engine's mastering voice to it and starts
  // listening; "" or what went wrong.
  virtual std::string Open(mixer::VoiceEngine& engine) = 0;
  // Lets what is in flight arrive, unbinds the engine, closes the output and
  // returns the left channel of what was heard since Open.
  virtual std::vector<float> Close(mixer::VoiceEngine& engine) = 0;
  // Whether the server lost sound of its own accord during the last take
  // (a missed period, an underrun): the take's steps then say nothing about
  // the player.
  virtual bool LostSound() const { return false; }
};

// Whether the server also loses sound with the output open and nothing
// playing, over about a second: a machine too loaded to judge on.
inline bool LosesSoundWhileIdle(PlayerBackend& backend) {
  auto engine = mixer::CreateVoiceEngine();
  if (!backend.Open(*engine).empty()) return false;
  std::this_thread::sleep_for(std::chrono::seconds(1));
  backend.Close(*engine);
  return backend.LostSound();
}

using Script = std::function<void(CWaveWnd& player, const std::function<void(int ms)>& run)>;

// One take: a player of `channel` at full level on a fresh engine on the
// back-end, driven by `script`. The left channel heard; `problem` says why
// there is nothing to judge.
inline std::vector<float> PlayTake(PlayerBackend& backend, int channel, const std::string& file,
                                   const Script& script, std::string& problem) {
  auto engine = mixer::CreateVoiceEngine();
  problem = backend.Open(*engine);
  if (!problem.empty()) return {};
  {
    PlayerRig rig(backend.Rate(), channel, 0);
    rig.player.SetEngines({engine.get(), nullptr, nullptr});
    rig.player.SetAllOutputLevels(65535);
    const auto run = [&](int ms) {
      for (int t = 0; t < ms; t += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rig.timers.Advance(10);
        rig.poster.RunPending();
      }
    };
    if (!rig.Load(file)) problem = "cannot load " + file;
    if (problem.empty()) script(rig.player, run);
  }
  std::vector<float> heard = backend.Close(*engine);
  if (problem.empty() && heard.empty()) problem = "nothing heard";
  return heard;
}

// A 16-bit stereo file of `seconds` of a cosine at the back-end's rate; the
// engine plays it without conversion, so the steps heard beyond the file's
// own (`ownStep`, its largest from one frame to the next) are the player's.
inline std::string WriteCosine(const TempDir& dir, const std::string& name, uint32_t rate,
                               double freq, double amplitude, double seconds,
                               float* ownStep = nullptr) {
  std::string data;
  int32_t prev = 0;
  float most = 0;
  for (int i = 0; i < int(rate * seconds); ++i) {
    const double y = amplitude * std::cos(2 * std::numbers::pi * freq * i / rate);
    const auto s = static_cast<int32_t>(std::lround(y * 32767));
    data += SampleBytes(s, 16) + SampleBytes(s, 16);
    if (i > 0) most = std::max(most, std::abs(s - prev) / 32768.0f);
    prev = s;
  }
  dir.Write(name, Wav(2, rate, 16, data));
  if (ownStep) *ownStep = most;
  return dir.File(name);
}

// Below half a 16-bit step: silence on every back-end.
inline bool Quiet(float x) {
  return std::fabs(x) < 1.0f / 65536;
}

inline float PeakIn(const std::vector<float>& s, size_t from, size_t to) {
  float most = 0;
  for (size_t i = from; i < std::min(to, s.size()); ++i) most = std::max(most, std::fabs(s[i]));
  return most;
}

inline size_t Onset(const std::vector<float>& s) {
  size_t f = 0;
  while (f < s.size() && Quiet(s[f])) ++f;
  return f;
}

// One past the last sound.
inline size_t SoundEnd(const std::vector<float>& s) {
  size_t end = s.size();
  while (end > 0 && Quiet(s[end - 1])) --end;
  return end;
}

// Play, pause, resume, seek and stop of a low cosine (which starts at its
// peak, so an edge without a ramp jumps; low, so that its own steps leave a
// ramp's share of each step plain to see). Every edge ramps over 10 ms: no
// step from one frame to the next exceeds the tone's own plus what such a
// ramp adds. Where a seek fades out and back in, the two halves meet near
// zero, well inside that. The pause and the stop are heard as silence, and
// the tone sounds again at its level after the seek.
inline std::string TransportScene(PlayerBackend& backend, const TempDir& dir) {
  constexpr double kAmplitude = 0.5, kFreq = 50;
  const uint32_t rate = backend.Rate();
  float own = 0;
  const std::string file = WriteCosine(dir, "cosine.wav", rate, kFreq, kAmplitude, 4, &own);
  std::string problem;
  const std::vector<float> s = PlayTake(
      backend, 1, file,
      [](CWaveWnd& player, const auto& run) {
        ASSERT_TRUE(player.Play());
        run(300);
        player.Pause();
        player.SetPaused(true);
        run(150);
        player.SetPaused(false);
        player.Resume();
        run(250);
        player.Seek(player.BytesPerSecond() * 2 + 1236);  // mid-cycle
        run(250);
        player.Unload();
        run(200);
      },
      problem);
  if (!problem.empty()) return problem;
  const size_t onset = Onset(s), end = SoundEnd(s);
  if (end < onset + rate * 3 / 4) return "the tone sounded for " + std::to_string(end - onset);
  float step = 0;
  size_t at = 0;
  for (size_t f = 1; f < s.size(); ++f)
    if (std::fabs(s[f] - s[f - 1]) > step) step = std::fabs(s[f] - s[f - 1]), at = f;
  const double ramp = kAmplitude / (rate / 100.0);
  // The margin: a 16-bit back-end rounds each sample by up to half a step.
  const double limit = own + ramp + 2.0 / 32768;
  if (step > limit)
    return "a step of " + std::to_string(step) + " at frame " + std::to_string(at - onset) +
           " after the onset; at most " + std::to_string(limit);
  const float peak = PeakIn(s, onset, end);
  if (std::fabs(peak - kAmplitude) > 0.002)
    return "played at " + std::to_string(peak) + ", not " + std::to_string(kAmplitude);
  size_t quiet = 0, longest = 0;
  for (size_t f = onset; f < end; ++f) {
    quiet = Quiet(s[f]) ? quiet + 1 : 0;
    longest = std::max(longest, quiet);
  }
  if (longest < rate / 10) return "the pause was not heard";
  if (PeakIn(s, end - rate / 10, end) < 0.9 * kAmplitude) return "no tone after the seek";
  if (s.size() - end < rate / 20) return "still sounding after the stop";
  return "";
}

// A low tone on a channel with tone control, flat and then with the low band
// at +15 while it plays: the boost is heard at the band's full gain.
inline std::string ToneScene(PlayerBackend& backend, const TempDir& dir) {
  const uint32_t rate = backend.Rate();
  const std::string file = WriteCosine(dir, "low.wav", rate, 100, 0.1, 2);
  std::string problem;
  const std::vector<float> s = PlayTake(
      backend, 2, file,
      [](CWaveWnd& player, const auto& run) {
        ASSERT_TRUE(player.Play());
        run(500);
        player.SetToneGain(0, 15);
        run(500);
        player.Unload();
        run(100);
      },
      problem);
  if (!problem.empty()) return problem;
  const size_t onset = Onset(s);
  const float flat = PeakIn(s, onset + rate / 10, onset + rate * 4 / 10);
  const float low = PeakIn(s, onset + rate * 7 / 10, onset + rate * 95 / 100);
  if (std::fabs(flat - 0.1f) > 0.003f) return "flat at " + std::to_string(flat);
  // +15 is the largest band gain, 7.94 at the band's centre.
  if (std::fabs(low / flat - 7.94f) > 0.4f)
    return "the low band raised the tone " + std::to_string(low / flat) + " times";
  return "";
}

// The continuous-play player is heard at its level; it has no tone control,
// so a low band at +15 leaves its low tone as it is.
inline std::string BackgroundScene(PlayerBackend& backend, const TempDir& dir) {
  const uint32_t rate = backend.Rate();
  const std::string file = WriteCosine(dir, "bed.wav", rate, 100, 0.1, 2);
  std::string problem;
  const std::vector<float> s = PlayTake(
      backend, 0, file,
      [](CWaveWnd& player, const auto& run) {
        player.SetToneGain(0, 15);
        ASSERT_TRUE(player.Play());
        run(600);
        player.Unload();
        run(100);
      },
      problem);
  if (!problem.empty()) return problem;
  const size_t onset = Onset(s), end = SoundEnd(s);
  if (end < onset + rate / 2) return "the bed sounded for " + std::to_string(end - onset);
  const float level = PeakIn(s, onset + rate / 20, end);
  if (std::fabs(level - 0.1f) > 0.003f) return "the bed played at " + std::to_string(level);
  return "";
}

// Plays a scene until a take can be judged. A take during which the server
// lost sound on its own is played again; a take that fails without such a
// loss is a fault of the player and fails at once. When every take lost
// sound and the server loses sound also with nothing playing, the machine
// is too loaded to judge on and the test is skipped.
inline void JudgeScene(PlayerBackend& backend, const std::function<std::string()>& scene) {
  std::string problem = scene();
  std::string all = problem;
  bool machineLoses = false;
  for (int retry = 0; retry < 4 && !problem.empty() && backend.LostSound(); ++retry) {
    std::cerr << "the server lost sound during a take that failed (" << problem
              << "); playing it again\n";
    machineLoses = machineLoses || LosesSoundWhileIdle(backend);
    problem = scene();
    all += "; " + problem;
  }
  if (!problem.empty() && backend.LostSound() && machineLoses)
    GTEST_SKIP() << "this machine's server loses sound with nothing playing (" << all << ")";
  EXPECT_EQ(problem, "") << (backend.LostSound() ? "(the server lost sound) " : "") << all;
}

}  // namespace orvex::test
