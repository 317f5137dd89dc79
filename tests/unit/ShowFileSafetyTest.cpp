// Faults of reading and saving shows that would lose or change data without
// a word.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "MessageRecorder.h"
#include "TempDir.h"
#include "show/AtomicFile.h"
#include "show/Cp932.h"
#include "show/ShowFile.h"

namespace orvex {
namespace {

RecordValues Cue(double q, const std::string& file = "a.wav") {
  RecordValues v;
  v.qNumber = q;
  v.title = "t";
  v.fileOrCommand = file;
  return v;
}

std::string Cp932(const std::string& utf8) {
  return Utf8ToCp932(utf8).value_or("");
}

TEST(ShowFileRead, NoCarriageReturnStaysAtTheEndOfALine) {
  for (const char* text : {"C:\\snd\\,\r\r\n1,1,a,a.wav,\r\r\n", "C:\\snd,\r", "C:\\snd\r\n"}) {
    CueStore store;
    ASSERT_TRUE(ParseShowText(text, store).ok);
    EXPECT_EQ(store.GetSoundFolder(), "C:\\snd") << text;
  }
  CueStore last;
  ParseShowText(",\r\n1,1,a,a.wav,8,0,0,d\r", last);
  EXPECT_EQ(last.GetDescription(1, 1), "d");
}

TEST(ShowFileRead, AnythingButARegularFileFailsToRead) {
  MessageRecorder messages;
  TempDir dir;
  std::filesystem::create_directory(dir.File("folder.csv"));
  ASSERT_EQ(::mkfifo(dir.File("fifo.csv").c_str(), 0644), 0);
  for (const char* name : {"folder.csv", "fifo.csv"}) {
    CueStore store;
    store.AddRecord(1, Cue(1));
    EXPECT_FALSE(LoadShowFile(dir.File(name), store).ok) << name;
    EXPECT_EQ(store.GetCount(1), 1) << "the cue store must stay as it was";
  }
  EXPECT_EQ(messages.messages, std::vector<std::string>(2, kShowReadFailed));
  EXPECT_EQ(ReadRegularFile(dir.File("folder.csv")).status, FileReadStatus::kUnreadable);
  EXPECT_EQ(ReadRegularFile(dir.File("none.csv")).status, FileReadStatus::kMissing);
}

TEST(ShowFileRead, ManyDoubledQuotesReadBackAsTheirRuns) {
  CueStore store;
  const std::string quotes(100000, '"');
  ParseShowText(",\r\n1,1,x" + quotes + "y" + quotes + ",a.wav,\r\n", store);
  EXPECT_EQ(store.GetTitle(1, 1), "x\"y\"");
}

TEST(ShowFileSave, LookAlikesInNamesFailBeforeTheFileIsTouchedAndNameTheCue) {
  MessageRecorder messages;
  TempDir dir;
  dir.Write("show.csv", "old");
  CueStore store;
  store.AddRecord(1, Cue(1, "曲1.wav"));
  store.AddRecord(3, Cue(2.5, "曲〜1.wav"));
  ShowSaveProblem problem;
  EXPECT_FALSE(SaveShowFile(dir.File("show.csv"), store, nullptr, &problem));
  EXPECT_EQ(dir.Read("show.csv"), "old");
  EXPECT_EQ(messages.messages, std::vector<std::string>{kShowSaveFailed});
  EXPECT_EQ(problem.field, "file");
  EXPECT_EQ(problem.channel, 3);
  EXPECT_EQ(problem.qNumber, 2.5);
  EXPECT_EQ(problem.character, "〜");
  EXPECT_NE(DescribeSaveProblem(problem).find("cue 2.5 on CH3"), std::string::npos);

  CueStore folder;
  folder.SetSoundFolder("D:\\a¥b");
  std::string unused;
  EXPECT_FALSE(FormatShowText(folder, &unused, nullptr, &problem));
  EXPECT_EQ(problem.field, "folder");
  EXPECT_EQ(problem.character, "¥");

  // The folder line loses trailing commas when read: such a folder is refused;
  // trailing backslashes mean nothing and are dropped.
  folder.SetSoundFolder("\\\\,\\,\\");
  EXPECT_FALSE(FormatShowText(folder, &unused, nullptr, &problem));
  EXPECT_EQ(problem.character, ",");
  folder.SetSoundFolder("C:\\");
  ASSERT_TRUE(FormatShowText(folder, &unused));
  EXPECT_EQ(unused, "C:,\r\n");

  // In titles and descriptions the look-alike is what the operator means.
  CueStore texts;
  RecordValues v = Cue(1);
  v.title = "曲〜1";
  v.description = "¥100−";
  texts.AddRecord(8, v);
  std::string bytes;
  ASSERT_TRUE(FormatShowText(texts, &bytes));
  EXPECT_EQ(bytes, Cp932(",\r\n1,-2,曲～1,a.wav,0,0,0,\\100－,0,1,0,0,0,\r\n"));
}

TEST(ShowFileSave, AReadOnlyShowIsRefused) {
  MessageRecorder messages;
  TempDir dir;
  dir.Write("show.csv", "old");
  ::chmod(dir.File("show.csv").c_str(), 0444);
  CueStore store;
  store.AddRecord(1, Cue(1));
  EXPECT_FALSE(SaveShowFile(dir.File("show.csv"), store));
  EXPECT_EQ(dir.Read("show.csv"), "old");
  EXPECT_EQ(messages.messages, std::vector<std::string>{kShowSaveFailed});
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}

TEST(AtomicFile, LinksStayLinksAndTheFileKeepsItsIdentity) {
  TempDir dir;
  dir.Write("real/show.csv", "old");
  const std::string real = dir.File("real/show.csv");
  ::chmod(real.c_str(), 0640);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(real.c_str(), 4321, 8765), 0);
  }
  ASSERT_EQ(::symlink("real/show.csv", dir.File("link.csv").c_str()), 0);
  ASSERT_TRUE(WriteFileAtomically(dir.File("link.csv"), "new"));
  EXPECT_TRUE(S_ISLNK(StatOf(dir.File("link.csv")).st_mode));
  EXPECT_EQ(dir.Read("real/show.csv"), "new");
  struct stat st = StatOf(real);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (::geteuid() == 0) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 8765u);
  }

  ASSERT_EQ(::link(real.c_str(), dir.File("hard.csv").c_str()), 0);
  ASSERT_TRUE(WriteFileAtomically(dir.File("hard.csv"), "newer, and longer"));
  EXPECT_EQ(dir.Read("real/show.csv"), "newer, and longer");
  ASSERT_TRUE(WriteFileAtomically(real, "short"));
  EXPECT_EQ(dir.Read("hard.csv"), "short");
  EXPECT_EQ(StatOf(real).st_nlink, 2u);

  // A dangling link names the file to create; a new file gets the mode the
  // umask gives it, and the umask itself is left as it was.
  ASSERT_EQ(::symlink("real/fresh.csv", dir.File("dangling.csv").c_str()), 0);
  const mode_t mask = ::umask(027);
  ASSERT_TRUE(WriteFileAtomically(dir.File("dangling.csv"), "x"));
  EXPECT_EQ(::umask(mask), 027u);
  EXPECT_EQ(dir.Read("real/fresh.csv"), "x");
  EXPECT_EQ(StatOf(dir.File("real/fresh.csv")).st_mode & 07777, 0640u);
  EXPECT_TRUE(S_ISLNK(StatOf(dir.File("dangling.csv")).st_mode));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("real")), {}), 2);
}

TEST(AtomicFile, NamesUpToTheLimitCanBeSaved) {
  TempDir dir;
  std::string name;
  for (int i = 0; i < 82; ++i) name += "音";  // 246 bytes
  name += ".csv";
  ASSERT_EQ(name.size(), 250u);
  ASSERT_TRUE(WriteFileAtomically(dir.File(name), "a"));
  ASSERT_TRUE(WriteFileAtomically(dir.File(name), "b"));
  EXPECT_EQ(dir.Read(name), "b");
  EXPECT_FALSE(WriteFileAtomically(dir.Path().string(), "a folder is not a file"));
}

}  // namespace
}  // namespace orvex
