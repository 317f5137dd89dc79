// The cue sheet editor's working list without its window: sorting,
// renumbering, the proposals of Add and Insert, drops, the duplicate check
// and the cue store it hands back.
#include <gtest/gtest.h>

#include "session/CueSheetEdit.h"
#include "session/OptionEdit.h"

namespace orvex {
namespace {

RecordValues Cue(double q, std::string title = "t", std::string file = "a.wav") {
  RecordValues v;
  v.qNumber = q;
  v.title = std::move(title);
  v.fileOrCommand = std::move(file);
  v.preLevel = 6;
  return v;
}

std::vector<std::pair<double, int>> Keys(const CueSheetEdit& e) {
  std::vector<std::pair<double, int>> keys;
  for (const WorkingRecord& r : e.Working()) keys.emplace_back(r.values.qNumber, r.channel);
  return keys;
}

RecordFields Accepted(RecordFields f, const char* file = "new.wav") {
  f.file = file;
  EXPECT_EQ(AcceptRecord(f, true, true), std::nullopt);
  return f;
}

TEST(CueSheetEdit, SortsStablyByEitherKeyAndRenumbersInQOrder) {
  CueSheetEdit e("", CueSheetEdit::kByQ);
  e.AddWorking(Cue(2.5, "first 2.5"), 1);
  e.AddWorking(Cue(1), 3);
  e.AddWorking(Cue(0.5), 1);
  e.AddWorking(Cue(1), 2);
  e.AddWorking(Cue(3), 8);
  e.AddWorking(Cue(2.5, "second 2.5"), 1);
  e.Sort();
  using K = std::vector<std::pair<double, int>>;
  EXPECT_EQ(Keys(e), (K{{0.5, 1}, {1, 2}, {1, 3}, {2.5, 1}, {2.5, 1}, {3, 8}}));
  // Equal keys keep their order.
  EXPECT_EQ(e.At(3).values.title, "first 2.5");
  EXPECT_FALSE(e.SetSortMode(CueSheetEdit::kByQ));
  EXPECT_TRUE(e.SetSortMode(CueSheetEdit::kByChannel));
  EXPECT_EQ(Keys(e), (K{{0.5, 1}, {2.5, 1}, {2.5, 1}, {1, 2}, {1, 3}, {3, 8}}));
  EXPECT_FALSE(e.Changed());

  // Equal numbers on different channels stay equal; the order shown stays
  // the operator's choice.
  e.Renumber();
  EXPECT_EQ(Keys(e), (K{{1, 1}, {3, 1}, {3, 1}, {2, 2}, {2, 3}, {4, 8}}));
  EXPECT_TRUE(e.Changed());

  CueSheetEdit fromZero("", CueSheetEdit::kByQ);
  for (double q : {0.0, 0.5, 1.0, 1.0, 2.5})
    fromZero.AddWorking(Cue(q), static_cast<int>(q * 2) % 6 + 1);
  fromZero.Renumber();
  EXPECT_EQ(Keys(fromZero), (K{{0, 1}, {1, 2}, {2, 3}, {2, 3}, {3, 6}}));
}

TEST(CueSheetEdit, AddAndInsertProposeFromTheirNeighbours) {
  CueSheetEdit e("/snd", CueSheetEdit::kByQ);
  RecordFields f = e.ProposeAdd();
  EXPECT_EQ(f.qNumber, "1");
  EXPECT_EQ(f.channel, "1");
  EXPECT_EQ(f.pre, "8");
  EXPECT_TRUE(f.inSequence);
  EXPECT_EQ(f.timingText, "00:00:00.0");
  EXPECT_EQ(e.Append(Accepted(f)), 0);

  RecordValues last = Cue(4, "Storm");
  last.description = "loud";
  last.delay = 300;
  last.timing = 5000;
  last.fadeIn = 2;
  e.AddWorking(Cue(3), 5);
  e.AddWorking(last, 7);
  e.Sort();
  f = e.ProposeAdd();
  EXPECT_EQ(f.qNumber, "5");
  EXPECT_EQ(f.channel, "G1");
  EXPECT_EQ(f.title, "Storm");
  EXPECT_EQ(f.file, "");
  EXPECT_EQ(f.fadeIn, "0");
  EXPECT_EQ(f.description, "loud");
  EXPECT_EQ(f.delay, "300");
  EXPECT_EQ(f.timing, 5000);

  // Between row 1 (Q 3) and row 2 (Q 4): 3.5 from the record before.
  f = e.ProposeInsert(2);
  EXPECT_EQ(f.qNumber, "3.5");
  EXPECT_EQ(f.channel, "5");
  // Before the first row: half of its number, from that row itself.
  f = e.ProposeInsert(0);
  EXPECT_EQ(f.qNumber, "0.5");
  EXPECT_EQ(f.channel, "1");
  // The inserted record lands between its neighbours.
  f = e.ProposeInsert(2);
  EXPECT_EQ(e.Append(Accepted(f)), 2);

  // Sorted by channel, Add follows the last row of that order, which may
  // repeat a number of another channel.
  ASSERT_TRUE(e.SetSortMode(CueSheetEdit::kByChannel));
  e.AddWorking(Cue(1), 2);
  e.Sort();
  EXPECT_EQ(e.ProposeAdd().qNumber, "5");
  EXPECT_EQ(e.ProposeAdd().channel, "G1");
}

TEST(CueSheetEdit, ChangeAndDeleteKeepTrackOfTheRecord) {
  CueSheetEdit e("", CueSheetEdit::kByQ);
  for (double q : {1.0, 2.0, 3.0}) e.AddWorking(Cue(q), 1);
  RecordFields f = e.FieldsOf(0);
  EXPECT_EQ(f.qNumber, "1");
  f.qNumber = "9";
  f.channel = "G2";
  f.file = "FOUT";
  EXPECT_EQ(e.Change(0, Accepted(f, "FOUT")), 2);
  EXPECT_EQ(e.At(2).channel, 8);
  EXPECT_EQ(e.At(2).values.fileOrCommand, "FOUT");
  e.Delete(0);
  e.Delete(7);  // no such row: nothing
  EXPECT_EQ(e.Count(), 2);
  EXPECT_TRUE(e.Changed());
}

TEST(CueSheetEdit, OkFindsTheFirstRecordsSharingQAndChannel) {
  CueSheetEdit e("", CueSheetEdit::kByQ);
  e.AddWorking(Cue(5), 2);
  e.AddWorking(Cue(5), 3);
  e.AddWorking(Cue(1), 7);
  EXPECT_EQ(e.DuplicateMessage(), std::nullopt);
  e.AddWorking(Cue(5), 2);
  EXPECT_EQ(e.DuplicateMessage(),
            "異なるレコードにＱとチャネルが同一のものがあります。\nＱ番号5のCH2");
  // Listed first, so reported first.
  CueSheetEdit groups("", CueSheetEdit::kByQ);
  groups.AddWorking(Cue(1.5), 7);
  groups.AddWorking(Cue(9), 1);
  groups.AddWorking(Cue(9), 1);
  groups.AddWorking(Cue(1.5), 7);
  EXPECT_EQ(groups.DuplicateMessage(),
            "異なるレコードにＱとチャネルが同一のものがあります。\nＱ番号1.5のG1");
}

TEST(CueSheetEdit, DroppedFilesFollowTheFolderRules) {
  CueSheetEdit e("", CueSheetEdit::kByQ);
  e.Drop({"/show/snd/a.wav", "/show/snd/b.wav", "/show/snd/c.long.wav"});
  EXPECT_EQ(e.Folder(), "/show/snd");
  ASSERT_EQ(e.Count(), 3);
  EXPECT_EQ(e.At(0).values.qNumber, 1);
  EXPECT_EQ(e.At(2).values.qNumber, 3);
  EXPECT_EQ(e.At(2).values.title, "c.long");
  EXPECT_EQ(e.At(0).values.fileOrCommand, "a.wav");
  EXPECT_EQ(e.At(0).channel, 1);
  EXPECT_EQ(e.At(0).values.preLevel, 8.0);
  EXPECT_TRUE(e.At(0).values.inSequence);
  EXPECT_TRUE(e.Changed());

  e.Drop({"/SHOW/snd/fx/door.wav", "/elsewhere/bell.wav"});
  EXPECT_EQ(e.Folder(), "/show/snd");
  EXPECT_EQ(e.At(3).values.fileOrCommand, "fx/door.wav");
  EXPECT_EQ(e.At(3).values.qNumber, 4);
  EXPECT_EQ(e.At(4).values.fileOrCommand, "bell.wav");
}

TEST(CueSheetEdit, TheCueStoreTakesTheListChannelByChannel) {
  CueStore store;
  RecordValues old = Cue(1);
  store.AddRecord(4, old);
  CueSheetEdit e("/snd\\", CueSheetEdit::kByChannel);
  e.AddWorking(Cue(2), 1);
  e.AddWorking(Cue(1), 1);
  e.AddWorking(Cue(3, "group", "FUP"), 7);
  e.TrimFolder();
  e.ApplyTo(store);
  EXPECT_EQ(store.GetSoundFolder(), "/snd");
  EXPECT_EQ(store.GetCount(4), 0);
  ASSERT_EQ(store.GetCount(1), 2);
  // The ordering pass of each sheet ran.
  EXPECT_EQ(store.GetQNumber(1, 1), 1);
  EXPECT_EQ(store.GetFile(7, 1), "FUP");

  // An edit of the store's own copy gives it back unchanged.
  CueSheetEdit again("/snd", CueSheetEdit::kByQ);
  again.AddAllOf(store);
  CueStore copy;
  again.ApplyTo(copy);
  for (int ch = 1; ch <= 8; ++ch) {
    ASSERT_EQ(copy.GetCount(ch), store.GetCount(ch));
    for (int i = 1; i <= copy.GetCount(ch); ++i) {
      EXPECT_EQ(copy.GetTitle(ch, i), store.GetTitle(ch, i));
      EXPECT_EQ(copy.GetQNumber(ch, i), store.GetQNumber(ch, i));
    }
  }
  EXPECT_FALSE(again.Changed());
  again.SetFolder("/other");
  EXPECT_TRUE(again.Changed());
}

TEST(OptionEdit, OperationEntriesAreCheckedInTheDialogsOrder) {
  Settings s;
  OperationFields f = OperationFieldsOf(s);
  EXPECT_EQ(f.first[0], "10");
  EXPECT_EQ(f.second[5], "20");
  EXPECT_EQ(f.kneePoint, "1");
  EXPECT_EQ(f.kneeLevel, "0.5");
  EXPECT_EQ(f.wheel, "120");

  auto message = [](const OperationFields& fields) { return CheckOperationFields(fields).message; };
  OperationFields bad = f;
  bad.second[3] = "31";
  bad.first[0] = "0";
  EXPECT_EQ(message(bad), kSecondBufferTooLarge);
  bad.second[3] = "0";
  EXPECT_EQ(message(bad), kBufferNotPositive);
  bad = f;
  bad.first[5] = "0";
  EXPECT_EQ(message(bad), kBufferNotPositive);
  bad.first[5] = "11";
  EXPECT_EQ(message(bad), kFirstBufferTooLarge);
  bad = f;
  bad.kneePoint = "10.5";
  bad.kneeLevel = "-1";
  EXPECT_EQ(message(bad), kKneePointRange);
  bad.kneePoint = "10";
  EXPECT_EQ(message(bad), kKneeLevelRange);
  bad.kneeLevel = "0";
  bad.wheel = "abc";
  EXPECT_EQ(message(bad), kWheelNotPositive);

  bad.wheel = "40000";  // more than the setting holds: the largest it does
  const OperationCheck ok = CheckOperationFields(bad);
  ASSERT_TRUE(ok.values);
  EXPECT_EQ(ok.values->kneePoint, 10);
  EXPECT_EQ(ok.values->kneeLevel, 0);
  EXPECT_EQ(ok.values->wheel, 32767);
  EXPECT_EQ(ok.values->first[2], 10);
}

TEST(OptionEdit, DisplayOptionsIgnoreEntriesThatMakeNoSense) {
  Settings s;
  s.cueListFontSize = 95;
  s.cueListBackDisp = 5;
  DisplayFields f = DisplayFieldsOf(s);
  EXPECT_EQ(f.fontPoints, "9.5");
  EXPECT_EQ(f.backDisplay, "5");
  f.fontPoints = "9";
  f.backDisplay = "3.7";
  f.cursorFix = true;
  StoreDisplayFields(f, s);
  EXPECT_EQ(s.cueListFontSize, 90);
  EXPECT_EQ(s.cueListBackDisp, 3);
  EXPECT_EQ(s.cueListCurFix, 1);
  f.fontPoints = "0";
  f.backDisplay = "-1";
  StoreDisplayFields(f, s);
  EXPECT_EQ(s.cueListFontSize, 90);
  EXPECT_EQ(s.cueListBackDisp, 3);
}

}  // namespace
}  // namespace orvex
