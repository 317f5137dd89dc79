// The continuous-play player on real outputs: it sounds on each output at
// its one level, is wired again when the outputs are rebuilt, and lets go
// of them before any device goes. On a sink at another rate than the file
// it plays at the file's own pitch, converted on the way.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "engine/Console.h"
#include "engine/FaderLaw.h"
#include "engine/ReaderGate.h"
#include "engine/RealTimerService.h"
#include "engine/UiPoster.h"
#include "engine/WavBytes.h"
#include "engine/WaveWnd.h"
#include "integration/ServerRig.h"
#include "session/OutputSetup.h"
#include "show/CueStore.h"
#include "show/Settings.h"

namespace orvex {
namespace {

// Frames of the recording up to the first sound.
size_t Onset(const std::vector<float>& s) {
  size_t onset = 0;
  while (2 * onset < s.size() && std::fabs(s[2 * onset]) < 1e-3f) ++onset;
  return onset;
}

// What the sink's monitor hears over `ms` once the player has started. The
// player starts once the sink has been silent for 100 ms: what an earlier
// play left in the server's buffers is not part of this one.
std::vector<float> Heard(const std::string& sink, CWaveWnd& player, int ms) {
  MonitorRecorder rec(sink, 48000);
  EXPECT_TRUE(rec.ready);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    const std::vector<float> s = rec.Samples();
    size_t quiet = 0;
    while (quiet < s.size() / 2 && std::fabs(s[s.size() - 1 - 2 * quiet]) < 1e-4f) ++quiet;
    if (quiet >= 4800 || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const size_t before = rec.Samples().size();
  EXPECT_TRUE(player.Play());
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  rec.Stop();
  std::vector<float> s = rec.Samples();
  s.erase(s.begin(), s.begin() + static_cast<long>(before));
  return s;
}

// The level from 50 ms after the sound starts.
float Peak(const std::vector<float>& s) {
  return PeakOf(s, Onset(s) + 2400, s.size() / 2);
}

// Cycles per second of the left channel over the 300 ms after the sound
// starts (the monitor records at 48 kHz).
double Pitch(const std::vector<float>& s) {
  const size_t onset = Onset(s);
  int rising = 0;
  for (size_t f = onset + 4801; f < onset + 4800 + 14400 && 2 * f < s.size(); ++f)
    rising += s[2 * (f - 1)] < 0 && s[2 * f] >= 0;
  return rising / 0.3;
}

// The desktop's outputs on the running server, with the continuous-play
// player wired to them at `level`.
struct OutputsRig {
  explicit OutputsRig(uint32_t level) {
    setup.SetContinuousPlayer(&background, level);
    setup.SetupOutputs();
  }
  Settings settings;
  CueStore cues;
  RealTimerService timers;
  ManualUiPoster poster;
  CConsole console{cues, settings, timers, poster};
  CWaveWnd background{0, timers, poster};
  COutputSetup setup{console, settings, poster};
};

TEST(BackgroundPlayer, SoundsOnEveryOutputAtItsLevelThroughARebuildAndGoesFirst) {
  // The second sink runs at another rate than the file: the player converts.
  PrivateSoundServer server{{"sink_name=orvex_a rate=48000", "sink_name=orvex_b rate=44100"}};
  ASSERT_TRUE(server.ready);
  TempDir show;
  show.Write("bed.wav", ToneWav(3, 16384));

  // Half way up the fader: the level the operator set, not full scale.
  const uint32_t level = 40000;
  OutputsRig rig(level);
  COutputSetup& setup = rig.setup;
  CWaveWnd& background = rig.background;
  ManualUiPoster& poster = rig.poster;
  // Output 0 on the first sink, output 1 on the second.
  setup.Devices().Device(0).m_selected = 0;
  setup.Devices().Device(1).m_selected = 1;
  setup.Devices().Device(2).m_selected = -1;
  setup.ReconfigureOutputs();

  const float expected = 0.5f * static_cast<float>(FaderGain(level, FaderKnee{}));
  for (const char* sink : {"orvex_a", "orvex_b"}) {
    background.LoadFile(show.File("bed.wav"));
    ASSERT_TRUE(PumpUntil(poster, [&] { return background.IsReady(); }));
    const std::vector<float> heard = Heard(sink, background, 700);
    EXPECT_NEAR(Peak(heard), expected, 0.02) << sink;
    EXPECT_NEAR(Pitch(heard), 440, 7) << sink;
    background.Unload();
  }
  // Rebuilt by the selection dialog's path: still wired, at the same level.
  setup.ReconfigureOutputs();
  background.LoadFile(show.File("bed.wav"));
  ASSERT_TRUE(PumpUntil(poster, [&] { return background.IsReady(); }));
  EXPECT_NEAR(Peak(Heard("orvex_a", background, 600)), expected, 0.02);
  // Torn down while it plays: the player lets go before the devices do.
  setup.ReleaseOutputs();
  EXPECT_FALSE(background.IsLoaded());
}

// The sound server restarts during a show: the outputs on it fall silent,
// and choosing the devices again in the selection dialog brings them back.
TEST(BackgroundPlayer, ReselectingAfterTheServerRestartedReachesItAgain) {
  TempDir show;
  show.Write("bed.wav", ToneWav(2, 16384));
  auto server = std::make_unique<PrivateSoundServer>(
      std::vector<std::string>{"sink_name=orvex_a rate=48000"});
  ASSERT_TRUE(server->ready);
  OutputsRig rig(65535);
  COutputSetup& setup = rig.setup;
  CWaveWnd& background = rig.background;
  ManualUiPoster& poster = rig.poster;
  // The same sink with and without the engine: "DS: ..." then "WASAPI: ...".
  for (int device : {0, 1}) {
    server->Kill();
    server.reset();  // first: it forgets its address as it goes
    server = std::make_unique<PrivateSoundServer>(
        std::vector<std::string>{"sink_name=orvex_a rate=48000"});
    ASSERT_TRUE(server->ready);
    setup.Devices().Device(0).m_selected = device;
    setup.Devices().Device(1).m_selected = -1;
    setup.Devices().Device(2).m_selected = -1;
    setup.ReconfigureOutputs();
    background.LoadFile(show.File("bed.wav"));
    ASSERT_TRUE(PumpUntil(poster, [&] { return background.IsReady(); }));
    EXPECT_GT(Peak(Heard("orvex_a", background, 500)), 0.2f) << "device " << device;
    background.Unload();
  }
  setup.ReleaseOutputs();
}

}  // namespace
}  // namespace orvex
