#include <gtest/gtest.h>

#include "TempDir.h"
#include "show/PathMap.h"

namespace orvex {
namespace {

TEST(PathMap, DriveLettersAndSeparators) {
  TempDir dir;
  dir.Write("show/Cue 1.wav", "x");
  DriveMap drives{{"D", dir.Path().string() + "/"}};
  EXPECT_EQ(NativePath("D:\\show\\Cue 1.wav", drives), dir.File("show/Cue 1.wav"));
  EXPECT_EQ(NativePath("d:\\show\\Cue 1.wav", drives), dir.File("show/Cue 1.wav"));
  EXPECT_EQ(NativePath("d:show\\Cue 1.wav", drives), dir.File("show/Cue 1.wav"));
  // An unmapped drive stays recognisable rather than turning into a wrong path.
  EXPECT_EQ(NativePath("E:\\x.wav", drives), "E:/x.wav");
  EXPECT_EQ(NativePath("", drives), "");
}

TEST(PathMap, ComponentsAreFoundWithoutRegardToCase) {
  TempDir dir;
  dir.Write("Sounds/Act1/Ｔｈｕｎｄｅｒ.WAV", "x");
  DriveMap drives{{"C", dir.Path().string()}};
  EXPECT_EQ(NativePath("C:\\SOUNDS\\act1\\ｔｈｕｎｄｅｒ.wav", drives),
            dir.File("Sounds/Act1/Ｔｈｕｎｄｅｒ.WAV"));
  // What cannot be found keeps the found prefix and the rest as stored.
  EXPECT_EQ(NativePath("C:\\sounds\\ACT2\\x.wav", drives), dir.File("Sounds/ACT2/x.wav"));
  // An exact match wins over a case-insensitive one.
  dir.Write("sounds/act1/y.wav", "y");
  EXPECT_EQ(NativePath("C:\\sounds\\act1\\y.wav", drives), dir.File("sounds/act1/y.wav"));
}

TEST(PathMap, CaseFolding) {
  EXPECT_TRUE(SameNameIgnoringCase("Abc.WAV", "aBC.wav"));
  EXPECT_TRUE(SameNameIgnoringCase("Ä", "ä"));
  EXPECT_TRUE(SameNameIgnoringCase("ＡＢ", "ａｂ"));
  EXPECT_FALSE(SameNameIgnoringCase("abc", "abcd"));
  EXPECT_FALSE(SameNameIgnoringCase("ｶ", "ｷ"));
  EXPECT_FALSE(SameNameIgnoringCase("\xE3\x81", "\xE3\x82"));  // truncated sequences
}

}  // namespace
}  // namespace orvex
