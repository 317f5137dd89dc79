// Players on the real timer thread with outputs rendering on their own
// threads, while the UI side seeks, pauses and moves levels: run under the
// thread sanitizer to find races between them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/ManualTimerService.h"
#include "engine/PlayerRig.h"
#include "engine/RealTimerService.h"
#include "engine/WavBytes.h"
#include "engine/WaveWnd.h"
#include "output/OutputSet.h"
#include "output/xaudio/VirtualDevice.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

// Runs posted work at once on the posting thread and lets the test wait for
// the end-of-file notices.
class SignallingPoster : public UiPoster {
 public:
  void Post(std::function<void()> task) override { task(); }
};

struct EndWaiter {
  std::mutex mutex;
  std::condition_variable cv;
  int notices = 0;
  void Notify() {
    std::lock_guard lock(mutex);
    ++notices;
    cv.notify_all();
  }
  bool WaitFor(int count) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(20), [&] { return notices >= count; });
  }
};

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
  SignallingPoster poster;
  std::vector<std::unique_ptr<xaudio::VirtualDevice>> devices;  // outlive their engines
  OutputSet outputs;
  for (int n = 0; n < 3; ++n) {
    devices.push_back(std::make_unique<xaudio::VirtualDevice>("rt" + std::to_string(n), "RT", 2,
                                                              n == 1 ? 44100 : 48000));
    ASSERT_TRUE(outputs.Bind(n, devices.back().get()));
    devices.back()->StartRealtimeThread(256);
  }
  EndWaiter ends;
  {
    CWaveWnd player(2, timers, poster);
    player.SetEngines(outputs.Engines());
    player.SetBufferSeconds(1, 1);
    player.SetEndOfFileHandler([&](int) { ends.Notify(); });
    player.SetAllOutputLevels(65535);
    ASSERT_TRUE(player.LoadFile(dir.File("t.wav")));
    FadeStep fade{&player};
    TimerService::TimerId fadeTimer = timers.timeSetEvent(10, 10, &FadeStep::Run, &fade);
    ASSERT_TRUE(player.Play());
    player.Pause();
    player.Resume();
    player.Seek(4 * 4800);
    for (int i = 0; i < 50; ++i) player.SetOutputLevel(static_cast<uint32_t>(i * 1000), i % 3, i);
    EXPECT_TRUE(ends.WaitFor(1));
    timers.timeKillEvent(fadeTimer);
    // Reload and unload while the outputs keep rendering.
    ASSERT_TRUE(player.LoadFile(dir.File("t.wav")));
    player.Play();
    player.Unload();
  }
  for (auto& d : devices) {
    d->StopRealtimeThread();
    EXPECT_GT(d->RealtimeFramesPulled(), 0u);
  }
  EXPECT_GT(devices[0]->RealtimePeak(), 0.0f);
}

// Virtual time that lets a test see when the UI thread starts to wait for a
// timer to die.
class KillWatchingTimers final : public TimerService {
 public:
  TimerId timeSetEvent(uint32_t periodMs, uint32_t resolutionMs, Callback cb, void* user) override {
    return clock.timeSetEvent(periodMs, resolutionMs, cb, user);
  }
  void timeKillEvent(TimerId id) override {
    {
      std::lock_guard lock(mutex_);
      killing_ = true;
    }
    cv_.notify_all();
    clock.timeKillEvent(id);
  }
  uint32_t timeGetTime() const override { return clock.timeGetTime(); }
  void WaitForKill() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return killing_; });
  }

  ManualTimerService clock;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool killing_ = false;
};

struct Transport {
  const char* name;
  std::function<void(CWaveWnd&)> act;
  uint32_t storeStart;  // data offset of the store's first byte afterwards
};

void PrintTo(const Transport& t, std::ostream* os) {
  *os << t.name;
}

class ReadingTick : public ::testing::TestWithParam<Transport> {};

// A slow disk: the tick is held in its third piece of a 75-piece block read
// until the UI thread waits for the timer. It may finish that piece, no more.
TEST_P(ReadingTick, TheUiThreadWaitsForOnePieceAtMost) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 8000 * 60; ++i) data += static_cast<char>(1 + i % 251);
  dir.Write("slow.wav", Wav(1, 8000, 8, data));  // 60 s, 3200-byte pieces
  KillWatchingTimers timers;
  ManualUiPoster poster;
  CWaveWnd player(1, timers, poster);
  player.SetBufferSeconds(1, 30);
  ASSERT_TRUE(player.LoadFile(dir.File("slow.wav")));
  ASSERT_TRUE(player.Play());

  const std::thread::id ui = std::this_thread::get_id();
  std::atomic<int> tickPieces{0}, uiPieces{0};
  std::mutex mutex;
  std::condition_variable cv;
  bool held = false;
  player.SetPieceReadHook([&] {
    if (std::this_thread::get_id() == ui) {
      ++uiPieces;
      return;
    }
    if (++tickPieces != 3) return;
    {
      std::lock_guard lock(mutex);
      held = true;
    }
    cv.notify_all();
    timers.WaitForKill();
  });
  std::thread timerThread([&] { timers.clock.Advance(100); });
  {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return held; });
  }
  GetParam().act(player);
  timerThread.join();
  EXPECT_EQ(tickPieces.load(), 3);
  EXPECT_LE(uiPieces.load(), 1);

  // What the cut read took stays in order: the next fill goes on from there.
  player.SetPieceReadHook({});
  player.SetPaused(false);
  player.Resume();
  timers.clock.Advance(100);
  if (!player.IsLoaded()) return;
  const StreamStore& store = player.Stream();
  const uint64_t start = GetParam().storeStart;
  ASSERT_GT(store.WritePos(), 8000u + 3 * 3200);
  for (uint64_t pos = 0; pos < store.WritePos(); pos += 997) {
    auto spans = store.Region(pos, 1);
    ASSERT_EQ(spans[0].size, 1u);
    ASSERT_EQ(static_cast<char>(spans[0].data[0]), data[start + pos]) << pos;
  }
}

INSTANTIATE_TEST_SUITE_P(PauseStopSeek, ReadingTick,
                         ::testing::Values(Transport{"Pause", [](CWaveWnd& p) { p.Pause(); }, 0},
                                           Transport{"Unload", [](CWaveWnd& p) { p.Unload(); }, 0},
                                           Transport{"Seek", [](CWaveWnd& p) { p.Seek(8000 * 20); },
                                                     8000 * 20}),
                         [](const auto& info) { return std::string(info.param.name); });

// Levels set on the timer thread (group fade steps) while the UI thread
// prepares a file: the last one must be what the file plays at, also when
// it came while the first block was being read, before the file counted as
// loaded.
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
      for (uint32_t i = 0; rig.player.Stream().WritePos() == 0 && !rig.player.IsLoaded(); ++i) {
        last = 1000 + (round * 7919 + i * 7) % 60000;
        rig.player.SetOutputLevel(last, 0, 0);
        stepping.store(true);
      }
    });
    while (!stepping.load()) {
    }
    ASSERT_TRUE(rig.player.LoadFile(dir.File("dc.wav")));
    steps.join();
    ASSERT_TRUE(rig.player.Play());
    rig.Run(20);
    ASSERT_NEAR(rig.Out(0).back(), 0.5 * FaderGain(last, {}), 1e-6) << "round " << round;
  }
}

}  // namespace
}  // namespace orvex
