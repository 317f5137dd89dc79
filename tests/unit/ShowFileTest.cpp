#include <gtest/gtest.h>

#include "MessageRecorder.h"
#include "TempDir.h"
#include "show/Cp932.h"
#include "show/ShowFile.h"

namespace orvex {
namespace {

std::string Cp932(const std::string& utf8) {
  std::optional<std::string> bytes = Utf8ToCp932(utf8);
  EXPECT_TRUE(bytes.has_value()) << utf8;
  return bytes.value_or("");
}

ShowLoadResult Parse(const std::string& utf8, CueStore& store) {
  return ParseShowText(Cp932(utf8), store);
}

std::string Format(const CueStore& store) {
  std::string bytes;
  EXPECT_TRUE(FormatShowText(store, &bytes));
  return *Cp932ToUtf8(bytes);
}

RecordValues Cue(double q, const std::string& title = "t") {
  RecordValues v;
  v.qNumber = q;
  v.title = title;
  v.fileOrCommand = "a.wav";
  return v;
}

TEST(Cp932, SeparatorsKanaAndNecCharactersMapBothWays) {
  EXPECT_EQ(Cp932("C:\\ソ①ｶ"), "C:\\\x83\x5C\x87\x40\xB6");
  EXPECT_EQ(Cp932ToUtf8("\x83\x5C\x87\x40\xB6\x5C"), "ソ①ｶ\\");
  EXPECT_FALSE(Utf8ToCp932("emoji \xF0\x9F\x8E\xB5").has_value());
  EXPECT_FALSE(Cp932ToUtf8("\x81").has_value());
}

TEST(ShowFileRead, FolderLineCommentsAndLineEnds) {
  CueStore store;
  auto r = Parse("# made by hand\nD:\\音響\\本番\\,\r\n# between\n1,1,a,a.wav,\n\n2,2,b,b.wav,\r\n",
                 store);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.skippedLines.empty());
  EXPECT_EQ(store.GetSoundFolder(), "D:\\音響\\本番");
  EXPECT_EQ(store.GetTitle(1, 1), "a");
  EXPECT_EQ(store.GetTitle(2, 1), "b");

  CueStore onlyFolder;
  Parse("E:\\snd,\r\n", onlyFolder);
  EXPECT_EQ(onlyFolder.GetSoundFolder(), "E:\\snd");
  for (int ch = 0; ch <= 8; ++ch) EXPECT_EQ(onlyFolder.GetCount(ch), 0);

  CueStore recordFirst;
  Parse("1,1,a,a.wav,\r\n2,1,b,b.wav,\r\n", recordFirst);
  EXPECT_EQ(recordFirst.GetSoundFolder(), "1,1,a,a.wav");
  EXPECT_EQ(recordFirst.GetCount(1), 1);
}

TEST(ShowFileRead, ShortLineTakesTheLineDefaults) {
  CueStore store;
  Parse(",\r\n4.5,3,  タイトル　\r\n", store);
  ASSERT_EQ(store.GetCount(3), 1);
  const CRecord& r = *store.Find(3, 1);
  EXPECT_EQ(r.qNumber, 4.5);
  EXPECT_EQ(r.title, "タイトル");  // blanks at the end of the line go, U+3000 included
  EXPECT_EQ(r.fileOrCommand, "");
  EXPECT_EQ(r.preLevel, 0);
  EXPECT_TRUE(r.inSequence);
  EXPECT_FALSE(r.outputSpecified);
  EXPECT_EQ(r.outputFlags, 0);
}

TEST(ShowFileRead, AllFieldsAndNumberForms) {
  CueStore store;
  Parse(",\n 12.5abc, +2 ,t,f.wav,7.5,1e1,.5,desc,261,0,65000,1500,1,extra,fields\n", store);
  const CRecord& r = *store.Find(2, 1);
  EXPECT_EQ(r.qNumber, 12.5);
  EXPECT_EQ(r.preLevel, 7.5);
  EXPECT_EQ(r.fadeIn, 10);
  EXPECT_EQ(r.fadeOut, 0.5);
  EXPECT_EQ(r.description, "desc");
  EXPECT_EQ(r.outputFlags, 261);
  EXPECT_FALSE(r.inSequence);
  EXPECT_EQ(r.timing, 65000);
  EXPECT_EQ(r.delay, 1500);
  EXPECT_TRUE(r.outputSpecified);
}

TEST(ShowFileRead, ChannelFieldForms) {
  CueStore store;
  auto r =
      Parse(",\n1,BGM,a\n2,-1,b\n3,-2,c\n4,0,d\n5,x,e\n6,9,f\n7,-3,g\n0,1,h\n-2,1,i\n,,,\n", store);
  EXPECT_EQ(store.GetTitle(6, 1), "a");
  EXPECT_EQ(store.GetTitle(7, 1), "b");
  EXPECT_EQ(store.GetTitle(8, 1), "c");
  EXPECT_EQ(store.GetCount(0), 0);
  EXPECT_EQ(r.skippedLines, (std::vector<int>{5, 6, 7, 8, 9, 10, 11}));
}

TEST(ShowFileRead, QuotedFieldsAsOtherToolsWriteThem) {
  CueStore store;
  Parse(
      ",\n"
      "1,1,\"Hello, world\",a.wav,\n"
      "2,1,\"say \"\"hi\"\"\",b.wav,\n"
      "3,1,\"\",c.wav,\n"
      "4,1,\"open,c.wav\n",  // never closed: read unquoted, quotes included
      store);
  EXPECT_EQ(store.GetTitle(1, 1), "Hello, world");
  EXPECT_EQ(store.GetFile(1, 1), "a.wav");
  EXPECT_EQ(store.GetTitle(1, 2), "say \"hi\"");
  EXPECT_EQ(store.GetTitle(1, 3), "");
  EXPECT_EQ(store.GetFile(1, 3), "c.wav");
  EXPECT_EQ(store.GetTitle(1, 4), "\"open");
  EXPECT_EQ(store.GetFile(1, 4), "c.wav");
}

TEST(ShowFileRead, UndecodableLineReportsAndKeepsEarlierRecords) {
  MessageRecorder messages;
  CueStore store;
  auto r =
      ParseShowText(",\r\n2,1,a,a.wav,\r\n1,1,b,b.wav,\r\n3,1,\x81\r\n4,1,d,d.wav,\r\n", store);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(messages.messages, std::vector<std::string>{kShowReadFailed});
  ASSERT_EQ(store.GetCount(1), 2);
  EXPECT_EQ(store.GetQNumber(1, 1), 2);  // the ordering pass did not run
}

TEST(ShowFileRead, MissingFileLeavesTheStoreAlone) {
  MessageRecorder messages;
  TempDir dir;
  CueStore store;
  store.AddRecord(1, Cue(1));
  EXPECT_FALSE(LoadShowFile(dir.File("absent.csv"), store).ok);
  EXPECT_EQ(messages.messages, std::vector<std::string>{kShowReadFailed});
  EXPECT_EQ(store.GetCount(1), 1);
}

TEST(ShowFileWrite, InterleavesChannelsByQNumber) {
  CueStore store;
  store.SetSoundFolder("C:\\snd");
  store.AddRecord(2, Cue(1, "q1"));
  store.AddRecord(2, Cue(3, "q3"));
  store.AddRecord(1, Cue(2, "q2"));
  store.AddRecord(3, Cue(2, "q2b"));
  store.AddRecord(8, Cue(2.5, "g2"));
  store.AddRecord(0, Cue(0.5, "never"));
  EXPECT_EQ(Format(store),
            "C:\\snd,\r\n"
            "1,2,q1,a.wav,0,0,0,,0,1,0,0,0,\r\n"
            "2,1,q2,a.wav,0,0,0,,0,1,0,0,0,\r\n"
            "2,3,q2b,a.wav,0,0,0,,0,1,0,0,0,\r\n"
            "2.5,-2,g2,a.wav,0,0,0,,0,1,0,0,0,\r\n"
            "3,2,q3,a.wav,0,0,0,,0,1,0,0,0,\r\n");
}

TEST(ShowFileWrite, NumberFormats) {
  CueStore store;
  RecordValues v = Cue(123.4567);
  v.preLevel = 3.14;
  v.fadeIn = 0.00001;
  v.fadeOut = 1234567;
  v.outputFlags = OUT_M | OUT_ON;
  v.outputSpecified = true;
  v.inSequence = false;
  v.timing = 3723400;
  v.delay = 250;
  store.AddRecord(7, v);
  v = Cue(124);
  v.preLevel = 10;
  store.AddRecord(1, v);
  v = Cue(125);
  v.preLevel = 7.5;
  store.AddRecord(1, v);
  EXPECT_EQ(Format(store),
            ",\r\n"
            "123.457,-1,t,a.wav,3.1,1e-05,1.23457e+06,,257,0,3723400,250,1,\r\n"
            "124,1,t,a.wav,10,0,0,,0,1,0,0,0,\r\n"
            "125,1,t,a.wav,7.5,0,0,,0,1,0,0,0,\r\n");
}

TEST(ShowFileWrite, RecordsOutsideTheQSequenceRangeDoNotHideLaterOnes) {
  CueStore store;
  store.AddRecord(1, Cue(1, "a"));
  store.AddRecord(1, Cue(0, "zero"));
  store.AddRecord(1, Cue(3, "c"));
  int skipped = 0;
  std::string bytes;
  ASSERT_TRUE(FormatShowText(store, &bytes, &skipped));
  EXPECT_EQ(skipped, 1);
  CueStore back;
  ParseShowText(bytes, back);
  EXPECT_EQ(back.GetCount(1), 2);
  EXPECT_EQ(back.GetTitle(1, 2), "c");
}

TEST(ShowFileWrite, QuoteField) {
  EXPECT_EQ(QuoteField(""), "");
  EXPECT_EQ(QuoteField("plain"), "plain");
  EXPECT_EQ(QuoteField("a,b"), "\"a,b\"");
  EXPECT_EQ(QuoteField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(QuoteField(",lead"), "\",lead\"");
}

TEST(ShowFileRoundTrip, EveryTextTheWriterWritesReadsBack) {
  const std::vector<std::string> texts = {"",
                                          "plain",
                                          "a,b",
                                          ",leading comma",
                                          ",",
                                          ",,",
                                          "trailing quote\"",
                                          "\"",
                                          "\"\"",
                                          "\"\"\"",
                                          "two \"\" quotes",
                                          "\"quoted\"",
                                          "mix \",\" inside",
                                          "end ,\"",
                                          "日本語、カナ",
                                          "ｶﾀｶﾅ",
                                          "①②Ⅲ",
                                          "C:\\a\\b.wav",
                                          "semi;colon",
                                          "tab\tinside",
                                          "trailing blank ",
                                          "\",\"\",\""};
  CueStore store;
  store.SetSoundFolder("C:\\音, folder");
  double q = 1;
  for (const std::string& text : texts) {
    RecordValues v = Cue(q++, text);
    v.fileOrCommand = text;
    v.description = text;
    store.AddRecord(1 + static_cast<int>(q) % 8, v);
  }
  std::string bytes;
  ASSERT_TRUE(FormatShowText(store, &bytes));
  CueStore back;
  ASSERT_TRUE(ParseShowText(bytes, back).ok);
  EXPECT_EQ(back.GetSoundFolder(), store.GetSoundFolder());
  for (int ch = 1; ch <= 8; ++ch) {
    ASSERT_EQ(back.GetCount(ch), store.GetCount(ch));
    for (int i = 1; i <= store.GetCount(ch); ++i) {
      EXPECT_EQ(back.GetTitle(ch, i), store.GetTitle(ch, i));
      EXPECT_EQ(back.GetFile(ch, i), store.GetFile(ch, i));
      EXPECT_EQ(back.GetDescription(ch, i), store.GetDescription(ch, i));
    }
  }
  std::string again;
  ASSERT_TRUE(FormatShowText(back, &again));
  EXPECT_EQ(again, bytes);
}

TEST(ShowFileSave, UnwritableTextLeavesTheOldFileUntouched) {
  MessageRecorder messages;
  TempDir dir;
  const std::string old = "C:\\old,\r\n1,1,old,old.wav,8,0,0,,0,1,0,0,0,\r\n";
  dir.Write("show.csv", old);
  for (const char* bad : {"emoji \xF0\x9F\x8E\xB5", "line\nbreak", "cr\rhere"}) {
    CueStore store;
    store.AddRecord(1, Cue(1));
    store.AddRecord(2, Cue(2, bad));
    EXPECT_FALSE(SaveShowFile(dir.File("show.csv"), store));
    EXPECT_EQ(dir.Read("show.csv"), old);
  }
  CueStore commentFolder;
  commentFolder.SetSoundFolder("#snd");
  EXPECT_FALSE(SaveShowFile(dir.File("show.csv"), commentFolder));
  EXPECT_EQ(dir.Read("show.csv"), old);
  EXPECT_EQ(messages.messages, std::vector<std::string>(4, kShowSaveFailed));
  // No temporary files are left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(ShowFileSave, WritesAndReplacesAFile) {
  MessageRecorder messages;
  TempDir dir;
  dir.Write("show.csv", "old contents");
  CueStore store;
  store.AddRecord(1, Cue(1, "新しい"));
  ASSERT_TRUE(SaveShowFile(dir.File("show.csv"), store));
  EXPECT_EQ(dir.Read("show.csv"), Cp932(",\r\n1,1,新しい,a.wav,0,0,0,,0,1,0,0,0,\r\n"));
  EXPECT_FALSE(SaveShowFile(dir.File("no/such/folder/show.csv"), store));
  EXPECT_EQ(messages.messages, std::vector<std::string>{kShowSaveFailed});
}

}  // namespace
}  // namespace orvex
