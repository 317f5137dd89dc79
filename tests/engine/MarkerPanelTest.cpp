// The slider panel's marker rows without a window: typed times, entry texts,
// strip geometry, the operator's marker actions, and the console showing
// each prepared file's markers and seeking where the panel asks.
#include "engine/MarkerPanel.h"

#include <gtest/gtest.h>

#include "engine/ConsoleRig.h"
#include "unit/MessageRecorder.h"

namespace orvex {
namespace {

constexpr uint32_t kCd = 176400;  // bytes per second of 44.1 kHz 16-bit stereo

TEST(MarkerTimes, TypedTimesAndEntryTexts) {
  EXPECT_EQ(ParseMarkerTime("0.30.250", kCd), 5336100u);
  EXPECT_EQ(MarkerEntryText(5336100, kCd), "0.30.250");
  EXPECT_EQ(MarkerEntryText(11025000, kCd), "1.02.500");
  EXPECT_EQ(ParseMarkerTime("2", kCd), 2 * 60 * kCd);
  // The milliseconds are not scaled by their digit count.
  EXPECT_EQ(ParseMarkerTime("1.02.5", kCd), 62 * kCd + kCd * 5 / 1000);
  EXPECT_EQ(ParseMarkerTime("0.5", kCd), 5 * kCd);
  EXPECT_EQ(ParseMarkerTime("x.y.z", kCd), 0u);
  EXPECT_EQ(ParseMarkerTime("", kCd), 0u);
  EXPECT_EQ(ParseMarkerTime("-3.4", kCd), 4 * kCd);
  // Past the end of any file: the largest position, not a wrapped one.
  EXPECT_EQ(ParseMarkerTime("500", kCd), 4294967295u);
  EXPECT_EQ(ParseMarkerTime("0.0.999", 4608000), uint64_t{4608000} * 999 / 1000);
  // Positions above 2^31 and a rate not known yet.
  EXPECT_EQ(MarkerEntryText(4294967295u, kCd), "405.47.887");
  EXPECT_EQ(MarkerEntryText(1234, 0), "0.00.000");
}

TEST(MarkerStrip, TrianglesAndDoubleClicks) {
  StripMark m = MarkerTriangle(500, 1000, 261, 7);
  EXPECT_EQ(m.x, 130);  // truncated
  EXPECT_EQ(m.halfWidth, 2);
  EXPECT_EQ(m.topY, 1);
  EXPECT_EQ(m.tipY, 5);
  EXPECT_EQ(MarkerTriangle(500, 1000, 261, 14).halfWidth, 6);
  // Large files: the product needs 64 bits.
  EXPECT_EQ(MarkerTriangle(4000000000u, 4200000000u, 261, 7).x, 248);
  // A typed marker past the end sits at the right end.
  EXPECT_EQ(MarkerTriangle(3000, 1000, 261, 7).x, 261);
  EXPECT_EQ(StripPosition(130, 261, 4200000000u), 2091954022u);
  EXPECT_EQ(StripPosition(-5, 261, 1000), 0u);
  EXPECT_EQ(StripPosition(5, 0, 1000), 0u);
}

class Panel : public ::testing::Test {
 protected:
  Panel() {
    panel.SetCommandSink([this](const ConsoleCommand& c) { commands.push_back(c); });
    panel.SetChangeListener([this](int ch) { changed.push_back(ch); });
  }
  void Select(int ch, const std::string& path, uint32_t dataSize = 10 * kCd) {
    panel.SelectChannelFile(ch, path, FileTiming{kCd, dataSize});
  }
  MarkerList Stored(const std::string& path) { return *panel.Store().Find(path); }

  CMarkerPanel panel;
  std::vector<ConsoleCommand> commands;
  std::vector<int> changed;
  MessageRecorder messages;
};

TEST_F(Panel, MarkingSelectsTheNewestAndSelectingMovesTheRedMarker) {
  panel.Store().Put("C:\\a.wav", std::make_shared<MarkerList>(MarkerList{kCd, 2 * kCd}));
  Select(1, "C:\\a.wav");
  EXPECT_EQ(panel.Row(1).entry, 0);
  EXPECT_EQ(panel.Row(1).selected, kCd);
  EXPECT_EQ(panel.EntryTexts(1), (std::vector<std::string>{"0.01.000", "0.02.000"}));
  for (uint32_t p : {3 * kCd, 4 * kCd, 4 * kCd}) panel.Mark(1, p);
  EXPECT_TRUE(panel.Modified());
  EXPECT_EQ(Stored("C:\\a.wav"), (MarkerList{kCd, 2 * kCd, 3 * kCd, 4 * kCd, 4 * kCd}));
  EXPECT_EQ(panel.Row(1).entry, 4);
  panel.SelectEntry(1, 0);
  std::vector<StripMark> marks = panel.StripMarks(1, 261, 7);
  ASSERT_EQ(marks.size(), 6u);
  EXPECT_TRUE(marks.back().selected);
  EXPECT_EQ(marks.back().x, 26);
  EXPECT_EQ(std::count_if(marks.begin(), marks.end(), [](auto& m) { return m.selected; }), 1);
  panel.SelectEntry(1, 9);  // no such entry
  EXPECT_EQ(panel.Row(1).entry, 0);
  EXPECT_FALSE(changed.empty());
}

TEST_F(Panel, TypedAndDoubleClickedMarkers) {
  Select(2, "C:\\b.wav", 2 * kCd);
  panel.AddTyped(2, "0.30.250");
  panel.AddAtStrip(2, 130, 260);
  EXPECT_EQ(Stored("C:\\b.wav"), (MarkerList{5336100, kCd}));
  EXPECT_EQ(panel.EntryTexts(2).front(), "0.30.250");
}

TEST_F(Panel, ChannelsWithoutAFileTakeNoMarkers) {
  panel.AddTyped(3, "1.0.0");
  EXPECT_FALSE(panel.Modified());  // "追加" with nothing to add to
  panel.Mark(3, 100);
  EXPECT_TRUE(panel.Modified());  // "マーク" says modified all the same
  panel.SetModified(false);
  panel.AddAtStrip(3, 10, 100);
  EXPECT_TRUE(panel.Modified());
  panel.SetModified(false);
  panel.ClearChannel(3);
  panel.DeleteSelected(3);
  EXPECT_FALSE(panel.Modified());
  EXPECT_EQ(panel.Store().Size(), 0u);
  // A file shown and then taken away again.
  Select(3, "C:\\c.wav");
  panel.ClearChannelFile(3);
  panel.Mark(3, 100);
  EXPECT_TRUE(Stored("C:\\c.wav").empty());
}

TEST_F(Panel, TwoChannelsOnOneFileShareItsList) {
  Select(3, "C:\\same.wav");
  Select(5, "C:\\same.wav");
  panel.Mark(3, 1000);
  EXPECT_TRUE(panel.Row(5).entries.empty());  // until CH5 selects the file again
  Select(5, "C:\\same.wav");
  EXPECT_EQ(panel.Row(5).entries, MarkerList{1000});
  // A refused file keeps the rate the row had.
  panel.SelectChannelFile(5, "C:\\other.wav", std::nullopt);
  EXPECT_EQ(panel.Row(5).bytesPerSecond, kCd);
  EXPECT_EQ(panel.Row(5).path, "C:\\other.wav");
  EXPECT_NE(panel.Store().Find("C:\\other.wav"), nullptr);
}

TEST_F(Panel, DeleteRemovesTheChosenMarkerEvenAfterTheRowsWereCleared) {
  panel.Store().Put("C:\\d.wav", std::make_shared<MarkerList>(MarkerList{10, 20, 10}));
  Select(1, "C:\\d.wav");
  panel.SelectEntry(1, 2);
  panel.DeleteSelected(1);
  EXPECT_EQ(Stored("C:\\d.wav"), (MarkerList{10, 20}));
  EXPECT_EQ(panel.Row(1).selected, -1);
  panel.DeleteSelected(1);  // nothing selected now
  EXPECT_EQ(Stored("C:\\d.wav"), (MarkerList{10, 20}));

  panel.SetModified(false);
  panel.ClearAll();
  EXPECT_TRUE(panel.Modified());
  EXPECT_TRUE(panel.Row(1).entries.empty());
  EXPECT_TRUE(panel.StripMarks(1, 261, 7).empty());
  EXPECT_EQ(Stored("C:\\d.wav"), (MarkerList{10, 20}));  // the store keeps them
  // The box now holds only the new marker; deleting it removes that one,
  // not the first of the list.
  panel.Mark(1, 30);
  panel.DeleteSelected(1);
  EXPECT_EQ(Stored("C:\\d.wav"), (MarkerList{10, 20}));
  // "クリア" empties the list itself.
  panel.ClearChannel(1);
  EXPECT_TRUE(Stored("C:\\d.wav").empty());
}

TEST_F(Panel, ResetRowsEmptiesTheDisplayOnly) {
  panel.Store().Put("C:\\e.wav", std::make_shared<MarkerList>(MarkerList{1, 2}));
  Select(6, "C:\\e.wav");
  panel.ResetRows();
  EXPECT_TRUE(panel.Row(6).entries.empty());
  EXPECT_FALSE(panel.Modified());
  Select(6, "C:\\e.wav");
  EXPECT_EQ(panel.Row(6).entries, (MarkerList{1, 2}));
}

TEST_F(Panel, TopJumpAndSliderSeeksGoToTheConsole) {
  panel.Store().Put("C:\\f.wav", std::make_shared<MarkerList>(MarkerList{60 * kCd, 7}));
  Select(4, "C:\\f.wav");
  panel.SetDragging(4, true);
  panel.SeekTo(4, 1234);
  EXPECT_FALSE(panel.Row(4).dragging);
  EXPECT_TRUE(panel.JumpTo(4));
  panel.Top(4);
  EXPECT_EQ(commands, (std::vector<ConsoleCommand>{cmd::Seek{4, 1234}, cmd::Seek{4, 60 * kCd},
                                                   cmd::Seek{4, 0}}));
  EXPECT_EQ(panel.Row(4).requested, 0u);
  panel.ClearChannel(4);
  EXPECT_FALSE(panel.JumpTo(4));
  EXPECT_EQ(commands.size(), 3u);
}

// The console shows each file its players prepare, under the path as the
// show stores it, and a marker past the end seeks the channel to its end.
TEST(PanelOnConsole, PreparedFilesShowTheirMarkersAndAJumpPastTheEndEnds) {
  TestShow show;
  show.Dc("one.wav", 1000);
  show.Add(1, Cue(1, "one.wav"));
  show.Add(2, Cue(2, ""));
  CMarkerPanel panel;
  const std::string key = show.cues.GetWavPath(1, 1);
  panel.Store().Put(key, std::make_shared<MarkerList>(MarkerList{5 * 192000}));
  ConsoleRig rig(show, &panel);
  panel.SetCommandSink([&rig](const ConsoleCommand& c) { rig.C().Execute(c); });

  EXPECT_EQ(panel.Row(1).path, key);
  EXPECT_EQ(panel.Row(1).bytesPerSecond, 192000u);
  EXPECT_EQ(panel.Row(1).range, 192000u);
  EXPECT_EQ(panel.EntryTexts(1), std::vector<std::string>{"0.05.000"});
  EXPECT_TRUE(panel.Row(2).path.empty());

  rig.At(0, [](CConsole& c) { c.ExecuteGo(); });
  EXPECT_EQ(rig.Heard(0, 100), 0.5f);
  rig.At(200, [&panel](CConsole&) { EXPECT_TRUE(panel.JumpTo(1)); });
  EXPECT_EQ(rig.C().Player(1).Position(), 192000u);
  rig.RunTo(600);
  EXPECT_EQ(rig.Heard(0, 400), 0.0f);
  EXPECT_FALSE(rig.C().Player(1).IsPlaying());
  EXPECT_FALSE(rig.Events(ConsoleEvent::Kind::kEof, 1).empty());
}

}  // namespace
}  // namespace orvex
