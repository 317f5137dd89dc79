// Channel cues that name a continuous-play list: the page the list window
// shows, the order the items play in, check changes and faulty items.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/ConsoleRig.h"

namespace orvex {
namespace {

using Kind = ConsoleEvent::Kind;

class ListRig {
 public:
  // Item files hold DC 1000 * (n + 1), so the output tells which one plays.
  void Item(const std::string& name, int n, uint32_t ms = 300) {
    show.Dc(name, ms, static_cast<int16_t>(1000 * (n + 1)));
  }
  // A list of the show's folder and "name,check" lines.
  void List(const std::string& file, const std::vector<std::pair<std::string, bool>>& items) {
    std::string text = "# list\r\n" + show.dir.Path().string() + "\r\n";
    for (const auto& [name, checked] : items) text += name + (checked ? ",1\r\n" : ",0\r\n");
    show.dir.Write(file, text);
  }
  // The item number heard at ms on the master (-1: silence).
  int Playing(ConsoleRig& rig, double ms) {
    return static_cast<int>(std::lround(rig.Sample(0, ms) * 32768 / 1000)) - 1;
  }
  TestShow show;
};

TEST(ConsoleLists, AListCuePlaysItsCheckedItemsInTurnAndWraps) {
  ListRig l;
  l.Item("one.wav", 0);
  l.Item("two.wav", 1);
  l.Item("three.wav", 2);
  l.Item("music.WAV", 3);
  l.List("set1.lst", {{"one.wav", true}, {"two.wav", false}, {"three.wav", true}});
  l.show.Add(4, Cue(1, "set1.lst"));
  l.show.Add(4, Cue(2, "music.WAV"));  // capitals: a plain file all the same
  ConsoleRig rig(l.show);
  CConsole& c = rig.C();
  EXPECT_TRUE(c.ListMode(4));
  const ListPage& page = c.Page(4);
  EXPECT_EQ(page.name, "set1.lst");
  EXPECT_EQ(page.folder, l.show.dir.Path().string());
  ASSERT_EQ(page.items.size(), 3u);
  EXPECT_EQ(page.items[1], (ListItem{" two.wav", false}));
  // The first checked item waits loaded, under the key of its markers.
  EXPECT_TRUE(c.LoadedMark(4));
  EXPECT_EQ(c.StoredItemPath(4), page.folder + "\\one.wav");

  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(l.Playing(rig, 150), 0);
  EXPECT_EQ(l.Playing(rig, 450), 2);  // two.wav is switched off
  EXPECT_EQ(page.current, 2);
  EXPECT_EQ(page.marked, 2);
  EXPECT_EQ(c.StoredItemPath(4), page.folder + "\\three.wav");
  EXPECT_EQ(l.Playing(rig, 750), 0);  // round again
  EXPECT_EQ(rig.Events(Kind::kPlay, 4).size(), 3u);
  EXPECT_TRUE(c.Buttons(4).play);

  // Stopped, the channel loads its next cue: a plain file, and the page empties.
  rig.At(800, [](CConsole& c) { c.StopChannel(4); });
  EXPECT_FALSE(c.ListMode(4));
  EXPECT_TRUE(page.items.empty());
  EXPECT_EQ(page.name, "");
  rig.At(900, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(l.Playing(rig, 950), 3);
}

TEST(ConsoleLists, CheckChangesMoveAStoppedChannelToTheItemItShouldPlay) {
  ListRig l;
  // Long enough that the checks change before the next item is settled.
  l.Item("a.wav", 0, 1500);
  l.Item("b.wav", 1, 1500);
  l.Item("c.wav", 2, 1500);
  l.List("set.lst", {{"a.wav", true}, {"b.wav", true}, {"c.wav", true}});
  l.show.Add(2, Cue(1, "set.lst"));
  ConsoleRig rig(l.show);
  CConsole& c = rig.C();
  EXPECT_EQ(c.StoredItemPath(2), c.Page(2).folder + "\\a.wav");
  // The loaded item switched off before the channel ever started: the
  // first checked item takes its place.
  c.Execute(cmd::ListCheck{2, 0, false});
  EXPECT_EQ(c.Page(2).current, 1);
  EXPECT_EQ(c.Page(2).marked, 1);
  EXPECT_EQ(c.Player(2).FilePath(), l.show.dir.File("b.wav"));
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(l.Playing(rig, 150), 1);
  // While it plays a check change only marks the page.
  // c.wav was named to follow already: it is not any more.
  rig.At(200, [](CConsole& c) { c.Execute(cmd::ListCheck{2, 2, false}); });
  EXPECT_EQ(c.Page(2).current, 1);
  EXPECT_EQ(l.Playing(rig, 1650), 1);  // the only checked item, again
  // Nothing checked at the end of an item: the channel stops there.
  rig.At(1700, [](CConsole& c) { c.Execute(cmd::ListCheck{2, 1, false}); });
  EXPECT_EQ(l.Playing(rig, 2950), 1);
  EXPECT_EQ(l.Playing(rig, 3050), -1);
  EXPECT_FALSE(c.Buttons(2).play);
  EXPECT_FALSE(c.Player(2).IsLoaded());
  // The file keeps its checks: the page changes in memory only.
  EXPECT_NE(l.show.dir.Read("set.lst").find("a.wav,1"), std::string::npos);
}

TEST(ConsoleLists, UnplayableItemsAreSkippedAndToldOnce) {
  ListRig l;
  l.Item("ok.wav", 0);
  // 12-bit samples, which nothing plays.
  l.show.dir.Write("odd.wav",
                   Riff(Chunk("fmt ", FmtBody(1, 48000, 12)) + Chunk("data", "12345678")));
  l.List("set.lst", {{"gone.wav", true}, {"odd.wav", true}, {"ok.wav", true}});
  l.List("bad.lst", {{"gone.wav", true}, {"ok.wav", false}, {"lost.wav", true}});
  l.show.Add(3, Cue(1, "set.lst"));
  l.show.Add(3, Cue(2, "bad.lst"));
  l.show.Add(3, Cue(3, "nolist.lst"));
  ConsoleRig rig(l.show);
  CConsole& c = rig.C();
  EXPECT_EQ(c.Page(3).current, 2);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(l.Playing(rig, 150), 0);
  EXPECT_EQ(l.Playing(rig, 450), 0);  // gone.wav and odd.wav passed over again, silently
  ASSERT_EQ(
      l.show.messages.messages,
      (std::vector<std::string>{
          std::string(kCueFileCannotOpen) + "\n" + l.show.dir.File("gone.wav"), kWaveNoFormat}));

  // A list none of whose checked items opens says so and loads nothing.
  rig.At(500, [](CConsole& c) { c.StopChannel(3); });
  EXPECT_EQ(l.show.messages.messages.back(), kListNothingPlayable);
  EXPECT_FALSE(c.LoadedMark(3));
  rig.At(600, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(l.Playing(rig, 650), -1);

  // A list file that is not there leaves an empty page, not the last list.
  rig.At(700, [](CConsole& c) { c.StopChannel(3); });
  EXPECT_TRUE(c.ListMode(3));
  EXPECT_EQ(c.Page(3).name, "nolist.lst");
  EXPECT_TRUE(c.Page(3).items.empty());
  EXPECT_EQ(c.MissingFile(3), l.show.dir.File("nolist.lst"));
}

// Items of one format follow on in one stream: the first frame of the next
// item is the frame after the last of the one before, whatever the 100 ms
// tick. The player is then the next item's, with its position from 0.
TEST(ConsoleLists, TheNextItemStartsOnTheSampleAfterTheLastOne) {
  ListRig l;
  l.show.Timecode("one.wav", 1234);
  l.Item("two.wav", 1, 1000);
  l.List("set.lst", {{"one.wav", true}, {"two.wav", true}});
  l.show.Add(1, Cue(1, "set.lst"));
  ConsoleRig rig(l.show);
  CConsole& c = rig.C();
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  rig.RunTo(2000);
  const std::vector<float>& out = rig.session.Out(0);
  const size_t boundary = 1234 * kFramesPerMs;
  for (size_t f = 0; f < boundary; ++f)
    ASSERT_EQ(std::lround(out[f * 2] * 32768), 1000 + static_cast<long>(f / kFramesPerMs))
        << "frame " << f;
  for (size_t f = boundary; f < 2000 * kFramesPerMs; ++f)
    ASSERT_EQ(l.Playing(rig, static_cast<double>(f) / kFramesPerMs), 1) << "frame " << f;
  std::printf("gap between list items: 0 frames\n");
  RecordProperty("gap_frames", 0);

  EXPECT_EQ(c.Page(1).current, 1);
  EXPECT_EQ(c.Page(1).marked, 1);
  EXPECT_EQ(c.Player(1).FilePath(), l.show.dir.File("two.wav"));
  EXPECT_EQ(c.StoredItemPath(1), c.Page(1).folder + "\\two.wav");
  EXPECT_EQ(c.Player(1).DataSize(), 1000 * kFramesPerMs * 4);
  EXPECT_LE(c.Player(1).Position(), (2000 - 1234) * kFramesPerMs * 4);
  EXPECT_GE(c.Player(1).Position(), (2000 - 1234 - 100) * kFramesPerMs * 4);
  // Heard as an end and a start, as a change of item is.
  EXPECT_EQ(rig.Times(Kind::kEof, 1), (std::vector<uint32_t>{1240}));
  EXPECT_EQ(rig.Times(Kind::kPlay, 1).size(), 2u);
  // And on round: two.wav ends, one.wav follows it from its first frame.
  EXPECT_EQ(rig.PlayingMs(2234 + 0.5), 0);
  EXPECT_EQ(c.Page(1).current, 0);
}

// A fade-out that stops the channel still stops it when the list has gone
// on to its next item meanwhile, seamlessly or as a file of its own (another
// format): the list plays on as one sound.
TEST(ConsoleLists, AFadeOutAcrossAChangeOfItemStopsTheList) {
  for (const uint16_t channels : {2, 1}) {
    ListRig l;
    l.Item("one.wav", 0, 1000);
    l.show.Dc("two.wav", 1000, 2000, channels);
    l.List("set.lst", {{"one.wav", true}, {"two.wav", true}});
    l.show.Add(1, Cue(1, "set.lst"));
    l.show.Add(1, Cue(2, "FOUT", 0, 0, 1));
    ConsoleRig rig(l.show);
    CConsole& c = rig.C();
    rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
    rig.At(500, [](CConsole& c) { c.ExecuteGo(); });
    EXPECT_TRUE(c.Buttons(1).fadeOut);
    // two.wav goes on at the level the fade has reached, and the fade ends it.
    EXPECT_GT(std::fabs(rig.Sample(0, 1200)), 0.0f) << channels;
    EXPECT_LT(std::fabs(rig.Sample(0, 1200)), 2000.0f / 32768 / 2) << channels;
    EXPECT_EQ(c.Page(1).current, 1);
    EXPECT_EQ(rig.Sample(0, 1600), 0.0f) << channels;
    EXPECT_EQ(rig.Times(Kind::kStop, 1), std::vector<uint32_t>{1500}) << channels;
    EXPECT_FALSE(c.Player(1).IsPlaying()) << channels;
  }
}

// An item of another format cannot share the stream: it starts as a file of
// its own once the one before has ended, within a step.
TEST(ConsoleLists, AnItemOfAnotherFormatStartsOnItsOwn) {
  ListRig l;
  l.Item("one.wav", 0, 1000);
  l.show.Dc("mono.wav", 1000, 2000, 1);
  l.List("set.lst", {{"one.wav", true}, {"mono.wav", true}});
  l.show.Add(1, Cue(1, "set.lst"));
  ConsoleRig rig(l.show);
  CConsole& c = rig.C();
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(l.Playing(rig, 990), 0);
  EXPECT_EQ(l.Playing(rig, 1030), 1);
  EXPECT_EQ(c.Page(1).current, 1);
  EXPECT_EQ(c.Player(1).Format().channels, 1);
}

// A seek before the change goes back into the item playing, though the next
// one is already read behind it; a seek after it moves in the next one.
TEST(ConsoleLists, SeeksAroundAChangeOfItemStayInTheRightFile) {
  ListRig l;
  l.show.Timecode("one.wav", 1500);
  l.show.Timecode("two.wav", 1500);
  l.List("set.lst", {{"one.wav", true}, {"two.wav", true}});
  l.show.Add(1, Cue(1, "set.lst"));
  ConsoleRig rig(l.show);
  CConsole& c = rig.C();
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  // Past the point where two.wav's data goes in after one.wav's.
  rig.At(1000, [](CConsole& c) { c.Execute(cmd::Seek{1, 200 * kFramesPerMs * 4}); });
  EXPECT_EQ(c.Player(1).FilePath(), l.show.dir.File("one.wav"));
  EXPECT_NEAR(rig.PlayingMs(1100), 300, 2);
  EXPECT_NEAR(rig.PlayingMs(2290), 1490, 2);
  EXPECT_EQ(rig.PlayingMs(2300 + 0.5), 0);  // two.wav, on the sample
  EXPECT_EQ(c.Page(1).current, 1);
  rig.At(2500, [](CConsole& c) { c.Execute(cmd::Seek{1, 1000 * kFramesPerMs * 4}); });
  EXPECT_EQ(c.Player(1).FilePath(), l.show.dir.File("two.wav"));
  EXPECT_NEAR(rig.PlayingMs(2600), 1100, 2);
  // And on round again from its end, to one.wav.
  EXPECT_EQ(rig.PlayingMs(3000 + 0.5), 0);
  EXPECT_EQ(c.Page(1).current, 0);
}

}  // namespace
}  // namespace orvex
