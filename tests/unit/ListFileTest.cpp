// Continuous-play list files: what the home platform writes reads back and
// is written again byte for byte; odd files read as the lists did there.
#include "show/ListFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "show/Cp932.h"
#include "show/TextNumbers.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

std::string Cp(const std::string& utf8) {
  return *Utf8ToCp932(utf8);
}

std::vector<ListItem> Items(std::initializer_list<std::pair<const char*, bool>> items) {
  std::vector<ListItem> out;
  for (const auto& [text, checked] : items) out.push_back({text, checked});
  return out;
}

TEST(ListFile, CommentsBlanksMissingAndOddChecks) {
  ListFileContent c = ParseListFile("# made by hand\r\n\r\nD:\\bgm\r\na.wav,0\r\nb.wav\r\n");
  EXPECT_EQ(c.folder, "D:\\bgm");
  EXPECT_EQ(c.items, Items({{" a.wav", false}, {" b.wav", true}}));

  // Comments and blank lines anywhere; only the first "," splits; a check
  // that is no number is off, any other number on; a CR ends the line.
  c = ParseListFile(
      "\n#x\nfolder \n#c.wav,1\n\nc.wav,on\nd.wav,1,2\ne.wav, 7\nf.wav,\ng.wav\rjunk,0\n"
      "h.wav,0\r\r\n");
  EXPECT_EQ(c.folder, "folder ");
  EXPECT_EQ(c.items, Items({{" c.wav", false},
                            {" d.wav", true},
                            {" e.wav", true},
                            {" f.wav", false},
                            {" g.wav", true},
                            {" h.wav", false}}));

  // A file of comments only has neither folder nor items; a line that is
  // not code page 932 names nothing, but still stands for the folder.
  c = ParseListFile("# only\r\n");
  EXPECT_EQ(c.folder, "");
  EXPECT_TRUE(c.items.empty());
  c = ParseListFile("\x81\r\nok.wav\r\n\xFF\x81\r\n");
  EXPECT_EQ(c.folder, "");
  EXPECT_EQ(c.items, Items({{" ok.wav", true}}));
}

TEST(ListFile, LongLinesAreReadInPiecesOf511Characters) {
  // Counted in characters, not bytes: 520 double-byte characters are 1040 bytes.
  std::string longName;
  for (int i = 0; i < 520; ++i) longName += "あ";
  const ListFileContent c = ParseListFile(Cp("F\r\n" + longName + ".wav,0\r\n"));
  ASSERT_EQ(c.items.size(), 2u);
  EXPECT_EQ(c.items[0].text, " " + longName.substr(0, 511 * 3));
  EXPECT_TRUE(c.items[0].checked);  // its "," went with the second piece
  EXPECT_EQ(c.items[1].text, " " + longName.substr(511 * 3) + ".wav");
  EXPECT_FALSE(c.items[1].checked);

  // A line of exactly 511 characters leaves its line end as a blank piece.
  const std::string exact(511, 'x');
  EXPECT_EQ(ParseListFile("F\n" + exact + "\nnext.wav\n").items,
            Items({{(" " + exact).c_str(), true}, {" next.wav", true}}));
}

TEST(ListFile, AFileFromTheHomePlatformIsWrittenBackByteForByte) {
  TempDir dir;
  const std::string bytes = Cp(
      "D:\\show\\bgm\r\nopening.wav,1\r\ninterval\\ワルツ.wav,0\r\nC:\\sounds\\雨音～.wav,1\r\n");
  dir.Write("set.lst", bytes);
  const ListFileRead read = ReadListFile(dir.File("set.lst"));
  ASSERT_EQ(read.status, ListReadStatus::kOk);
  EXPECT_EQ(read.content.items[1].text, " interval\\ワルツ.wav");
  EXPECT_EQ(ListItemName(read.content.items[1]), "interval\\ワルツ.wav");
  ASSERT_TRUE(WriteListFile(dir.File("copy.lst"), read.content.folder, read.content.items));
  EXPECT_EQ(dir.Read("copy.lst"), bytes);

  // Leading blanks of a display text never reach the file.
  ASSERT_TRUE(WriteListFile(dir.File("b.lst"), "E:\\x",
                            Items({{"   a.wav", true}, {"\u3000b.wav", false}})));
  EXPECT_EQ(dir.Read("b.lst"), "E:\\x\r\na.wav,1\r\nb.wav,0\r\n");
}

// What a reader would pass over is written so that it is read: a list
// without a folder keeps its first item, a folder or a name that begins
// like a comment stays what it is.
TEST(ListFile, AnEmptyFolderOrACommentLikeNameIsReadBackAsWritten) {
  TempDir dir;
  const std::vector<ListItem> items = Items({{" /music/a.wav", true}, {" #2.wav", false}});
  for (const std::string folder : {"", "#folder"}) {
    ASSERT_TRUE(WriteListFile(dir.File("set.lst"), folder, items));
    const ListFileContent back = ReadListFile(dir.File("set.lst")).content;
    EXPECT_EQ(TrimBlanks(back.folder), folder);
    ASSERT_EQ(back.items.size(), 2u) << dir.Read("set.lst");
    EXPECT_EQ(ListItemName(back.items[0]), "/music/a.wav");
    EXPECT_EQ(ListItemName(back.items[1]), "#2.wav");
    EXPECT_FALSE(back.items[1].checked);
  }
  EXPECT_EQ(dir.Read("set.lst"), " #folder\r\n/music/a.wav,1\r\n #2.wav,0\r\n");
}

TEST(ListFile, AFailedWriteLeavesTheOldFile) {
  TempDir dir;
  const std::string old = "D:\\bgm\r\nold.wav,1\r\n";
  dir.Write("set.lst", old);
  // A name code page 932 cannot hold as itself writes nothing at all.
  EXPECT_FALSE(
      WriteListFile(dir.File("set.lst"), "D:\\bgm", Items({{" \u00e9t\u00e9\u2603.wav", true}})));
  EXPECT_EQ(dir.Read("set.lst"), old);
  // Nor does a line too long to be read back as one line: a name of 510
  // characters with its ",1" is 512 (a half-width kana is one character).
  const std::string kana = "\uFF76";
  std::string name;
  for (int i = 0; i < 509; ++i) name += kana;
  EXPECT_FALSE(WriteListFile(dir.File("set.lst"), "D:\\bgm",
                             std::vector<ListItem>{{" " + name + kana, true}}));
  EXPECT_EQ(dir.Read("set.lst"), old);
  EXPECT_FALSE(WriteListFile(dir.File("set.lst"), std::string(512, 'f'), {}));
  EXPECT_EQ(dir.Read("set.lst"), old);
  // One character less writes, and reads back as written.
  TempDir other;
  ASSERT_TRUE(WriteListFile(other.File("long.lst"), std::string(511, 'f'),
                            std::vector<ListItem>{{" " + name, true}}));
  const ListFileContent back = ReadListFile(other.File("long.lst")).content;
  EXPECT_EQ(back.folder, std::string(511, 'f'));
  EXPECT_EQ(back.items, (std::vector<ListItem>{{" " + name, true}}));
  // A file that may not be replaced stays as it was, with nothing beside it.
  ::chmod(dir.File("set.lst").c_str(), 0444);
  EXPECT_FALSE(WriteListFile(dir.File("set.lst"), "D:\\bgm", Items({{" new.wav", true}})));
  EXPECT_EQ(dir.Read("set.lst"), old);
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) files += e.exists();
  EXPECT_EQ(files, 1u);

  EXPECT_EQ(ReadListFile(dir.File("none.lst")).status, ListReadStatus::kMissing);
  std::filesystem::create_directory(dir.File("folder.lst"));
  EXPECT_EQ(ReadListFile(dir.File("folder.lst")).status, ListReadStatus::kUnreadable);
}

TEST(ListFile, ItemPathsFollowTheFolderUnlessTheyStandAlone) {
  EXPECT_EQ(ListItemPath("D:\\bgm", {" sub\\x.wav", true}), "D:\\bgm\\sub\\x.wav");
  EXPECT_EQ(ListItemPath("D:\\bgm", {" E:\\y.wav", true}), "E:\\y.wav");
  EXPECT_EQ(ListItemPath("D:\\bgm", {" /home/a/y.wav", true}), "/home/a/y.wav");
  EXPECT_EQ(ListItemPath("", {" y.wav", true}), "y.wav");
}

}  // namespace
}  // namespace orvex
