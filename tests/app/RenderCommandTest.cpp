// The offline renderer end to end: the program is run as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/FaderLaw.h"
#include "engine/WavBytes.h"
#include "show/Cp932.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

struct Result {
  int status = -1;
  std::string err;
};

Result RunCli(const std::string& args) {
  const std::string command = std::string(ORVEX_BIN_DIR "/orvex-cli ") + args + " 2>&1 >/dev/null";
  Result r;
  FILE* p = popen(command.c_str(), "r");
  char buf[512];
  while (p && fgets(buf, sizeof buf, p)) r.err += buf;
  const int rc = p ? pclose(p) : -1;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return r;
}

uint32_t U32(const std::string& s, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

class RenderCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string data;
    for (int i = 0; i < 48000; ++i) data += SampleBytes(8192, 16) + SampleBytes(-8192, 16);
    dir.Write("snd/tone.wav", Wav(2, 48000, 16, data));  // 1 s of a constant level
    const std::string show =
        "snd,\r\n"
        "1,1,first,tone.wav,10,0,0,,0,1,0,0,0,\r\n"
        "2,2,second,tone.wav,10,0,0,,0,1,0,500,0,\r\n";
    dir.Write("show.csv", *Utf8ToCp932(show));
  }
  std::string Render(const std::string& out, const std::string& extra = "") {
    Result r = RunCli("render " + dir.File("show.csv") + " --out " + dir.File(out) +
                      " --length 2 " + extra);
    EXPECT_EQ(r.status, 0) << r.err;
    return dir.Read(out + "/events.jsonl");
  }
  TempDir dir;
};

TEST_F(RenderCommand, WritesTheOutputsAndTheEventsOnVirtualTime) {
  const std::string events = Render("out", "--at 0.25 go --at 0.5 go");
  EXPECT_NE(events.find("{\"t\": 0.25, \"event\": \"go\", \"q\": 1}"), std::string::npos) << events;
  EXPECT_NE(events.find("{\"t\": 0.25, \"event\": \"play\", \"ch\": 1}"), std::string::npos);
  // The second cue waits for its 500 ms delay.
  EXPECT_NE(events.find("{\"t\": 1, \"event\": \"play\", \"ch\": 2}"), std::string::npos) << events;
  EXPECT_NE(events.find("{\"t\": 1.25, \"event\": \"eof\", \"ch\": 1}"), std::string::npos);

  const std::string master = dir.Read("out/master.wav");
  ASSERT_GT(master.size(), 58u);
  EXPECT_EQ(master.substr(0, 4), "RIFF");
  // 32-bit float, two channels, 48 kHz; exactly two seconds of frames.
  const size_t data = master.find("data");
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(U32(master, data + 4), 2u * 48000 * 2 * 4);
  EXPECT_EQ(master.substr(20, 2), std::string("\x03\x00", 2));
  std::vector<float> samples((master.size() - data - 8) / 4);
  std::memcpy(samples.data(), master.data() + data + 8, samples.size() * 4);
  // Time 0.25 s is sample frame 12000: silence before it, then the cue fades
  // in over the 10 ms quantum and plays at full.
  EXPECT_EQ(samples[(12000 - 1) * 2], 0.0f);
  EXPECT_EQ(samples[12000 * 2], 0.25f / 480);
  EXPECT_EQ(samples[(12000 + 479) * 2], 0.25f);
  EXPECT_EQ(samples[(12000 + 479) * 2 + 1], -0.25f);
  // Both channels sum on the master between 1.0 and 1.25 s.
  EXPECT_EQ(samples[50000 * 2], 0.5f);
}

// The float samples of a rendered output.
std::vector<float> Samples(const std::string& wav) {
  const size_t data = wav.find("data");
  if (data == std::string::npos) return {};
  std::vector<float> samples((wav.size() - data - 8) / 4);
  std::memcpy(samples.data(), wav.data() + data + 8, samples.size() * 4);
  return samples;
}

TEST_F(RenderCommand, ListCuesAndTheBackgroundListAreHeard) {
  const auto dc = [this](const std::string& name, int ms, int16_t value) {
    std::string data;
    for (int i = 0; i < 48 * ms; ++i) data += SampleBytes(value, 16) + SampleBytes(value, 16);
    dir.Write(name, Wav(2, 48000, 16, data));
  };
  dc("snd/a.wav", 500, 8192);   // 0.25
  dc("snd/b.wav", 500, 4096);   // 0.125
  dc("bgm/c.wav", 3000, 2048);  // 0.0625
  dir.Write("snd/set.lst", dir.File("snd") + "\r\na.wav,1\r\nx.wav,0\r\nb.wav\r\n");
  dir.Write("bgm/bgm.lst", "# background\r\n" + dir.File("bgm") + "\r\nc.wav,1\r\n");
  dir.Write("show.csv", "snd,\r\n1,1,list,set.lst,10,0,0,,0,1,0,0,0,\r\n");
  const std::string events =
      Render("out", "--at 0 go --at 0 bgm:list=" + dir.File("bgm/bgm.lst") +
                        " --at 0 bgm:play --at 1 bgm:level=5 --at 1.5 bgm:stop");
  EXPECT_NE(events.find("{\"t\": 0, \"event\": \"play\", \"ch\": 0}"), std::string::npos) << events;
  const std::vector<float> master = Samples(dir.Read("out/master.wav"));
  const std::vector<float> group1 = Samples(dir.Read("out/group1.wav"));
  ASSERT_EQ(master.size(), 2u * 96000);
  const auto at = [](const std::vector<float>& out, double seconds) {
    return out[static_cast<size_t>(seconds * 48000) * 2];
  };
  const float half = 0.0625f * static_cast<float>(FaderGain(32767, {}));
  // The list's items in turn on CH1, with the background list under them.
  EXPECT_FLOAT_EQ(at(master, 0.25), 0.25f + 0.0625f);
  EXPECT_FLOAT_EQ(at(master, 0.75), 0.125f + 0.0625f);
  EXPECT_FLOAT_EQ(at(master, 1.25), 0.25f + half);  // round again; the list at half level
  EXPECT_FLOAT_EQ(at(master, 1.75), 0.125f);        // the background stopped
  // The background list is on every output.
  EXPECT_FLOAT_EQ(at(group1, 0.25), 0.0625f);
  EXPECT_FLOAT_EQ(at(group1, 1.25), half);
  EXPECT_FLOAT_EQ(at(group1, 1.75), 0.0f);
}

TEST_F(RenderCommand, TwoRendersOfTheSameInputAreIdentical) {
  const std::string actions = "--at 0 go --at 0.3 fader:1=5 --at 0.6 route:1=G1 --at 0.7 go";
  EXPECT_EQ(Render("a", actions), Render("b", actions));
  for (const char* f : {"/master.wav", "/group1.wav", "/group2.wav"})
    EXPECT_EQ(dir.Read(std::string("a") + f), dir.Read(std::string("b") + f)) << f;
}

TEST_F(RenderCommand, RefusesBadActionsAndShows) {
  for (const char* bad : {"--at 1 play:7", "--at 1 fader:1=11", "--at x go", "--at 1 route:2=Z",
                          "--at 1 autorun=later", "--at 1 dance"}) {
    Result r = RunCli("render " + dir.File("show.csv") + " --out " + dir.File("x") + " " + bad);
    EXPECT_EQ(r.status, 2) << bad;
  }
  Result missing = RunCli("render " + dir.File("none.csv") + " --out " + dir.File("x"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Ｑシートの読み込みに失敗しました"), std::string::npos);
}

TEST_F(RenderCommand, AnAbsentSettingsFileGivesFirstRunValuesAndAnUnreadableOneStops) {
  const std::string show = dir.File("show.csv");
  Result absent = RunCli("render " + show + " --out " + dir.File("s") + " --length 0.1" +
                         " --settings " + dir.File("no-such.ini"));
  EXPECT_EQ(absent.status, 0) << absent.err;
  Result devices = RunCli("devices --settings " + dir.File("no-such.ini"));
  EXPECT_EQ(devices.status, 0) << devices.err;
  // A folder where the file should be holds nothing readable.
  Result folder =
      RunCli("render " + show + " --out " + dir.File("s") + " --settings " + dir.File("s"));
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("cannot read settings"), std::string::npos) << folder.err;
}

}  // namespace
}  // namespace orvex
