// The record editor's rules without its window: timing texts, the checks of
// OK in their order, the normalisation after them, the lists and toggles
// that follow the channel, and Browse.
#include <gtest/gtest.h>

#include "session/RecordEdit.h"

namespace orvex {
namespace {

RecordFields Typed(std::string q = "1", std::string file = "a.wav") {
  RecordFields f;
  f.qNumber = std::move(q);
  f.file = std::move(file);
  f.channel = "1";
  f.pre = "8";
  f.fadeIn = "0";
  f.fadeOut = "0";
  f.delay = "0";
  f.timingText = "00:00:00.0";
  return f;
}

TEST(RecordEdit, TimingTextsReadFromTheRightAndShowAsHoursToTenths) {
  const std::pair<const char*, int32_t> cases[] = {
      {"01:02:03.4", 3723400}, {"1:30", 90000},           {"45", 45000},
      {"0:00:10.25", 10250},   {"0:00:10.123456", 10123}, {"", 0},
      {"10.", 10000},          {"x:1:2:3", 3723000},      {"abc", 0}};
  for (const auto& [text, ms] : cases) EXPECT_EQ(ParseTiming(text), ms) << text;
  // Each part is held in 16 bits; a total past 32 bits is the largest timing.
  EXPECT_EQ(ParseTiming("65536"), 0);
  EXPECT_EQ(ParseTiming("65535:0:0"), INT32_MAX);

  EXPECT_EQ(TimingText(3723400), "01:02:03.4");
  EXPECT_EQ(TimingText(0), "00:00:00.0");
  EXPECT_EQ(TimingText(90059), "00:01:30.0");
  EXPECT_EQ(ParseTiming(TimingText(3723400)), 3723400);
}

TEST(RecordEdit, OkRefusesInOrderAndLeavesEveryFieldAsTyped) {
  for (const char* q : {"0", "-1", "abc", ""}) {
    RecordFields f = Typed(q, "");
    f.pre = "12";
    const RecordFields before = f;
    EXPECT_EQ(AcceptRecord(f, true, true), std::string(kQNumberRefused)) << q;
    EXPECT_EQ(f.pre, before.pre);
  }
  RecordFields f = Typed("0.5", "");
  EXPECT_EQ(AcceptRecord(f, true, true), std::string(kFileRequired));

  // Folder, separator and file: 128 characters are refused, 127 pass,
  // counted in characters, command words and absolute names included.
  f = Typed("0.5", std::string(125, 'x'));
  f.folder = "ab";
  EXPECT_EQ(AcceptRecord(f, true, true), std::string(kFileTooLong));
  f.file = std::string(124, 'x');
  EXPECT_EQ(AcceptRecord(f, true, true), std::nullopt);
  f = Typed("1", "C:\\" + std::string(100, 'y'));
  f.folder = std::string(10, 'A') + "音音音音音音音音音音";  // 20 characters, 40 bytes
  EXPECT_EQ(AcceptRecord(f, true, true), std::nullopt);
  f.file += std::string(4, 'z');
  EXPECT_EQ(AcceptRecord(f, true, true), std::string(kFileTooLong));
}

TEST(RecordEdit, ChannelTextsAndGroupRecordsThatWouldBeLostAreRefused) {
  // Change knows no "BGM": such a record would have no channel and vanish.
  RecordFields f = Typed();
  f.channel = "BGM";
  EXPECT_EQ(AcceptRecord(f, true, false), std::string(kChannelRefused));
  EXPECT_EQ(AcceptRecord(f, true, true), std::nullopt);
  EXPECT_EQ(ChannelOfText("BGM", true), 6);
  for (const char* text : {"x", "0", "7", "g1", "12", ""}) {
    f = Typed();
    f.channel = text;
    EXPECT_EQ(AcceptRecord(f, true, true), std::string(kChannelRefusedBgm)) << text;
  }
  // From the cue list the channel is the record's own and not checked.
  f = Typed();
  f.channel = "";
  EXPECT_EQ(AcceptRecord(f, false, false), std::nullopt);

  // A group fades and sets levels only.
  for (const char* file : {"list.lst", "a.wav", "STOP", "PAUSE", "CONT", "fout"}) {
    f = Typed("1", file);
    f.channel = "G2";
    EXPECT_EQ(AcceptRecord(f, true, false), std::string(kGroupCommandOnly)) << file;
  }
  for (const char* word : {"FOUT", "FUP", "FDOWN", "UP", "DOWN"}) {
    f = Typed("1", word);
    f.channel = "G1";
    EXPECT_EQ(AcceptRecord(f, false, false), std::nullopt) << word;
  }
}

TEST(RecordEdit, OkDerivesTheTitleClampsAndReadsTheTiming) {
  RecordFields f = Typed("1", "snd\\sub\\door.slam.long.wav");
  f.pre = "12";
  f.fadeIn = "-2";
  f.fadeOut = "-1";
  f.delay = "-5";
  f.timingText = "1:30";
  ASSERT_EQ(AcceptRecord(f, true, false), std::nullopt);
  EXPECT_EQ(f.title, "door");
  EXPECT_EQ(f.pre, "10.0");
  EXPECT_EQ(f.fadeIn, "0.0");
  EXPECT_EQ(f.fadeOut, "0.0");
  EXPECT_EQ(f.delay, "0");
  EXPECT_EQ(f.timing, 90000);

  const std::pair<const char*, const char*> titles[] = {
      {"STOP", "STOP"}, {"C:door.wav", "door"}, {"/show/snd/bell.wav", "bell"}, {"x", "x"}};
  for (const auto& [file, title] : titles) {
    f = Typed("1", file);
    f.pre = "-3";
    ASSERT_EQ(AcceptRecord(f, true, false), std::nullopt);
    EXPECT_EQ(f.title, title);
    EXPECT_EQ(f.pre, "0.0");
  }
  // A title that was typed stays.
  f = Typed("1", "a.wav");
  f.title = "Opening";
  ASSERT_EQ(AcceptRecord(f, true, false), std::nullopt);
  EXPECT_EQ(f.title, "Opening");
}

TEST(RecordEdit, ListsAndOutputTogglesFollowTheChannel) {
  EXPECT_EQ(CommandListOnOpening("3"), (std::vector<std::string>{"STOP", "FOUT", "FUP", "FDOWN",
                                                                 "UP", "DOWN", "PAUSE", "CONT"}));
  EXPECT_EQ(CommandListAfterChange("3"), (std::vector<std::string>{"STOP", "FOUT", "PAUSE", "CONT",
                                                                   "FUP", "FDOWN", "UP", "DOWN"}));
  EXPECT_EQ(CommandListAfterChange("G1"),
            (std::vector<std::string>{"FOUT", "FUP", "FDOWN", "UP", "DOWN"}));
  EXPECT_EQ(CommandListOnOpening("G2"), CommandListAfterChange("G1"));

  using E = std::array<bool, 6>;  // M, G1, G2, X, Y, ON
  EXPECT_EQ(OutputEnables(false, "G1"), (E{}));
  EXPECT_EQ(OutputEnables(true, "G1"), (E{true, false, false, true, true, true}));
  EXPECT_EQ(OutputEnables(true, "4"), (E{true, true, true, true, true, false}));
}

TEST(RecordEdit, BrowseProposesFromTheFieldsAndTakesChosenFilesIntoTheFolder) {
  RecordFields f = Typed("1", "");
  f.folder = "/show/snd";
  EXPECT_EQ(ProposeBrowse(f).proposed, "/show/snd\\*.wav");
  f.file = "STOP";
  EXPECT_EQ(ProposeBrowse(f).proposed, "/show/snd\\*.*");
  f.file = "fx\\door.wav";
  EXPECT_EQ(ProposeBrowse(f).proposed, "/show/snd\\fx\\door.wav");
  f.file = "D:\\other\\x.wav";
  EXPECT_EQ(ProposeBrowse(f).proposed, "D:\\other\\x.wav");
  f.folder.clear();
  f.file.clear();
  EXPECT_EQ(ProposeBrowse(f).proposed, "*.wav");
  EXPECT_FALSE(ProposeBrowse(f).listFile);
  f.channel = "BGM";
  EXPECT_TRUE(ProposeBrowse(f).listFile);

  EXPECT_EQ(BrowsedFile("/show/snd", "/show/snd/fx/door.wav"), "fx/door.wav");
  EXPECT_EQ(BrowsedFile("/Show/SND", "/show/snd/door.wav"), "door.wav");
  // Outside the folder, or with none, the path stays whole and absolute.
  EXPECT_EQ(BrowsedFile("/show/snd", "/elsewhere/door.wav"), "/elsewhere/door.wav");
  EXPECT_EQ(BrowsedFile("", "/elsewhere/door.wav"), "/elsewhere/door.wav");
}

TEST(RecordEdit, FieldsOfARecordReadBackAsTheSameRecord) {
  CRecord r;
  r.qNumber = 12.5;
  r.title = "Storm";
  r.fileOrCommand = "storm.wav";
  r.preLevel = 7.5;
  r.fadeIn = 1.25;
  r.fadeOut = 3;
  r.description = "thunder";
  r.inSequence = false;
  r.timing = 3723400;
  r.delay = 250;
  r.outputFlags = OUT_M | OUT_X;
  r.outputSpecified = true;
  const RecordFields f = FieldsOfRecord(r, 8, "/snd");
  EXPECT_EQ(f.channel, "G2");
  EXPECT_EQ(f.qNumber, "12.5");
  EXPECT_EQ(f.timingText, "01:02:03.4");
  const RecordValues v = ValuesOfFields(f);
  EXPECT_EQ(v.qNumber, 12.5);
  EXPECT_EQ(v.preLevel, 7.5);
  EXPECT_EQ(v.fadeIn, 1.25);
  EXPECT_EQ(v.title, "Storm");
  EXPECT_EQ(v.description, "thunder");
  EXPECT_FALSE(v.inSequence);
  EXPECT_EQ(v.timing, 3723400);
  EXPECT_EQ(v.delay, 250);
  EXPECT_EQ(v.outputFlags, OUT_M | OUT_X);
  EXPECT_TRUE(v.outputSpecified);
}

}  // namespace
}  // namespace orvex
