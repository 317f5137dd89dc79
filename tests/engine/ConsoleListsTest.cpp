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
  l.Item("a.wav", 0);
  l.Item("b.wav", 1);
  l.Item("c.wav", 2);
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
  rig.At(200, [](CConsole& c) { c.Execute(cmd::ListCheck{2, 2, false}); });
  EXPECT_EQ(c.Page(2).current, 1);
  EXPECT_EQ(l.Playing(rig, 450), 1);  // the only checked item, again
  // Nothing checked at the end of an item: the channel stops there.
  rig.At(500, [](CConsole& c) { c.Execute(cmd::ListCheck{2, 1, false}); });
  EXPECT_EQ(l.Playing(rig, 650), -1);
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

// How long the silence between two items of a list is. The player tells the
// end of an item when the clock reaches it, not at its next 100 ms tick; the
// next item then starts with the next piece of work the UI thread does,
// which on virtual time is the end of the 10 ms step.
TEST(ConsoleLists, TheNextItemFollowsWithinAStep) {
  ListRig l;
  l.Item("one.wav", 0, 1234);
  l.Item("two.wav", 1, 1000);
  l.List("set.lst", {{"one.wav", true}, {"two.wav", true}});
  l.show.Add(1, Cue(1, "set.lst"));
  ConsoleRig rig(l.show);
  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  rig.RunTo(2000);
  const std::vector<float>& out = rig.session.Out(0);
  size_t lastOne = 0, firstTwo = 0;
  for (size_t f = 0; f < out.size() / 2; ++f) {
    const int item = static_cast<int>(std::lround(out[f * 2] * 32768 / 1000)) - 1;
    if (item == 0) lastOne = f;
    if (item == 1 && firstTwo == 0) firstTwo = f;
  }
  ASSERT_GT(firstTwo, lastOne);
  const size_t gap = firstTwo - lastOne - 1;
  std::printf("gap between list items: %zu frames (%.1f ms)\n", gap, gap * 1000.0 / kRate);
  RecordProperty("gap_frames", static_cast<int>(gap));
  EXPECT_EQ(lastOne + 1, 1234 * kFramesPerMs);  // the first item plays whole
  EXPECT_LT(gap, 10 * kFramesPerMs);
}

}  // namespace
}  // namespace orvex
