// The auto-run clock, and the offline session's repeatability.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <tuple>

#include "engine/ConsoleRig.h"
#include "engine/RealTimerService.h"

namespace orvex {
namespace {

using Kind = ConsoleEvent::Kind;

TEST(AutoRunClock, FormatsAndParsesTheClockText) {
  EXPECT_EQ(FormatClock(0), "00:00:00.0");
  EXPECT_EQ(FormatClock(90500), "00:01:30.5");
  EXPECT_EQ(FormatClock(3600250), "01:00:00.2");
  EXPECT_EQ(FormatClock(99 * 3600000u + 59 * 60000u + 59999u), "99:59:59.9");
  EXPECT_EQ(ParseClock("01:00:00.25"), 3600250u);
  EXPECT_EQ(ParseClock("00:00:01.125"), 1125u);
  EXPECT_EQ(ParseClock("00:00:01.12345"), 1123u);  // the first three digits
  EXPECT_EQ(ParseClock("00:00:07."), 7000u);
  // Fields missing on the left count as 0.
  EXPECT_EQ(ParseClock("90"), 90000u);
  EXPECT_EQ(ParseClock("1:30"), 90000u);
  EXPECT_EQ(ParseClock(""), 0u);
  // Leading digits are what counts in a field.
  EXPECT_EQ(ParseClock("00:02x:10"), 130000u);
  for (uint32_t ms : {0u, 100u, 59900u, 90500u, 3599900u, 36000000u})
    EXPECT_EQ(ParseClock(FormatClock(ms)), ms) << ms;
}

TEST(AutoRun, FiresOnTheTickThatReachesTheTiming) {
  TestShow show;
  show.Dc("a.wav", 3000);
  show.Add(1, Timed(Cue(1, "a.wav"), 1500));
  show.settings.autoNext = 0;  // the cue stays next: it must not fire twice
  ConsoleRig rig(show);
  EXPECT_EQ(rig.C().AutoRunTime(1), 1500u);
  rig.At(0, [](CConsole& c) { c.RunTimeline(); });
  rig.RunTo(1400);
  EXPECT_EQ(rig.C().Clock(), 1400u);
  EXPECT_EQ(rig.C().ClockText(), "00:00:01.4");
  EXPECT_TRUE(rig.Events(Kind::kGo).empty());
  rig.RunTo(2500);
  EXPECT_EQ(rig.Times(Kind::kGo), std::vector<uint32_t>{1500});
  EXPECT_EQ(rig.Sample(0, 1499.98), 0.0f);
  EXPECT_EQ(rig.Sample(0, 1500), 0.5f);
}

TEST(AutoRun, TimingZeroFiresAtOnceAndCuesWithinOneTickFireOnConsecutiveTicks) {
  TestShow show;
  show.Dc("a.wav", 3000);
  show.Add(3, Cue(1, "a.wav"));
  show.Add(1, Timed(Cue(2, "a.wav"), 1500));
  show.Add(2, Timed(Cue(3, "a.wav"), 1550));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.RunTimeline(); });
  EXPECT_TRUE(rig.C().TimelineRunning());
  EXPECT_EQ(rig.Sample(0, 0), 0.5f);
  rig.RunTo(2000);
  EXPECT_EQ(rig.Times(Kind::kGo), (std::vector<uint32_t>{0, 1500, 1600}));
  EXPECT_EQ(rig.Times(Kind::kPlay, 2), std::vector<uint32_t>{1600});
}

TEST(AutoRun, OnlyTheCurrentTickWindowCountsWhenStartingLate) {
  TestShow show;
  show.Dc("a.wav", 3000);
  show.Add(1, Timed(Cue(1, "a.wav"), 1000));  // passed
  show.Add(2, Timed(Cue(1, "a.wav"), 1950));  // in the window
  ConsoleRig rig(show);
  // Both on Q1: the first armed fader in the window fires the GO.
  rig.At(0, [](CConsole& c) {
    c.SetClockText("00:00:02.0");
    c.RunTimeline();
  });
  EXPECT_EQ(rig.Times(Kind::kGo), std::vector<uint32_t>{0});

  TestShow late;
  late.Dc("a.wav", 3000);
  late.Add(1, Timed(Cue(1, "a.wav"), 1000));
  late.Add(2, Timed(Cue(1, "a.wav"), 1900));  // belongs to the window before
  ConsoleRig rig2(late);
  rig2.At(0, [](CConsole& c) {
    c.SetClockText("00:00:02.0");
    c.RunTimeline();
  });
  rig2.RunTo(1000);
  EXPECT_EQ(rig2.C().Clock(), 3000u);
  EXPECT_TRUE(rig2.Events(Kind::kGo).empty());
}

TEST(AutoRun, SetToNextTimingConsultsChannelsOnly) {
  TestShow show;
  show.Add(7, Timed(Cue(1, "UP", 5), 3000));
  show.Add(1, Timed(Cue(2, "STOP"), 2500));
  show.Add(2, Timed(Cue(2, "STOP"), 2700));
  show.Add(7, Timed(Cue(2, "UP", 5), 1000));
  show.settings.autoNext = 1;
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.RunTimeline(); });
  rig.At(500, [](CConsole& c) { c.StopTimeline(); });
  EXPECT_FALSE(rig.C().TimelineRunning());
  EXPECT_EQ(rig.C().Clock(), 500u);
  rig.RunTo(800);
  EXPECT_EQ(rig.C().Clock(), 500u);  // stopped keeps its value
  // Only group 1 is armed on Q1.
  rig.C().SetToNextTiming();
  EXPECT_EQ(rig.C().Clock(), 0u);
  EXPECT_EQ(rig.C().ClockText(), "00:00:00.0");
  // Q2: channels at 2500 and 2700, group 1 at 1000 -> the earliest channel's.
  rig.At(800, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.C().NextCue(), 2);
  rig.C().SetToNextTiming();
  EXPECT_EQ(rig.C().Clock(), 2500u);
  EXPECT_EQ(rig.C().ClockText(), "00:00:02.5");
}

TEST(AutoRun, ZeroResetStopAndStopAll) {
  TestShow show;
  show.Dc("a.wav", 3000);
  show.Add(1, Timed(Cue(1, "a.wav"), 5000));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.RunTimeline(); });
  rig.At(550, [](CConsole& c) { c.ZeroReset(); });
  EXPECT_EQ(rig.C().ClockText(), "00:00:00.0");
  EXPECT_EQ(rig.C().Clock(), 0u);
  // The clock counts from the reset, not from the tick before it.
  rig.RunTo(600);
  EXPECT_EQ(rig.C().Clock(), 0u);
  rig.RunTo(650);
  EXPECT_EQ(rig.C().Clock(), 100u);
  EXPECT_EQ(rig.C().ClockText(), "00:00:00.1");
  // Run again reads the edit box: the operator typed a new time.
  rig.At(700, [](CConsole& c) {
    c.SetClockText("00:00:04.5");
    c.RunTimeline();
  });
  rig.RunTo(1200);
  EXPECT_EQ(rig.C().Clock(), 5000u);
  EXPECT_EQ(rig.Times(Kind::kGo), std::vector<uint32_t>{1200});
  rig.At(1300, [](CConsole& c) { c.StopAll(); });
  EXPECT_FALSE(rig.C().TimelineRunning());
  rig.RunTo(2000);
  EXPECT_EQ(rig.C().Clock(), 5100u);
  EXPECT_FALSE(rig.C().Player(1).IsPlaying());
}

// A fade-out that reaches silence in the very instant the next cue starts
// on the same channel: its stop is for the faded sound only.
TEST(AutoRun, FadeOutEndingAsTheNextCueStartsLeavesTheNewCuePlaying) {
  TestShow show;
  show.Dc("a.wav", 5000);
  show.Dc("b.wav", 5000, 8192);
  show.Add(1, Timed(Cue(1, "a.wav"), 0));
  show.Add(1, Timed(Cue(2, "FOUT", 0, 0, 1), 1000));
  show.Add(1, Timed(Cue(3, "b.wav"), 2000));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.RunTimeline(); });
  rig.RunTo(2100);
  EXPECT_EQ(rig.Times(Kind::kGo), (std::vector<uint32_t>{0, 1000, 2000}));
  EXPECT_EQ(rig.Times(Kind::kPlay, 1), (std::vector<uint32_t>{0, 2000}));
  EXPECT_EQ(rig.Times(Kind::kStop, 1), std::vector<uint32_t>{2000});
  EXPECT_EQ(rig.Heard(0, 2500), 0.25f);
  EXPECT_EQ(rig.Heard(0, 4000), 0.25f);
  EXPECT_TRUE(rig.C().Player(1).IsPlaying());
}

// The same show and the same actions give the same samples and events.
// A timer thread held up drops the ticks that fell due meanwhile: the clock
// still reads the time that passed, and the cues the stall passed over fire
// at its end, each in its turn.
TEST(AutoRun, ClockFollowsElapsedTimeAcrossAStalledTimerThread) {
  TestShow show;
  show.Dc("a.wav", 3000);
  show.Add(1, Timed(Cue(1, "a.wav"), 500));
  show.Add(2, Timed(Cue(2, "a.wav"), 600));
  show.Add(3, Timed(Cue(3, "a.wav"), 1000));
  show.settings.autoNext = 1;
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.Execute(cmd::AutoRun{cmd::AutoRunAction::kRun}); });
  rig.RunTo(300);
  rig.session.Timers().Stall(450);
  rig.session.Settle();
  EXPECT_EQ(rig.Now(), 750u);
  EXPECT_EQ(rig.C().Clock(), 750u);
  EXPECT_EQ(rig.C().ClockText(), "00:00:00.7");
  EXPECT_EQ(rig.Times(Kind::kGo), (std::vector<uint32_t>{750, 750}));
  EXPECT_EQ(rig.Times(Kind::kPlay), (std::vector<uint32_t>{750, 750}));
  // The next cue fires when the clock reaches it, not 400 ms later, and the
  // ticks are back on the clock's 100 ms steps.
  while (rig.Now() < 1200) rig.session.Step();
  EXPECT_EQ(rig.Times(Kind::kGo), (std::vector<uint32_t>{750, 750, 1000}));
  EXPECT_EQ(rig.C().Clock(), 1200u);
}

// The same on the real timer service: another timer's callback holds the
// timer thread for 450 ms before the cue is due.
TEST(AutoRun, RealTimerClockFiresOnTimeAfterTheTimerThreadWasHeldUp) {
  struct GoTimes : ConsoleListener {
    std::mutex mutex;
    std::vector<uint32_t> times;
    void OnConsoleEvent(const ConsoleEvent& e) override {
      std::lock_guard lock(mutex);
      if (e.kind == Kind::kGo) times.push_back(e.timeMs);
    }
  } goes;
  CueStore cues;
  Settings settings;
  ASSERT_TRUE(cues.AddRecord(1, Timed(Cue(1, "STOP"), 800)));
  RealTimerService timers;
  ManualUiPoster poster;
  {
    CConsole console(cues, settings, timers, poster);
    console.SetListener(&goes);
    console.RefreshAfterCueChange(true);
    std::atomic<bool> held{false};
    const auto hold = [](TimerService::TimerId, void* user) {
      if (static_cast<std::atomic<bool>*>(user)->exchange(true)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(450));
    };
    const uint32_t start = timers.timeGetTime();
    console.Execute(cmd::AutoRun{cmd::AutoRunAction::kRun});
    const TimerService::TimerId blocker = timers.timeSetEvent(150, 1, hold, &held);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    for (;;) {
      poster.RunPending();
      {
        std::lock_guard lock(goes.mutex);
        if (!goes.times.empty()) break;
      }
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    timers.timeKillEvent(blocker);
    console.Shutdown();
    EXPECT_TRUE(held.load());
    std::lock_guard lock(goes.mutex);
    ASSERT_EQ(goes.times.size(), 1u);
    const uint32_t at = goes.times[0] - start;
    // A clock counting ticks would have lost about four of them.
    EXPECT_GE(at, 795u);
    EXPECT_LE(at, 900u);
  }
  poster.RunPending();
}

TEST(OfflineSessionRepeat, SameActionsGiveIdenticalOutput) {
  auto render = [](TestShow& show) {
    show.Dc("a.wav", 3000, 12000);
    show.Timecode("t.wav", 3000);
    show.Add(1, Cue(1, "a.wav", 8, 1));
    show.Add(1, Cue(2, "FDOWN", 3, 0, 0.7));
    show.Add(2, Delayed(Cue(1, "t.wav", 6), 300));
    show.Add(7, Cue(2, "FOUT", 0, 0, 0.5));
    show.settings.groupCh[2] = 1;
    show.settings.group[1] = 65535;
    show.settings.outputGroup[1] = 1;
    auto rig = std::make_unique<ConsoleRig>(show);
    rig->At(0, [](CConsole& c) { c.ExecuteGo(); });
    rig->At(400, [](CConsole& c) { c.MoveCross(30); });
    rig->At(1000, [](CConsole& c) { c.ExecuteGo(); });
    rig->At(1200, [](CConsole& c) { c.SetPan(1, 3000); });
    rig->At(2500, [](CConsole& c) { c.StopAll(); });
    rig->RunTo(2700);
    return rig;
  };
  TestShow a, b;
  auto first = render(a);
  auto second = render(b);
  for (int n = 0; n < kOutputCount; ++n) {
    ASSERT_EQ(first->session.Out(n).size(), 2700 * kFramesPerMs * 2) << n;
    EXPECT_TRUE(first->session.Out(n) == second->session.Out(n)) << "output " << n;
  }
  EXPECT_GT(first->Heard(0, 500), 0.0f);
  EXPECT_GT(first->Heard(1, 500), 0.0f);
  auto events = [](const ConsoleRig& rig) {
    std::vector<std::tuple<Kind, uint32_t, int, double, double, double>> out;
    for (const ConsoleEvent& e : rig.session.Events())
      out.emplace_back(e.kind, e.timeMs, e.fader, e.q, e.to, e.seconds);
    return out;
  };
  EXPECT_EQ(events(*first), events(*second));
}

}  // namespace
}  // namespace orvex
