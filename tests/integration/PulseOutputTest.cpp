// The outputs on a sound server of the test's own: what Orvex plays through
// the voice engine and through shared streams is recorded from the sink's
// monitor and compared with the offline render of the same show; a server
// killed in the middle of a show leaves the program and its other outputs
// running.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/WavBytes.h"
#include "integration/ServerRig.h"
#include "output/OutputDevices.h"
#include "output/alsa/WaveExWASAPI.h"
#include "show/Cp932.h"

namespace orvex {
namespace {

const std::string kCli = ORVEX_BIN_DIR "/orvex-cli";

class PulseOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.ready) << show.Read("server.err");
    show.Write("snd/tone.wav", ToneWav(3, 8192));
    // PRE 5: a level below the top of the fader, where the law matters.
    show.Write("show.csv", *Utf8ToCp932("snd,\r\n1,1,first,tone.wav,5,0,0,,0,1,0,0,0,\r\n"));
  }

  // The master level the offline renderer gives the same cue.
  float ReferencePeak() {
    const pid_t pid = Spawn({kCli, "render", show.File("show.csv"), "--out", show.File("ref"),
                             "--length", "1.5", "--at", "0.3", "go"},
                            show.File("ref.out"), show.File("ref.err"));
    EXPECT_EQ(WaitExit(pid, 30), 0) << show.Read("ref.err");
    return PeakOf(FloatsOf(show.Read("ref/master.wav"), 58), 0, 48000 * 2);
  }

  // Plays the show on Master = device index, recording the sink's monitor.
  std::vector<float> PlayAndRecord(int index, const std::vector<std::string>& extra = {}) {
    MonitorRecorder rec("orvex_a", 48000);
    EXPECT_TRUE(rec.ready);
    // The monitor runs once its first frames arrive.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (rec.Samples().empty() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::string> argv = {kCli,
                                     "play",
                                     show.File("show.csv"),
                                     "--device",
                                     "0=" + std::to_string(index),
                                     "--length",
                                     "1.5",
                                     "--at",
                                     "0.3",
                                     "go"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const pid_t play = Spawn(argv, show.File("play.out"), show.File("play.err"));
    EXPECT_EQ(WaitExit(play, 30), 0) << show.Read("play.err");
    rec.Stop();
    return rec.Samples();
  }

  void ExpectEdgesWithoutAClick(int index);

  PrivateSoundServer server{
      {"sink_name=orvex_a rate=48000 sink_properties=device.description=NullA",
       "sink_name=orvex_b rate=44100"}};
  TempDir show;
};

TEST_F(PulseOutputs, DevicesAreTheSinksInServerOrderOnceAsEngineDevicesOnceAsEndpoints) {
  const pid_t pid = Spawn({kCli, "devices"}, show.File("devices.out"), show.File("devices.err"));
  ASSERT_EQ(WaitExit(pid, 20), 0) << show.Read("devices.err");
  EXPECT_EQ(show.Read("devices.out"),
            "{\"index\": 0, \"kind\": \"DS\", \"id\": \"orvex_a\", \"name\": \"DS: NullA\"}\n"
            "{\"index\": 1, \"kind\": \"DS\", \"id\": \"orvex_b\", \"name\": \"DS: Null Output\"}\n"
            "{\"index\": 2, \"kind\": \"WASAPI\", \"id\": \"orvex_a\", \"name\": \"WASAPI: "
            "NullA\"}\n"
            "{\"index\": 3, \"kind\": \"WASAPI\", \"id\": \"orvex_b\", \"name\": \"WASAPI: Null "
            "Output\"}\n");
}

TEST_F(PulseOutputs, EngineAndSharedStreamsPlayAtTheLevelOfTheFaderLaw) {
  const float reference = ReferencePeak();
  ASSERT_GT(reference, 0.05f);
  for (int index : {0, 2}) {  // "DS: NullA", then "WASAPI: NullA"
    const std::vector<float> rec = PlayAndRecord(index);
    const float peak = PeakOf(rec, 0, rec.size() / 2);
    EXPECT_NEAR(peak, reference, 0.01) << "device " << index << ": " << show.Read("play.err");
    // GO was printed with the moment it happened.
    const std::string events = show.Read("play.out");
    EXPECT_NE(events.find("\"event\": \"play\", \"ch\": 1, \"mono\": "), std::string::npos)
        << events;
  }
}

// The largest step from one frame to the next of the left channel within
// frames [from, to): a cut wave jumps far more than the 440 Hz tone moves
// (at most 2 pi 440 / 48000, 0.06 of its peak, per frame).
float LargestStep(const std::vector<float>& s, size_t from, size_t to) {
  float step = 0;
  to = std::min(to, s.size() / 2);
  for (size_t f = std::max<size_t>(from, 1); f < to; ++f)
    step = std::max(step, std::fabs(s[2 * f] - s[2 * (f - 1)]));
  return step;
}

// Plays the tone on Master = device index with a pause at 0.6 s and a
// resume at 0.9 s, and judges each edge the program makes (start, pause,
// resume): each must ramp. Only the 50 ms around each is judged: a slow
// sanitizer build may leave the server an underrun elsewhere, and the run
// ends mid-tone at the program's exit.
void PulseOutputs::ExpectEdgesWithoutAClick(int index) {
  const std::vector<float> rec =
      PlayAndRecord(index, {"--at", "0.6", "pause:1", "--at", "0.9", "play:1"});
  const size_t frames = rec.size() / 2;
  const float peak = PeakOf(rec, 0, frames);
  ASSERT_GT(peak, 0.05f) << show.Read("play.err");
  auto quiet = [&](size_t f) { return std::fabs(rec[2 * f]) < 1e-4f; };
  size_t onset = 0;
  while (onset < frames && quiet(onset)) ++onset;
  // The pause is heard: the longest silence after the start that sound
  // follows, some 300 ms.
  size_t run = 0, longest = 0, gapEnd = 0;
  for (size_t f = onset; f + 1 < frames; ++f) {
    run = quiet(f) ? run + 1 : 0;
    if (run > longest && !quiet(f + 1)) longest = run, gapEnd = f + 1;
  }
  ASSERT_GT(longest, 4800u);
  const size_t gapStart = gapEnd - longest;
  const size_t span = 2400;
  for (const size_t edge : {onset, gapStart, gapEnd}) {
    EXPECT_LT(LargestStep(rec, edge > span ? edge - span : 0, edge + span), peak * 0.15f)
        << "device " << index << ": edge at frame " << edge << " of " << frames;
  }
}

TEST_F(PulseOutputs, SharedStreamsStartPauseAndResumeWithoutAClick) {
  ExpectEdgesWithoutAClick(2);  // "WASAPI: NullA"
}

TEST_F(PulseOutputs, EngineVoicesStartPauseAndResumeWithoutAClick) {
  ExpectEdgesWithoutAClick(0);  // "DS: NullA"
}

// The tone's level in 10 ms windows: its peak in each.
std::vector<float> Envelope(const std::vector<float>& s) {
  std::vector<float> env;
  for (size_t f = 0; f + 480 <= s.size() / 2; f += 480) env.push_back(PeakOf(s, f, f + 480));
  return env;
}

// A one-second fade-out started 0.5 s after the GO, on the engine and on a
// shared stream: the fade is heard as soon after the button as the start
// was after the GO, and glides down without a step.
TEST_F(PulseOutputs, AFadeIsHeardAtOnceAndGlidesOnEveryPulseOutput) {
  // F.O fades over the current record's time: after the GO that is Q2's.
  show.Write("show.csv", *Utf8ToCp932("snd,\r\n1,1,first,tone.wav,5,0,1,,0,1,0,0,0,\r\n"
                                      "2,1,second,tone.wav,5,0,1,,0,1,0,0,0,\r\n"));
  // One run's figures: how late the fade is heard, and its largest drop
  // from one 10 ms window to the next, as a share of the level.
  const auto measure = [&](int index, long& late, float& drop) {
    const std::vector<float> env = Envelope(PlayAndRecord(index, {"--at", "0.8", "fo:1"}));
    size_t onset = 0;
    while (onset < env.size() && env[onset] < 1e-3f) ++onset;
    if (onset + 40 >= env.size()) return false;
    const float steady = env[onset + 20];
    // Where the glide began, drawn back from where it passes 90 % and 70 %
    // of the level: the windows' own width and slope do not count.
    const auto crossing = [&](float share) {
      size_t w = onset + 20;
      while (w < env.size() && env[w] > steady * share) ++w;
      return w;
    };
    const size_t at90 = crossing(0.9f), at70 = crossing(0.7f);
    if (at70 >= env.size()) return false;
    const double began = at90 - (at70 - at90) / 2.0;
    // 50 windows after the GO, give or take the two edges' own latency.
    late = std::lround((began - static_cast<double>(onset) - 50) * 10);
    drop = 0;
    // The first 450 ms of the fade, before the run ends.
    for (size_t w = at90; w + 1 < env.size() && w < at90 + 45; ++w)
      drop = std::max(drop, (env[w] - env[w + 1]) / steady);
    std::printf("device %d: fade heard %ld ms after the start's own delay, largest drop %.3f\n",
                index, late, drop);
    return true;
  };
  for (int index : {0, 2}) {  // "DS: NullA", "WASAPI: NullA"
    // A second run where the loaded machine let the server underrun in the
    // first: late or stepped fades come back in every run.
    bool good = false;
    for (int run = 0; run < 2 && !good; ++run) {
      long late = 0;
      float drop = 0;
      ASSERT_TRUE(measure(index, late, drop))
          << "device " << index << ": " << show.Read("play.err");
      good = late <= 30 && drop < 0.07f;
    }
    EXPECT_TRUE(good) << "device " << index;
  }
}

// A pause soon after the fader came back up: the server still holds audio
// written at the old level when the pause fades out what it has not played,
// and the fade starts from the level of that audio, not from the newest one.
TEST_F(PulseOutputs, APauseJustAfterAFaderMoveFadesFromTheLevelBeingHeard) {
  for (int run = 0; run < 3; ++run) {
    const std::vector<float> rec = PlayAndRecord(
        2, {"--at", "0.5", "fader:1=0", "--at", "0.9", "fader:1=10", "--at", "0.97", "pause:1"});
    const size_t frames = rec.size() / 2;
    const float peak = PeakOf(rec, 0, frames);
    ASSERT_GT(peak, 0.05f) << show.Read("play.err");
    // The pause is the last sound: judge the 100 ms before and after it.
    size_t last = frames;
    while (last > 0 && std::fabs(rec[2 * (last - 1)]) < 1e-4f) --last;
    ASSERT_GT(last, 4800u);
    EXPECT_LT(LargestStep(rec, last - 4800, last + 4800), peak * 0.15f)
        << "run " << run << ": pause at frame " << last << " of " << frames;
  }
}

// The sink of the Master output goes away mid-cue (its module unloaded, as
// when a USB interface is unplugged): the server would move the program's
// streams to the other sink. They stay where the operator put them and end;
// the program says which device went and plays on.
TEST_F(PulseOutputs, AVanishedSinkSilencesItsOutputInsteadOfMovingToAnother) {
  const auto run = [&](const std::string& cmd) {
    const pid_t pid = Spawn({"sh", "-c", cmd}, show.File("sh.out"), show.File("sh.err"));
    EXPECT_EQ(WaitExit(pid, 20), 0) << cmd << ": " << show.Read("sh.err");
    return show.Read("sh.out");
  };
  for (const std::string device : {"0", "2"}) {  // "DS: NullA", "WASAPI: NullA"
    PrivateSoundServer own{{"sink_name=orvex_a rate=48000 sink_properties=device.description=NullA",
                            "sink_name=orvex_b rate=48000"}};
    ASSERT_TRUE(own.ready);
    MonitorRecorder other("orvex_b", 48000);
    ASSERT_TRUE(other.ready);
    const pid_t play = Spawn({kCli, "play", show.File("show.csv"), "--device", "0=" + device,
                              "--length", "2", "--at", "0.2", "go"},
                             show.File("play.out"), show.File("play.err"));
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    const std::string module =
        run("pactl list short modules | awk '/sink_name=orvex_a/ {print $1}'");
    ASSERT_FALSE(module.empty());
    run("pactl unload-module " + module);
    ASSERT_EQ(WaitExit(play, 30), 0) << show.Read("play.err");
    other.Stop();
    const std::vector<float> heard = other.Samples();
    EXPECT_LT(PeakOf(heard, 0, heard.size() / 2), 1e-4f) << "device " << device;
    const std::string err = show.Read("play.err");
    EXPECT_NE(err.find(kDeviceGone), std::string::npos) << err;
    EXPECT_NE(err.find(": NullA"), std::string::npos) << err;
  }
}

// Six cues of one GO, each a steady level on its own channel, on one
// shared-mode endpoint: six server streams. They start together, so the
// sum climbs from nothing to all six within one stream's own start (the
// same for each), not spread over the time the GO takes to reach the last.
TEST_F(PulseOutputs, TheSharedStreamsOfOneGoStartTogether) {
  std::string data;
  for (int i = 0; i < 48000 * 2; ++i) data += SampleBytes(4000, 16) + SampleBytes(4000, 16);
  show.Write("snd/level.wav", Wav(2, 48000, 16, data));
  std::string csv = "snd,\r\n";
  for (int ch = 1; ch <= 6; ++ch)
    csv +=
        "1," + std::to_string(ch) + ",c" + std::to_string(ch) + ",level.wav,5,0,0,,0,1,0,0,0,\r\n";
  show.Write("show.csv", *Utf8ToCp932(csv));
  // The climb of one stream alone, and of all six.
  const auto climb = [](const std::vector<float>& rec, float& full) {
    const size_t frames = rec.size() / 2;
    full = PeakOf(rec, 0, frames);
    size_t onset = 0, top = 0;
    while (onset < frames && std::fabs(rec[onset * 2]) < 1e-4f) ++onset;
    top = onset;
    while (top < frames && std::fabs(rec[top * 2]) < full * 0.999f) ++top;
    return top - onset;
  };
  float fullAll = 0, fullOne = 0;
  const size_t all = climb(PlayAndRecord(2), fullAll);
  show.Write("show.csv", *Utf8ToCp932("snd,\r\n1,1,c1,level.wav,5,0,0,,0,1,0,0,0,\r\n"));
  const size_t one = climb(PlayAndRecord(2), fullOne);
  ASSERT_GT(fullOne, 0.01f);
  EXPECT_NEAR(fullAll / fullOne, 6.0f, 0.05f);
  // Half a millisecond at the sink's rate (they went up to 2.75 ms apart).
  EXPECT_LE(all, one + 24) << "six streams climbed over " << all << " frames, one over " << one;
}

// A list of two items, on the engine and on a shared stream: where one item
// ends the next one's first frame follows, with no silence between.
TEST_F(PulseOutputs, ListItemsFollowOneAnotherWithoutSilence) {
  const auto dc = [](int16_t value) {
    std::string data;
    for (size_t f = 0; f < 19200 * 2; ++f) data += SampleBytes(value, 16);  // 0.4 s
    return Wav(2, 48000, 16, data);
  };
  show.Write("snd/one.wav", dc(8192));
  show.Write("snd/two.wav", dc(16384));
  show.Write("snd/set.lst", show.File("snd") + "\r\none.wav,1\r\ntwo.wav,1\r\n");
  show.Write("show.csv", "snd,\r\n1,1,list,set.lst,10,0,0,,0,1,0,0,0,\r\n");
  for (int index : {0, 2}) {  // "DS: NullA", then "WASAPI: NullA"
    const std::vector<float> rec = PlayAndRecord(index);
    const size_t frames = rec.size() / 2;
    size_t onset = 0;
    while (onset < frames && std::fabs(rec[2 * onset]) < 1e-4f) ++onset;
    ASSERT_LT(onset + 48000, frames) << "device " << index << ": " << show.Read("play.err");
    // The items' levels, whatever the fader law makes of them.
    const float one = rec[2 * (onset + 9600)], two = rec[2 * (onset + 28800)];
    ASSERT_GT(two, one * 1.5f) << "device " << index;
    const float middle = (one + two) / 2;
    // Each change of item (one to two, two to one again) on the frame, and
    // nothing quiet around it. Only the 50 ms around each is judged: a slow
    // build may leave the server an underrun elsewhere.
    for (const size_t change : {onset + 19200, onset + 38400}) {
      for (size_t f = change - 2400; f < change + 2400; ++f) {
        ASSERT_GT(std::fabs(rec[2 * f]), one / 2)
            << "device " << index << ": silence at " << static_cast<long>(f - change);
        const bool first = change == onset + 19200;
        const bool before = f < change;
        EXPECT_EQ(rec[2 * f] > middle, first != before)
            << "device " << index << ": frame " << static_cast<long>(f - change);
      }
    }
  }
}

TEST_F(PulseOutputs, NoServerMeansNoDevicesAndSilentNone) {
  server.Kill();
  const pid_t pid = Spawn({kCli, "devices"}, show.File("devices.out"), show.File("devices.err"));
  ASSERT_EQ(WaitExit(pid, 20), 0);
  EXPECT_EQ(show.Read("devices.out"), "");
  const pid_t play = Spawn({kCli, "play", show.File("show.csv"), "--length", "0.3"},
                           show.File("play.out"), show.File("play.err"));
  EXPECT_EQ(WaitExit(play, 20), 0);
  EXPECT_NE(show.Read("play.err").find("output 0: なし"), std::string::npos)
      << show.Read("play.err");
}

class PulseAndAlsa : public PulseOutputs {
 protected:
  void SetUp() override {
    PulseOutputs::SetUp();
    // The card behind the sink is a file in a private ALSA configuration.
    show.Write("asound.conf",
               "pcm.hw {\n  @args [ CARD DEV ]\n  @args.CARD { type string }\n"
               "  @args.DEV { type integer }\n  type file\n"
               "  slave.pcm { type null }\n  file \"" +
                   show.File("hw.raw") + "\"\n  format \"raw\"\n}\n");
  }
};

TEST_F(PulseAndAlsa, AServerKilledMidShowLeavesTheProgramAndTheExclusiveOutputRunning) {
  PrivateSoundServer two{{"sink_name=orvex_a rate=48000",
                          "sink_name=orvex_hw sink_properties='alsa.card=5 alsa.device=0'"}};
  ASSERT_TRUE(two.ready);
  setenv("ALSA_CONFIG_PATH", show.File("asound.conf").c_str(), 1);
  // Master exclusive on the card behind orvex_hw, Group1 on the engine.
  const pid_t play = Spawn({kCli, "play", show.File("show.csv"), "--device", "0=3", "--exclusive",
                            "0", "--device", "1=0", "--length", "2.5", "--at", "0.2", "go"},
                           show.File("play.out"), show.File("play.err"));
  unsetenv("ALSA_CONFIG_PATH");
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  two.Kill();
  ASSERT_EQ(WaitExit(play, 30), 0) << show.Read("play.err");
  EXPECT_NE(show.Read("play.err").find(kServerLost), std::string::npos) << show.Read("play.err");
  EXPECT_NE(show.Read("play.err").find("output 0: WASAPI: "), std::string::npos);

  // 16-bit stereo at 44100 Hz, the stored exclusive format; still sounding
  // after the server went.
  const std::string raw = show.Read("hw.raw");
  std::vector<int16_t> s(raw.size() / 2);
  std::memcpy(s.data(), raw.data(), s.size() * 2);
  ASSERT_GT(s.size(), size_t{2 * 44100 * 2}) << show.Read("play.err");
  int16_t late = 0;
  for (size_t i = 2 * 44100 * 3 / 2; i < size_t{2 * 44100 * 2}; ++i)
    late = std::max<int16_t>(late, static_cast<int16_t>(std::abs(s[i])));
  const float reference = ReferencePeak();
  EXPECT_NEAR(late / 32768.0, reference, 0.01);
}

TEST_F(PulseAndAlsa, ACardThatStaysBusyAndANullSinkCannotBeExclusiveAndSaySo) {
  PrivateSoundServer two{{"sink_name=orvex_a rate=48000",
                          "sink_name=orvex_hw sink_properties='alsa.card=5 alsa.device=0'"}};
  ASSERT_TRUE(two.ready);
  // The card behind orvex_hw takes one program at a time, like hardware.
  show.Write("busy.conf", "pcm_type.orvexbusy { lib \"" ORVEX_BUSY_PCM
                          "\" }\n"
                          "pcm.hw {\n  @args [ CARD DEV ]\n  @args.CARD { type string }\n"
                          "  @args.DEV { type integer }\n  type orvexbusy\n  lock \"" +
                              show.File("card.lock") + "\"\n}\n");
  setenv("ALSA_CONFIG_PATH", show.File("busy.conf").c_str(), 1);
  snd_pcm_t* held = nullptr;
  ASSERT_EQ(snd_pcm_open(&held, "hw:5,0", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK), 0);
  const auto play = [&](const std::string& device, const std::string& others) {
    const pid_t pid = Spawn({kCli, "play", show.File("show.csv"), "--device", "0=" + device,
                             "--exclusive", "0", "--device", "1=" + others, "--device",
                             "2=" + others, "--length", "0.3", "--at", "0.1", "go"},
                            show.File("play.out"), show.File("play.err"));
    EXPECT_EQ(WaitExit(pid, 30), 0) << show.Read("play.err");
    return show.Read("play.err");
  };
  const auto state = [&] { return SinkLine(show, "orvex_hw"); };
  // Another program holds the card: the server letting go of it is not
  // enough. The sink is given back to the server all the same.
  std::string err = play("3", "0");
  EXPECT_NE(err.find(kExclusiveBusy), std::string::npos) << err;
  // The output says what it plays on: nothing, not the card it was refused.
  EXPECT_EQ(err.find("(exclusive)"), std::string::npos) << err;
  EXPECT_NE(err.find("output 0: WASAPI: Null Output (not opened: silent)\n"), std::string::npos)
      << err;
  EXPECT_EQ(state().find("SUSPENDED"), std::string::npos) << state();
  snd_pcm_close(held);
  // Once it is free the same set-up opens it without a word.
  err = play("3", "0");
  EXPECT_EQ(err.find(kExclusiveBusy), std::string::npos) << err;
  EXPECT_NE(err.find("output 0: WASAPI: Null Output (exclusive)\n"), std::string::npos) << err;
  EXPECT_EQ(state().find("SUSPENDED"), std::string::npos) << state();
  // A null sink has no card behind it at all (the other outputs play on
  // the other sink's engine: one sink is never exclusive and shared at once).
  err = play("2", "1");
  EXPECT_NE(err.find(kExclusiveNoHardware), std::string::npos) << err;
  unsetenv("ALSA_CONFIG_PATH");
}

}  // namespace
}  // namespace orvex
