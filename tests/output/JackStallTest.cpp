// A JACK server that stops scheduling for longer than a second (the test
// freezes its private server with SIGSTOP and lets it go on with SIGCONT):
// the cue that was playing is heard again where the clock has got to, and
// the operator is told that the output stalled and has resumed.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <mutex>

#include "JackServer.h"
#include "PlayerOnBackend.h"
#include "output/jack/AsioKernel.h"
#include "output/jack/AsioMessages.h"

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

struct Notices {
  std::mutex mutex;
  std::vector<std::string> texts;
  void Add(const std::string& t) {
    std::lock_guard lock(mutex);
    texts.push_back(t);
  }
  std::vector<std::string> Get() {
    std::lock_guard lock(mutex);
    return texts;
  }
};

// The longest run of silence in [from, to).
size_t LongestQuiet(const std::vector<float>& s, size_t from, size_t to) {
  size_t run = 0, longest = 0;
  for (size_t f = from; f < std::min(to, s.size()); ++f) {
    run = Quiet(s[f]) ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

class JackStall : public ::testing::TestWithParam<std::tuple<int, uint32_t>> {
 protected:
  void SetUp() override {
    server_ = std::make_unique<JackServer>(PrivateServerName("stall"));
    ASSERT_TRUE(server_->Ready()) << "jackd did not start";
    setenv("JACK_DEFAULT_SERVER", server_->Name().c_str(), 1);
  }
  void TearDown() override {
    server_.reset();
    unsetenv("JACK_DEFAULT_SERVER");
  }

  std::unique_ptr<JackServer> server_;
  TempDir dir_;
};

// The stall lasts `stallMs`; the cue, a steady tone of five seconds, goes
// on playing by the player's clock all the while. The recording holds what
// the server played, so the stall itself leaves no gap in it.
TEST_P(JackStall, ThePlayingCueIsHeardAgainAtItsClockWhenTheServerResumes) {
  constexpr uint32_t kRate = 48000;
  constexpr int kFileMs = 5000, kBeforeMs = 700;
  const auto [stallMs, fileRate] = GetParam();
  const std::string file = WriteCosine(dir_, "tone.wav", fileRate, 200, 0.5, kFileMs / 1000.0);
  Notices notices;
  auto engine = mixer::CreateVoiceEngine();
  CAsioKernel host;
  host.SetNoticeHandler([&](const std::string& t) { notices.Add(t); });
  host.SetDriverList(CAsioKernel::ListDrivers({}));
  int factor = 0;
  ASSERT_TRUE(host.OpenDriver(factor, kRate, "JACK") && host.Start());
  ASSERT_TRUE(engine->CreateMasteringVoice(host.EngineDevice()));
  JackRecorder recorder(server_->Name(), kRate * 12);
  ASSERT_TRUE(recorder.Ok() && recorder.Connect("Orvex:out_1", 0));

  size_t resumedAt = 0;
  {
    PlayerRig rig(kRate, 1, 0);
    rig.player.SetEngines({engine.get(), nullptr, nullptr});
    rig.player.SetAllOutputLevels(65535);
    // The usual blocks of ten seconds: the store keeps the whole stall for
    // the voice, so nothing takes its place from it.
    const auto run = [&](int ms) {
      for (int t = 0; t < ms; t += 10) {
        std::this_thread::sleep_for(10ms);
        rig.timers.Advance(10);
        rig.poster.RunPending();
      }
    };
    ASSERT_TRUE(rig.Load(file));
    ASSERT_TRUE(rig.player.Play());
    run(kBeforeMs);
    server_->Suspend();
    run(stallMs);
    resumedAt = recorder.Frames();
    server_->Continue();
    run(kFileMs - kBeforeMs - stallMs + 600);
    rig.player.Unload();
  }
  std::this_thread::sleep_for(50ms);
  const size_t n = recorder.Frames();
  const std::vector<float> heard(recorder.Left().begin(), recorder.Left().begin() + long(n));
  engine->DestroyMasteringVoice();
  host.CloseDriver();

  ASSERT_LT(Onset(heard), resumedAt) << "the cue was not heard before the stall";
  const size_t end = SoundEnd(heard);
  ASSERT_GT(end, resumedAt + kRate / 2) << "silent from the resume on";
  // After the resume the cue sounds at its level with no more than the
  // short gap of the jump, and only for what its clock has left: a voice
  // that went on where it stood would sound for the stall's length longer.
  const size_t gap = LongestQuiet(heard, resumedAt, end);
  EXPECT_LT(gap, kRate / 4) << "silent for " << gap * 1000 / kRate << " ms after the resume";
  const int64_t leftMs = kFileMs - kBeforeMs - stallMs;
  const auto afterMs = static_cast<int64_t>((end - resumedAt) * 1000 / kRate);
  EXPECT_NEAR(afterMs, leftMs, 250) << "heard for " << afterMs << " ms after the resume";
  // (Clear of the end, where a converted file rings a little.)
  EXPECT_NEAR(PeakIn(heard, end - kRate / 2, end - kRate / 10), 0.5f, 0.01f);
  EXPECT_FALSE(host.DeviceLost());
  // The operator hears of it once, and not as a server that went away.
  for (int i = 0; i < 200 && notices.Get().empty(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(notices.Get(), std::vector<std::string>{kAsioStalledAndResumed});
}

// Files at the server's rate play from the player's store; others from a
// conversion of it.
INSTANTIATE_TEST_SUITE_P(StallMsAndFileRate, JackStall,
                         ::testing::Combine(::testing::Values(1200, 3000),
                                            ::testing::Values(48000u, 44100u)));

}  // namespace
}  // namespace orvex::test
