// Audio servers restarted in the middle of a show: `orvex-cli play` with
// Master on a sink of a private sound server and Group1 on a private JACK
// server. Each server in turn is killed and started again; the output on it
// must play again soon after the server is back, and the output on the
// other server must not stop meanwhile.
#include <gtest/gtest.h>

#include <time.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "integration/ServerRig.h"
#include "output/JackServer.h"
#include "output/OutputDevices.h"
#include "show/Cp932.h"
#include "show/IniFile.h"
#include "show/Settings.h"

namespace orvex {
namespace {

using Clock = std::chrono::steady_clock;
const std::string kCli = ORVEX_BIN_DIR "/orvex-cli";

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Polls `done` every 5 ms until it holds or `seconds` pass.
template <typename F>
bool PollFor(double seconds, F done) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

double MonoNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// The `mono` of the program's event line for that output; 0 without one.
double EventMono(const std::string& events, const std::string& event, int output) {
  const size_t at =
      events.find("\"event\": \"" + event + "\", \"output\": " + std::to_string(output));
  const size_t mono = events.find("\"mono\": ", at);
  if (at == std::string::npos || mono == std::string::npos) return 0;
  return std::strtod(events.c_str() + mono + 8, nullptr);
}

size_t FirstAudibleFrame(const std::vector<float>& s) {
  for (size_t i = 0; i < s.size(); ++i)
    if (std::fabs(s[i]) > 0.05f) return i / 2;
  return s.size() / 2;
}

bool Audible(const std::vector<float>& s, size_t fromFrame) {
  return PeakOf(s, fromFrame, s.size() / 2) > 0.05f;
}

// The quietest 100 ms block of the JACK recording within [from, to): a
// stop shows as a block of silence.
float QuietestBlock(const test::JackRecorder& rec, size_t from, size_t to) {
  float quietest = 1;
  const std::vector<float>& left = rec.Left();
  for (size_t b = from; b + 4800 <= to; b += 4800) {
    float peak = 0;
    for (size_t i = b; i < b + 4800; ++i) peak = std::max(peak, std::fabs(left[i]));
    quietest = std::min(quietest, peak);
  }
  return quietest;
}

// Whether the JACK recording has a loud sample from frame `from` on.
bool JackAudible(const test::JackRecorder& rec, size_t from) {
  const size_t n = rec.Frames();
  for (size_t i = from; i < n; ++i)
    if (std::fabs(rec.Left()[i]) > 0.05f) return true;
  return false;
}

// A recorder on the JACK server connected to Orvex's first output port as
// soon as that port exists (after a restart the client comes back later).
// On a loaded machine a server just started can drop a client that was slow
// to answer it; the recorder then opens again.
std::unique_ptr<test::JackRecorder> RecordOrvex(const std::string& server, double seconds) {
  std::unique_ptr<test::JackRecorder> rec;
  auto opened = Clock::now();
  const bool connected = PollFor(seconds, [&] {
    if (!rec || (!rec->Alive() && Clock::now() - opened > std::chrono::milliseconds(200))) {
      rec.reset();
      rec = std::make_unique<test::JackRecorder>(server, 48000 * 60);
      opened = Clock::now();
    }
    return rec->Alive() && rec->Connect("Orvex:out_1", 0);
  });
  return connected ? std::move(rec) : nullptr;
}

// `orvex-cli play` of a show whose one cue is a 40 s tone on CH1, for 30 s,
// with the outputs on these devices; Group1 is raised and routed when
// `group1` is set. The cue starts 0.2 s in.
pid_t PlayTone(TempDir& dir, const std::array<std::string, 3>& types,
               const std::array<std::string, 3>& names, bool group1) {
  dir.Write("snd/tone.wav", ToneWav(40, 8192));
  dir.Write("show.csv", *Utf8ToCp932("snd,\r\n1,1,first,tone.wav,10,0,0,,3,1,0,0,1,\r\n"));
  Settings settings;
  settings.deviceType = types;
  settings.deviceName = names;
  IniFile ini;
  settings.Save(ini);
  EXPECT_TRUE(ini.Save(dir.File("settings.ini")));
  std::vector<std::string> args = {
      kCli, "play", dir.File("show.csv"), "--settings", dir.File("settings.ini"), "--length", "30"};
  if (group1)
    for (const char* a : {"--at", "0.1", "fader:7=10", "--at", "0.1", "route:7=ON"})
      args.push_back(a);
  for (const char* a : {"--at", "0.2", "go"}) args.push_back(a);
  return Spawn(args, dir.File("play.out"), dir.File("play.err"));
}

// Kills the sound server, waits for Orvex to tell output 0 lost, starts the
// server again and records its Master sink until the tone is heard. Checks
// that it comes back within 2 s of the server, ramped (the 440 Hz wave at
// 0.25 moves at most 0.015 a frame; a cut into it jumps far more), and
// that the status says so.
void RestartSoundServerAndHearMaster(PrivateSoundServer& pulse, TempDir& dir,
                                     std::unique_ptr<MonitorRecorder>& master, const char* what) {
  const auto log = [&] { return dir.Read("play.err") + dir.Read("play.out"); };
  master.reset();
  pulse.Kill();
  ASSERT_TRUE(PollFor(5, [&] {
    return dir.Read("play.out").find("\"event\": \"output-lost\", \"output\": 0") !=
           std::string::npos;
  })) << log();
  ASSERT_TRUE(pulse.Restart()) << pulse.dir.Read("server.err");
  const double ready = MonoNow();
  master = std::make_unique<MonitorRecorder>("orvex_a", 48000);
  ASSERT_TRUE(master->ready);
  ASSERT_TRUE(PollFor(5, [&] { return Audible(master->Samples(), 0); })) << log();
  // The idle null sink hands its monitor nothing until a stream plays on
  // it, so the recording starts when Orvex's new stream does: the figure is
  // the moment of the reopen plus the silence before the tone came back.
  const double reopened = EventMono(dir.Read("play.out"), "output-back", 0);
  ASSERT_GT(reopened, 0) << log();
  const double back = reopened - ready + double(FirstAudibleFrame(master->Samples())) / 48000;
  std::printf("sound server ready to %s audible again: %.3f s\n", what, back);
  EXPECT_LT(back, 2.0) << log();
  PollFor(1, [&] { return master->Samples().size() / 2 > 48000 / 5; });
  const std::vector<float> first = master->Samples();
  float step = 0;
  for (size_t f = 1; f < std::min<size_t>(first.size() / 2, 48000 / 5); ++f)
    step = std::max(step, std::fabs(first[2 * f] - first[2 * (f - 1)]));
  EXPECT_LT(step, 0.03f);
  EXPECT_NE(log().find(kServerBack + std::string("（Master）")), std::string::npos) << log();
}

TEST(ServerReturn, EachRestartedServerGetsItsOutputBackWhileTheOtherPlaysOn) {
  PrivateSoundServer pulse{{"sink_name=orvex_a rate=48000"}};
  ASSERT_TRUE(pulse.ready) << pulse.dir.Read("server.err");
  const std::string jackName = test::PrivateServerName("return");
  auto jack = std::make_unique<test::JackServer>(jackName);
  ASSERT_TRUE(jack->Ready());
  setenv("JACK_DEFAULT_SERVER", jackName.c_str(), 1);

  TempDir dir;
  pid_t play = PlayTone(dir, {"XAUDIO2", "ASIO", ""}, {"orvex_a", "JACK", ""}, true);
  const auto log = [&] { return dir.Read("play.err") + dir.Read("play.out"); };

  // Both outputs sound.
  auto jackRec = RecordOrvex(jackName, 10);
  ASSERT_TRUE(jackRec) << log();
  auto master = std::make_unique<MonitorRecorder>("orvex_a", 48000);
  ASSERT_TRUE(master->ready);
  ASSERT_TRUE(PollFor(10, [&] { return Audible(master->Samples(), 0); })) << log();
  ASSERT_TRUE(PollFor(10, [&] { return JackAudible(*jackRec, 0); })) << log();

  // --- the sound server goes and comes back ---
  const size_t jackBefore = jackRec->Frames();
  RestartSoundServerAndHearMaster(pulse, dir, master, "Master");
  if (HasFatalFailure()) return;
  // JACK played on, without a silent 100 ms, all the while.
  const size_t jackAfter = jackRec->Frames();
  ASSERT_GT(jackAfter, jackBefore + 48000 / 2);
  EXPECT_GT(QuietestBlock(*jackRec, jackBefore, jackAfter), 0.05f) << log();

  // --- the JACK server goes and comes back ---
  const size_t masterBefore = master->Samples().size() / 2;
  jackRec.reset();
  jack->Stop(SIGKILL);
  ASSERT_TRUE(PollFor(5, [&] {
    return dir.Read("play.out").find("\"event\": \"output-lost\", \"output\": 1") !=
           std::string::npos;
  })) << log();
  jack = std::make_unique<test::JackServer>(jackName);
  ASSERT_TRUE(jack->Ready());
  const auto jackReady = Clock::now();
  jackRec = RecordOrvex(jackName, 5);
  ASSERT_TRUE(jackRec) << log();
  ASSERT_TRUE(PollFor(5, [&] { return JackAudible(*jackRec, 0); })) << log();
  const double jackBack = Seconds(Clock::now() - jackReady);
  ASSERT_TRUE(PollFor(5, [&] {
    return dir.Read("play.out").find("\"event\": \"output-back\", \"output\": 1") !=
           std::string::npos;
  })) << log();
  std::printf("JACK server ready to Group1 audible again: %.3f s\n", jackBack);
  EXPECT_LT(jackBack, 2.0) << log();
  // Connected again to the server's playback ports, as at the first open.
  EXPECT_TRUE(jackRec->IsConnected("Orvex:out_1", "system:playback_1"));
  EXPECT_TRUE(jackRec->IsConnected("Orvex:out_2", "system:playback_2"));
  // Master played on meanwhile (half a second of it heard, however fast the
  // JACK server came back).
  EXPECT_TRUE(PollFor(5, [&] { return master->Samples().size() / 2 > masterBefore + 48000 / 2; }));
  const std::vector<float> m = master->Samples();
  float quietest = 1;
  for (size_t b = masterBefore; b + 4800 <= m.size() / 2; b += 4800)
    quietest = std::min(quietest, PeakOf(m, b, b + 4800));
  EXPECT_GT(quietest, 0.05f) << log();
  EXPECT_NE(log().find(kJackBack + std::string("（Group1）")), std::string::npos) << log();

  Stop(play);
  jackRec.reset();
  master.reset();
  unsetenv("JACK_DEFAULT_SERVER");
}

// A cue playing on a shared-mode stream of the sound server: the stream
// belongs to the connection that goes, and a new one on the server that
// comes back takes the cue up where its clock is, fading in.
TEST(ServerReturn, ASharedModeCueThatPlaysIsHeardAgain) {
  PrivateSoundServer pulse{{"sink_name=orvex_a rate=48000"}};
  ASSERT_TRUE(pulse.ready) << pulse.dir.Read("server.err");
  TempDir dir;
  pid_t play = PlayTone(dir, {"WASAPI", "", ""}, {"orvex_a", "", ""}, false);
  const auto log = [&] { return dir.Read("play.err") + dir.Read("play.out"); };
  auto master = std::make_unique<MonitorRecorder>("orvex_a", 48000);
  ASSERT_TRUE(master->ready);
  ASSERT_TRUE(PollFor(10, [&] { return Audible(master->Samples(), 0); })) << log();

  RestartSoundServerAndHearMaster(pulse, dir, master, "the shared-mode cue");
  Stop(play);
  master.reset();
}

// A JACK server back at another rate cannot take the output's voices: the
// operator is told once, and the output comes back when the server runs at
// its rate again.
TEST(ServerReturn, AJackServerBackAtAnotherRateIsReportedAndWaitedFor) {
  const std::string jackName = test::PrivateServerName("rate");
  auto jack = std::make_unique<test::JackServer>(jackName);
  ASSERT_TRUE(jack->Ready());
  setenv("JACK_DEFAULT_SERVER", jackName.c_str(), 1);
  TempDir dir;
  pid_t play = PlayTone(dir, {"", "ASIO", ""}, {"", "JACK", ""}, true);
  const auto log = [&] { return dir.Read("play.err") + dir.Read("play.out"); };
  auto rec = RecordOrvex(jackName, 10);
  ASSERT_TRUE(rec) << log();
  ASSERT_TRUE(PollFor(10, [&] { return JackAudible(*rec, 0); })) << log();

  const auto lost = [&] {
    return dir.Read("play.out").find("\"event\": \"output-lost\", \"output\": 1") !=
           std::string::npos;
  };
  rec.reset();
  jack->Stop(SIGKILL);
  ASSERT_TRUE(PollFor(5, lost)) << log();
  jack = std::make_unique<test::JackServer>(jackName, 256, 44100);
  ASSERT_TRUE(jack->Ready());
  const std::string told = kJackBackAtOtherRate + std::string("44100 Hz）");
  ASSERT_TRUE(PollFor(5, [&] { return log().find(told) != std::string::npos; })) << log();
  // Told once, however often it is asked again meanwhile.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const std::string after = log();
  EXPECT_EQ(after.find(told), after.rfind(told)) << after;
  EXPECT_EQ(after.find("\"event\": \"output-back\""), std::string::npos) << after;

  jack->Stop(SIGKILL);
  jack = std::make_unique<test::JackServer>(jackName);
  ASSERT_TRUE(jack->Ready());
  rec = RecordOrvex(jackName, 10);
  ASSERT_TRUE(rec) << log();
  ASSERT_TRUE(PollFor(5, [&] { return JackAudible(*rec, 0); })) << log();
  EXPECT_TRUE(PollFor(5, [&] {
    return log().find(kJackBack + std::string("（Group1）")) != std::string::npos;
  })) << log();
  Stop(play);
  rec.reset();
  unsetenv("JACK_DEFAULT_SERVER");
}

}  // namespace
}  // namespace orvex
