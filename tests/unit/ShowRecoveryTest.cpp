// The recovery copy of an edited show: written after an edit at most once per
// interval, removed when the show is saved, and read back whole.
#include <gtest/gtest.h>

#include "MessageRecorder.h"
#include "TempDir.h"
#include "session/ShowRecovery.h"

namespace orvex {
namespace {

void AddCue(CueStore& show, double q, const std::string& file) {
  RecordValues v;
  v.qNumber = q;
  v.title = "T";
  v.fileOrCommand = file;
  ASSERT_TRUE(show.AddRecord(1, v));
}

int Cues(const ShowRecovery& recovery) {
  auto read = recovery.Read();
  return read ? read->show->GetCount(1) : -1;
}

TEST(ShowRecovery, EditsAreCopiedAtMostOncePerIntervalAndASaveRemovesTheCopy) {
  TempDir dir;
  // A first run: the settings folder is not there yet.
  ShowRecovery recovery(dir.File("Tesselby/Orvex.ini"));
  CueStore show;
  show.SetSoundFolder("D:\\音響");
  AddCue(show, 1, "雨.wav");

  recovery.Tick(0, false, 0, show, "");
  recovery.Flush();
  EXPECT_FALSE(recovery.Exists()) << "nothing to keep for an unedited show";

  const std::string path = dir.File("第一幕.csv");
  recovery.Tick(100, true, 1, show, path);
  recovery.Flush();
  ASSERT_TRUE(recovery.Exists());
  auto read = recovery.Read();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->showPath, path);
  EXPECT_EQ(read->show->GetSoundFolder(), "D:\\音響");
  EXPECT_EQ(read->show->GetFile(1, 1), "雨.wav");

  // The next edit waits for the interval, then goes in.
  AddCue(show, 2, "風.wav");
  recovery.Tick(100 + ShowRecovery::kIntervalMs - 1, true, 2, show, path);
  recovery.Flush();
  EXPECT_EQ(Cues(recovery), 1);
  recovery.Tick(100 + ShowRecovery::kIntervalMs, true, 2, show, path);
  recovery.Flush();
  EXPECT_EQ(Cues(recovery), 2);
  // Forced (the program is ending with unsaved changes): at once.
  AddCue(show, 3, "雷.wav");
  recovery.Tick(100 + ShowRecovery::kIntervalMs + 1, true, 3, show, path, true);
  recovery.Flush();
  EXPECT_EQ(Cues(recovery), 3);

  // Saved: the flag goes, and so does the copy.
  recovery.Tick(30000, false, 3, show, path);
  recovery.Flush();
  EXPECT_FALSE(recovery.Exists());
  // An edit after the save is copied at once, not an interval later.
  recovery.Tick(30001, true, 4, show, "");
  recovery.Flush();
  ASSERT_TRUE(recovery.Read());
  EXPECT_EQ(recovery.Read()->showPath, "");
  recovery.Discard();
  recovery.Flush();
  EXPECT_FALSE(recovery.Exists());
}

TEST(ShowRecovery, ACopyThatCannotBeReadIsNotOffered) {
  TempDir dir;
  MessageRecorder messages;
  ShowRecovery recovery(dir.File("Orvex.ini"));
  EXPECT_FALSE(recovery.Read());
  // A show copy without its info (a kill between the two writes).
  dir.Write("Orvex.recovery.csv", "snd,\r\n1,1,a,a.wav,10,0,0,,0,1,0,0,0,\r\n");
  EXPECT_FALSE(recovery.Exists());
  EXPECT_FALSE(recovery.Read());
  dir.Write("Orvex.recovery.ini", "garbage\n");
  EXPECT_FALSE(recovery.Read());
  dir.Write("Orvex.recovery.ini", "SHOW=/shows/a.csv\r\n");
  ASSERT_TRUE(recovery.Read());
  EXPECT_EQ(recovery.Read()->showPath, "/shows/a.csv");
}

}  // namespace
}  // namespace orvex
