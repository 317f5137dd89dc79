// Players on the real timer thread with outputs rendering on their own
// threads, while the UI side seeks, pauses and moves levels: run under the
// thread sanitizer to find races between them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

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

}  // namespace
}  // namespace orvex
