#include <gtest/gtest.h>

#include "show/CueStore.h"

namespace orvex {
namespace {

RecordValues Cue(double q, std::string file = "a.wav") {
  RecordValues v;
  v.qNumber = q;
  v.fileOrCommand = std::move(file);
  v.title = "T" + std::to_string(q);
  return v;
}

std::vector<double> Order(const CQSheet& s) {
  std::vector<double> qs;
  for (int i = 1; i <= s.GetCount(); ++i) qs.push_back(s.At(i).qNumber);
  return qs;
}

CQSheet SheetOf(std::initializer_list<double> qs) {
  CQSheet s;
  for (double q : qs) s.Add(Cue(q));
  return s;
}

TEST(QSheet, MoveSmallerToFrontOnlyMovesRecordsBelowTheFirst) {
  struct Case {
    std::initializer_list<double> in;
    std::vector<double> out;
  };
  for (const Case& c : {Case{{1, 3, 2}, {1, 3, 2}}, Case{{3, 1, 2}, {1, 3, 2}},
                        Case{{2, 3, 1}, {1, 2, 3}}, Case{{5}, {5}}, Case{{}, {}}}) {
    CQSheet s = SheetOf(c.in);
    s.MoveSmallerToFront();
    EXPECT_EQ(Order(s), c.out);
  }
}

// The pass as the operator knows it, one move at a time, against random
// sheets with repeated numbers.
TEST(QSheet, MoveSmallerToFrontMatchesMovingOneRecordAtATime) {
  uint32_t seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 200; ++round) {
    std::vector<double> q(next() % 12);
    for (double& v : q) v = static_cast<double>(next() % 6);
    std::vector<double> expected = q;
    for (size_t i = 1; i < expected.size(); ++i) {
      if (expected[0] > expected[i]) {
        double moved = expected[i];
        expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(i));
        expected.insert(expected.begin(), moved);
      }
    }
    CQSheet s;
    for (size_t i = 0; i < q.size(); ++i) {
      RecordValues v = Cue(q[i]);
      v.title = std::to_string(i);
      s.Add(v);
    }
    s.MoveSmallerToFront();
    ASSERT_EQ(Order(s), expected);
    // Equal numbers keep their order: titles of equal numbers stay ascending.
    for (int i = 1; i < s.GetCount(); ++i) {
      if (s.At(i).qNumber == s.At(i + 1).qNumber) {
        EXPECT_LT(std::stoi(s.GetTitle(i)), std::stoi(s.GetTitle(i + 1)));
      }
    }
  }
}

TEST(QSheet, EqualQNumbersKeepTheirOrder) {
  CQSheet s;
  RecordValues a = Cue(2), b = Cue(2);
  a.title = "first";
  b.title = "second";
  s.Add(a);
  s.Add(b);
  s.MoveSmallerToFront();
  EXPECT_EQ(s.GetTitle(1), "first");
  EXPECT_EQ(s.GetTitle(2), "second");
}

TEST(QSheet, PositionsOutsideTheSheetAreHarmless) {
  CQSheet s = SheetOf({1, 2});
  CQSheet empty;
  EXPECT_EQ(s.GetTitle(0), "");
  EXPECT_EQ(s.GetTitle(3), "");
  EXPECT_EQ(empty.GetTitle(1), "");
  EXPECT_EQ(s.GetChannelData(3), ChannelData{});
  s.Set(3, Cue(9));
  s.SetBasic(0, "x", "y", "z", 9, 9, 9, 9);
  s.SetChannelData(5, ChannelData{1});
  EXPECT_EQ(Order(s), (std::vector<double>{1, 2}));

  CueStore store;
  store.AddRecord(3, Cue(1));
  EXPECT_TRUE(store.IsInSequence(3, 2));
  EXPECT_EQ(store.GetQNumber(3, 2), 0);
  EXPECT_EQ(store.GetFile(9, 1), "");
  EXPECT_EQ(store.GetMaxQNumber(4), 0);
}

TEST(QSheet, SetBasicKeepsRoutingTimingAndChannelData) {
  CQSheet s;
  RecordValues v = Cue(1);
  v.timing = 1234;
  v.delay = 500;
  v.outputFlags = OUT_G1 | OUT_ON;
  v.outputSpecified = true;
  v.inSequence = false;
  s.Add(v);
  ChannelData data{};
  data[0] = 42;
  data[138] = 7;
  s.SetChannelData(1, data);
  s.SetBasic(1, "new", "b.wav", "d", 3, 5, 1, 2);
  const CRecord& r = s.At(1);
  EXPECT_EQ(r.title, "new");
  EXPECT_EQ(r.qNumber, 3);
  EXPECT_EQ(r.timing, 1234);
  EXPECT_EQ(r.delay, 500);
  EXPECT_EQ(r.outputFlags, OUT_G1 | OUT_ON);
  EXPECT_TRUE(r.outputSpecified);
  EXPECT_FALSE(r.inSequence);
  EXPECT_EQ(r.channelData, data);
}

TEST(CueStore, RecordReplacingAccessorsReorder) {
  CueStore store;
  for (double q : {1, 2, 3}) store.AddRecord(2, Cue(q));
  store.SetRecordBasic(2, 3, "t", "f.wav", "", 0.5, 0, 0, 0);
  EXPECT_EQ(store.GetQNumber(2, 1), 0.5);
  EXPECT_EQ(store.GetMaxQNumber(2), 2);
}

TEST(CueStore, ChannelsOutsideTheStoreAreRefused) {
  CueStore store;
  EXPECT_FALSE(store.AddRecord(9, Cue(1)));
  EXPECT_FALSE(store.AddRecord(-1, Cue(1)));
  EXPECT_TRUE(store.AddRecord(0, Cue(1)));
  EXPECT_TRUE(store.AddRecord(8, Cue(1)));
  store.ClearCueStore();
  EXPECT_EQ(store.GetCount(8), 0);
}

TEST(CueStore, CommandWordsAreExactAndCaseSensitive) {
  CueStore store;
  for (const char* f : {"FOUT", "fout", "FOUT ", "STOP", "CONT", "PAUSE", "x.wav"})
    store.AddRecord(1, Cue(1, f));
  EXPECT_TRUE(store.IsCommand(1, 1));
  EXPECT_TRUE(store.IsFout(1, 1));
  EXPECT_FALSE(store.IsCommand(1, 2));
  EXPECT_FALSE(store.IsCommand(1, 3));
  EXPECT_TRUE(store.IsStop(1, 4));
  EXPECT_TRUE(store.IsCont(1, 5));
  EXPECT_TRUE(store.IsPause(1, 6));
  EXPECT_FALSE(store.IsCommand(1, 7));
}

TEST(CueStore, WavPathResolvesAgainstTheSoundFolder) {
  EXPECT_EQ(ResolveWavPath("D:\\snd", "C:\\a\\b.wav"), "C:\\a\\b.wav");
  EXPECT_EQ(ResolveWavPath("D:\\snd", "b.wav"), "D:\\snd\\b.wav");
  EXPECT_EQ(ResolveWavPath("", "b.wav"), "b.wav");
  EXPECT_EQ(ResolveWavPath("D:\\snd", ":b.wav"), "D:\\snd\\:b.wav");
  EXPECT_EQ(ResolveWavPath("D:\\snd", "/home/op/b.wav"), "/home/op/b.wav");
  EXPECT_EQ(ResolveWavPath("D:\\snd", "sub\\b.wav"), "D:\\snd\\sub\\b.wav");
}

TEST(CueStore, OutputNotation) {
  EXPECT_EQ(OutputNotation(OUT_M | OUT_G2 | OUT_ON, true), "M,G2,ON");
  EXPECT_EQ(OutputNotation(OUT_G1 | OUT_X, true), "G1,X");
  EXPECT_EQ(OutputNotation(OUT_M | OUT_Y, false), "");
  EXPECT_EQ(OutputNotation(0x0FF & ~0x0C8, true), "M,G1,G2,X,Y");
}

}  // namespace
}  // namespace orvex
