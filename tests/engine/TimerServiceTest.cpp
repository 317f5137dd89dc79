#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/ManualTimerService.h"
#include "engine/RealTimerService.h"

namespace orvex {
namespace {

using ::testing::ElementsAre;
using TimerId = TimerService::TimerId;
using namespace std::chrono_literals;

// Lets a test write a callback as a lambda; the Hook must outlive its timer.
using Hook = std::function<void(TimerId)>;
void CallHook(TimerId id, void* user) {
  (*static_cast<Hook*>(user))(id);
}
TimerId Set(TimerService& svc, uint32_t ms, Hook& hook) {
  return svc.timeSetEvent(ms, 1, CallHook, &hook);
}

// Hooks that log "<tag><clock>", the clock read as signed so times just
// before the 32-bit wrap read as small negatives.
struct Log {
  explicit Log(ManualTimerService& s) : svc(s) {}
  Hook operator()(const std::string& tag) {
    return
        [this, tag](TimerId) { lines.push_back(tag + std::to_string(int32_t(svc.timeGetTime()))); };
  }
  ManualTimerService& svc;
  std::vector<std::string> lines;
};

// Real-service tests wait for events, never for the clock, and the limit is
// far beyond any expected latency, so slow machines only make them slower.
template <class Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit = 5s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (; !pred(); std::this_thread::sleep_for(100us))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Manual service

// Runs timers A (3 ms), B (2 ms), C (6 ms), created in that order, for 12 ms
// in steps of `step`.
std::vector<std::string> RunThreeTimers(uint32_t step) {
  ManualTimerService svc;
  Log log{svc};
  Hook a = log("A"), b = log("B"), c = log("C");
  Set(svc, 3, a);
  Set(svc, 2, b);
  Set(svc, 6, c);
  for (uint32_t left = 12; left > 0; left -= std::min(step, left))
    svc.Advance(std::min(step, left));
  return log.lines;
}

TEST(ManualTimerServiceTest, RunsInDueOrderWithTiesInCreationOrder) {
  const std::vector<std::string> one_jump = RunThreeTimers(12);
  EXPECT_THAT(one_jump, ElementsAre("B2", "A3", "B4", "A6", "B6", "C6", "B8", "A9", "B10", "A12",
                                    "B12", "C12"));
  // How Advance is sliced must not change the outcome.
  EXPECT_EQ(RunThreeTimers(1), one_jump);
  EXPECT_EQ(RunThreeTimers(5), one_jump);
}

// What both services refuse or ignore.
void ExpectBadArgumentsRefused(TimerService& svc, Hook& hook) {
  EXPECT_EQ(Set(svc, 0, hook), 0u);
  EXPECT_EQ(svc.timeSetEvent(10, 1, nullptr, &hook), 0u);
  const TimerId first = Set(svc, 10, hook);
  ASSERT_NE(first, 0u);
  for (TimerId id : {0u, first + 1000, first, first}) svc.timeKillEvent(id);  // twice is harmless
  const TimerId second = Set(svc, 10, hook);
  EXPECT_NE(second, 0u);
  EXPECT_NE(second, first);  // a stale id must never address a new timer
}

TEST(TimerServices, RefuseBadArgumentsAndIgnoreUnknownIds) {
  int calls = 0;
  Hook count = [&](TimerId) { ++calls; }, none = [](TimerId) {};
  ManualTimerService manual;
  ExpectBadArgumentsRefused(manual, count);
  manual.Advance(10);
  EXPECT_EQ(calls, 1);
  RealTimerService real;
  ExpectBadArgumentsRefused(real, none);
}

TEST(ManualTimerServiceTest, CallbacksKillTimersIncludingTheirOwnAndSetNewOnes) {
  ManualTimerService svc;
  Log log{svc};
  // Kills itself on its third call.
  int calls = 0;
  TimerId self_id = 0;
  Hook self = [&](TimerId id) {
    EXPECT_EQ(id, self_id);
    if (++calls == 3) svc.timeKillEvent(id);
  };
  self_id = Set(svc, 4, self);
  // Same period, created later: the victim is due at the same instants,
  // always just after the killer, and must not run once killed.
  TimerId victim_id = 0;
  Hook victim = log("victim"), log_killer = log("killer");
  Hook killer = [&](TimerId id) {
    log_killer(id);
    svc.timeKillEvent(victim_id);
  };
  Set(svc, 5, killer);
  victim_id = Set(svc, 5, victim);
  // A timer set in a callback counts from that instant, fires within the same
  // Advance, and at a tie comes after the parent, which was created first.
  Hook child = log("child"), log_parent = log("parent");
  Hook parent = [&](TimerId id) {
    log_parent(id);
    if (log.lines.back() == "parent10") Set(svc, 5, child);
  };
  Set(svc, 10, parent);

  svc.Advance(26);
  EXPECT_EQ(calls, 3);
  EXPECT_THAT(log.lines, ElementsAre("killer5", "killer10", "parent10", "killer15", "child15",
                                     "killer20", "parent20", "child20", "killer25", "child25"));
}

TEST(ManualTimerServiceTest, ClockWrapsAndDueTimesKeepTheirOrderAcrossIt) {
  {
    ManualTimerService svc(0xFFFFFFF0u);  // reads -16
    Log log{svc};
    Hook a = log("A"), b = log("B");
    Set(svc, 0x20, a);  // due after the wrap
    Set(svc, 5, b);     // due both sides of it
    svc.Advance(0x23);
    EXPECT_THAT(log.lines, ElementsAre("B-11", "B-6", "B-1", "B4", "B9", "B14", "A16", "B19"));
    EXPECT_EQ(svc.timeGetTime(), 0x13u);
  }
  {  // a run longer than 2^32 ms
    ManualTimerService svc;
    Log log{svc};
    Hook slow = log("S"), fast = log("F");
    Set(svc, 0xFFFFFFFFu, slow);
    svc.Advance(0xFFFFFFF0u);
    Set(svc, 0x20, fast);  // due once the run exceeds 2^32 ms
    svc.Advance(0x20);
    EXPECT_THAT(log.lines, ElementsAre("S-1", "F16"));
  }
}

TEST(ManualTimerServiceTest, ClockCanBeReadFromAnotherThread) {
  ManualTimerService svc;
  std::thread reader([&] {
    for (uint32_t last = 0, now; last < 1000; last = now) {
      now = svc.timeGetTime();
      EXPECT_GE(now, last);
    }
  });
  for (int i = 0; i < 1000; ++i) svc.Advance(1);
  reader.join();
}

// ---------------------------------------------------------------------------
// Stopping a timer from another thread while its callback runs

// A callback that, on its first call, blocks until the test releases it.
class BlockingCallback {
 public:
  static void Fn(TimerId, void* self) { static_cast<BlockingCallback*>(self)->Run(); }

  // Calls `stop` on another thread while the callback is blocked, and checks
  // that stop returns only after the callback has, and that it ran once.
  void ExpectStopWaits(const std::function<void()>& stop) {
    ASSERT_TRUE(WaitUntil([&] { return calls_ > 0; }));
    std::atomic<bool> returned{false};
    bool finished_on_return = false;
    std::thread stopper([&] {
      stop();
      finished_on_return = finished_;
      returned = true;
    });
    // A stop that does not wait gets ample time to return early; a correct
    // one cannot, whatever the machine's speed.
    EXPECT_FALSE(WaitUntil([&] { return returned.load(); }, 100ms));
    released_ = true;
    stopper.join();
    EXPECT_TRUE(finished_on_return);
    EXPECT_EQ(calls_, 1);
  }

 private:
  void Run() {
    if (++calls_ > 1) return;
    WaitUntil([&] { return released_.load(); });
    finished_ = true;
  }

  std::atomic<int> calls_{0};
  std::atomic<bool> released_{false}, finished_{false};
};

TEST(TimerServices, StopFromAnotherThreadWaitsForTheRunningCallback) {
  {
    ManualTimerService svc;
    BlockingCallback blocker;
    const TimerId id = svc.timeSetEvent(1, 1, BlockingCallback::Fn, &blocker);
    std::thread driver([&] { svc.Advance(5); });
    blocker.ExpectStopWaits([&] { svc.timeKillEvent(id); });
    driver.join();
  }
  {
    BlockingCallback blocker;
    RealTimerService svc;
    const TimerId id = svc.timeSetEvent(1, 1, BlockingCallback::Fn, &blocker);
    blocker.ExpectStopWaits([&] { svc.timeKillEvent(id); });
  }
  {  // the destructor, with other live timers
    Hook other = [](TimerId) {};
    BlockingCallback blocker;
    auto svc = std::make_unique<RealTimerService>();
    Set(*svc, 1, other);
    Set(*svc, 1000, other);
    svc->timeSetEvent(1, 1, BlockingCallback::Fn, &blocker);
    blocker.ExpectStopWaits([&] { svc.reset(); });
  }
}

// ---------------------------------------------------------------------------
// Real service

// Runs a fresh 1 ms timer three times: by then the worker is well past any
// tick a timer killed earlier would have had.
void LetTheWorkerPass(RealTimerService& svc) {
  std::atomic<int> probes{0};
  Hook probe = [&](TimerId) { ++probes; };
  const TimerId id = Set(svc, 1, probe);
  EXPECT_TRUE(WaitUntil([&] { return probes >= 3; }));
  svc.timeKillEvent(id);
}

TEST(RealTimerServiceTest, CallbacksAreSerialisedOnOneWorkerThreadAndNeverEarly) {
  RealTimerService svc;
  std::atomic<bool> inside{false};
  std::atomic<int> overlaps{0}, early{0}, strays{0}, calls[2] = {0, 0};
  std::atomic<std::thread::id> worker{};
  const uint32_t set_at = svc.timeGetTime();
  auto make = [&](int k, uint32_t period) {
    return Hook([&, k, period](TimerId) {
      if (inside.exchange(true)) ++overlaps;
      if (calls[k] == 0 && svc.timeGetTime() - set_at < period) ++early;
      std::thread::id none{};
      worker.compare_exchange_strong(none, std::this_thread::get_id());
      if (worker.load() != std::this_thread::get_id()) ++strays;
      for (int i = 0; i < 200; ++i) std::this_thread::yield();  // widen any overlap
      inside = false;
      ++calls[k];
    });
  };
  Hook h0 = make(0, 1), h1 = make(1, 2);
  const TimerId t0 = Set(svc, 1, h0), t1 = Set(svc, 2, h1);
  // A generous deadline: a sanitizer build on a busy machine runs the
  // callbacks many times slower, and only their order is under test.
  EXPECT_TRUE(WaitUntil([&] { return calls[0] >= 30 && calls[1] >= 30; }, 60s));
  svc.timeKillEvent(t0);
  svc.timeKillEvent(t1);
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(early, 0);
  EXPECT_EQ(strays, 0);
  EXPECT_NE(worker.load(), std::this_thread::get_id());
}

TEST(RealTimerServiceTest, NoCallbackAfterKillReturns) {
  RealTimerService svc;
  // Repeated so the kill lands at different points of the callback cycle.
  for (int round = 0; round < 20; ++round) {
    std::atomic<bool> killed{false};
    std::atomic<int> late{0}, calls{0};
    Hook h = [&](TimerId) {
      late += killed;
      std::this_thread::yield();
      late += killed;
      ++calls;
    };
    const TimerId id = Set(svc, 1, h);
    EXPECT_TRUE(WaitUntil([&] { return calls >= 2; }));
    svc.timeKillEvent(id);
    killed = true;
    LetTheWorkerPass(svc);
    EXPECT_EQ(late, 0) << "round " << round;
  }
}

TEST(RealTimerServiceTest, CallbacksCanSetAndKillTimersIncludingTheirOwn) {
  RealTimerService svc;
  std::atomic<int> parent_calls{0}, child_calls{0}, bystander_calls{0};
  std::atomic<TimerId> child_id{0}, bystander{0};
  Hook bystander_hook = [&](TimerId) { ++bystander_calls; };
  Hook child = [&](TimerId) { ++child_calls; };
  Hook parent = [&](TimerId self) {
    const int n = ++parent_calls;
    if (n == 1) child_id = Set(svc, 1, child);
    if (n == 3) {
      svc.timeKillEvent(self);
      svc.timeKillEvent(bystander);
    }
  };
  Set(svc, 1, parent);
  bystander = Set(svc, 60'000, bystander_hook);

  EXPECT_TRUE(WaitUntil([&] { return parent_calls >= 3 && child_calls >= 3; }));
  LetTheWorkerPass(svc);
  EXPECT_EQ(parent_calls, 3);
  EXPECT_EQ(bystander_calls, 0);
  // The child outlives its parent.
  const int child_so_far = child_calls;
  EXPECT_TRUE(WaitUntil([&] { return child_calls > child_so_far; }));
  svc.timeKillEvent(child_id);
}

}  // namespace
}  // namespace orvex
