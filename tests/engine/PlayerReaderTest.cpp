// The players' reader threads: files that are slow or never come hold up
// neither the UI thread nor the other channels, a cue starts when its first
// frames are in, and a player lets go of a read it no longer wants.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/ConsoleRig.h"
#include "engine/PlayerRig.h"
#include "engine/ReaderGate.h"
#include "engine/WavBytes.h"
#include "unit/MessageRecorder.h"

namespace orvex {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

// A FIFO nobody writes: opening it for reading blocks.
struct Fifo {
  explicit Fifo(std::string p) : path(std::move(p)) { EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0); }
  // A writer that comes and goes: every open waiting on the FIFO returns and
  // finds no data.
  void Release() const {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }
  ~Fifo() { Release(); }
  std::string path;
};

struct LateWatcher : PlayerObserver {
  void OnFileLate(int channel, const std::string& path) override {
    channels.push_back(channel);
    paths.push_back(path);
  }
  std::vector<int> channels;
  std::vector<std::string> paths;
};

// 8-bit mono at 8000 Hz: a byte a frame, 400 ms pieces of 3200 bytes.
std::string Ramp(uint32_t frames, int salt = 0) {
  std::string data;
  for (uint32_t i = 0; i < frames; ++i) data += static_cast<char>(1 + (i + salt) % 251);
  return data;
}

float Heard(char byte) {
  return (static_cast<uint8_t>(byte) - 128) / 128.0f;
}

void ExpectPlays(const std::vector<float>& out, size_t atFrame, const std::string& data) {
  ASSERT_GE(out.size(), (atFrame + data.size()) * 2);
  for (size_t f = 0; f < data.size(); ++f)
    ASSERT_EQ(out[(atFrame + f) * 2], Heard(data[f])) << "frame " << f;
}

TEST(PlayerReader, AFifoForAFileHoldsUpNeitherTheConsoleNorTheOtherChannels) {
  TestShow show;
  show.Dc("tone.wav", 2000);
  Fifo fifo(show.dir.File("hung.wav"));
  show.Add(1, Cue(1, "hung.wav"));
  show.Add(2, Cue(1, "tone.wav"));
  OfflineSession session(show.cues, show.settings, kRate, true, ConsoleRig::kQuantumFrames);
  // Steps do not wait for channel 1's reader, which never finishes.
  session.SetReadWait(milliseconds(0));
  CConsole& c = session.Console();
  LateWatcher late;
  c.Player(1).SetObserver(&late);
  session.StartUp();

  const auto before = steady_clock::now();
  c.RefreshAfterCueChange(true);  // loads both channels' files
  c.ApplyFirstCueRouting();
  EXPECT_LT(steady_clock::now() - before, seconds(5));
  ASSERT_TRUE(c.Player(2).WaitForReader(seconds(20)));
  session.Settle();
  EXPECT_TRUE(c.Player(2).IsReady());
  EXPECT_TRUE(c.Player(1).IsLoaded());
  EXPECT_FALSE(c.Player(1).IsReady());
  EXPECT_FALSE(c.Player(1).WaitForReader(milliseconds(50)));

  c.ExecuteGo();
  session.Settle();
  session.Run(100);
  EXPECT_TRUE(c.Player(2).IsPlaying());
  EXPECT_TRUE(c.Player(2).TimerRunning());
  EXPECT_NEAR(session.Out(0).back(), AtLevel(10), kTol);
  // Channel 1 waits to start, and has said so once.
  EXPECT_FALSE(c.Player(1).IsReady());
  EXPECT_FALSE(c.Player(1).TimerRunning());
  EXPECT_EQ(late.channels, std::vector<int>{1});
  EXPECT_EQ(late.paths, std::vector<std::string>{fifo.path});

  c.StopAll();
  session.Settle();
  session.Run(50);
  EXPECT_FALSE(c.Player(2).IsPlaying());
  EXPECT_FALSE(c.Player(1).IsPlaying());
  EXPECT_EQ(session.Out(0).back(), 0.0f);
  // Stopped before it ever started: it never will.
  session.Run(200);
  EXPECT_FALSE(c.Player(1).TimerRunning());
}

TEST(PlayerReader, ASlowFileStartsWhenItsFirstFramesArriveAndSaysItIsLate) {
  TempDir dir;
  const std::string data = Ramp(8000 * 2);
  dir.Write("slow.wav", Wav(1, 8000, 8, data));
  PlayerRig rig(8000, 1, 1);
  rig.player.SetAllOutputLevels(65535);
  LateWatcher late;
  rig.player.SetObserver(&late);
  PieceGate gate;
  rig.player.SetPieceReadHook(gate.Hook());
  auto step = [&] {
    rig.timers.Advance(10);
    rig.poster.RunPending();
    rig.devices[0]->Pull(80);
  };

  // Neither call waits for a single piece.
  rig.player.LoadFile(dir.File("slow.wav"));
  EXPECT_TRUE(rig.player.IsLoaded());
  EXPECT_FALSE(rig.player.IsReady());
  EXPECT_TRUE(rig.player.Play());
  EXPECT_FALSE(rig.player.TimerRunning());
  ASSERT_TRUE(gate.WaitArrived(1));
  step();
  EXPECT_TRUE(late.channels.empty());  // 10 ms is no delay worth a word
  step();
  EXPECT_EQ(late.channels, std::vector<int>{1});
  EXPECT_EQ(late.paths, std::vector<std::string>{dir.File("slow.wav")});

  // The first piece starts the outputs at once, from the reader's news.
  gate.Allow(1);
  ASSERT_TRUE(PumpUntil(rig.poster, [&] { return rig.player.TimerRunning(); }));
  EXPECT_TRUE(rig.player.IsReady());
  EXPECT_EQ(rig.player.Stream().WritePos(), 3200u);
  const size_t startFrame = rig.Out().size() / 2;
  EXPECT_EQ(startFrame, 160u);
  for (float s : rig.Out()) ASSERT_EQ(s, 0.0f);
  gate.Open();
  rig.Run(2500);
  ExpectPlays(rig.Out(), startFrame, data);
  ASSERT_FALSE(rig.endNotices.empty());
  EXPECT_EQ(rig.endNotices.front().time, 2020u);
  EXPECT_EQ(late.channels.size(), 1u);
}

// A seek on a slow disk: the outputs go on once the seek's first piece is in.
TEST(PlayerReader, ASeekResumesWithItsFirstPieceAndTheRestFollows) {
  TempDir dir;
  const std::string data = Ramp(8000 * 60);
  dir.Write("seek.wav", Wav(1, 8000, 8, data));
  PlayerRig rig(8000, 1, 1);
  rig.player.SetBufferSeconds(1, 30);
  rig.player.SetAllOutputLevels(65535);
  ASSERT_TRUE(rig.Load(dir.File("seek.wav")));
  rig.player.Play();
  rig.Run(200);
  PieceGate gate;
  rig.player.SetPieceReadHook(gate.Hook());
  rig.player.Seek(8000 * 10);
  gate.Allow(1);
  ASSERT_TRUE(PumpUntil(rig.poster, [&] { return rig.player.TimerRunning(); }));
  EXPECT_EQ(rig.player.Stream().WritePos(), 3200u);
  const size_t resumedAt = rig.Out().size() / 2;
  // Piece by piece, each a little before the outputs need it.
  for (int i = 0; i < 10; ++i) {
    gate.Allow(1);
    ASSERT_TRUE(gate.WaitArrived(i + 3));
    rig.timers.Advance(300);
    rig.poster.RunPending();
    rig.devices[0]->Pull(2400);
  }
  EXPECT_EQ(rig.player.Stream().WritePos(), 11u * 3200);
  ExpectPlays(rig.Out(), resumedAt, data.substr(80000, 10 * 2400));
  gate.Open();
}

// A data chunk that claims bytes the file does not have: the first read
// finds nothing. The player says so once, after the play that asked for it,
// and sounds nothing; the next file plays as usual.
TEST(PlayerReader, AFirstReadThatFindsNothingIsReportedOnceAndPlaysSilence) {
  TempDir dir;
  dir.Write("empty.wav", Riff(Chunk("fmt ", FmtBody(1, 8000, 8)) + Chunk("data", "", 4000)));
  dir.Write("good.wav", Wav(1, 8000, 8, Ramp(4000)));
  MessageRecorder messages;
  PlayerRig rig(8000, 1, 1);
  rig.player.SetAllOutputLevels(65535);
  rig.player.LoadFile(dir.File("empty.wav"));
  rig.player.Play();
  EXPECT_TRUE(messages.messages.empty());  // not from inside the play
  rig.Settle();
  rig.Run(300);
  EXPECT_EQ(messages.messages, std::vector<std::string>{kWaveReadFailed});
  for (float v : rig.Out()) ASSERT_EQ(v, 0.0f);
  ASSERT_TRUE(rig.Load(dir.File("good.wav")));
  rig.player.Play();
  rig.Run(300);
  EXPECT_EQ(messages.messages.size(), 1u);
  EXPECT_NE(rig.Out().back(), 0.0f);
}

TEST(PlayerReader, AHungOpenIsLeftBehindByTheNextFileAndByTheDestructor) {
  TempDir dir;
  const std::string data = Ramp(8000);
  dir.Write("good.wav", Wav(1, 8000, 8, data));
  Fifo fifo(dir.File("hung.wav"));
  MessageRecorder messages;
  {
    PlayerRig rig(8000, 1, 1);
    rig.player.SetAllOutputLevels(65535);
    rig.player.LoadFile(fifo.path);
    EXPECT_TRUE(rig.player.Play());
    EXPECT_FALSE(rig.player.WaitForReader(milliseconds(50)));
    // The next file gets a reader of its own and plays.
    ASSERT_TRUE(rig.Load(dir.File("good.wav")));
    rig.player.Play();
    const size_t at = rig.Out().size() / 2;
    rig.Run(1100);
    ExpectPlays(rig.Out(), at, data);
    EXPECT_FALSE(rig.endNotices.empty());
    // Unloaded and destroyed while hung again: neither waits.
    rig.player.LoadFile(fifo.path);
    rig.player.Unload();
    rig.player.LoadFile(fifo.path);
    EXPECT_FALSE(rig.player.WaitForReader(milliseconds(50)));
  }
  // The opens come back now and find nobody to tell.
  fifo.Release();
  EXPECT_TRUE(messages.messages.empty());
}

TEST(PlayerReader, AReadNoLongerWantedNeverReachesTheStore) {
  TempDir dir;
  const std::string a = Ramp(8000 * 3, 0), b = Ramp(8000 * 3, 100);
  dir.Write("a.wav", Wav(1, 8000, 8, a));
  dir.Write("b.wav", Wav(1, 8000, 8, b));
  PlayerRig rig(8000, 1, 1);
  rig.player.SetAllOutputLevels(65535);
  PieceGate gate;
  rig.player.SetPieceReadHook(gate.Hook());
  rig.player.LoadFile(dir.File("a.wav"));
  rig.player.Play();
  ASSERT_TRUE(gate.WaitArrived(1));
  // Held inside a's first piece; b is read by a fresh thread, past the gate.
  rig.player.SetPieceReadHook({});
  rig.player.LoadFile(dir.File("b.wav"));
  rig.Settle();
  ASSERT_TRUE(rig.player.IsReady());
  rig.player.Play();
  const size_t at = rig.Out().size() / 2;
  gate.Open();  // a's piece comes back late
  rig.Run(3000);
  ExpectPlays(rig.Out(), at, b);
  EXPECT_EQ(rig.player.FilePath(), dir.File("b.wav"));
}

}  // namespace
}  // namespace orvex
