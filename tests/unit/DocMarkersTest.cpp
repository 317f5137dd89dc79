// The document's marker operations against real files: which files a show
// loads markers from, where they are written, and what a failed save leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "MessageRecorder.h"
#include "TempDir.h"
#include "engine/ManualTimerService.h"
#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "show/Cp932.h"

namespace orvex {
namespace {

RecordValues Cue(double q, const std::string& file) {
  RecordValues v;
  v.qNumber = q;
  v.title = "t";
  v.fileOrCommand = file;
  return v;
}

class DocMarkers : public ::testing::Test {
 protected:
  DocMarkers() : doc(dir.File("settings.ini")) {
    doc.SetMarkerStore(&store);
    // Shows made on the home platform: drive C is this test's folder.
    doc.GetSettings().drives["C"] = dir.Path().string();
  }
  MarkerList At(const std::string& key) {
    std::shared_ptr<MarkerList> list = store.Find(key);
    return list ? *list : MarkerList{99999};  // no entry at all
  }

  TempDir dir;
  MessageRecorder messages;
  MarkerStore store;
  COrvexDoc doc;
};

TEST_F(DocMarkers, LoadMarkersReadsWavCuesAndTheEntriesOfListFiles) {
  dir.Write("Sounds/door.mrk", "2\r\n10\r\n20\r\n");
  dir.Write("Sounds/LOUD.mrk", "1\r\n5\r\n");
  dir.Write("Sounds/empty.mrk", "0\r\n");
  dir.Write("Sounds/set.lst",
            *Utf8ToCp932("#bgm\r\nC:\\BGM\r\nrain.wav,1\r\n雨.wav\r\nmissing.wav\r\n"));
  dir.Write("bgm/rain.mrk", "1\r\n7\r\n");
  dir.Write("bgm/雨.mrk", "1\r\n8\r\n");
  doc.SetSoundFolder("C:\\sounds");  // found whatever its letter case
  doc.AddRecord(1, Cue(1, "door.wav"));
  doc.AddRecord(2, Cue(2, "LOUD.WAV"));  // capitals: read as a list file, so nothing
  doc.AddRecord(3, Cue(3, "set.lst"));
  doc.AddRecord(4, Cue(4, "STOP"));
  doc.AddRecord(6, Cue(5, "empty.wav"));
  doc.AddRecord(7, Cue(6, "group.wav"));  // groups carry no files of their own
  dir.Write("Sounds/group.mrk", "1\r\n1\r\n");
  doc.LoadMarkers();

  EXPECT_EQ(At("C:\\sounds\\door.wav"), (MarkerList{10, 20}));
  EXPECT_EQ(At("C:\\sounds\\empty.wav"), MarkerList{});
  EXPECT_EQ(At("C:\\BGM\\rain.wav"), MarkerList{7});
  EXPECT_EQ(At("C:\\BGM\\雨.wav"), MarkerList{8});
  EXPECT_EQ(store.Size(), 4u);

  // A second load merges: what the operator added stays, the file's
  // positions are not added twice.
  store.Find("C:\\sounds\\door.wav")->push_back(30);
  dir.Write("Sounds/door.mrk", "3\r\n20\r\n40\r\n10\r\n");
  doc.LoadMarkers();
  EXPECT_EQ(At("C:\\sounds\\door.wav"), (MarkerList{10, 20, 30, 40}));
}

TEST_F(DocMarkers, SaveWritesEveryEntryBesideItsWavFile) {
  dir.Write("Sounds/door.wav", "x");
  doc.SetSoundFolder("C:\\Sounds");
  store.Put("C:\\SOUNDS\\door.wav", std::make_shared<MarkerList>(MarkerList{300, 2147483648u}));
  store.Put("C:\\Sounds\\quiet.wav", nullptr);  // no markers: still a file
  // From a show loaded earlier in the run, and one made on this system.
  store.Put("C:\\Old\\hit.wav", std::make_shared<MarkerList>(MarkerList{1}));
  dir.Write("Old/keep.txt", "");
  store.Put(dir.File("linux.wav"), std::make_shared<MarkerList>(MarkerList{2}));
  ASSERT_TRUE(doc.SaveMarkers());
  EXPECT_TRUE(messages.messages.empty());
  EXPECT_EQ(dir.Read("Sounds/door.mrk"), "2\r\n300\r\n2147483648\r\n");
  EXPECT_EQ(dir.Read("Sounds/quiet.mrk"), "0\r\n");
  EXPECT_EQ(dir.Read("Old/hit.mrk"), "1\r\n1\r\n");
  // Rooted on this system: the sound folder is not put in front of it.
  EXPECT_EQ(dir.Read("linux.mrk"), "1\r\n2\r\n");
}

TEST_F(DocMarkers, AKeyWithoutFolderGoesWhereItsWavFileIsFound) {
  // Made while the show had no sound folder: the WAV file is found from the
  // show's folder, and so is its marker file, never at the root.
  dir.Write("show/bell.wav", "x");
  doc.SetShowPath(dir.File("show/cues.csv"));
  store.Put("bell.wav", std::make_shared<MarkerList>(MarkerList{44}));
  ASSERT_TRUE(doc.SaveMarkers());
  EXPECT_EQ(dir.Read("show/bell.mrk"), "1\r\n44\r\n");
  store.Find("bell.wav")->clear();
  doc.LoadMarkerFile("bell.wav");
  EXPECT_EQ(At("bell.wav"), MarkerList{44});
  // With a folder set later, the key is taken as a name in that folder.
  doc.SetSoundFolder("C:\\later");
  dir.Write("later/x", "");
  ASSERT_TRUE(doc.SaveMarkers());
  EXPECT_EQ(dir.Read("later/bell.mrk"), "1\r\n44\r\n");
}

TEST_F(DocMarkers, AFailedWriteIsReportedEndsTheSaveAndLeavesTheOldFile) {
  dir.Write("a/one.mrk", "1\r\n5\r\n");
  dir.Write("c/three.mrk", "0\r\n");
  ::chmod(dir.File("a/one.mrk").c_str(), 0444);
  store.Put("C:\\a\\one.wav", std::make_shared<MarkerList>(MarkerList{6, 7}));
  store.Put("C:\\b\\two.wav", std::make_shared<MarkerList>(MarkerList{8}));
  store.Put("C:\\c\\three.wav", std::make_shared<MarkerList>(MarkerList{9}));
  dir.Write("b/x", "");
  EXPECT_FALSE(doc.SaveMarkers());
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].substr(0, messages.messages[0].find('\n')),
            "マーカーファイルの保存に失敗しました");
  EXPECT_EQ(dir.Read("a/one.mrk"), "1\r\n5\r\n");
  // Entries after the failure stay unwritten.
  EXPECT_FALSE(std::filesystem::exists(dir.File("b/two.mrk")));
  EXPECT_EQ(dir.Read("c/three.mrk"), "0\r\n");
  // Nothing is left beside the file that could not be replaced.
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("a"))) files += e.exists();
  EXPECT_EQ(files, 1u);
}

TEST_F(DocMarkers, RekeyMovesRelativeNamesAndReplacesWhatTheNewPathHeld) {
  doc.SetSoundFolder("C:\\new");
  doc.AddRecord(1, Cue(1, "a.wav"));
  doc.AddRecord(2, Cue(2, "D:\\abs\\b.wav"));
  doc.AddRecord(3, Cue(3, dir.File("c.wav")));
  doc.AddRecord(4, Cue(4, "a.wav"));  // the same file twice: moved once
  store.Put("C:\\old\\a.wav", std::make_shared<MarkerList>(MarkerList{1}));
  store.Put("C:\\new\\a.wav", std::make_shared<MarkerList>(MarkerList{2}));
  store.Put("D:\\abs\\b.wav", std::make_shared<MarkerList>(MarkerList{3}));
  store.Put(dir.File("c.wav"), std::make_shared<MarkerList>(MarkerList{4}));
  doc.RekeyMarkers("C:\\new");  // unchanged folder: nothing moves
  EXPECT_EQ(At("C:\\new\\a.wav"), MarkerList{2});

  doc.RekeyMarkers("C:\\old");
  EXPECT_EQ(At("C:\\new\\a.wav"), MarkerList{1});
  EXPECT_EQ(store.Find("C:\\old\\a.wav"), nullptr);
  // Absolute names keep their markers.
  EXPECT_EQ(At("D:\\abs\\b.wav"), MarkerList{3});
  EXPECT_EQ(At(dir.File("c.wav")), MarkerList{4});

  // Markers made while the show had no folder follow it into the first one.
  store.Put("a.wav", std::make_shared<MarkerList>(MarkerList{5}));
  doc.RekeyMarkers("");
  EXPECT_EQ(At("C:\\new\\a.wav"), MarkerList{5});
}

// The runtime's marker panel lends its store to the document, and the
// console reaches the document's LoadMarkerFile through the panel.
TEST(RuntimeMarkers, ThePanelsStoreIsTheDocumentsWhileTheRuntimeLives) {
  TempDir dir;
  COrvexDoc doc(dir.File("settings.ini"));
  dir.Write("door.mrk", "1\r\n42\r\n");
  doc.SetSoundFolder(dir.Path().string());
  doc.AddRecord(1, Cue(1, "door.wav"));
  ManualTimerService timers;
  ManualUiPoster poster;
  {
    COrvexRuntime runtime(doc, poster, timers);
    EXPECT_EQ(doc.GetMarkerStore(), &runtime.Markers().Store());
    runtime.Console().RefreshAfterCueChange(true);
    runtime.Console().StoreChannelRecord(1, false, false);  // "CH記憶" reads the markers
    std::shared_ptr<MarkerList> list = runtime.Markers().Store().Find(doc.GetWavPath(1, 1));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(*list, MarkerList{42});
    runtime.Shutdown();
  }
  EXPECT_EQ(doc.GetMarkerStore(), nullptr);
  poster.RunPending();
}

TEST_F(DocMarkers, WithoutAStoreNothingHappens) {
  doc.SetMarkerStore(nullptr);
  doc.AddRecord(1, Cue(1, "a.wav"));
  doc.LoadMarkers();
  EXPECT_TRUE(doc.SaveMarkers());
  doc.RekeyMarkers("C:\\x");
}

}  // namespace
}  // namespace orvex
