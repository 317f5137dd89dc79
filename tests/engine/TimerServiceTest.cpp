#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/ManualTimerService.h"
#include "engine/RealTimerService.h"

namespace orvex {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using TimerId = TimerService::TimerId;
using namespace std::chrono_literals;

// Far beyond any expected latency: real-service tests wait for events, never
// for the clock, so slow machines only make them slower.
constexpr auto kDeadline = 5s;

// Lets a test write a callback as a lambda; the Hook must outlive its timer.
using Hook = std::function<void(TimerId)>;
void CallHook(TimerId id, void* user) {
  (*static_cast<Hook*>(user))(id);
}

// Wakes a waiting test thread after a callback changed some atomic state.
class Signal {
 public:
  void Notify() {
    std::lock_guard lock(mutex_);
    cv_.notify_all();
  }
  template <class Pred>
  bool WaitFor(Pred pred, std::chrono::milliseconds limit = kDeadline) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, pred);
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
};

// ---------------------------------------------------------------------------
// Manual service

TEST(ManualTimerServiceTest, FiresOnePeriodAfterSetThenEveryPeriod) {
  ManualTimerService svc(1000);
  std::vector<uint32_t> a_at, b_at;
  Hook a = [&](TimerId) { a_at.push_back(svc.timeGetTime()); };
  Hook b = [&](TimerId) { b_at.push_back(svc.timeGetTime()); };
  ASSERT_NE(svc.timeSetEvent(10, 1, CallHook, &a), 0u);

  svc.Advance(9);
  EXPECT_TRUE(a_at.empty());
  EXPECT_EQ(svc.timeGetTime(), 1009u);
  svc.Advance(1);
  EXPECT_THAT(a_at, ElementsAre(1010u));

  ASSERT_NE(svc.timeSetEvent(7, 1, CallHook, &b), 0u);  // set at 1010
  svc.Advance(25);
  EXPECT_THAT(a_at, ElementsAre(1010u, 1020u, 1030u));
  EXPECT_THAT(b_at, ElementsAre(1017u, 1024u, 1031u));
  EXPECT_EQ(svc.timeGetTime(), 1035u);
}

// Runs timers A (3 ms), B (2 ms), C (6 ms), created in that order, for 12 ms
// in steps of `step`, and returns which fired when.
std::vector<std::string> RunThreeTimers(uint32_t step) {
  ManualTimerService svc;
  std::vector<std::string> log;
  auto logger = [&](char tag) {
    return Hook([&, tag](TimerId) { log.push_back(tag + std::to_string(svc.timeGetTime())); });
  };
  Hook a = logger('A'), b = logger('B'), c = logger('C');
  svc.timeSetEvent(3, 1, CallHook, &a);
  svc.timeSetEvent(2, 1, CallHook, &b);
  svc.timeSetEvent(6, 1, CallHook, &c);
  for (uint32_t left = 12; left > 0;) {
    const uint32_t ms = std::min(step, left);
    svc.Advance(ms);
    left -= ms;
  }
  return log;
}

TEST(ManualTimerServiceTest, RunsInDueOrderWithTiesInCreationOrder) {
  const std::vector<std::string> one_jump = RunThreeTimers(12);
  EXPECT_THAT(one_jump, ElementsAre("B2", "A3", "B4", "A6", "B6", "C6", "B8", "A9", "B10", "A12",
                                    "B12", "C12"));
  // How Advance is sliced must not change the outcome.
  EXPECT_EQ(RunThreeTimers(1), one_jump);
  EXPECT_EQ(RunThreeTimers(5), one_jump);
}

TEST(ManualTimerServiceTest, RejectsBadArgumentsAndIgnoresUnknownIds) {
  ManualTimerService svc;
  int calls = 0;
  Hook h = [&](TimerId) { ++calls; };
  EXPECT_EQ(svc.timeSetEvent(0, 1, CallHook, &h), 0u);
  EXPECT_EQ(svc.timeSetEvent(10, 1, nullptr, &h), 0u);

  const TimerId first = svc.timeSetEvent(10, 1, CallHook, &h);
  ASSERT_NE(first, 0u);
  svc.timeKillEvent(0);
  svc.timeKillEvent(first + 1000);
  svc.timeKillEvent(first);
  svc.timeKillEvent(first);  // twice is harmless
  const TimerId second = svc.timeSetEvent(10, 1, CallHook, &h);
  EXPECT_NE(second, 0u);
  EXPECT_NE(second, first);  // a stale id must never address a new timer

  svc.Advance(10);
  EXPECT_EQ(calls, 1);
}

TEST(ManualTimerServiceTest, CallbackCanKillItsOwnTimer) {
  ManualTimerService svc;
  int calls = 0;
  TimerId id = 0;
  Hook h = [&](TimerId self) {
    EXPECT_EQ(self, id);
    if (++calls == 3) svc.timeKillEvent(self);
  };
  id = svc.timeSetEvent(5, 1, CallHook, &h);
  svc.Advance(100);
  EXPECT_EQ(calls, 3);
}

TEST(ManualTimerServiceTest, KilledTimerDueAtTheSameInstantDoesNotRun) {
  ManualTimerService svc;
  std::vector<std::string> log;
  TimerId victim = 0;
  Hook killer = [&](TimerId) {
    log.push_back("killer" + std::to_string(svc.timeGetTime()));
    svc.timeKillEvent(victim);
  };
  Hook victim_hook = [&](TimerId) { log.push_back("victim" + std::to_string(svc.timeGetTime())); };
  // Same period, created later: due at the same instants, always just after.
  svc.timeSetEvent(5, 1, CallHook, &killer);
  victim = svc.timeSetEvent(5, 1, CallHook, &victim_hook);

  svc.Advance(12);
  EXPECT_THAT(log, ElementsAre("killer5", "killer10"));
}

TEST(ManualTimerServiceTest, TimerSetInCallbackStartsFromThatInstant) {
  ManualTimerService svc;
  std::vector<std::string> log;
  Hook child = [&](TimerId) { log.push_back("child" + std::to_string(svc.timeGetTime())); };
  Hook parent = [&](TimerId) {
    log.push_back("parent" + std::to_string(svc.timeGetTime()));
    if (log.size() == 1) svc.timeSetEvent(5, 1, CallHook, &child);
  };
  svc.timeSetEvent(10, 1, CallHook, &parent);

  // The child fires within the same Advance, and at 20 it comes after the
  // parent, which was created first.
  svc.Advance(26);
  EXPECT_THAT(log, ElementsAre("parent10", "child15", "parent20", "child20", "child25"));
}

TEST(ManualTimerServiceTest, ClockWrapsAndUnsignedDifferencesHold) {
  ManualTimerService svc(0xFFFFFFF0u);
  std::vector<uint32_t> at;
  Hook h = [&](TimerId) { at.push_back(svc.timeGetTime()); };
  const uint32_t set_at = svc.timeGetTime();
  svc.timeSetEvent(7, 1, CallHook, &h);

  svc.Advance(30);
  EXPECT_THAT(at, ElementsAre(0xFFFFFFF7u, 0xFFFFFFFEu, 0x5u, 0xCu));
  for (size_t i = 0; i < at.size(); ++i) EXPECT_EQ(at[i] - set_at, 7u * (i + 1));
  EXPECT_EQ(svc.timeGetTime(), 0xEu);
  EXPECT_EQ(svc.timeGetTime() - set_at, 30u);
}

TEST(ManualTimerServiceTest, OrdersDueTimesAcrossTheWrap) {
  ManualTimerService svc(0xFFFFFFF0u);
  std::vector<std::pair<char, uint32_t>> log;
  Hook a = [&](TimerId) { log.emplace_back('A', svc.timeGetTime()); };
  Hook b = [&](TimerId) { log.emplace_back('B', svc.timeGetTime()); };
  svc.timeSetEvent(0x20, 1, CallHook, &a);  // due after the wrap
  svc.timeSetEvent(5, 1, CallHook, &b);     // due both sides of it

  svc.Advance(0x23);
  EXPECT_THAT(log, ElementsAre(Pair('B', 0xFFFFFFF5u), Pair('B', 0xFFFFFFFAu),
                               Pair('B', 0xFFFFFFFFu), Pair('B', 0x4u), Pair('B', 0x9u),
                               Pair('B', 0xEu), Pair('A', 0x10u), Pair('B', 0x13u)));
}

TEST(ManualTimerServiceTest, KeepsOrderWhenRunningPastTwoToThe32Ms) {
  ManualTimerService svc;
  std::vector<std::pair<char, uint32_t>> log;
  Hook slow = [&](TimerId) { log.emplace_back('S', svc.timeGetTime()); };
  Hook fast = [&](TimerId) { log.emplace_back('F', svc.timeGetTime()); };
  svc.timeSetEvent(0xFFFFFFFFu, 1, CallHook, &slow);
  svc.Advance(0xFFFFFFF0u);
  svc.timeSetEvent(0x20, 1, CallHook, &fast);  // due once the run exceeds 2^32 ms
  svc.Advance(0x20);
  EXPECT_THAT(log, ElementsAre(Pair('S', 0xFFFFFFFFu), Pair('F', 0x10u)));
}

TEST(ManualTimerServiceTest, ClockCanBeReadFromAnotherThread) {
  ManualTimerService svc;
  std::thread reader([&] {
    uint32_t last = 0;
    while (last < 1000) {
      const uint32_t now = svc.timeGetTime();
      EXPECT_GE(now, last);
      last = now;
    }
  });
  for (int i = 0; i < 1000; ++i) svc.Advance(1);
  reader.join();
}

// ---------------------------------------------------------------------------
// Behaviour both services share when stopped from another thread

// A callback that, on its first call, blocks until the test releases it.
class BlockingCallback {
 public:
  static void Fn(TimerId, void* self) { static_cast<BlockingCallback*>(self)->Run(); }

  bool WaitEntered() {
    return signal_.WaitFor([&] { return calls_ > 0; });
  }
  void Release() {
    released_ = true;
    signal_.Notify();
  }
  bool finished() const { return finished_; }
  int calls() const { return calls_; }
  Signal& signal() { return signal_; }

 private:
  void Run() {
    if (++calls_ > 1) return;
    signal_.Notify();
    signal_.WaitFor([&] { return released_.load(); });
    finished_ = true;
  }

  Signal signal_;
  std::atomic<int> calls_{0};
  std::atomic<bool> released_{false};
  std::atomic<bool> finished_{false};
};

// Calls `stop` on another thread while `blocker` is inside its callback, and
// checks that stop returns only after the callback has.
void ExpectStopWaitsForRunningCallback(BlockingCallback& blocker,
                                       const std::function<void()>& stop) {
  ASSERT_TRUE(blocker.WaitEntered());
  std::atomic<bool> returned{false};
  bool finished_on_return = false;
  std::thread stopper([&] {
    stop();
    finished_on_return = blocker.finished();
    returned = true;
    blocker.signal().Notify();
  });
  // A stop that does not wait gets ample time to return early; a correct one
  // cannot, whatever the machine's speed.
  EXPECT_FALSE(blocker.signal().WaitFor([&] { return returned.load(); }, 100ms));
  blocker.Release();
  stopper.join();
  EXPECT_TRUE(finished_on_return);
}

TEST(ManualTimerServiceTest, KillFromAnotherThreadWaitsForRunningCallback) {
  ManualTimerService svc;
  BlockingCallback blocker;
  const TimerId id = svc.timeSetEvent(1, 1, BlockingCallback::Fn, &blocker);
  std::thread driver([&] { svc.Advance(5); });
  ExpectStopWaitsForRunningCallback(blocker, [&] { svc.timeKillEvent(id); });
  driver.join();
  EXPECT_EQ(blocker.calls(), 1);
}

TEST(RealTimerServiceTest, KillFromAnotherThreadWaitsForRunningCallback) {
  BlockingCallback blocker;
  RealTimerService svc;
  const TimerId id = svc.timeSetEvent(1, 1, BlockingCallback::Fn, &blocker);
  ExpectStopWaitsForRunningCallback(blocker, [&] { svc.timeKillEvent(id); });
  EXPECT_EQ(blocker.calls(), 1);
}

TEST(RealTimerServiceTest, DestructorWaitsForRunningCallbackAndStopsLiveTimers) {
  std::atomic<int> others{0};
  Hook other = [&](TimerId) { ++others; };
  BlockingCallback blocker;
  auto svc = std::make_unique<RealTimerService>();
  svc->timeSetEvent(1, 1, CallHook, &other);
  svc->timeSetEvent(1000, 1, CallHook, &other);
  svc->timeSetEvent(1, 1, BlockingCallback::Fn, &blocker);
  ExpectStopWaitsForRunningCallback(blocker, [&] { svc.reset(); });
  EXPECT_EQ(blocker.calls(), 1);
}

// ---------------------------------------------------------------------------
// Real service

TEST(RealTimerServiceTest, RejectsBadArguments) {
  RealTimerService svc;
  Hook h = [](TimerId) {};
  EXPECT_EQ(svc.timeSetEvent(0, 1, CallHook, &h), 0u);
  EXPECT_EQ(svc.timeSetEvent(10, 1, nullptr, &h), 0u);
  svc.timeKillEvent(0);
  svc.timeKillEvent(12345);
}

TEST(RealTimerServiceTest, CallbacksAreSerialisedOnOneThreadAndNeverEarly) {
  RealTimerService svc;
  Signal signal;
  std::atomic<bool> inside{false};
  std::atomic<int> overlaps{0};
  std::atomic<int> calls[2] = {0, 0};
  std::mutex threads_mutex;
  std::set<std::thread::id> threads;
  std::atomic<uint32_t> first_call_at[2] = {0, 0};

  auto make = [&](int k) {
    return Hook([&, k](TimerId) {
      if (inside.exchange(true)) ++overlaps;
      if (calls[k] == 0) first_call_at[k] = svc.timeGetTime();
      for (int i = 0; i < 200; ++i) std::this_thread::yield();  // widen any overlap
      {
        std::lock_guard lock(threads_mutex);
        threads.insert(std::this_thread::get_id());
      }
      inside = false;
      ++calls[k];
      signal.Notify();
    });
  };
  Hook h0 = make(0), h1 = make(1);
  const uint32_t set_at = svc.timeGetTime();
  const TimerId t0 = svc.timeSetEvent(1, 1, CallHook, &h0);
  const TimerId t1 = svc.timeSetEvent(2, 1, CallHook, &h1);

  EXPECT_TRUE(signal.WaitFor([&] { return calls[0] >= 30 && calls[1] >= 30; }));
  svc.timeKillEvent(t0);
  svc.timeKillEvent(t1);

  EXPECT_EQ(overlaps, 0);
  EXPECT_GE(first_call_at[0] - set_at, 1u);
  EXPECT_GE(first_call_at[1] - set_at, 2u);
  std::lock_guard lock(threads_mutex);
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_NE(*threads.begin(), std::this_thread::get_id());
}

TEST(RealTimerServiceTest, NoCallbackAfterKillReturns) {
  RealTimerService svc;
  // Repeated so the kill lands at different points of the callback cycle.
  for (int round = 0; round < 20; ++round) {
    Signal signal;
    std::atomic<bool> killed{false};
    std::atomic<int> late{0}, calls{0}, probes{0};
    Hook h = [&](TimerId) {
      if (killed) ++late;
      std::this_thread::yield();
      if (killed) ++late;
      ++calls;
      signal.Notify();
    };
    Hook probe = [&](TimerId) {
      ++probes;
      signal.Notify();
    };
    const TimerId id = svc.timeSetEvent(1, 1, CallHook, &h);
    EXPECT_TRUE(signal.WaitFor([&] { return calls >= 2; }));
    svc.timeKillEvent(id);
    killed = true;

    // Once a later timer has fired a few times, the worker is well past any
    // tick the killed timer would have had.
    const TimerId probe_id = svc.timeSetEvent(1, 1, CallHook, &probe);
    EXPECT_TRUE(signal.WaitFor([&] { return probes >= 3; }));
    svc.timeKillEvent(probe_id);
    EXPECT_EQ(late, 0) << "round " << round;
  }
}

TEST(RealTimerServiceTest, CallbacksCanSetAndKillTimersIncludingTheirOwn) {
  RealTimerService svc;
  Signal signal;
  std::atomic<int> parent_calls{0}, child_calls{0}, bystander_calls{0}, probes{0};
  TimerId bystander = 0;
  std::atomic<TimerId> child_id{0};

  Hook bystander_hook = [&](TimerId) { ++bystander_calls; };
  Hook child = [&](TimerId) {
    ++child_calls;
    signal.Notify();
  };
  Hook parent = [&](TimerId self) {
    const int n = ++parent_calls;
    if (n == 1) child_id = svc.timeSetEvent(1, 1, CallHook, &child);
    if (n == 3) {
      svc.timeKillEvent(self);
      svc.timeKillEvent(bystander);
    }
    signal.Notify();
  };
  svc.timeSetEvent(1, 1, CallHook, &parent);
  bystander = svc.timeSetEvent(60'000, 1, CallHook, &bystander_hook);

  EXPECT_TRUE(signal.WaitFor([&] { return parent_calls >= 3 && child_calls >= 3; }));
  Hook probe = [&](TimerId) {
    ++probes;
    signal.Notify();
  };
  const TimerId probe_id = svc.timeSetEvent(1, 1, CallHook, &probe);
  EXPECT_TRUE(signal.WaitFor([&] { return probes >= 3; }));
  svc.timeKillEvent(probe_id);

  EXPECT_EQ(parent_calls, 3);
  EXPECT_EQ(bystander_calls, 0);
  // The child outlives its parent.
  const int child_so_far = child_calls;
  EXPECT_TRUE(signal.WaitFor([&] { return child_calls > child_so_far; }));
  svc.timeKillEvent(child_id);
}

}  // namespace
}  // namespace orvex
