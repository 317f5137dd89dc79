// The settings file is edited by hand: what the operator wrote must survive
// and read as they meant it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>

#include "MessageRecorder.h"
#include "TempDir.h"
#include "session/OrvexDoc.h"
#include "show/IniFile.h"
#include "show/PathMap.h"
#include "show/Settings.h"

namespace orvex {
namespace {

TEST(IniFile, HandEditsSurviveALoadAndSave) {
  const std::string text =
      "\xEF\xBB\xBF; my drives\n"
      "stray line before any section\n"
      "[VERSION]\n"
      "VERSION=710\n"
      "\n"
      "[DRIVES]\n"
      "# the show disk\n"
      "D = /media/show\n"
      "not an entry\n"
      "=no name\n"
      "d=/second/wins/not\n"
      "\n"
      "[BROKEN\n"
      "MASTER=1\n"
      "[FADER]\n"
      "MASTER=1234\n"
      "[fader]\n"
      "MASTER=99\n"
      "BGM=500\n";
  IniFile ini;
  ini.Parse(text);
  EXPECT_EQ(ini.GetInt("VERSION", "VERSION"), 710);
  EXPECT_EQ(ini.GetString("DRIVES", "D"), "/media/show");
  EXPECT_EQ(ini.GetInt("FADER", "MASTER"), 1234);  // not the one under "[BROKEN"
  EXPECT_EQ(ini.GetInt("FADER", "BGM"), 500);      // a repeated section still reads
  EXPECT_EQ(ini.Entries("DRIVES"), (std::vector<IniFile::Entry>{{"D", "/media/show"}}));
  EXPECT_EQ(ini.Serialize(), text);

  // Writing a value changes only its own line, the first of its name.
  ini.SetInt("FADER", "MASTER", 4321);
  ini.SetInt("FADER", "NEW", 7);
  ini.SetInt("ASIO", "RATE", 48000);
  std::string expected = text;
  expected.replace(expected.find("MASTER=1234"), 11, "MASTER=4321\nNEW=7");
  expected += "\n[ASIO]\nRATE=48000\n";
  EXPECT_EQ(ini.Serialize(), expected);
  IniFile again;
  again.Parse(ini.Serialize());
  EXPECT_EQ(again.GetInt("FADER", "MASTER"), 4321);
  EXPECT_EQ(again.GetInt("FADER", "NEW"), 7);
}

TEST(IniFile, LineEndsDoNotPileUp) {
  IniFile ini;
  ini.Parse("[A]\r\nX=1\r\r\n; note\r\r\n");
  EXPECT_EQ(ini.GetInt("A", "X"), 1);
  EXPECT_EQ(ini.Serialize(), "[A]\nX=1\n; note\n");
}

TEST(IniFile, AByteOrderMarkKeepsEverySetting) {
  TempDir dir;
  dir.Write("Orvex.ini", "\xEF\xBB\xBF[VERSION]\r\nVERSION=710\r\n[FADER]\r\nMASTER=1234\r\n");
  COrvexDoc doc(dir.File("Orvex.ini"));
  doc.LoadSettings();
  EXPECT_EQ(doc.GetSettings().master, 1234);
  ASSERT_TRUE(doc.SaveSettings());
  IniFile ini;
  ASSERT_TRUE(ini.Load(dir.File("Orvex.ini")));
  EXPECT_EQ(ini.GetInt("FADER", "MASTER"), 1234);
  EXPECT_EQ(dir.Read("Orvex.ini").substr(0, 3), "\xEF\xBB\xBF");
}

TEST(Settings, NumbersAreClampedToTheirRanges) {
  IniFile ini;
  ini.Parse(
      "[VERSION]\nVERSION=710\n"
      "[FADER]\nMASTER=-5\nBGM=99999999\nPANCH2=-20000\nGROUPCH1=9\nCROSSCH1=7\n"
      "OUTPUTMA=5\nSLOWPOINT=hex:000000000000f07f\nSUBSTVOL=hex:000000000000f8ff\n"
      "BGMFOUT=-3\n"
      "[OPTION]\nBUFSIZE3=0\nPREPBFSZ4=99\nQLIST_FONT_SIZE=-1\n"
      "[ASIO]\nCHANNEL=70000\nRATE=1\n"
      "[TONE]\nTONE0CH1=1e308\nTONE1CH1=-1e308\nTONE2CH1=7.5\n");
  Settings s;
  ASSERT_TRUE(s.Load(ini));
  EXPECT_EQ(s.master, 0);
  EXPECT_EQ(s.bgmLevel, 65535);
  EXPECT_EQ(s.panCh[2], -10000);
  EXPECT_EQ(s.groupCh[1], 3);
  EXPECT_EQ(s.crossCh[1], 2);
  EXPECT_EQ(s.outputMaster, 1);
  EXPECT_EQ(s.slowPoint, 10);  // +inf
  EXPECT_EQ(s.substVol, 0.5);  // NaN leaves the value
  EXPECT_EQ(s.bgmFadeOut, 0);
  EXPECT_EQ(s.bufSize[3], 1);
  EXPECT_EQ(s.prepBufSize[4], 10);
  EXPECT_EQ(s.cueListFontSize, 10);
  EXPECT_EQ(s.asioChannels, 2);
  EXPECT_EQ(s.asioRate, 8000);
  EXPECT_EQ(s.tone[1][0], 15.0f);
  EXPECT_EQ(s.tone[1][1], -15.0f);
  EXPECT_EQ(s.tone[1][2], 7.5f);
}

TEST(Settings, EveryDriveLetterAndNetworkSharesMap) {
  IniFile ini;
  ini.Parse("[DRIVES]\na=/mnt/a\nB=/mnt/b\n\\\\Server\\Show=/mnt/share\n\\\\x=/nope\n");
  Settings s;
  s.Load(ini);
  EXPECT_EQ(s.drives,
            (DriveMap{{"A", "/mnt/a"}, {"B", "/mnt/b"}, {"\\\\SERVER\\SHOW", "/mnt/share"}}));
  EXPECT_EQ(NativePath("A:\\x.wav", s.drives), "/mnt/a/x.wav");
  EXPECT_EQ(NativePath("b:x.wav", s.drives), "/mnt/b/x.wav");
  EXPECT_EQ(NativePath("\\\\server\\SHOW\\act 1\\x.wav", s.drives), "/mnt/share/act 1/x.wav");
  // An unmapped share never turns into a local path.
  EXPECT_EQ(NativePath("\\\\other\\share\\x.wav", s.drives), "\\\\other\\share\\x.wav");

  IniFile out;
  s.Save(out);
  Settings back;
  back.Load(out);
  EXPECT_EQ(back.drives, s.drives);
}

TEST(SettingsFile, OneThatCannotBeReadIsNeverOverwritten) {
  MessageRecorder messages;
  TempDir dir;
  // A folder where the file should be: there, but no bytes to be had.
  std::filesystem::create_directories(dir.File("Orvex.ini"));
  COrvexDoc doc(dir.File("Orvex.ini"));
  doc.LoadSettings();
  EXPECT_TRUE(doc.SettingsKept());
  EXPECT_TRUE(doc.SaveSettings());
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("Orvex.ini")));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].rfind(kSettingsUnreadable, 0), 0u);
}

TEST(SettingsFile, AReadOnlyOneIsReadAndLeftAlone) {
  MessageRecorder messages;
  TempDir dir;
  const std::string text = "[VERSION]\nVERSION=710\n[FADER]\nMASTER=1234\n";
  dir.Write("Orvex.ini", text);
  ::chmod(dir.File("Orvex.ini").c_str(), 0444);
  COrvexDoc doc(dir.File("Orvex.ini"));
  doc.LoadSettings();
  EXPECT_EQ(doc.GetSettings().master, 1234);
  doc.GetSettings().master = 1;
  EXPECT_TRUE(doc.SaveSettings());
  EXPECT_EQ(dir.Read("Orvex.ini"), text);
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].rfind(kSettingsReadOnly, 0), 0u);

  // An absent file is first run: written at exit, nothing said.
  MessageRecorder quiet;
  COrvexDoc fresh(dir.File("new/Orvex.ini"));
  fresh.LoadSettings();
  EXPECT_TRUE(fresh.SaveSettings());
  EXPECT_TRUE(quiet.messages.empty());
  EXPECT_TRUE(std::filesystem::exists(dir.File("new/Orvex.ini")));
}

}  // namespace
}  // namespace orvex
