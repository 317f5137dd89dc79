// Faders, routing and fades, checked on what the outputs play.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "engine/ConsoleRig.h"
#include "engine/FadeMask.h"
#include "engine/ManualTimerService.h"
#include "engine/RealTimerService.h"

namespace orvex {
namespace {

// The rest of the law is checked with the player.
TEST(FaderLaw, ContinuousForEveryKneeFromSilenceToTheTop) {
  EXPECT_NEAR(FaderGain(1, FaderKnee{0.0, 0.5}), 0.05, 1e-4);
  for (double point = 0; point <= 10; point += 0.5) {
    for (double level : {0.0, 0.5, 5.0, 10.0}) {
      const FaderKnee knee{point, level};
      EXPECT_EQ(FaderGain(0, knee), 0.0) << point << " " << level;
      // The knee at the top leaves only the lower line: full travel gives
      // the knee level there, not unity.
      EXPECT_DOUBLE_EQ(FaderGain(65535, knee), point == 10 ? level / 10 : 1.0);
      EXPECT_NEAR(FaderGain(65535, knee), FaderGain(65534, knee), 1e-3) << point << " " << level;
    }
  }
}

TEST(ConsoleLevels, KneeAtTheTopOfTheTravelIsHeardAsTheLawGivesIt) {
  TestShow show;
  show.Dc("a.wav", 1000);
  show.Add(1, Cue(1, "a.wav", 10));
  show.settings.slowPoint = 10;
  show.settings.substVol = 0.5;
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_NEAR(rig.Heard(0, 0), 0.025, 1e-6);
  rig.At(100, [](CConsole& c) { c.MoveFader(1, 1); });
  EXPECT_NEAR(rig.Heard(0, 100), 0.025 * 0.99, 1e-5);
}

TEST(ConsoleLevels, ChannelFaderFollowsTheLawOnTheMasterOutput) {
  TestShow show;
  show.Dc("a.wav", 2000);
  show.Add(1, Cue(1, "a.wav", 10));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Sample(0, 0), 0.5f);  // full level from the first sample
  EXPECT_EQ(rig.Heard(0, 0, 1), 0.5f);
  rig.At(100, [](CConsole& c) { c.SetFaderLevel(1, 5, true); });
  EXPECT_NEAR(rig.Heard(0, 100), 0.5 * 0.4722, 1e-4);
  rig.At(300, [](CConsole& c) { c.SetFaderLevel(1, 0.5, true); });  // the lower line
  EXPECT_NEAR(rig.Heard(0, 300), 0.5 * 0.025, 1e-4);
  rig.At(400, [](CConsole& c) { c.SetFaderLevel(1, 0, true); });
  EXPECT_EQ(rig.Heard(0, 400), 0.0f);
  // A knee moved to 2.0 at level 1.0 puts gain 0.1 at fader level 2.
  rig.At(500, [](CConsole& c) {
    c.SetFaderLevel(1, 2, true);
    c.SetKnee(2.0, 1.0);
  });
  EXPECT_NEAR(rig.Heard(0, 500), 0.05, 1e-4);
  EXPECT_EQ(show.settings.slowPoint, 2.0);
  EXPECT_EQ(show.settings.substVol, 1.0);
  // Hand moves: trackbar 0 is the top.
  rig.At(600, [](CConsole& c) { c.MoveFader(1, 0); });
  EXPECT_EQ(rig.C().FaderValue(1), 65535u);
  EXPECT_EQ(rig.C().LevelText(1), "10.0");
  EXPECT_EQ(rig.Heard(0, 600), 0.5f);
  // Nothing leaks to the group outputs of a channel in no group.
  EXPECT_EQ(rig.Heard(1, 600), 0.0f);
  EXPECT_EQ(rig.Heard(2, 600), 0.0f);
}

TEST(ConsoleLevels, MasterAndGroupSumOnOutputZeroOnlyItClipsAndEachOutputSwitchesOff) {
  TestShow show;
  show.Dc("a.wav", 2000);
  show.Add(1, Cue(1, "a.wav", 4));
  show.settings.groupCh[1] = 1;  // G1
  show.settings.masterGroup[1] = 1;
  show.settings.outputGroup[1] = 1;
  show.settings.group[1] = 65535;
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  // Directly and through G1: 2c on the master, c on the group output.
  EXPECT_NEAR(rig.Heard(0, 0), Law(2 * LevelGain(4)), kTol);
  EXPECT_NEAR(rig.Heard(1, 0), Law(LevelGain(4)), kTol);
  EXPECT_EQ(rig.Heard(2, 0), 0.0f);

  rig.At(100, [](CConsole& c) { c.SetFaderLevel(1, 10, true); });
  EXPECT_EQ(rig.Heard(0, 100), 0.5f);  // 2.0 clipped to full scale
  EXPECT_EQ(rig.Heard(1, 100), 0.5f);
  // The clip comes after the master fader: 2 x half is still full.
  rig.At(200, [](CConsole& c) { c.MoveMaster(50); });
  EXPECT_EQ(show.settings.master, 32767);
  EXPECT_NEAR(rig.Heard(0, 200), Law(2 * 32767 / 65535.0), kTol);
  EXPECT_GT(rig.Heard(0, 200), 0.49f);
  EXPECT_EQ(rig.Heard(1, 200), 0.5f);  // the group output ignores the master fader
  // Without the group's way into the master, half of the master is left.
  rig.At(300, [](CConsole& c) { c.SetGroupRoute(1, Route::kM, false); });
  EXPECT_NEAR(rig.Heard(0, 300), Law(32767 / 65535.0), kTol);
  EXPECT_EQ(rig.Heard(1, 300), 0.5f);
  // The group fader scales the group output and nothing else now.
  rig.At(400, [](CConsole& c) { c.SetFaderLevel(7, 5, true); });
  EXPECT_NEAR(rig.Heard(1, 400), Law(LevelGain(5)), kTol);
  EXPECT_NEAR(rig.Heard(0, 400), Law(32767 / 65535.0), kTol);
  // Master output off: silent, the group output still playing.
  rig.At(500, [](CConsole& c) { c.SetMasterOn(false); });
  EXPECT_FALSE(rig.C().MasterOn());
  EXPECT_EQ(show.settings.outputMaster, 0);
  EXPECT_EQ(rig.Heard(0, 500), 0.0f);
  EXPECT_NEAR(rig.Heard(1, 500), Law(LevelGain(5)), kTol);
  rig.At(600, [](CConsole& c) { c.SetMasterOn(true); });
  EXPECT_NEAR(rig.Heard(0, 600), Law(32767 / 65535.0), kTol);
  // Group output off: silent, the master path unchanged.
  rig.At(700, [](CConsole& c) { c.SetGroupRoute(1, Route::kOn, false); });
  EXPECT_EQ(rig.Heard(1, 700), 0.0f);
  EXPECT_NEAR(rig.Heard(0, 700), Law(32767 / 65535.0), kTol);
}

TEST(ConsoleLevels, CrossFaderEndsAndMiddle) {
  TestShow show;
  show.Dc("x.wav", 2000, 8192);  // 0.25
  show.Dc("y.wav", 2000, 4096);  // 0.125
  show.Dc("n.wav", 2000, 2048);  // 0.0625
  show.Dc("g.wav", 2000);
  show.Add(1, Cue(1, "x.wav"));
  show.Add(2, Cue(1, "y.wav"));
  show.Add(3, Cue(1, "n.wav"));
  show.Add(4, Cue(1, "g.wav"));
  show.settings.crossCh[1] = 1;  // X
  show.settings.crossCh[2] = 2;  // Y
  show.settings.masterCh[4] = 0;
  show.settings.groupCh[4] = 1;
  show.settings.masterGroup[1] = 0;
  show.settings.outputGroup[1] = 1;
  show.settings.crossGroup[1] = 1;  // G1 on X
  show.settings.group[1] = 65535;
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  // Left end (as set up): X full, Y silent, no assignment unaffected.
  EXPECT_FLOAT_EQ(rig.Heard(0, 0), 0.25f + 0.0625f);
  EXPECT_EQ(rig.Heard(1, 0), 0.5f);
  rig.At(100, [](CConsole& c) { c.MoveCross(100); });  // right end
  EXPECT_FLOAT_EQ(rig.Heard(0, 100), 0.125f + 0.0625f);
  EXPECT_EQ(rig.Heard(1, 100), 0.0f);
  rig.At(200, [](CConsole& c) { c.MoveCross(50); });
  const double xf = 32767 / 65535.0;
  EXPECT_NEAR(rig.Heard(0, 200), Law(xf, 0.25f) + Law(1 - xf, 0.125f) + 0.0625f, kTol);
  EXPECT_NEAR(rig.Heard(1, 200), Law(xf), kTol);
  // Switching a channel from X to Y follows the cross-fader's other side.
  rig.At(300, [](CConsole& c) {
    c.MoveCross(0);
    c.SetChannelRoute(1, Route::kY, true);
  });
  EXPECT_FLOAT_EQ(rig.Heard(0, 300), 0.0625f);
  EXPECT_EQ(show.settings.crossCh[1], 2);
}

TEST(ConsoleLevels, PanSplitsStereoFilesOnly) {
  TestShow show;
  show.Dc("st.wav", 2000);
  show.Dc("mono.wav", 2000, 16384, 1);
  show.Add(1, Cue(1, "st.wav"));
  show.Add(2, Cue(2, "mono.wav"));
  show.settings.panCh[1] = 5000;  // right
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_FLOAT_EQ(rig.Heard(0, 0, 0), 0.25f);
  EXPECT_EQ(rig.Heard(0, 0, 1), 0.5f);
  rig.At(100, [](CConsole& c) { c.SetPan(1, -2500); });
  EXPECT_EQ(rig.Heard(0, 100, 0), 0.5f);
  EXPECT_FLOAT_EQ(rig.Heard(0, 100, 1), 0.375f);
  // A mono file feeds both sides at the channel's gain whatever the pan.
  rig.At(200, [](CConsole& c) {
    c.StopChannel(1);
    c.SetPan(2, 8000);
    c.ExecuteGo();
  });
  EXPECT_EQ(rig.Heard(0, 200, 0), 0.5f);
  EXPECT_EQ(rig.Heard(0, 200, 1), 0.5f);
}

TEST(ConsoleLevels, RoutingFromACueReplacesTheStripsToggles) {
  TestShow show;
  show.Dc("a.wav", 3000);
  show.Add(1, Routed(Cue(1, "a.wav"), OUT_G2 | OUT_X));
  show.Add(1, Routed(Cue(2, "UP", 10), 0));  // no destination at all
  show.settings.outputGroup[2] = 1;
  show.settings.masterGroup[2] = 0;
  show.settings.group[2] = 65535;
  show.settings.autoNext = 0;
  ConsoleRig rig(show);
  // The first record's routing holds as soon as the show is loaded: G2 and
  // X instead of M.
  const Settings& s = show.settings;
  EXPECT_EQ(std::tuple(s.masterCh[1], s.groupCh[1], s.crossCh[1]), std::tuple(0, 2, 1));
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Heard(0, 0), 0.0f);
  EXPECT_EQ(rig.Heard(2, 0), 0.5f);
  // The next record routes nowhere: the channel falls silent as soon as it
  // becomes current, though it keeps playing.
  rig.At(500, [](CConsole& c) { c.NextChannel(1); });
  EXPECT_EQ(rig.C().CurrentRecord(1), 2);
  EXPECT_EQ(rig.Heard(2, 490), 0.5f);
  EXPECT_EQ(rig.Heard(2, 500), 0.0f);
  EXPECT_EQ(rig.Heard(0, 500), 0.0f);
  EXPECT_TRUE(rig.C().Player(1).IsPlaying());
  EXPECT_EQ(show.settings.groupCh[1], 0);
}

// Only a show just loaded takes its first cues' routing: a refresh after an
// edit keeps what the operator set on the strips.
TEST(ConsoleLevels, RefreshAfterAnEditKeepsTogglesSetByHand) {
  TestShow show;
  show.Dc("a.wav", 3000);
  show.Add(1, Routed(Cue(1, "a.wav"), OUT_G2));
  show.settings.outputGroup[2] = 1;
  show.settings.group[2] = 65535;
  show.settings.autoNext = 0;
  ConsoleRig rig(show);
  EXPECT_FALSE(rig.C().ChannelRoute(1).m);
  rig.At(0, [](CConsole& c) {
    c.ExecuteGo();
    c.SetChannelRoute(1, Route::kM, true);
  });
  EXPECT_EQ(rig.Heard(0, 0), 0.5f);
  rig.At(500, [](CConsole& c) { c.RefreshAfterCueChange(false); });
  EXPECT_TRUE(rig.C().ChannelRoute(1).m);
  EXPECT_EQ(rig.Heard(0, 500), 0.5f);
  EXPECT_EQ(rig.Heard(2, 500), 0.5f);
  EXPECT_EQ(show.settings.masterCh[1], 1);
}

TEST(ConsoleLevels, GroupCuesUpFadeUpAndFadeOut) {
  TestShow show;
  show.Dc("a.wav", 6000);
  show.Add(1, Cue(1, "a.wav"));
  show.Add(2, Cue(1, "a.wav"));
  show.Add(7, Cue(1, "UP", 8));
  show.Add(7, Cue(2, "FUP", 10, 1));
  show.Add(7, Cue(3, "FOUT", 0, 0, 1));
  show.Add(8, Cue(1, "UP", 5));
  show.Add(8, Routed(Cue(3, "DOWN", 2), OUT_ON));
  show.Add(8, Cue(4, "FDOWN", 1, 0, 1));
  show.settings.masterCh = {0, 0, 0, 0, 0, 0, 0};
  show.settings.masterGroup = {0, 0, 0};
  show.settings.groupCh[1] = 1;
  show.settings.groupCh[2] = 2;
  show.settings.outputGroup = {0, 1, 0};  // G2's ON comes from its Q3
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_NEAR(rig.Heard(1, 0), AtLevel(8), kTol);
  EXPECT_EQ(rig.Heard(2, 0), 0.0f);
  EXPECT_EQ(rig.C().FaderValue(8), static_cast<uint32_t>(0.5 * 65535));
  EXPECT_EQ(rig.C().NextCue(), 2);

  rig.At(1000, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_TRUE(rig.C().FadeInActive(7));
  EXPECT_NEAR(rig.Heard(1, 1500), AtLevel(9), kTol);
  EXPECT_EQ(rig.Heard(1, 2000), 0.5f);
  EXPECT_FALSE(rig.C().FadeInActive(7));
  EXPECT_EQ(show.settings.group[1], 65535);

  rig.At(3000, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_TRUE(rig.C().GroupRoute(2).on);
  EXPECT_EQ(show.settings.outputGroup[2], 1);
  EXPECT_NEAR(rig.Heard(2, 3000), AtLevel(2), kTol);
  EXPECT_NEAR(rig.Heard(1, 3500), AtLevel(5), kTol);
  EXPECT_EQ(rig.Heard(1, 4000), 0.0f);
  EXPECT_EQ(rig.C().FaderValue(7), 0u);
  EXPECT_EQ(rig.C().TrackbarPos(7), 100);
  EXPECT_EQ(show.settings.group[1], 0);
  EXPECT_EQ(show.settings.group[2], static_cast<int32_t>(0.2 * 65535));
  // A group fading out stops no channel.
  EXPECT_TRUE(rig.C().Player(1).IsPlaying());
  EXPECT_TRUE(rig.Events(ConsoleEvent::Kind::kStop).empty());

  rig.At(4100, [](CConsole& c) { c.ExecuteGo(); });  // G2 down to its preset
  EXPECT_NEAR(rig.Heard(2, 4600), AtLevel(1.5), kTol);
  EXPECT_NEAR(rig.Heard(2, 5600), AtLevel(1), kTol);
}

TEST(ConsoleFades, FadeDownKeepsPlayingAtItsPresetAndFadeOutThenStopsTheChannel) {
  TestShow show;
  show.Dc("a.wav", 6000);
  show.Add(1, Cue(1, "a.wav"));
  show.Add(1, Cue(2, "FDOWN", 4, 0, 1));
  show.Add(1, Cue(3, "FOUT", 0, 0, 2));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  rig.At(500, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Heard(0, 490), 0.5f);
  EXPECT_NEAR(rig.Heard(0, 1000), AtLevel(7), kTol);
  EXPECT_NEAR(rig.Heard(0, 1500), AtLevel(4), kTol);
  EXPECT_NEAR(rig.Heard(0, 2500), AtLevel(4), kTol);
  EXPECT_FALSE(rig.C().AnyFadeRunning());
  EXPECT_TRUE(rig.C().Player(1).IsPlaying());

  rig.At(3000, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_TRUE(rig.C().Buttons(1).fadeOut);
  EXPECT_NEAR(rig.Heard(0, 3500), AtLevel(3), kTol);
  EXPECT_NEAR(rig.Heard(0, 4000), AtLevel(2), kTol);
  EXPECT_NEAR(rig.Heard(0, 4990), AtLevel(0.02), kTol);
  EXPECT_EQ(rig.Heard(0, 5000), 0.0f);
  EXPECT_EQ(rig.Times(ConsoleEvent::Kind::kStop, 1), std::vector<uint32_t>{5000});
  EXPECT_FALSE(rig.C().Player(1).IsPlaying());
  EXPECT_FALSE(rig.C().Buttons(1).fadeOut);
  EXPECT_EQ(rig.C().TrackbarPos(1), 100);
  EXPECT_EQ(rig.C().FaderValue(1), 0u);
  EXPECT_FALSE(rig.C().AnyFadeRunning());
}

// Presets beyond 0..10 are fade targets on the scale: the fade takes its
// stated time, ends with one fade end, and a fade down below 0 is a fade out.
TEST(ConsoleFades, TargetsOutsideTheScaleAreClampedAndTheFadeEnds) {
  TestShow show;
  show.Dc("a.wav", 6000);
  show.Add(1, Cue(1, "a.wav", 12, 1));
  show.Add(1, Cue(2, "FDOWN", -2, 0, 1));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_NEAR(rig.Heard(0, 500), AtLevel(5), kTol);
  EXPECT_EQ(rig.Heard(0, 1000), 0.5f);
  EXPECT_EQ(rig.Times(ConsoleEvent::Kind::kFadeEnd, 1), std::vector<uint32_t>{1000});
  rig.At(2000, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_NEAR(rig.Heard(0, 2500), AtLevel(5), kTol);
  EXPECT_TRUE(rig.C().Player(1).IsPlaying());
  rig.RunTo(3100);
  EXPECT_EQ(rig.Times(ConsoleEvent::Kind::kFadeEnd, 1), (std::vector<uint32_t>{1000, 3000}));
  EXPECT_EQ(rig.Times(ConsoleEvent::Kind::kStop, 1), std::vector<uint32_t>{3000});
  EXPECT_FALSE(rig.C().AnyFadeRunning());
}

// With reading blocked during fades, a paused fade must not hold up the
// other players, and Play takes the frozen fade on from where it stopped.
TEST(ConsoleFades, PauseDuringABlockingFadeReleasesReadingAndPlayContinuesIt) {
  TestShow show;
  show.Dc("a.wav", 20000);
  show.Dc("b.wav", 20000, 8192);
  show.Add(1, Cue(1, "a.wav", 10, 0, 4));
  show.Add(2, Cue(1, "b.wav"));
  show.settings.block = 1;
  show.settings.autoNext = 0;
  show.settings.prepBufSize[2] = 1;  // CH2 needs a refill every second
  show.settings.bufSize[2] = 1;
  show.settings.masterCh[2] = 0;  // CH2 alone on Group1
  show.settings.groupCh[2] = 1;
  show.settings.outputGroup[1] = 1;
  show.settings.masterGroup[1] = 0;
  show.settings.group[1] = 65535;
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  rig.At(1000, [](CConsole& c) { c.FadeOutChannel(1); });
  rig.At(2000, [](CConsole& c) { c.PauseChannel(1); });
  EXPECT_TRUE(rig.C().FadeOutActive(1));  // frozen, not ended
  EXPECT_EQ(g_fadeMask.load(), 0);
  // CH2 keeps its store filled through the pause.
  EXPECT_EQ(rig.Heard(1, 6000), 0.25f);
  EXPECT_EQ(rig.Heard(1, 8990), 0.25f);
  rig.At(9000, [](CConsole& c) { c.PlayChannel(1); });
  EXPECT_NEAR(rig.Heard(0, 9000), AtLevel(7.5), kTol);
  EXPECT_NEAR(rig.Heard(0, 10000), AtLevel(5), kTol);
  rig.RunTo(12100);
  EXPECT_EQ(rig.Times(ConsoleEvent::Kind::kStop, 1), std::vector<uint32_t>{12000});
  EXPECT_FALSE(rig.C().AnyFadeRunning());
  EXPECT_EQ(g_fadeMask.load(), 0);
}

TEST(ConsoleFades, FadeInCueStartsSilentAndRisesToItsPreset) {
  TestShow show;
  show.Dc("a.wav", 4000);
  show.Add(1, Cue(1, "a.wav", 8, 2));
  show.Add(1, Cue(2, "FUP", 2, 1));   // below the level: no fade
  show.Add(1, Cue(3, "FUP", 10, 0));  // no fade time: no fade
  show.Add(1, Cue(4, "FUP", 10, 1));
  ConsoleRig rig(show);
  EXPECT_EQ(rig.C().FaderValue(1), 0u);  // preset to silence
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_NEAR(rig.Heard(0, 1000), AtLevel(4), kTol);
  EXPECT_NEAR(rig.Heard(0, 2000), AtLevel(8), kTol);
  EXPECT_FALSE(rig.C().FadeInActive(1));
  rig.At(2500, [](CConsole& c) { c.ExecuteGo(); });
  rig.At(2600, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_FALSE(rig.C().AnyFadeRunning());
  EXPECT_NEAR(rig.Heard(0, 2700), AtLevel(8), kTol);
  rig.At(2800, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_NEAR(rig.Heard(0, 3300), AtLevel(9), kTol);
  EXPECT_EQ(rig.Heard(0, 3800), 0.5f);
  // Every GO found the channel playing: none of these cues restarted it.
  EXPECT_EQ(rig.Events(ConsoleEvent::Kind::kPlay, 1).size(), 1u);
}

TEST(ConsoleFades, HandMoveDuringAFadeEndsItAndReleasesFadeOut) {
  TestShow show;
  show.Dc("a.wav", 4000);
  show.Add(1, Cue(1, "a.wav", 10, 0, 2));
  show.settings.autoNext = 0;  // the fade time is the current record's
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  rig.At(100, [](CConsole& c) { c.FadeOutChannel(1); });
  EXPECT_TRUE(rig.C().Buttons(1).fadeOut);
  EXPECT_TRUE(rig.C().FadeOutActive(1));
  rig.At(600, [](CConsole& c) { c.MoveFader(1, 30); });
  EXPECT_FALSE(rig.C().FadeOutActive(1));
  EXPECT_FALSE(rig.C().Buttons(1).fadeOut);
  EXPECT_EQ(rig.C().FaderValue(1), static_cast<uint32_t>(0.7 * 65535));
  EXPECT_NEAR(rig.Heard(0, 600), AtLevel(7), kTol);
  EXPECT_NEAR(rig.Heard(0, 3000), AtLevel(7), kTol);
  EXPECT_TRUE(rig.C().Player(1).IsPlaying());
  EXPECT_EQ(rig.Events(ConsoleEvent::Kind::kFadeEnd, 1).size(), 1u);
}

TEST(ConsoleFades, FadeOutOnAStoppedChannelDoesNothing) {
  TestShow show;
  show.Dc("a.wav", 1000);
  show.Add(1, Cue(1, "a.wav", 10, 0, 2));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.FadeOutChannel(1); });
  EXPECT_FALSE(rig.C().Buttons(1).fadeOut);
  EXPECT_FALSE(rig.C().AnyFadeRunning());
  EXPECT_EQ(rig.C().FaderValue(1), 65535u);
  EXPECT_TRUE(rig.Events(ConsoleEvent::Kind::kFade).empty());
  // Paused counts as not playing for the toggle too.
  rig.At(100, [](CConsole& c) {
    c.PlayChannel(1);
    c.PauseChannel(1);
    c.FadeOutChannel(1);
  });
  EXPECT_FALSE(rig.C().Buttons(1).fadeOut);
  EXPECT_FALSE(rig.C().AnyFadeRunning());
}

TEST(ConsoleFades, StopAllDuringAGroupFadeLeavesTheGroupFader) {
  TestShow show;
  show.Dc("a.wav", 4000);
  show.Add(1, Cue(1, "a.wav"));
  show.Add(7, Cue(1, "FOUT", 0, 0, 2));
  show.settings.group[1] = 65535;
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_TRUE(rig.C().FadeOutActive(7));
  rig.At(1000, [](CConsole& c) { c.StopAll(); });
  const uint32_t left = rig.C().FaderValue(7);
  EXPECT_NEAR(left, 0.5 * 65535, 2);
  rig.RunTo(3000);
  EXPECT_EQ(rig.C().FaderValue(7), left);
  EXPECT_FALSE(rig.C().AnyFadeRunning());
  EXPECT_EQ(show.settings.group[1], static_cast<int32_t>(left));
  EXPECT_FALSE(rig.C().Player(1).IsPlaying());
  EXPECT_EQ(rig.Heard(0, 1000), 0.0f);
}

TEST(ConsoleSettings, HandlersMirrorTheirValuesIntoTheSettings) {
  TestShow show;
  ConsoleRig rig(show);
  CConsole& c = rig.C();
  c.MoveMaster(20);
  EXPECT_EQ(show.settings.master, static_cast<int32_t>(0.8 * 65535));
  c.MoveFader(8, 25);
  EXPECT_EQ(show.settings.group[2], static_cast<int32_t>(0.75 * 65535));
  c.SetFaderLevel(7, 3, false);
  EXPECT_EQ(show.settings.group[1], static_cast<int32_t>(0.3 * 65535));
  c.SetChannelRoute(2, Route::kM, false);
  c.SetChannelRoute(2, Route::kG2, true);
  c.SetChannelRoute(2, Route::kG1, true);
  c.SetChannelRoute(2, Route::kX, true);
  const Settings& s = show.settings;
  EXPECT_EQ(std::tuple(s.masterCh[2], s.groupCh[2], s.crossCh[2]), std::tuple(0, 3, 1));
  c.SetChannelRoute(2, Route::kG1, false);
  c.SetChannelRoute(2, Route::kX, false);
  EXPECT_EQ(std::tuple(s.groupCh[2], s.crossCh[2]), std::tuple(2, 0));
  c.SetGroupRoute(2, Route::kM, false);
  c.SetGroupRoute(2, Route::kOn, true);
  c.SetGroupRoute(2, Route::kY, true);
  EXPECT_EQ(std::tuple(s.masterGroup[2], s.outputGroup[2], s.crossGroup[2]), std::tuple(0, 1, 2));
  c.SetPan(4, 12000);  // beyond the right end
  EXPECT_EQ(show.settings.panCh[4], 10000);
  c.SetMasterOn(false);
  EXPECT_EQ(show.settings.outputMaster, 0);
  // Channel faders are not kept.
  Settings before = show.settings;
  c.MoveFader(3, 10);
  EXPECT_EQ(show.settings, before);
}

// Fades stepped by a real timer thread while the UI thread keeps moving
// the console: the shared level state must stay race free, and the stop at
// the end of a fade-out must reach the UI thread.
TEST(ConsoleThreads, FadesOnTheTimerThreadWhileTheUiMovesTheConsole) {
  struct StopCounter : ConsoleListener {  // events come from both threads
    void OnConsoleEvent(const ConsoleEvent& e) override {
      if (e.kind == ConsoleEvent::Kind::kStop && e.fader == 1) ++stops;
    }
    std::atomic<int> stops{0};
  } recorder;
  CueStore cues;
  cues.AddRecord(1, Cue(1, "FOUT", 0, 0, 0.3));
  cues.AddRecord(7, Cue(1, "FOUT", 0, 0, 0.3));
  cues.AddRecord(8, Cue(1, "FUP", 10, 0.3));
  Settings settings;
  settings.group = {0, 65535, 0};
  settings.autoNext = 0;  // keeps the presets of the next records out of the way
  RealTimerService timers;
  ManualUiPoster poster;
  {
    CConsole console(cues, settings, timers, poster);
    console.SetListener(&recorder);
    console.LoadFromSettings();
    console.RefreshAfterCueChange(true);
    console.SetFaderLevel(1, 10, false);
    console.StartFadeOut(1, true);
    console.ExecuteGo();  // G1 fades out, G2 fades in
    EXPECT_TRUE(console.AnyFadeRunning());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int i = 0;
    while ((console.AnyFadeRunning() || recorder.stops == 0) &&
           std::chrono::steady_clock::now() < deadline) {
      console.MoveMaster(i % 100);
      console.MoveCross((i * 7) % 100);
      console.SetPan(2, (i % 20) * 500 - 5000);
      console.SetChannelRoute(3, Route::kG1, i % 2 == 0);
      poster.RunPending();
      ++i;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    poster.RunPending();
    EXPECT_FALSE(console.AnyFadeRunning());
    EXPECT_EQ(console.FaderValue(1), 0u);
    EXPECT_EQ(console.FaderValue(7), 0u);
    EXPECT_EQ(console.FaderValue(8), 65535u);
    EXPECT_EQ(settings.group[1], 0);
    EXPECT_EQ(settings.group[2], 65535);
    EXPECT_EQ(recorder.stops, 1);
  }
  poster.RunPending();  // work posted to a console that is gone does nothing
}

}  // namespace
}  // namespace orvex
