// The background continuous-play list on virtual time: which items play in
// which order, the fade-out's length, the slider, editing and saving.
#include "engine/BgmList.h"

#include <gtest/gtest.h>

#include "engine/ConsoleRig.h"

namespace orvex {
namespace {

class Changes : public BgmListener {
 public:
  void OnBgmChanged(BgmChange what) override { seen.push_back(what); }
  int Count(BgmChange what) const {
    return static_cast<int>(std::count(seen.begin(), seen.end(), what));
  }
  std::vector<BgmChange> seen;
};

class BgmRig : public ::testing::Test {
 protected:
  BgmRig() : rig(show) { bgm().SetListener(&changes); }
  ~BgmRig() override { bgm().SetListener(nullptr); }

  CBgmList& bgm() { return rig.C().Background(); }
  // Item i of a list holds DC 1000 * (i + 1) for ms; the list names it "i.wav".
  void Item(int i, uint32_t ms = 300) {
    show.Dc(std::to_string(i) + ".wav", ms, static_cast<int16_t>(1000 * (i + 1)));
  }
  // Writes set.lst: the show's folder, then "i.wav,check" per entry.
  void WriteList(const std::vector<bool>& checks, const std::string& name = "set.lst") {
    std::string text = show.dir.Path().string() + "\r\n";
    for (size_t i = 0; i < checks.size(); ++i)
      text += std::to_string(i) + ".wav," + (checks[i] ? "1" : "0") + "\r\n";
    show.dir.Write(name, text);
  }
  // The item heard at ms on the master output (-1: silence).
  int Playing(double ms) {
    const double full = FaderGain(65535, {});
    return static_cast<int>(std::lround(rig.Sample(0, ms) * 32768 / full / 1000)) - 1;
  }

  TestShow show;
  ConsoleRig rig;
  Changes changes;
};

TEST_F(BgmRig, PlayStartsAtTheSelectionSkipsUncheckedItemsAndLoops) {
  for (int i = 0; i < 7; ++i) Item(i);
  WriteList({true, true, true, false, false, true, true});
  ASSERT_TRUE(bgm().Load(show.dir.File("set.lst")));
  EXPECT_EQ(bgm().Selected(), 0);
  rig.At(0, [this](CConsole&) {
    bgm().Select(3);
    bgm().Play();
  });
  EXPECT_TRUE(bgm().Playing());
  EXPECT_EQ(bgm().Current(), 5);
  EXPECT_EQ(bgm().Selected(), 5);
  // Every output hears it at the list's own level.
  EXPECT_EQ(Playing(150), 5);
  EXPECT_NEAR(rig.Sample(1, 150), rig.Sample(0, 150), 1e-6);
  EXPECT_NEAR(rig.Sample(2, 150), rig.Sample(0, 150), 1e-6);
  EXPECT_EQ(Playing(450), 6);
  EXPECT_EQ(Playing(750), 0);  // round again from the top
  EXPECT_EQ(Playing(1050), 1);
  EXPECT_EQ(bgm().Current(), 1);
  // Play while playing changes nothing; Stop silences it.
  rig.At(1100, [this](CConsole& c) {
    bgm().Play();
    c.Execute(cmd::Bgm{cmd::BgmAction::kStop, {}, 0});
  });
  EXPECT_FALSE(bgm().Playing());
  EXPECT_EQ(Playing(1150), -1);
  // A double click restarts from the item clicked.
  rig.At(1200, [this](CConsole&) { bgm().Restart(2); });
  EXPECT_EQ(Playing(1250), 2);

  // With nothing checked, Play only releases its toggle.
  WriteList({false, false});
  rig.At(1300, [this](CConsole&) {
    bgm().Stop();
    bgm().Load(show.dir.File("set.lst"));
    changes.seen.clear();
    bgm().Play();
  });
  EXPECT_FALSE(bgm().Playing());
  EXPECT_EQ(changes.Count(BgmChange::kPlaying), 1);
  EXPECT_EQ(Playing(1350), -1);
}

TEST_F(BgmRig, FadeOutRunsItsLengthInTenMillisecondStepsAndStopsThePlay) {
  Item(0, 12000);
  WriteList({true});
  bgm().Load(show.dir.File("set.lst"));
  rig.At(0, [this](CConsole&) { bgm().Play(); });
  rig.At(1000, [this](CConsole& c) {
    changes.seen.clear();
    c.Execute(cmd::Bgm{cmd::BgmAction::kFadeOut, {}, 10});
  });
  EXPECT_TRUE(bgm().FadeRunning());
  // Half way: about half the level, heard as such.
  rig.RunTo(6000);
  EXPECT_NEAR(bgm().Level(), 65535 / 2, 400);
  EXPECT_NEAR(rig.Heard(0, 6000), 1000 / 32768.0 * FaderGain(bgm().Level(), {}), 2e-4);
  uint32_t end = 0;
  while (bgm().Playing() && rig.Now() < 12000) rig.RunTo(rig.Now() + 10);
  end = rig.Now();
  // About 1000 steps, a few fewer for the level truncated at every step.
  EXPECT_GE(end, 1000u + 9900);
  EXPECT_LE(end, 1000u + 10010);
  EXPECT_EQ(bgm().Level(), 0u);
  EXPECT_EQ(bgm().SliderPosition(), 100);
  EXPECT_FALSE(bgm().FadeRunning());
  // The slider followed every tenth step.
  EXPECT_NEAR(changes.Count(BgmChange::kSlider), 100, 2);
  EXPECT_EQ(Playing(end + 50), -1);

  // A fade of 0.01 s or less, or none at all, is over in one step.
  for (double seconds : {0.01, 0.0, -3.0}) {
    const uint32_t at = rig.Now() + 100;
    rig.At(at, [this, seconds](CConsole&) {
      bgm().MoveSlider(0);
      bgm().Play();
      bgm().FadeOut(seconds);
    });
    rig.RunTo(at + 10);
    EXPECT_FALSE(bgm().Playing()) << seconds;
    EXPECT_EQ(bgm().Level(), 0u);
  }
}

TEST_F(BgmRig, TheSliderEndsAFadeAndALateTimerDoesNotStretchIt) {
  Item(0, 12000);
  WriteList({true});
  bgm().Load(show.dir.File("set.lst"));
  rig.At(0, [this](CConsole&) { bgm().Play(); });
  rig.At(1000, [this](CConsole&) { bgm().FadeOut(10); });
  rig.At(3000, [this](CConsole& c) { c.Execute(cmd::Bgm{cmd::BgmAction::kLevel, {}, 5}); });
  EXPECT_FALSE(bgm().FadeRunning());
  EXPECT_TRUE(bgm().Playing());
  EXPECT_EQ(bgm().SliderPosition(), 50);
  EXPECT_EQ(bgm().Level(), 32767u);
  EXPECT_NEAR(rig.Heard(0, 5000), 1000 / 32768.0 * FaderGain(32767, {}), 1e-6);

  // The timer thread held up for 3 s: the fade is where 4 s of it take it.
  rig.At(5100, [this](CConsole&) {
    bgm().MoveSlider(0);
    bgm().FadeOut(10);
  });
  rig.RunTo(6100);
  rig.session.Timers().Stall(3000);
  rig.session.Settle();
  EXPECT_NEAR(bgm().Level(), 0.6 * 65535, 0.01 * 65535);
  while (bgm().Playing() && rig.Now() < 17000) rig.RunTo(rig.Now() + 10);
  EXPECT_LE(rig.Now(), 5100u + 10010);
  EXPECT_GE(rig.Now(), 5100u + 9900);
}

TEST_F(BgmRig, EditingKeepsTheCurrentItemAndTheArrowsFollowTheSelection) {
  bgm().SetFolder("D:\\bgm");
  bgm().AddFiles({"D:\\bgm\\sub\\x.wav", "E:\\y.wav", "D:\\bgm2\\z.wav", "D:\\bgm\\w.wav"});
  ASSERT_EQ(bgm().Items().size(), 4u);
  EXPECT_EQ(bgm().Items()[0], (ListItem{" sub\\x.wav", true}));
  EXPECT_EQ(bgm().Items()[1].text, " E:\\y.wav");
  EXPECT_EQ(bgm().Items()[2].text, " D:\\bgm2\\z.wav");
  EXPECT_EQ(bgm().Items()[3].text, " w.wav");
  EXPECT_TRUE(bgm().Modified());

  bgm().Select(0);
  EXPECT_FALSE(bgm().CanMoveUp());
  EXPECT_TRUE(bgm().CanMoveDown());
  // The current item moves with its entry, and with the one it swaps with.
  bgm().MoveDown();
  EXPECT_EQ(bgm().Selected(), 1);
  EXPECT_EQ(bgm().Items()[1].text, " sub\\x.wav");
  EXPECT_EQ(bgm().Current(), 1);
  bgm().Select(3);
  EXPECT_TRUE(bgm().CanMoveUp());
  EXPECT_FALSE(bgm().CanMoveDown());
  bgm().MoveDown();  // the last stays last
  EXPECT_EQ(bgm().Items()[3].text, " w.wav");
  bgm().Select(2);
  bgm().MoveUp();
  EXPECT_EQ(bgm().Current(), 2);
  EXPECT_EQ(bgm().Items()[1].text, " D:\\bgm2\\z.wav");
  // A check is no change that needs saving; delete leaves no selection.
  bgm().SetCheck(0, false);
  EXPECT_FALSE(bgm().Items()[0].checked);
  bgm().Select(0);
  bgm().DeleteSelected();
  EXPECT_EQ(bgm().Selected(), -1);
  EXPECT_FALSE(bgm().CanMoveUp() || bgm().CanMoveDown());
  EXPECT_EQ(bgm().Current(), 1);
  EXPECT_EQ(bgm().Items()[1].text, " sub\\x.wav");

  // Saving needs a path; it clears the modified mark and writes the file.
  EXPECT_FALSE(bgm().Save());
  EXPECT_TRUE(bgm().Modified());
  ASSERT_TRUE(bgm().SaveAs(show.dir.File("out.lst")));
  EXPECT_FALSE(bgm().Modified());
  EXPECT_EQ(show.dir.Read("out.lst"),
            "D:\\bgm\r\nD:\\bgm2\\z.wav,1\r\nsub\\x.wav,1\r\nw.wav,1\r\n");
  bgm().Clear();
  EXPECT_TRUE(bgm().Modified());
  EXPECT_TRUE(bgm().Items().empty());
  // "新規" empties path and folder too; reading a file back needs no save.
  bgm().New();
  EXPECT_EQ(bgm().ListPath(), "");
  EXPECT_EQ(bgm().Folder(), "");
  ASSERT_TRUE(bgm().Load(show.dir.File("out.lst")));
  EXPECT_EQ(bgm().Items().size(), 3u);
  EXPECT_EQ(bgm().Folder(), "D:\\bgm");
  // A file that is not there leaves the list as it is.
  EXPECT_FALSE(bgm().Load(show.dir.File("gone.lst")));
  EXPECT_EQ(bgm().Items().size(), 3u);
}

TEST_F(BgmRig, AnItemThatCannotBeOpenedIsToldOnceAndTheLoopGoesOn) {
  Item(1);
  // 0.wav is not there; 2.wav holds 12-bit samples, which nothing plays.
  show.dir.Write("2.wav", Riff(Chunk("fmt ", FmtBody(1, 48000, 12)) + Chunk("data", "12345678")));
  WriteList({true, true, true});
  bgm().Load(show.dir.File("set.lst"));
  rig.At(0, [this](CConsole&) { bgm().Play(); });
  EXPECT_EQ(Playing(150), 1);
  EXPECT_EQ(Playing(450), 1);  // 2.wav and 0.wav again: skipped at once
  EXPECT_EQ(Playing(750), 1);
  EXPECT_EQ(Playing(1050), 1);
  EXPECT_TRUE(bgm().Playing());
  // Each said once, however often the loop comes by.
  ASSERT_EQ(show.messages.messages,
            (std::vector<std::string>{
                std::string(kCueFileCannotOpen) + "\n" + show.dir.File("0.wav"), kWaveNoFormat}));

  // Nothing that can be played: the play stops and says so.
  WriteList({true, false, true}, "bad.lst");
  rig.At(1100, [this](CConsole&) {
    bgm().Stop();
    bgm().Load(show.dir.File("bad.lst"));
    bgm().Play();
  });
  EXPECT_FALSE(bgm().Playing());
  EXPECT_EQ(show.messages.messages.back(), kListNothingPlayable);
  // Read afresh, the list tells each unplayable file again, then the stop.
  EXPECT_EQ(show.messages.messages.size(), 5u);
}

// The loop goes from item to item in one stream: the next item's first
// frame follows the last one's, and the window shows it current on time.
TEST_F(BgmRig, TheNextItemStartsOnTheSampleAfterTheLastOne) {
  show.Timecode("0.wav", 700);
  show.Timecode("1.wav", 900);
  WriteList({true, true});
  ASSERT_TRUE(bgm().Load(show.dir.File("set.lst")));
  rig.At(0, [this](CConsole&) { bgm().Play(); });
  rig.RunTo(2500);
  const std::vector<float>& out = rig.session.Out(0);
  const double full = FaderGain(65535, {});
  const auto fileMs = [&](size_t frame) {
    return std::lround(out[frame * 2] * 32768 / full) - 1000;
  };
  for (size_t f = 0; f < 2500 * kFramesPerMs; ++f) {
    const size_t t = f % (1600 * kFramesPerMs);
    const size_t expected = t < 700 * kFramesPerMs ? t : t - 700 * kFramesPerMs;
    ASSERT_EQ(fileMs(f), static_cast<long>(expected / kFramesPerMs)) << "frame " << f;
  }
  EXPECT_EQ(bgm().Current(), 1);
  EXPECT_EQ(bgm().Selected(), 1);
  EXPECT_EQ(bgm().Player().FilePath(), show.dir.File("1.wav"));
  const std::vector<uint32_t> ends = rig.Times(ConsoleEvent::Kind::kEof, 0);
  EXPECT_EQ(ends, (std::vector<uint32_t>{700, 1600, 2300}));
}

TEST_F(BgmRig, SettingsHoldTheListPathLevelAndFadeOut) {
  Item(0);
  WriteList({true});
  show.settings.bgmList = show.dir.File("set.lst");
  show.settings.bgmLevel = 32767;
  show.settings.bgmFadeOut = 3.5;
  rig.C().LoadFromSettings();
  EXPECT_EQ(bgm().Items().size(), 1u);
  EXPECT_EQ(bgm().Selected(), 0);
  EXPECT_EQ(bgm().SliderPosition(), 50);
  EXPECT_EQ(bgm().FadeOutSeconds(), 3.5);
  rig.At(0, [this](CConsole&) { bgm().Play(); });
  EXPECT_NEAR(rig.Heard(0, 0), 1000 / 32768.0 * FaderGain(32767, {}), 1e-6);
  Settings out;
  bgm().MoveSlider(20);
  bgm().SetFadeOutSeconds(7);
  bgm().StoreSettings(out);
  EXPECT_EQ(out.bgmList, show.dir.File("set.lst"));
  EXPECT_EQ(out.bgmLevel, 52428);  // trunc(0.8 * 65535)
  EXPECT_EQ(out.bgmFadeOut, 7);
  // A rebuild of the outputs takes the player's voices: the play stops.
  rig.C().UnloadChannels();
  EXPECT_FALSE(bgm().Playing());
}

}  // namespace
}  // namespace orvex
