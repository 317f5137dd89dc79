// Players with their reader threads, on the real timer thread with outputs
// rendering on their own threads, while the UI side seeks, pauses and moves
// levels: run under the thread sanitizer to find races between them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/ManualTimerService.h"
#include "engine/PlayerRig.h"
#include "engine/ReaderGate.h"
#include "engine/RealTimerService.h"
#include "engine/WavBytes.h"
#include "engine/WaveWnd.h"
#include "output/OutputSet.h"
#include "output/mixer/VirtualDevice.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

struct FadeStep {
  CWaveWnd* player;
  std::atomic<uint32_t> steps{0};
  static void Run(TimerService::TimerId, void* user) {
    auto* self = static_cast<FadeStep*>(user);
    uint32_t n = self->steps.fetch_add(1);
    self->player->SetOutputLevel(65535 - (n * 997) % 65536, static_cast<int>(n % 3), 0);
  }
};

TEST(PlayerThreads, TransportAndLevelsRaceFreeWithLiveOutputs) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 48000 * 2 * 6 / 10; ++i) data += SampleBytes((i * 37) % 20000 - 10000, 16);
  dir.Write("t.wav", Wav(2, 48000, 16, data));  // 0.6 s

  RealTimerService timers;
  // The test's thread is the UI thread: it runs what the timer and the
  // reader thread post.
  ManualUiPoster poster;
  std::vector<std::unique_ptr<mixer::VirtualDevice>> devices;  // outlive their engines
  OutputSet outputs;
  for (int n = 0; n < 3; ++n) {
    devices.push_back(std::make_unique<mixer::VirtualDevice>("rt" + std::to_string(n), "RT", 2,
                                                             n == 1 ? 44100 : 48000));
    ASSERT_TRUE(outputs.Bind(n, devices.back().get()));
    devices.back()->StartRealtimeThread(256);
  }
  int ends = 0;
  {
    CWaveWnd player(2, timers, poster);
    player.SetEngines(outputs.Engines());
    player.SetBufferSeconds(1, 1);
    player.SetEndOfFileHandler([&](int) { ++ends; });
    player.SetAllOutputLevels(65535);
    player.LoadFile(dir.File("t.wav"));
    FadeStep fade{&player};
    TimerService::TimerId fadeTimer = timers.timeSetEvent(10, 10, &FadeStep::Run, &fade);
    ASSERT_TRUE(player.Play());
    ASSERT_TRUE(PumpUntil(poster, [&] { return player.TimerRunning(); }));
    player.Pause();
    player.Resume();
    player.Seek(4 * 4800);
    for (int i = 0; i < 50; ++i) player.SetOutputLevel(static_cast<uint32_t>(i * 1000), i % 3, i);
    EXPECT_TRUE(PumpUntil(poster, [&] { return ends >= 1; }));
    timers.timeKillEvent(fadeTimer);
    // Reload and unload while the outputs keep rendering: once playing, and
    // once while the reader is still at the first block.
    player.LoadFile(dir.File("t.wav"));
    player.Play();
    ASSERT_TRUE(PumpUntil(poster, [&] { return player.TimerRunning(); }));
    player.Unload();
    player.LoadFile(dir.File("t.wav"));
    player.Play();
    player.Unload();
    poster.RunPending();
  }
  for (auto& d : devices) {
    d->StopRealtimeThread();
    EXPECT_GT(d->RealtimeFramesPulled(), 0u);
  }
  EXPECT_GT(devices[0]->RealtimePeak(), 0.0f);
  poster.RunPending();
}

// Files following on in one stream, with the real timer thread asking for
// them and taking them over while the UI side changes its mind, pauses and
// seeks: the change of file races with nothing, and a file of another
// format ends the stream as a file does.
TEST(PlayerThreads, FilesFollowOnWhileTheUiChangesItsMind) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 48000 * 2; ++i) data += SampleBytes((i * 37) % 20000 - 10000, 16);
  dir.Write("a.wav", Wav(2, 48000, 16, data));  // 1 s each
  dir.Write("b.wav", Wav(2, 48000, 16, data));
  dir.Write("mono.wav", Wav(1, 48000, 16, data));

  RealTimerService timers;
  ManualUiPoster poster;
  std::vector<std::unique_ptr<mixer::VirtualDevice>> devices;
  OutputSet outputs;
  for (int n = 0; n < 2; ++n) {
    devices.push_back(std::make_unique<mixer::VirtualDevice>("rt" + std::to_string(n), "RT", 2,
                                                             n == 1 ? 44100 : 48000));
    ASSERT_TRUE(outputs.Bind(n, devices.back().get()));
    devices.back()->StartRealtimeThread(256);
  }
  {
    CWaveWnd player(1, timers, poster);
    player.SetEngines(outputs.Engines());
    player.SetBufferSeconds(1, 1);
    int ends = 0, changes = 0, asked = 0;
    std::string next = dir.File("b.wav");
    player.SetEndOfFileHandler([&](int) { ++ends; });
    player.SetNextFileProvider([&] {
      ++asked;
      return next;
    });
    player.SetFileChangedHandler([&](int) {
      ++changes;
      next = dir.File(changes % 2 ? "a.wav" : "b.wav");
    });
    player.SetAllOutputLevels(65535);
    player.LoadFile(dir.File("a.wav"));
    ASSERT_TRUE(player.Play());
    // Asked, then told to ask again, more than once.
    ASSERT_TRUE(PumpUntil(poster, [&] { return asked >= 1; }));
    player.ReconsiderNext();
    ASSERT_TRUE(PumpUntil(poster, [&] { return asked >= 2; }));
    player.ReconsiderNext();
    ASSERT_TRUE(PumpUntil(poster, [&] { return changes >= 2 || ends > 0; }));
    ASSERT_EQ(ends, 0);
    EXPECT_EQ(player.FilePath(), dir.File("a.wav"));
    player.Pause();
    player.Resume();
    player.Seek(4 * 9600);
    ASSERT_TRUE(PumpUntil(poster, [&] { return changes >= 4 || ends > 0; }));
    EXPECT_EQ(ends, 0);
    // Another format cannot share the stream: it ends, and is told.
    next = dir.File("mono.wav");
    player.ReconsiderNext();
    ASSERT_TRUE(PumpUntil(poster, [&] { return ends >= 1; }));
    EXPECT_TRUE(player.IsEndOfData());
    player.Unload();
    poster.RunPending();
  }
  for (auto& d : devices) d->StopRealtimeThread();
  EXPECT_GT(devices[0]->RealtimePeak(), 0.0f);
  poster.RunPending();
}

struct Transport {
  const char* name;
  std::function<void(CWaveWnd&)> act;
  uint32_t storeStart;  // data offset of the store's first byte afterwards
};

void PrintTo(const Transport& t, std::ostream* os) {
  *os << t.name;
}

class ReadingBlock : public ::testing::TestWithParam<Transport> {};

// A slow disk: the reader is held in its third piece of a 75-piece block
// while the UI thread pauses, unloads or seeks. The UI thread returns without
// waiting for it, and what the store holds afterwards is the file in order.
TEST_P(ReadingBlock, TransportReturnsAtOnceAndTheStoreStaysInOrder) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 8000 * 60; ++i) data += static_cast<char>(1 + i % 251);
  dir.Write("slow.wav", Wav(1, 8000, 8, data));  // 60 s, 3200-byte pieces
  ManualTimerService timers;
  ManualUiPoster poster;
  CWaveWnd player(1, timers, poster);
  player.SetBufferSeconds(1, 30);
  player.LoadFile(dir.File("slow.wav"));
  ASSERT_TRUE(player.WaitForReader(std::chrono::seconds(20)));
  poster.RunPending();
  ASSERT_TRUE(player.IsReady());
  ASSERT_TRUE(player.Play());

  PieceGate gate;
  player.SetPieceReadHook(gate.Hook());
  gate.Allow(2);
  timers.Advance(100);  // the first tick asks for the next block
  ASSERT_TRUE(gate.WaitArrived(3));

  // Were the UI thread to wait for the reader, this would let it go on.
  std::mutex mutex;
  std::condition_variable cv;
  bool acted = false, rescued = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (cv.wait_for(lock, std::chrono::seconds(10), [&] { return acted; })) return;
    rescued = true;
    gate.Open();
  });
  GetParam().act(player);
  {
    std::lock_guard lock(mutex);
    acted = true;
  }
  cv.notify_all();
  watchdog.join();
  EXPECT_FALSE(rescued) << "the UI thread waited for the disk";
  EXPECT_EQ(gate.Passed(), 2);

  gate.Open();
  ASSERT_TRUE(player.WaitForReader(std::chrono::seconds(20)));
  poster.RunPending();
  player.SetPieceReadHook({});
  if (!player.IsLoaded()) {
    // What the abandoned read brought back went nowhere.
    EXPECT_EQ(player.Stream().WritePos(), 0u);
    EXPECT_FALSE(player.IsReady());
    return;
  }
  player.SetPaused(false);
  player.Resume();
  timers.Advance(100);
  const StreamStore& store = player.Stream();
  const uint64_t start = GetParam().storeStart;
  ASSERT_GT(store.WritePos(), 8000u + 3 * 3200);
  for (uint64_t pos = 0; pos < store.WritePos(); pos += 997) {
    auto spans = store.Region(pos, 1);
    ASSERT_EQ(spans[0].size, 1u);
    ASSERT_EQ(static_cast<char>(spans[0].data[0]), data[start + pos]) << pos;
  }
}

INSTANTIATE_TEST_SUITE_P(PauseStopSeek, ReadingBlock,
                         ::testing::Values(Transport{"Pause", [](CWaveWnd& p) { p.Pause(); }, 0},
                                           Transport{"Unload", [](CWaveWnd& p) { p.Unload(); }, 0},
                                           Transport{"Seek", [](CWaveWnd& p) { p.Seek(8000 * 20); },
                                                     8000 * 20}),
                         [](const auto& info) { return std::string(info.param.name); });

// Levels set on the timer thread (group fade steps) while a file is
// prepared: the last one must be what the file plays at, also when it came
// while the outputs were being opened for it, before the file was ready.
TEST(PlayerThreads, LevelSetWhileAFileIsPreparedIsHeard) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 48000 * 2 * 10; ++i) data += SampleBytes(16384, 16);
  dir.Write("dc.wav", Wav(2, 48000, 16, data));  // 10 s at 0.5: a long first read
  PlayerRig rig(48000, 1, 1);
  for (uint32_t round = 0; round < 30; ++round) {
    rig.player.Unload();
    std::atomic<bool> stepping{false};
    uint32_t last = 0;
    std::thread steps([&] {
      // From before the load starts until the first block is in the store.
      for (uint32_t i = 0; !rig.player.IsReady(); ++i) {
        last = 1000 + (round * 7919 + i * 7) % 60000;
        rig.player.SetOutputLevel(last, 0, 0);
        stepping.store(true);
      }
    });
    while (!stepping.load()) {
    }
    rig.player.LoadFile(dir.File("dc.wav"));
    rig.Settle();
    steps.join();
    ASSERT_TRUE(rig.player.Play());
    rig.Run(20);
    ASSERT_NEAR(rig.Out(0).back(), 0.5 * FaderGain(last, {}), 1e-6) << "round " << round;
  }
}

}  // namespace
}  // namespace orvex
