// The end of a run in the middle of a cue: every output fades to silence
// before its device closes, whatever the device (a sink stream of the voice
// engine, the exclusive card). Judged on what the sink's monitor and the
// card's file recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/WavBytes.h"
#include "integration/ServerRig.h"
#include "show/Cp932.h"

namespace orvex {
namespace {

const std::string kCli = ORVEX_BIN_DIR "/orvex-cli";

// The largest step from one frame to the next of the left channel within
// frames [from, to): a cut wave jumps far more than the 440 Hz tone moves.
float LargestStep(const std::vector<float>& s, size_t from, size_t to) {
  float step = 0;
  to = std::min(to, s.size() / 2);
  for (size_t f = std::max<size_t>(from, 1); f < to; ++f)
    step = std::max(step, std::fabs(s[2 * f] - s[2 * (f - 1)]));
  return step;
}

// The frame after the last one that sounds.
size_t EndOfSound(const std::vector<float>& s) {
  size_t last = s.size() / 2;
  while (last > 0 && std::fabs(s[2 * (last - 1)]) < 1e-4f) --last;
  return last;
}

class TearDown : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.ready) << show.Read("server.err");
    show.Write("snd/tone.wav", ToneWav(3, 8192));
    show.Write("show.csv", *Utf8ToCp932("snd,\r\n1,1,first,tone.wav,10,0,0,,0,1,0,0,0,\r\n"));
  }

  // Runs `orvex-cli play` for `length` seconds with GO at 0.2 s: the run
  // ends while the three-second tone still sounds.
  void Play(const std::vector<std::string>& devices, const std::string& length) {
    std::vector<std::string> argv = {kCli, "play", show.File("show.csv")};
    argv.insert(argv.end(), devices.begin(), devices.end());
    argv.insert(argv.end(), {"--length", length, "--at", "0.2", "go"});
    const pid_t play = Spawn(argv, show.File("play.out"), show.File("play.err"));
    ASSERT_EQ(WaitExit(play, 30), 0) << show.Read("play.err");
  }

  // The last 100 ms of sound, and the 100 ms after it, step less than a
  // cut would: the end was a fade, not the tone stopping on a sample.
  static void ExpectFadedEnd(const std::vector<float>& rec, const std::string& what) {
    const size_t frames = rec.size() / 2;
    const float peak = PeakOf(rec, 0, frames);
    ASSERT_GT(peak, 0.05f) << what;
    const size_t end = EndOfSound(rec);
    ASSERT_GT(end, 4800u) << what;
    const float step = LargestStep(rec, end - 4800, end + 4800);
    std::printf("%s: largest step at the end %.4f of peak %.4f (%.1f %%)\n", what.c_str(), step,
                peak, 100.0 * step / peak);
    EXPECT_LT(step, peak * 0.15f) << what << ": end at frame " << end << " of " << frames;
  }

  std::string SinkState() { return SinkLine(show, "orvex_hw"); }
  bool Suspended() { return SinkState().find("SUSPENDED") != std::string::npos; }

  // The card behind orvex_hw writes what it is given into a file.
  void UseCardFile() {
    show.Write("asound.conf",
               "pcm.hw {\n  @args [ CARD DEV ]\n  @args.CARD { type string }\n"
               "  @args.DEV { type integer }\n  type file\n"
               "  slave.pcm { type null }\n  file \"" +
                   show.File("hw.raw") + "\"\n  format \"raw\"\n}\n");
    setenv("ALSA_CONFIG_PATH", show.File("asound.conf").c_str(), 1);
  }

  PrivateSoundServer server{
      {"sink_name=orvex_a rate=48000 sink_properties=device.description=NullA",
       "sink_name=orvex_hw sink_properties='alsa.card=5 alsa.device=0'"}};
  TempDir show;
};

TEST_F(TearDown, AnEngineOutputOnASinkFadesOutWhenTheRunEndsMidCue) {
  // Several runs: where the close falls in the server's cycle varies.
  for (const char* length : {"0.7", "0.85", "1.0"}) {
    MonitorRecorder rec("orvex_a", 48000);
    ASSERT_TRUE(rec.ready);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (rec.Samples().empty() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Play({"--device", "0=0"}, length);  // "DS: NullA"
    // The monitor lags the sink a little: let it catch up.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    rec.Stop();
    ExpectFadedEnd(rec.Samples(), std::string("DS, length ") + length);
  }
}

TEST_F(TearDown, AnExclusiveOutputFadesOutOnItsCardWhenTheRunEndsMidCue) {
  UseCardFile();
  Play({"--device", "0=3", "--exclusive", "0"}, "0.8");  // "WASAPI: orvex_hw"
  unsetenv("ALSA_CONFIG_PATH");
  // 16-bit stereo, the stored exclusive format.
  const std::string raw = show.Read("hw.raw");
  std::vector<float> rec(raw.size() / 2);
  for (size_t i = 0; i < rec.size(); ++i) {
    int16_t v = 0;
    std::memcpy(&v, raw.data() + 2 * i, 2);
    rec[i] = v / 32768.0f;
  }
  ExpectFadedEnd(rec, "exclusive");
}

// A run that holds orvex_hw in exclusive mode is killed: nothing gave the
// sink back, and the server keeps it suspended. The next start takes it back
// (a run still alive keeps its own), and the sink plays again.
TEST_F(TearDown, ASinkAKilledRunLeftSuspendedIsGivenBackAtTheNextStart) {
  UseCardFile();
  pid_t exclusive = Spawn({kCli, "play", show.File("show.csv"), "--device", "0=3", "--exclusive",
                           "0", "--length", "20", "--at", "0.2", "go"},
                          show.File("ex.out"), show.File("ex.err"));
  unsetenv("ALSA_CONFIG_PATH");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Suspended() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(Suspended()) << SinkState() << show.Read("ex.err");

  // Another start while that run lives leaves its sink alone.
  pid_t pid = Spawn({kCli, "devices"}, show.File("devices.out"), show.File("devices.err"));
  ASSERT_EQ(WaitExit(pid, 20), 0) << show.Read("devices.err");
  EXPECT_TRUE(Suspended()) << SinkState();

  kill(exclusive, SIGKILL);
  waitpid(exclusive, nullptr, 0);
  exclusive = -1;
  ASSERT_TRUE(Suspended()) << SinkState();

  // The next run, on the engine over that very sink, is heard.
  MonitorRecorder rec("orvex_hw", 48000);
  ASSERT_TRUE(rec.ready);
  Play({"--device", "0=1"}, "1.0");  // "DS: orvex_hw"
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  rec.Stop();
  EXPECT_FALSE(Suspended()) << SinkState();
  const std::vector<float> heard = rec.Samples();
  EXPECT_GT(PeakOf(heard, 0, heard.size() / 2), 0.05f) << show.Read("play.err");
  EXPECT_NE(show.Read("play.err").find("orvex_hw を戻しました"), std::string::npos)
      << show.Read("play.err");
}

}  // namespace
}  // namespace orvex
