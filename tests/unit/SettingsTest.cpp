#include <gtest/gtest.h>

#include <cstring>

#include "TempDir.h"
#include "session/OrvexDoc.h"
#include "show/IniFile.h"
#include "show/Settings.h"

namespace orvex {
namespace {

int CountEntries(const IniFile& ini) {
  int n = 0;
  for (const char* s : {"VERSION", "FILE", "FADER", "OPTION", "ASIO", "WASAPI", "MIDI",
                        "DEVICE_TYPE", "DEVICE", "WASAPI_MODE", "TONE"})
    n += static_cast<int>(ini.Entries(s).size());
  return n;
}

TEST(Settings, FirstRunWritesEveryEntryWithTheVersion) {
  TempDir dir;
  const std::string path = dir.File("cfg/Tesselby/Orvex.ini");
  {
    COrvexDoc doc(path);
    doc.LoadSettings();
    EXPECT_EQ(doc.GetSettings(), Settings{});
    ASSERT_TRUE(doc.SaveSettings());
  }
  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  EXPECT_EQ(ini.GetInt("VERSION", "VERSION"), 710);
  // 1 version + 3 file + 2*4 group + 6*4 channel + 6 other fader + 6 option
  // + 14 buffer sizes + 4 asio + 2 wasapi + 2 midi + 9 device slots + 18 tone.
  EXPECT_EQ(CountEntries(ini), 1 + 3 + 8 + 24 + 6 + 6 + 14 + 4 + 2 + 2 + 9 + 18);
  EXPECT_EQ(ini.GetString("FADER", "BGMFOUT"), "10");
  EXPECT_EQ(ini.GetString("TONE", "TONE2CH6"), "0");
  EXPECT_EQ(ini.GetString("DEVICE_TYPE", "GROUP2"), "XAUDIO2");
  EXPECT_EQ(ini.GetBinary("DEVICE", "GROUP0"), (std::vector<uint8_t>{0, 0}));
  double slow = 0;
  auto bytes = ini.GetBinary("FADER", "SLOWPOINT");
  ASSERT_EQ(bytes->size(), 8u);
  std::memcpy(&slow, bytes->data(), 8);
  EXPECT_EQ(slow, 1.0);
  auto format = ini.GetBinary("WASAPI", "FORMAT");
  ASSERT_EQ(format->size(), 40u);
  EXPECT_EQ((*format)[0], 1);
  EXPECT_EQ((*format)[2], 2);

  Settings back;
  back.master = 1;
  EXPECT_TRUE(back.Load(ini));
  EXPECT_EQ(back, Settings{});
}

TEST(Settings, AnOlderVersionIsIgnoredEntirely) {
  IniFile ini;
  ini.SetInt("VERSION", "VERSION", 709);
  ini.SetInt("FADER", "MASTER", 100);
  Settings s;
  EXPECT_FALSE(s.Load(ini));
  EXPECT_EQ(s, Settings{});
  IniFile noVersion;
  noVersion.SetInt("FADER", "MASTER", 100);
  EXPECT_FALSE(s.Load(noVersion));
}

TEST(Settings, MissingEntriesTakeTheirMissingValues) {
  IniFile ini;
  ini.SetInt("VERSION", "VERSION", 710);
  ini.SetInt("FADER", "GROUPCH3", 2);
  Settings s;
  s.slowPoint = 0.25;  // binary values are left alone when absent
  ASSERT_TRUE(s.Load(ini));
  EXPECT_EQ(s.masterCh[3], 0);
  EXPECT_EQ(s.masterCh[4], 1);
  EXPECT_EQ(s.block, 1);
  EXPECT_EQ(s.wasapiBufSize, 200);
  EXPECT_EQ(s.bgmFadeOut, 10);
  EXPECT_EQ(s.slowPoint, 0.25);
  EXPECT_EQ(s.deviceType[1], "XAUDIO2");
  EXPECT_EQ(s.autoNext, 1);
}

TEST(Settings, ValuesRoundTripWithTheirTypes) {
  Settings s;
  s.showPath = "/home/op/shows/第1幕.csv";
  s.bgmList = "  spaced \"list\".lst ";
  s.slowPoint = 0.3;
  s.substVol = 0.123456789;
  s.bgmFadeOut = 2.5;
  s.wheel = -120;
  s.asioChannels = 1;
  s.deviceName = {"Speakers (USB) 🎵", "", "内蔵"};
  s.wasapiExclusive[2] = 1;
  s.tone[4][1] = -6.5f;
  s.panCh[6] = -10000;
  s.wasapiFormat.bitsPerSample = 24;
  s.drives["D"] = "/media/show";
  IniFile ini;
  s.Save(ini);
  IniFile reread;
  reread.Parse(ini.Serialize());
  Settings back;
  ASSERT_TRUE(back.Load(reread));
  EXPECT_EQ(back, s);
}

TEST(Settings, OddStoredValues) {
  IniFile ini;
  ini.Parse(
      "[version]\nversion = 710\n"
      "[OPTION]\nWHEEL=65416\nQLIST_CURFIX=5\nBLOCK=abc\n"
      "[MIDI]\nCONNECT=-3\n"
      "[FADER]\nSLOWPOINT=hex:0102\nSUBSTVOL=not hex\nBGMFOUT=1.5s\n"
      "[DRIVES]\nd=/mnt/d\nAB=/nope\n1=/nope\n");
  Settings s;
  ASSERT_TRUE(s.Load(ini));
  EXPECT_EQ(s.wheel, -120);  // a 16-bit value stored unsigned
  EXPECT_EQ(s.cueListCurFix, 1);
  EXPECT_EQ(s.block, 1);  // unreadable is missing
  EXPECT_EQ(s.midiConnect, 1);
  EXPECT_EQ(s.slowPoint, 1.0);
  EXPECT_EQ(s.substVol, 0.5);
  EXPECT_EQ(s.bgmFadeOut, 1.5);
  EXPECT_EQ(s.drives, (DriveMap{{"D", "/mnt/d"}}));
}

TEST(IniFile, KeepsEntriesItDoesNotKnowAndWritesAtomically) {
  TempDir dir;
  const std::string path = dir.File("Orvex.ini");
  dir.Write("Orvex.ini", "[FACE]\nQLIST_ORDER=hex:0001\n[VERSION]\nVERSION=700\n");
  COrvexDoc doc(path);
  doc.LoadSettings();
  EXPECT_EQ(doc.GetSettings(), Settings{});
  doc.GetSettings().master = 30000;
  ASSERT_TRUE(doc.SaveSettings());
  IniFile ini;
  ini.Load(path);
  EXPECT_EQ(ini.GetBinary("FACE", "QLIST_ORDER"), (std::vector<uint8_t>{0, 1}));
  EXPECT_EQ(ini.GetInt("VERSION", "VERSION"), 710);
  EXPECT_EQ(ini.GetInt("FADER", "MASTER"), 30000);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(SettingsOption, IsTakenOutOfTheArguments) {
  char a0[] = "orvex", a1[] = "--settings", a2[] = "/tmp/x.ini", a3[] = "show",
       a4[] = "--settings=/y";
  char* argv[] = {a0, a1, a2, a3, nullptr};
  int argc = 4;
  EXPECT_EQ(TakeSettingsOption(argc, argv), "/tmp/x.ini");
  EXPECT_EQ(argc, 2);
  EXPECT_STREQ(argv[1], "show");
  char* argv2[] = {a0, a4, nullptr};
  argc = 2;
  EXPECT_EQ(TakeSettingsOption(argc, argv2), "/y");
  EXPECT_EQ(argc, 1);
}

TEST(Settings, DefaultPathFollowsXdgConfigHome) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", "/cfg/here", 1);
  EXPECT_EQ(DefaultSettingsPath(), "/cfg/here/Tesselby/Orvex.ini");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_NE(DefaultSettingsPath().find("/.config/Tesselby/Orvex.ini"), std::string::npos);
  if (old)
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace orvex
