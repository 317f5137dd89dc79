// Cue pointers, GO, the command words and the channel strips.
#include <gtest/gtest.h>

#include "engine/ConsoleRig.h"

namespace orvex {
namespace {

using Kind = ConsoleEvent::Kind;

TEST(ConsoleGo, DelayedChannelStartsLaterAndTheOtherIsNotRestarted) {
  TestShow show;
  show.Dc("a.wav", 4000, 8192);  // 0.25
  show.Dc("b.wav", 4000, 4096);  // 0.125
  show.Add(1, Cue(1, "a.wav"));
  show.Add(2, Delayed(Cue(1, "b.wav"), 2000));
  show.Add(2, Cue(2, "b.wav"));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Sample(0, 0), 0.25f);
  EXPECT_EQ(rig.C().GoRunsInProgress(), 1);
  rig.RunTo(1000);
  EXPECT_EQ(rig.C().NextCue(), 1);  // positions move once every fader has fired
  EXPECT_EQ(rig.Sample(0, 1999.98), 0.25f);
  EXPECT_EQ(rig.Sample(0, 2000), 0.375f);
  EXPECT_EQ(rig.Times(Kind::kFire, 2), std::vector<uint32_t>{2000});
  EXPECT_EQ(rig.Times(Kind::kPlay, 1), std::vector<uint32_t>{0});
  EXPECT_TRUE(rig.Events(Kind::kStop).empty());
  EXPECT_EQ(rig.C().GoRunsInProgress(), 0);
  EXPECT_EQ(rig.C().NextCue(), 2);
  EXPECT_EQ(rig.C().CurrentCueText(), "1");
}

TEST(ConsoleGo, DelaysFireWhenTheyRunOutNotOnTheNextPass) {
  TestShow show;
  show.Dc("a.wav", 1000);
  show.Add(1, Delayed(Cue(1, "a.wav"), 15));
  show.Add(2, Delayed(Cue(1, "a.wav"), 1));
  show.Add(3, Delayed(Cue(1, "a.wav"), 23));
  show.Add(4, Cue(1, "a.wav"));
  ConsoleRig rig(show);
  rig.At(100, [](CConsole& c) { c.ExecuteGo(); });
  // The console's own pace: every millisecond, as a responsive UI gives it.
  while (rig.Now() < 200) rig.session.Step(1);
  EXPECT_EQ(rig.Times(Kind::kFire, 4), std::vector<uint32_t>{100});
  EXPECT_EQ(rig.Times(Kind::kFire, 2), std::vector<uint32_t>{101});
  EXPECT_EQ(rig.Times(Kind::kFire, 1), std::vector<uint32_t>{115});
  EXPECT_EQ(rig.Times(Kind::kFire, 3), std::vector<uint32_t>{123});
  EXPECT_EQ(rig.C().GoRunsInProgress(), 0);
}

// STOP ALL is the end of everything running, delays waiting to fire included.
TEST(ConsoleGo, StopAllEndsPendingDelaysAndKeepsTheCueNext) {
  TestShow show;
  show.Dc("a.wav", 6000);
  show.Add(1, Cue(1, "a.wav"));
  show.Add(2, Delayed(Cue(1, "a.wav"), 3000));
  show.Add(1, Cue(2, "a.wav"));
  show.Add(2, Cue(2, "a.wav"));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  rig.At(1000, [](CConsole& c) { c.StopAll(); });
  EXPECT_EQ(rig.C().GoRunsInProgress(), 0);
  rig.RunTo(4000);
  EXPECT_TRUE(rig.Events(Kind::kFire, 2).empty());
  EXPECT_FALSE(rig.C().Player(2).IsPlaying());
  EXPECT_EQ(rig.Heard(0, 3500), 0.0f);
  EXPECT_EQ(rig.Records(), "11000000");
  EXPECT_EQ(rig.C().NextCue(), 1);
  rig.At(4000, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Times(Kind::kPlay, 1), (std::vector<uint32_t>{0, 4000}));
}

TEST(ConsoleGo, SmallestQNumberArmsEveryFaderCarryingItUntilNoneIsLeft) {
  TestShow show;
  show.Dc("a.wav", 3000);
  show.Add(1, Cue(5, "a.wav"));
  show.Add(2, Cue(4, "a.wav"));
  show.Add(3, Cue(5, "a.wav"));
  ConsoleRig rig(show);
  EXPECT_EQ(rig.C().NextCue(), 4);
  EXPECT_EQ(rig.C().NextCueText(), "4");
  EXPECT_EQ(rig.Armed(), "2");
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.C().CurrentCueText(), "4");
  EXPECT_EQ(rig.C().NextCue(), 5);
  EXPECT_EQ(rig.Armed(), "13");
  rig.At(500, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Times(Kind::kPlay, 1), std::vector<uint32_t>{500});
  EXPECT_EQ(rig.Times(Kind::kPlay, 3), std::vector<uint32_t>{500});
  EXPECT_EQ(rig.C().NextCue(), 0);
  EXPECT_EQ(rig.C().NextCueText(), "0");
  // With nothing left, GO fires nothing.
  rig.At(1000, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Events(Kind::kFire).size(), 3u);
  EXPECT_EQ(rig.C().CurrentCueText(), "0");
  EXPECT_EQ(rig.C().GoRunsInProgress(), 0);
}

// A number typed into "次のＱ" is where a call-up would go; GO still fires
// the armed cue, and the current cue names that one, not the typed text.
TEST(ConsoleGo, CurrentCueIsTheCueThatFiredNotTheTypedNumber) {
  TestShow show;
  show.Dc("a.wav", 3000);
  show.Add(1, Cue(1, "a.wav"));
  show.Add(2, Cue(5, "a.wav"));
  ConsoleRig rig(show);
  rig.C().Execute(cmd::NextCueText{"5"});
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Times(Kind::kFire, 1), std::vector<uint32_t>{0});
  EXPECT_TRUE(rig.Events(Kind::kFire, 2).empty());
  EXPECT_EQ(rig.C().CurrentCueText(), "1");
  ASSERT_EQ(rig.Events(Kind::kGo).size(), 1u);
  EXPECT_EQ(rig.Events(Kind::kGo)[0].q, 1);
  EXPECT_EQ(rig.C().NextCueText(), "5");
}

TEST(ConsoleGo, PauseContinueAndStopCues) {
  TestShow show;
  show.Timecode("t.wav", 5000);
  show.Add(1, Cue(1, "t.wav"));
  show.Add(1, Cue(2, "PAUSE"));
  show.Add(1, Cue(3, "CONT"));
  show.Add(1, Cue(4, "STOP"));
  show.Add(2, Cue(3, "CONT"));  // on a stopped channel
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.PlayingMs(500), 500);
  rig.At(1000, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_TRUE(rig.C().Player(1).IsPaused());
  EXPECT_TRUE(rig.C().Buttons(1).pause);
  EXPECT_EQ(rig.PlayingMs(999.98), 999);
  EXPECT_EQ(rig.Sample(0, 1000), 0.0f);
  EXPECT_EQ(rig.Sample(0, 1990), 0.0f);
  rig.At(2000, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_FALSE(rig.C().Player(1).IsPaused());
  // Continues from where it paused.
  EXPECT_EQ(rig.PlayingMs(2000), 1000);
  EXPECT_EQ(rig.PlayingMs(2500), 1500);
  EXPECT_EQ(rig.Events(Kind::kResume, 1).size(), 1u);
  EXPECT_EQ(rig.Events(Kind::kPlay, 1).size(), 1u);
  EXPECT_FALSE(rig.C().Player(2).IsPlaying());
  EXPECT_TRUE(rig.Events(Kind::kPlay, 2).empty());
  EXPECT_TRUE(rig.Events(Kind::kResume, 2).empty());
  rig.At(3000, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Times(Kind::kStop, 1), std::vector<uint32_t>{3000});
  EXPECT_EQ(rig.Sample(0, 3000), 0.0f);
  EXPECT_FALSE(rig.C().Player(1).IsPlaying());
}

TEST(ConsoleGo, AutoNextOffFiresTheSameCueAgain) {
  TestShow show;
  show.Timecode("t.wav", 3000);
  show.Add(1, Cue(1, "t.wav"));
  show.Add(1, Cue(2, "t.wav"));
  show.settings.autoNext = 0;
  ConsoleRig rig(show);
  EXPECT_FALSE(rig.C().AutoNext());
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.C().NextCue(), 1);
  EXPECT_EQ(rig.C().CurrentRecord(1), 1);
  rig.At(500, [](CConsole& c) { c.ExecuteGo(); });
  // The playing channel is stopped and its cue started from the top.
  EXPECT_EQ(rig.PlayingMs(490), 490);
  EXPECT_EQ(rig.PlayingMs(700), 200);
  EXPECT_EQ(rig.Times(Kind::kPlay, 1), (std::vector<uint32_t>{0, 500}));
  const auto fires = rig.Events(Kind::kFire, 1);
  ASSERT_EQ(fires.size(), 2u);
  EXPECT_EQ(fires[0].q, 1);
  EXPECT_EQ(fires[1].q, 1);
  // Switched on, the next GO moves on afterwards.
  rig.At(800, [](CConsole& c) {
    c.SetAutoNext(true);
    c.ExecuteGo();
  });
  EXPECT_EQ(rig.C().NextCue(), 2);
}

TEST(ConsoleGo, RecordsOutOfTheSequenceAreSkipped) {
  TestShow show;
  show.Dc("a.wav", 2000);
  const RecordValues out = OutOfSequence(Cue(2, "a.wav"));
  show.Add(1, Cue(1, "a.wav"));
  show.Add(1, out);
  show.Add(1, Cue(3, "a.wav"));
  show.Add(2, Cue(2, "a.wav"));
  show.Add(4, Cue(1, "a.wav"));
  show.Add(4, out);  // nothing in the sequence after it
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  // Nothing left in the sequence of fader 4: its position stays on the
  // record tried, unarmed.
  EXPECT_EQ(rig.Records(), "31020000");
  EXPECT_EQ(rig.C().NextCue(), 2);
  EXPECT_EQ(rig.Armed(), "2");
  rig.At(100, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.C().NextCue(), 3);
  EXPECT_EQ(rig.Armed(), "1");
  // NEXT past the end leaves the channel without a record, faded to 0.
  rig.At(200, [](CConsole& c) {
    c.NextChannel(1);
    c.StopChannel(1);
  });
  EXPECT_EQ(rig.C().CurrentRecord(1), 0);
  EXPECT_EQ(rig.C().FaderValue(1), 0u);
  EXPECT_EQ(rig.C().NextCue(), 0);
  EXPECT_EQ(rig.C().Row(1).q, "0");
  EXPECT_EQ(rig.C().Row(1).file, "");
}

TEST(ConsoleGo, CallUpPreviousAndNext) {
  TestShow show;
  show.Dc("a.wav", 500);
  show.Add(1, Cue(1, "a.wav"));
  show.Add(1, Cue(3, "a.wav"));
  show.Add(1, Cue(5, "a.wav"));
  show.Add(2, Cue(2, "a.wav"));
  show.Add(3, OutOfSequence(Cue(4, "a.wav")));
  ConsoleRig rig(show);
  CConsole& c = rig.C();
  EXPECT_EQ(c.NextCue(), 1);
  c.CallUpCue(100);
  EXPECT_EQ(c.NextCue(), 0);
  EXPECT_EQ(c.NextCueText(), "0");
  EXPECT_EQ(rig.Records(), "00000000");
  EXPECT_EQ(rig.Armed(), "");
  c.CallUpCue(5);
  EXPECT_EQ(c.NextCue(), 5);
  EXPECT_EQ(rig.Records(), "30000000");
  // The largest Q below 5 in the sequence: 3. Fader 3 has only an
  // out-of-sequence record at or after 3: it is taken, but arms nothing.
  c.Previous();
  EXPECT_EQ(c.NextCue(), 3);
  EXPECT_EQ(rig.Records(), "20100000");
  EXPECT_EQ(rig.Armed(), "1");
  c.Next();  // strictly after 3: fader 3 keeps its record at 4
  EXPECT_EQ(c.NextCue(), 5);
  EXPECT_EQ(rig.Records(), "30100000");
  c.SetNextCueText("2");
  c.CallUp();
  EXPECT_EQ(c.NextCue(), 2);
  EXPECT_EQ(rig.Records(), "21100000");
  EXPECT_EQ(rig.Armed(), "2");
  c.SetNextCueText("1");
  c.Previous();  // nothing below 1: back to the top
  EXPECT_EQ(c.NextCue(), 1);
  EXPECT_EQ(rig.Records(), "11100000");
}

// A file that ends by itself ends its channel as a stop would: the next GO
// on that channel sounds, whether the next record was called up before the
// end (it waited for the stop) or after it.
TEST(ConsoleGo, AFileThatEndsByItselfLeavesItsChannelReadyForTheNextGo) {
  TestShow show;
  show.Dc("short.wav", 300);
  show.Dc("long.wav", 3000, 8192);
  show.Dc("other.wav", 300, 4096);
  show.Add(1, Cue(1, "short.wav"));
  show.Add(2, Cue(2, "other.wav"));
  show.Add(1, Cue(3, "long.wav"));
  show.Add(1, Cue(4, "short.wav", 5));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  // Q3 is current on CH1 but waits: Q1 still plays.
  EXPECT_TRUE(rig.C().ReloadPending(1));
  EXPECT_EQ(rig.Sample(0, 280), 0.5f);
  rig.RunTo(1000);
  EXPECT_EQ(rig.Events(Kind::kEof, 1).size(), 1u);
  EXPECT_TRUE(rig.Events(Kind::kStop, 1).empty());
  EXPECT_TRUE(rig.C().LoadedMark(1));  // Q3's file, not yet started
  EXPECT_FALSE(rig.C().StartedMark(1));
  EXPECT_FALSE(rig.C().Buttons(1).play);
  EXPECT_FALSE(rig.C().ReloadPending(1));
  EXPECT_TRUE(rig.C().Player(1).IsLoaded());
  EXPECT_EQ(rig.C().Row(1).file, "long.wav");
  rig.At(1000, [](CConsole& c) { c.ExecuteGo(); });  // Q2 on CH2
  rig.At(1100, [](CConsole& c) { c.ExecuteGo(); });  // Q3 on CH1
  EXPECT_EQ(rig.Heard(0, 1100), 0.25f + 0.125f);
  EXPECT_EQ(rig.Times(Kind::kPlay, 1), (std::vector<uint32_t>{0, 1100}));
  // Called up after the end this time: Play sounds it too.
  rig.At(4200, [](CConsole& c) { c.PlayChannel(1); });
  EXPECT_EQ(rig.Heard(0, 4200), AtLevel(5));
}

TEST(ConsoleGo, NextFileOfAPlayingChannelWaitsForItToStop) {
  TestShow show;
  show.Dc("a.wav", 3000);
  show.Dc("b.wav", 3000, 8192);
  show.Add(1, Cue(1, "a.wav"));
  show.Add(1, Cue(2, "b.wav", 6));
  show.Add(1, Cue(3, "a.wav", 10, 1));
  ConsoleRig rig(show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  // Q2 is current, but the sound and the level of Q1 stay.
  EXPECT_EQ(rig.C().CurrentRecord(1), 2);
  EXPECT_TRUE(rig.C().ReloadPending(1));
  EXPECT_EQ(rig.C().Row(1).file, "b.wav");
  EXPECT_EQ(rig.Heard(0, 400), 0.5f);
  // GO stops Q1, loads Q2 with its preset and plays it.
  rig.At(500, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_NEAR(rig.Heard(0, 500), Law(LevelGain(6), 0.25f), kTol);
  EXPECT_EQ(rig.Times(Kind::kStop, 1), std::vector<uint32_t>{500});
  EXPECT_EQ(rig.Times(Kind::kPlay, 1), (std::vector<uint32_t>{0, 500}));
  // Stopped by hand, the channel takes Q3 and its fade-in preset at once.
  rig.At(1000, [](CConsole& c) { c.StopChannel(1); });
  EXPECT_EQ(rig.C().CurrentRecord(1), 3);
  EXPECT_FALSE(rig.C().ReloadPending(1));
  EXPECT_EQ(rig.C().FaderValue(1), 0u);
  EXPECT_EQ(rig.C().Player(1).FilePath(), show.dir.File("a.wav"));
}

TEST(ConsoleGo, MissingFileIsReportedAndSkippedForTheNextCue) {
  TestShow show;
  show.Dc("b.wav", 2000, 8192);
  show.Add(1, Cue(1, "gone.wav"));
  show.Add(1, Cue(2, "b.wav"));
  ConsoleRig rig(show);
  EXPECT_EQ(show.messages.messages, std::vector<std::string>{std::string(kCueFileCannotOpen) +
                                                             "\n" + show.dir.File("gone.wav")});
  EXPECT_TRUE(rig.C().LoadedMark(1));
  EXPECT_FALSE(rig.C().Player(1).IsLoaded());
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_TRUE(rig.Events(Kind::kPlay).empty());
  EXPECT_FALSE(rig.C().StartedMark(1));
  EXPECT_EQ(rig.Heard(0, 0), 0.0f);
  EXPECT_EQ(rig.C().NextCue(), 2);
  EXPECT_TRUE(rig.C().Player(1).IsLoaded());
  rig.At(500, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Times(Kind::kPlay, 1), std::vector<uint32_t>{500});
  EXPECT_EQ(rig.Heard(0, 500), 0.25f);
}

TEST(ConsoleStrips, TransportButtons) {
  TestShow show;
  show.Timecode("t.wav", 3000);
  show.Add(1, Cue(1, "t.wav"));
  show.Add(2, Cue(1, "STOP"));
  show.Add(3, Cue(1, "FDOWN", 5, 0, 1));
  ConsoleRig rig(show);
  // Play is refused on the commands that end sound.
  rig.At(0, [](CConsole& c) {
    c.PlayChannel(2);
    c.PlayChannel(3);
    c.PlayChannel(1);
  });
  EXPECT_FALSE(rig.C().Buttons(2).play);
  EXPECT_FALSE(rig.C().Buttons(3).play);
  EXPECT_TRUE(rig.C().Buttons(1).play);
  EXPECT_EQ(rig.PlayingMs(300), 300);
  // Pause twice stays paused; Play then resumes from there.
  rig.At(400, [](CConsole& c) { c.PauseChannel(1); });
  rig.At(600, [](CConsole& c) { c.PauseChannel(1); });
  EXPECT_TRUE(rig.C().Player(1).IsPaused());
  EXPECT_EQ(rig.Sample(0, 700), 0.0f);
  rig.At(800, [](CConsole& c) { c.PlayChannel(1); });
  EXPECT_EQ(rig.PlayingMs(800), 400);
  EXPECT_EQ(rig.Events(Kind::kPause, 1).size(), 1u);
  // A function key stops and plays: from the top.
  rig.At(1000, [](CConsole& c) { c.FunctionKey(1); });
  EXPECT_EQ(rig.PlayingMs(1050), 50);
  rig.At(1200, [](CConsole& c) { c.StopChannel(1); });
  const TransportButtons b = rig.C().Buttons(1);
  EXPECT_FALSE(b.play || b.pause || b.stop || b.fadeOut);
  EXPECT_EQ(rig.Sample(0, 1200), 0.0f);
  EXPECT_TRUE(rig.C().Player(1).IsLoaded());  // ready for the next Play
}

TEST(ConsoleStrips, StoreRecordTakesTheFaderOrTheTypedPreset) {
  TestShow show;
  show.Dc("a.wav", 500);
  show.Add(1, Cue(1, "a.wav", 3));
  show.Add(3, Cue(1, "a.wav", 2));
  ConsoleRig rig(show);
  CConsole& c = rig.C();
  // Without a current record nothing is stored.
  c.CallUpCue(100);
  c.StoreChannelRecord(1, true, true);
  EXPECT_FALSE(c.ShowModified());
  EXPECT_EQ(show.cues.GetPre(1, 1), 3);
  c.CallUpCue(0);

  c.MoveFader(3, 35);  // level 6.5 on the trackbar
  EXPECT_EQ(c.FaderValue(3), 42597u);
  c.StoreChannelRecord(3, true, false);
  EXPECT_DOUBLE_EQ(show.cues.GetPre(3, 1), 42597 / 6553.5);
  EXPECT_EQ(c.Row(3).pre, "6.5");
  EXPECT_TRUE(c.ShowModified());
  EXPECT_TRUE(c.ReloadPending(3));

  c.Row(1).pre = "12";
  c.Row(1).title = "Storm";
  c.Row(1).fadeOut = "2.5";
  c.StoreChannelRecord(1, false, true);
  EXPECT_EQ(show.cues.GetPre(1, 1), 10);
  EXPECT_EQ(show.cues.GetTitle(1, 1), "Storm");
  EXPECT_EQ(show.cues.GetFadeOut(1, 1), 2.5);
  EXPECT_EQ(show.cues.GetFile(1, 1), "a.wav");
  EXPECT_EQ(c.Row(1).pre, "10");
  EXPECT_EQ(c.Titles(1), std::vector<std::string>{"Storm"});
  EXPECT_EQ(c.FaderValue(1), 65535u);  // preset again from the stored record
}

}  // namespace
}  // namespace orvex
