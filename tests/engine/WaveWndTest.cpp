#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>

#include "engine/FadeMask.h"
#include "engine/PlayerRig.h"
#include "engine/WavBytes.h"
#include "unit/MessageRecorder.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

struct TestWav {
  std::string path;
  std::vector<int32_t> samples;  // interleaved, as integers of the file's width
  int channels = 0;
  int bits = 0;
  uint32_t rate = 0;
  uint32_t BytesPerSecond() const { return rate * static_cast<uint32_t>(channels * bits / 8); }
  uint32_t Frames() const { return static_cast<uint32_t>(samples.size() / channels); }
};

// A file of noise at full range, with odd-sized chunks between fmt and data
// so the reader has to step over them.
TestWav MakeWav(const TempDir& dir, const std::string& name, int channels, uint32_t rate, int bits,
                uint32_t frames, std::optional<uint32_t> claimedDataSize = {}) {
  TestWav w{dir.File(name), {}, channels, bits, rate};
  std::mt19937 rng(frames * 31 + static_cast<uint32_t>(bits));
  const int64_t lo = -(int64_t{1} << (bits - 1)), hi = (int64_t{1} << (bits - 1)) - 1;
  std::uniform_int_distribution<int64_t> dist(lo, hi);
  std::string data;
  for (uint32_t i = 0; i < frames * static_cast<uint32_t>(channels); ++i) {
    int32_t s = static_cast<int32_t>(i < 2 ? (i == 0 ? lo : hi) : dist(rng));
    w.samples.push_back(s);
    data += SampleBytes(s, bits);
  }
  dir.Write(name, Riff(Chunk("fmt ", FmtBody(static_cast<uint16_t>(channels), rate,
                                             static_cast<uint16_t>(bits))) +
                       Chunk("LIST", "odd") + Chunk("junk", std::string(5, 'x')) +
                       Chunk("data", data, claimedDataSize)));
  return w;
}

float Expected(int32_t s, int bits) {
  return static_cast<float>(s / std::ldexp(1.0, bits - 1));
}

// Checks that out (stereo frames) holds the file's frames from fromFrame,
// starting at output frame atFrame, for count frames.
void ExpectFrames(const std::vector<float>& out, const TestWav& w, size_t atFrame, size_t fromFrame,
                  size_t count) {
  ASSERT_GE(out.size(), (atFrame + count) * 2);
  for (size_t f = 0; f < count; ++f) {
    size_t src = (fromFrame + f) * static_cast<size_t>(w.channels);
    float l = Expected(w.samples[src], w.bits);
    float r = w.channels == 1 ? l : Expected(w.samples[src + 1], w.bits);
    ASSERT_EQ(out[(atFrame + f) * 2], l) << "frame " << f;
    ASSERT_EQ(out[(atFrame + f) * 2 + 1], r) << "frame " << f;
  }
}

void ExpectSilence(const std::vector<float>& out, size_t fromFrame, size_t toFrame) {
  for (size_t i = fromFrame * 2; i < toFrame * 2 && i < out.size(); ++i)
    ASSERT_EQ(out[i], 0.0f) << "sample " << i;
}

struct Format {
  int channels;
  uint32_t rate;
  int bits;
};

class PlayerFormats : public ::testing::TestWithParam<Format> {};

TEST_P(PlayerFormats, PlaysSampleExactOnEveryOutputAndEndsOnTime) {
  const Format f = GetParam();
  TempDir dir;
  // 0.55 s: the end falls between two ticks.
  TestWav w = MakeWav(dir, "a.wav", f.channels, f.rate, f.bits, f.rate * 55 / 100);
  PlayerRig rig(f.rate);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(w.path));
  ASSERT_TRUE(rig.player.Play());
  rig.Run(1000);
  for (int n = 0; n < 3; ++n) {
    ExpectFrames(rig.Out(n), w, 0, 0, w.Frames());
    ExpectSilence(rig.Out(n), w.Frames(), f.rate);
  }
  // The end is told when the clock reaches it, not at the sixth tick after.
  ASSERT_FALSE(rig.endNotices.empty());
  EXPECT_EQ(rig.endNotices.front().time, 550u);
  EXPECT_EQ(rig.endNotices.front().channel, 1);
}

INSTANTIATE_TEST_SUITE_P(Widths, PlayerFormats,
                         ::testing::Values(Format{2, 44100, 16}, Format{1, 48000, 16},
                                           Format{2, 48000, 8}, Format{1, 44100, 8},
                                           Format{2, 44100, 24}, Format{1, 48000, 24},
                                           Format{2, 48000, 32}, Format{1, 44100, 32}));

TEST(Player, StreamsALongFileThroughASmallStoreWithoutLosingASample) {
  TempDir dir;
  TestWav w = MakeWav(dir, "long.wav", 2, 8000, 16, 8000 * 123 / 10);  // 12.3 s
  PlayerRig rig(8000, 2, 1);
  rig.player.SetBufferSeconds(1, 2);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(w.path));
  const size_t capacity = rig.player.Stream().Capacity();
  EXPECT_EQ(capacity, 5u * w.BytesPerSecond());
  rig.player.Play();
  rig.Run(13000);
  ExpectFrames(rig.Out(), w, 0, 0, w.Frames());
  ExpectSilence(rig.Out(), w.Frames(), 13 * 8000);
  EXPECT_EQ(rig.player.Stream().Capacity(), capacity);
  EXPECT_EQ(rig.endNotices.front().time, 12300u);
}

// A block is asked for on a tick and goes into the store on the next one.
TEST(Player, FillsOnTheFirstTickThenEveryHalfPeriodAndAFifth) {
  TempDir dir;
  TestWav w = MakeWav(dir, "slow.wav", 1, 8000, 8, 8000 * 120);  // 120 s, 8000 bytes/s
  PlayerRig rig(8000, 1, 1);
  rig.player.SetBufferSeconds(10, 20);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(w.path));
  EXPECT_EQ(rig.player.Stream().WritePos(), 80000u);
  rig.player.Play();
  // A block comes in over a few ticks, as the reader's pieces are taken:
  // the ticks where one starts to come in.
  std::vector<uint32_t> fillTicks;
  uint64_t last = rig.player.Stream().WritePos();
  bool filling = false;
  for (uint32_t tick = 1; tick <= 110; ++tick) {
    rig.Run(100);
    const bool grew = rig.player.Stream().WritePos() != last;
    if (grew && !filling) fillTicks.push_back(tick);
    filling = grew;
    last = rig.player.Stream().WritePos();
  }
  EXPECT_EQ(fillTicks, (std::vector<uint32_t>{2, 54}));
  // The third block waits until the outputs have played the first one out.
  EXPECT_EQ(last, 80000u + 2 * 160000u);
}

TEST(Player, PauseAndResumeContinueWithoutGapOrRepeat) {
  TempDir dir;
  TestWav w = MakeWav(dir, "p.wav", 2, 48000, 16, 48000 * 2);
  PlayerRig rig(48000);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(w.path));
  rig.player.Play();
  rig.Run(500);
  rig.player.Pause();
  rig.player.SetPaused(true);
  rig.Run(300);
  EXPECT_EQ(rig.player.Position(), 5u * 19200);
  rig.player.SetPaused(false);
  rig.player.Resume();
  rig.Run(2000);
  ExpectFrames(rig.Out(), w, 0, 0, 24000);
  ExpectSilence(rig.Out(), 24000, 38400);
  ExpectFrames(rig.Out(), w, 38400, 24000, 72000);
  EXPECT_EQ(rig.endNotices.front().time, 2300u);
}

TEST(Player, SeekLandsOnABlockBoundaryAndKeepsTheState) {
  TempDir dir;
  TestWav w = MakeWav(dir, "s.wav", 2, 48000, 16, 48000 * 3);
  PlayerRig rig(48000);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(w.path));
  rig.player.Play();
  rig.Run(300);
  rig.player.Seek(192000 + 3);  // 1 s and three bytes: back to the frame start
  EXPECT_EQ(rig.player.Position(), 192000u);
  // Playing on once the reader has the new block.
  rig.Settle();
  EXPECT_TRUE(rig.player.TimerRunning());
  rig.Run(200);
  ExpectFrames(rig.Out(), w, 0, 0, 14400);
  ExpectFrames(rig.Out(), w, 14400, 48000, 9600);

  // Paused: the seek stays paused and the display moves at once.
  rig.player.Pause();
  rig.player.SetPaused(true);
  rig.player.Seek(2 * 192000 + 96000);
  rig.Settle();
  EXPECT_FALSE(rig.player.TimerRunning());
  PositionDisplay d = rig.player.GetPositionDisplay();
  EXPECT_EQ(d.longElapsed, "0:02.500");
  EXPECT_EQ(d.remaining, "0:00.5");
  size_t before = rig.Out().size();
  rig.Run(100);
  ExpectSilence(rig.Out(), before / 2, rig.Out().size() / 2);
  rig.player.SetPaused(false);
  rig.player.Resume();
  rig.Run(100);
  ExpectFrames(rig.Out(), w, before / 2 + 4800, 120000, 4800);
}

TEST(Player, SeekPastTheEndGoesToTheEndAndEnds) {
  TempDir dir;
  // Another chunk follows the data: nothing of it may ever sound.
  TestWav w = MakeWav(dir, "e.wav", 2, 48000, 16, 48000);
  dir.Write("e.wav", dir.Read("e.wav") + Chunk("LIST", std::string(4000, '\x7f')));
  PlayerRig rig(48000);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(w.path));
  // Paused: the position stops at the end, whatever was asked for.
  rig.player.Seek(UINT32_MAX);
  rig.Settle();
  EXPECT_EQ(rig.player.Position(), 192000u);
  EXPECT_EQ(rig.player.GetPositionDisplay().longElapsed, "0:01.000");
  rig.player.Seek(0);
  rig.Settle();
  rig.player.Play();
  rig.Run(300);
  rig.player.Seek(192000 * 3 + 5);  // a marker typed past the end
  EXPECT_EQ(rig.player.Position(), 192000u);
  rig.Run(500);
  ExpectFrames(rig.Out(), w, 0, 0, 14400);
  ExpectSilence(rig.Out(), 14400, rig.Out().size() / 2);
  ASSERT_FALSE(rig.endNotices.empty());
  EXPECT_LE(rig.endNotices.front().time, 500u);
}

TEST(Player, DataChunkRunningPastTheEndPlaysWhatExistsThenEnds) {
  TempDir dir;
  TestWav w = MakeWav(dir, "cut.wav", 2, 44100, 16, 22050, 176400);  // claims 1 s, holds 0.5 s
  PlayerRig rig(44100, 3, 1);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(w.path));
  rig.player.Play();
  rig.Run(1500);
  ExpectFrames(rig.Out(), w, 0, 0, 22050);
  ExpectSilence(rig.Out(), 22050, 44100 * 3 / 2);
  ASSERT_FALSE(rig.endNotices.empty());
  EXPECT_EQ(rig.endNotices.front().time, 1000u);
  EXPECT_EQ(rig.endNotices.front().channel, 3);
}

TEST(Player, WithoutDevicesEveryStepStillRunsAndTheEndIsNoticed) {
  TempDir dir;
  TestWav w = MakeWav(dir, "n.wav", 2, 44100, 16, 4410);
  PlayerRig rig(44100, 6, 0);
  ASSERT_TRUE(rig.Load(w.path));
  rig.player.Play();
  rig.player.SetAllOutputLevels(30000);
  rig.Run(300);
  rig.player.Seek(100);
  rig.Run(300);
  ASSERT_FALSE(rig.endNotices.empty());
  EXPECT_EQ(rig.endNotices.front().channel, 6);
  rig.player.Unload();
  EXPECT_FALSE(rig.player.IsLoaded());
}

TEST(Player, FadeMaskHoldsFillsBack) {
  TempDir dir;
  TestWav w = MakeWav(dir, "m.wav", 1, 8000, 8, 8000 * 30);
  PlayerRig rig(8000, 1, 1);
  rig.player.SetBufferSeconds(1, 1);
  ASSERT_TRUE(rig.Load(w.path));
  rig.player.Play();
  g_fadeMask.store(1 << 3);
  rig.Run(1000);
  EXPECT_EQ(rig.player.Stream().WritePos(), 8000u);
  g_fadeMask.store(0);
  rig.Run(1000);
  EXPECT_GT(rig.player.Stream().WritePos(), 8000u);

  // A seek's block comes in under the mask too, so the outputs do not run
  // dry. The blocks after it wait.
  g_fadeMask.store(1 << 3);
  rig.player.Seek(8000 * 10);
  rig.Settle();
  rig.Run(1000);
  EXPECT_EQ(rig.player.Stream().WritePos(), 8000u);
  g_fadeMask.store(0);
  rig.Run(300);
  EXPECT_GT(rig.player.Stream().WritePos(), 8000u);
}

TEST(Player, PanAndTheFaderLaw) {
  EXPECT_NEAR(FaderGain(6553, {}), 0.05 * 6553 / 6553.5, 1e-12);
  EXPECT_NEAR(FaderGain(32767, {}), 0.05 + (32767 - 6553.5) / 58981.5 * 0.95, 1e-12);
  EXPECT_EQ(FaderGain(0, {}), 0.0);
  EXPECT_EQ(FaderGain(65535, {}), 1.0);
  EXPECT_EQ(FaderGain(0, {0.0, 0.5}), 0.0);  // no 0/0 with the knee at the bottom
  EXPECT_NEAR(FaderGain(65535 / 2, {10.0, 0.0}), 0.0, 1e-12);

  TempDir dir;
  TestWav stereo = MakeWav(dir, "st.wav", 2, 48000, 16, 4800);
  TestWav mono = MakeWav(dir, "mo.wav", 1, 48000, 16, 4800);
  for (const TestWav* w : {&stereo, &mono}) {
    PlayerRig rig(48000);
    rig.player.SetAllOutputLevels(65535);
    for (int n = 0; n < 3; ++n) rig.player.SetOutputLevel(65535, n, 10000);
    ASSERT_TRUE(rig.Load(w->path));
    rig.player.Play();
    rig.Run(100);
    for (int n = 0; n < 3; ++n) {
      const std::vector<float>& out = rig.Out(n);
      for (size_t i = 960; i < 4800 * 2; i += 2) {
        float r = Expected(w->samples[(i / 2) * w->channels + (w->channels - 1)], 16);
        ASSERT_EQ(out[i], w->channels == 2 ? 0.0f : r) << "output " << n;
        ASSERT_EQ(out[i + 1], r);
      }
    }
  }
}

// Plays w from the start and checks that every output has all of it.
void ExpectPlaysOnEveryOutput(PlayerRig& rig, const TestWav& w) {
  ASSERT_TRUE(rig.Load(w.path));
  const size_t start = rig.Out(0).size() / 2;
  rig.player.Play();
  rig.Run(200);
  for (int n = 0; n < 3; ++n) ExpectFrames(rig.Out(n), w, start, 0, w.Frames());
  rig.player.Unload();
}

TEST(Player, RefusedFilesLeaveThePlayerEmptyAndEveryOutputPlaysTheNextFile) {
  MessageRecorder messages;
  TempDir dir;
  dir.Write("float.wav", Riff(Chunk("fmt ", FmtBody(2, 48000, 32, 3)) + Chunk("data", "12345678")));
  dir.Write("zero.wav",
            Riff(Chunk("fmt ", Le16(1) + Le16(2) + Le32(48000) + Le32(0) + Le16(4) + Le16(16)) +
                 Chunk("data", "12345678")));
  // PCM the outputs cannot play: 12-bit samples, and frames of 6 bytes for
  // two 16-bit channels.
  dir.Write("12bit.wav", Riff(Chunk("fmt ", FmtBody(1, 48000, 12)) + Chunk("data", "12345678")));
  dir.Write("align.wav", Riff(Chunk("fmt ", Le16(1) + Le16(2) + Le32(48000) + Le32(288000) +
                                                Le16(6) + Le16(16)) +
                              Chunk("data", "123456123456")));
  TestWav good = MakeWav(dir, "good.wav", 2, 48000, 16, 4800);
  PlayerRig rig(48000);
  rig.player.SetAllOutputLevels(65535);
  std::vector<WaveOpenError> refusals;
  for (const char* name : {"float.wav", "zero.wav", "12bit.wav", "align.wav", "missing.wav"}) {
    const size_t said = messages.messages.size();
    rig.player.LoadFile(dir.File(name), [&](WaveOpenError e) { refusals.push_back(e); });
    EXPECT_TRUE(rig.player.Play());  // would start once ready
    rig.player.WaitForReader(std::chrono::seconds(20));
    // Nothing is said from inside an operation: the reader's answer is
    // reported from the UI thread's queue.
    EXPECT_EQ(messages.messages.size(), said) << name;
    rig.Settle();
    EXPECT_FALSE(rig.player.IsLoaded()) << name;
    EXPECT_FALSE(rig.player.IsPlaying()) << name;
    EXPECT_FALSE(rig.player.Play());
  }
  EXPECT_EQ(messages.messages,
            (std::vector<std::string>{kWaveNotPcm, kWaveNoFormat, kWaveNoFormat, kWaveNoFormat}));
  EXPECT_EQ(refusals,
            (std::vector<WaveOpenError>{WaveOpenError::kNotPcm, WaveOpenError::kNoFormat,
                                        WaveOpenError::kNoFormat, WaveOpenError::kNoFormat,
                                        WaveOpenError::kCannotOpen}));
  ExpectPlaysOnEveryOutput(rig, good);

  // A file the Master engine has no voice for (every voice taken) is silent
  // there, and the outputs come back with the next file.
  mixer::VoiceEngine* master = rig.outputSet.Engines()[0];
  std::vector<mixer::SourceVoice*> taken;
  const WaveFormat format{kFormatPcm, 2, 48000, 192000, 4, 16};
  while (mixer::SourceVoice* v = master->CreateSourceVoice(format, 2.0f)) taken.push_back(v);
  ASSERT_TRUE(rig.Load(good.path));
  for (mixer::SourceVoice* v : taken) master->DestroyVoice(v);
  ExpectPlaysOnEveryOutput(rig, good);
}

TEST(Player, ThePositionFollowsTheClockThroughLateTicks) {
  TempDir dir;
  TestWav w = MakeWav(dir, "late.wav", 2, 48000, 16, 48000 * 2);
  PlayerRig rig(48000, 1, 1);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(w.path));
  rig.player.Play();
  rig.Run(1000);
  // The timer thread is held up for 450 ms: the four ticks due meanwhile
  // come as one, late.
  rig.timers.Stall(450);
  rig.Settle();
  for (int i = 0; i < 45; ++i) rig.devices[0]->Pull(480);
  EXPECT_EQ(rig.player.Position(), 278400u);  // 1.45 s
  EXPECT_EQ(rig.player.GetPositionDisplay().longElapsed, "0:01.450");
  // A pause between two ticks counts up to the pause.
  rig.Run(30);
  rig.player.Pause();
  EXPECT_EQ(rig.player.Position(), 284160u);  // 1.48 s
  rig.player.Resume();
  rig.Run(1000);
  ASSERT_FALSE(rig.endNotices.empty());
  EXPECT_EQ(rig.endNotices.front().time, 2000u);  // resumed at 1.48 s, 0.52 s before the end
  ExpectFrames(rig.Out(), w, 0, 0, 48000 * 148 / 100);
}

TEST(Player, AFileOfFewerThanTenBytesASecondReachesItsEnd) {
  TempDir dir;
  // 8-bit mono whose header gives 5 bytes per second: four bytes last 0.8 s.
  dir.Write("slow.wav",
            Riff(Chunk("fmt ", Le16(1) + Le16(1) + Le32(8000) + Le32(5) + Le16(1) + Le16(8)) +
                 Chunk("data", "\x80\x80\x80\x80")));
  PlayerRig rig(8000, 4, 1);
  ASSERT_TRUE(rig.Load(dir.File("slow.wav")));
  rig.player.Play();
  rig.Run(1000);
  ASSERT_FALSE(rig.endNotices.empty());
  EXPECT_EQ(rig.endNotices.front().time, 800u);
  EXPECT_EQ(rig.player.GetPositionDisplay().longElapsed, "0:00.800");
}

TEST(PositionDisplay, Texts) {
  PositionDisplay d = MakePositionDisplay(5292000, 10584000, 176400);
  EXPECT_EQ(d.longElapsed, "0:30.000");
  EXPECT_EQ(d.shortElapsed, "0:30.0");
  EXPECT_EQ(d.remaining, "0:30.0");
  d = MakePositionDisplay(4000000000u, 4200000000u, 176400);  // 64-bit products
  EXPECT_EQ(d.longElapsed, "377:55.736");
  EXPECT_EQ(d.remaining, "18:53.7");
  d = MakePositionDisplay(500, 400, 1000);
  EXPECT_EQ(d.position, 400u);
  EXPECT_EQ(d.remaining, "0:00.0");
}

}  // namespace
}  // namespace orvex
