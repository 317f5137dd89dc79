// The console view over a console on virtual time, with its cue list and
// progress pane, for driving the controls as an operator does.
#pragma once

#include <memory>
#include <string>

#include <QApplication>
#include <QTest>

#include "QtTestApp.h"
#include "engine/Console.h"
#include "engine/ManualTimerService.h"
#include "engine/UiPoster.h"
#include "engine/WavBytes.h"
#include "session/OrvexDoc.h"
#include "ui/ListDlgBar.h"
#include "ui/OrvexView.h"
#include "ui/ProgressDlgBar.h"
#include "unit/TempDir.h"

namespace orvex {

class FakePeaks final : public PeakSource {
 public:
  bool ReadPeaks(float& l, float& r) override {
    l = left;
    r = right;
    return true;
  }
  float left = 0;
  float right = 0;
};

// One second of 16-bit stereo at 8 kHz: 32 000 data bytes.
inline std::string OneSecondWav() {
  return Wav(2, 8000, 16, std::string(32000, '\x10'));
}

inline RecordValues UiCue(double q, const std::string& file, double pre = 10, double fadeIn = 0) {
  RecordValues v;
  v.qNumber = q;
  v.fileOrCommand = file;
  v.title = "T" + file;
  v.preLevel = pre;
  v.fadeIn = fadeIn;
  return v;
}

class ViewTest : public QtAppTest {
 protected:
  void SetUp() override {
    doc = std::make_unique<COrvexDoc>(dir.File("settings.ini"));
    doc->SetSoundFolder(dir.Path().string());
    console = std::make_unique<CConsole>(*doc, doc->GetSettings(), timers, poster);
    console->LoadFromSettings();
  }
  void TearDown() override {
    view.reset();
    list.reset();
    progress.reset();
    console.reset();
  }
  // Shows the view with its panes after the show was set up.
  void Open() {
    console->RefreshAfterCueChange(true);
    poster.RunPending();
    view = std::make_unique<COrvexView>(*console, *doc, [this] { return peaks; });
    list = std::make_unique<CListDlgBar>();
    list->resize(400, 200);
    progress = std::make_unique<CProgressDlgBar>();
    view->AttachCueList(list.get());
    view->AttachProgress(progress.get());
    view->resize(view->Form()->size() + QSize(4, 4));
    view->show();
    list->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    // The rows' colours know which files are there.
    ASSERT_TRUE(view->WaitForFileChecks());
  }
  void AddWav(int ch, double q, const std::string& name, double pre = 10, double fadeIn = 0) {
    dir.Write(name, OneSecondWav());
    ASSERT_TRUE(doc->AddRecord(ch, UiCue(q, name, pre, fadeIn)));
  }
  template <typename W = QWidget>
  W* Find(int id) {
    W* w = view->Form()->findChild<W*>(QStringLiteral("id%1").arg(id));
    EXPECT_NE(w, nullptr) << "no control id" << id;
    return w;
  }
  void Settle() {
    poster.RunPending();
    QApplication::processEvents();
  }
  void Advance(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
      timers.Advance(10);
      poster.RunPending();
    }
  }
  // The centre of a control in form coordinates.
  QPoint Centre(int id) { return Find(id)->geometry().center(); }

  TempDir dir;
  ManualTimerService timers;
  ManualUiPoster poster;
  std::unique_ptr<COrvexDoc> doc;
  std::unique_ptr<CConsole> console;
  FakePeaks* peaks = nullptr;
  std::unique_ptr<COrvexView> view;
  std::unique_ptr<CListDlgBar> list;
  std::unique_ptr<CProgressDlgBar> progress;
};

}  // namespace orvex
