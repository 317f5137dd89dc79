#include "show/MarkerFile.h"

#include <gtest/gtest.h>

#include "show/Cp932.h"

namespace orvex {
namespace {

MarkerList Merged(const std::string& text, MarkerList list = {}) {
  MergeMarkerText(text, list);
  return list;
}

TEST(MarkerFileName, ReplacesTheFileNamesExtensionOnly) {
  EXPECT_EQ(MarkerFileName("C:\\Snd\\door.wav"), "C:\\Snd\\door.mrk");
  EXPECT_EQ(MarkerFileName("C:\\Snd\\a.b.wav"), "C:\\Snd\\a.b.mrk");
  EXPECT_EQ(MarkerFileName("C:\\Snd\\door"), "C:\\Snd\\door.mrk");
  // A "." in a folder name is not the file's extension, with either separator.
  EXPECT_EQ(MarkerFileName("C:\\my.snd\\door"), "C:\\my.snd\\door.mrk");
  EXPECT_EQ(MarkerFileName("/home/op/my.snd/door"), "/home/op/my.snd/door.mrk");
  EXPECT_EQ(MarkerFileName("/home/op/my.snd\\door.WAV"), "/home/op/my.snd\\door.mrk");
  EXPECT_EQ(MarkerFileName("door"), "door.mrk");
}

TEST(MarkerFileRead, MergesWithoutDuplicatesInFileOrder) {
  EXPECT_EQ(Merged("3\r\n100\r\n100\r\n250\r\n"), (MarkerList{100, 250}));
  // A second load keeps what is there and appends only what is new; the
  // operator's own duplicates stay.
  EXPECT_EQ(Merged("3\n250\n7\n100\n", {250, 9, 9}), (MarkerList{250, 9, 9, 7, 100}));
  // Lines beyond the count are not read; blanks and trailing text are allowed.
  EXPECT_EQ(Merged("2\r\n  5 frames\r\n+6\r\n8\r\n"), (MarkerList{5, 6}));
  EXPECT_EQ(Merged("0\r\n"), MarkerList{});
  EXPECT_EQ(Merged(""), MarkerList{});
  EXPECT_EQ(Merged("x\r\n5\r\n"), MarkerList{});
}

TEST(MarkerFileRead, AShortFileAddsPositionZeroOnce) {
  EXPECT_EQ(Merged("4\r\n30\r\n"), (MarkerList{30, 0}));
  EXPECT_EQ(Merged("4\r\n30\r\n", {0}), (MarkerList{0, 30}));
  // A count no file could hold is not counted through line by line.
  EXPECT_EQ(Merged("2147483647\r\n1\r\n"), (MarkerList{1, 0}));
  // Lines that are not numbers read as 0 as well.
  EXPECT_EQ(Merged("3\r\nabc\r\n\r\n9\r\n"), (MarkerList{0, 9}));
}

TEST(MarkerFileRead, PositionsAboveTheSignedRangeReadBackAsWritten) {
  const MarkerList big{2147483648u, 4294967295u, 3000000000u};
  EXPECT_EQ(Merged(MarkerFileText(big)), big);
  // Beyond 32 bits there is nothing to read back: the end of the range.
  EXPECT_EQ(Merged("2\r\n99999999999\r\n-5\r\n"), (MarkerList{4294967295u, 0}));
}

TEST(MarkerFileWrite, CountAndPositionsWithCrLf) {
  EXPECT_EQ(MarkerFileText({}), "0\r\n");
  EXPECT_EQ(MarkerFileText({300, 300, 4294967295u}), "3\r\n300\r\n300\r\n4294967295\r\n");
  // A file the home platform wrote comes back byte for byte.
  const std::string home = "3\r\n441000\r\n12\r\n2646000\r\n";
  EXPECT_EQ(MarkerFileText(Merged(home)), home);
}

TEST(TextPieces, LongLinesComeInPiecesOf511Bytes) {
  // The pieces look into the text, which outlives them.
  const std::string text = std::string(600, 'a') + "\r\nb\nc";
  auto pieces = TextPieces(text);
  ASSERT_EQ(pieces.size(), 4u);
  EXPECT_EQ(pieces[0].size(), 511u);
  EXPECT_EQ(pieces[1].size(), 89u);
  EXPECT_EQ(pieces[2], "b");
  EXPECT_EQ(pieces[3], "c");
  // A line of exactly 511 bytes leaves its line end as an empty piece.
  const std::string exact = std::string(511, 'x') + "\r\n";
  pieces = TextPieces(exact);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[1], "");
}

TEST(MarkerStore, ListsAreSharedAndOutliveTheirEntry) {
  MarkerStore store;
  EXPECT_EQ(store.Find("a"), nullptr);
  std::shared_ptr<MarkerList> a = store.Obtain("a");
  a->push_back(5);
  EXPECT_EQ(store.Obtain("a"), a);
  EXPECT_EQ(store.Find("A"), nullptr);  // letter case counts
  store.Put("b", a);
  store.Remove("a");
  ASSERT_NE(store.Find("b"), nullptr);
  EXPECT_EQ(*store.Find("b"), MarkerList{5});
  store.Put("b", nullptr);
  EXPECT_TRUE(store.Find("b")->empty());
  EXPECT_EQ(*a, MarkerList{5});  // whoever held the old list still has it
}

}  // namespace
}  // namespace orvex
