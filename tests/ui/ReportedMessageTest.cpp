// Messages reported inside an operation wait for it: the box comes once the
// operation has returned to the event loop, and several come in turn.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

#include "ViewRig.h"
#include "show/Messages.h"
#include "ui/MessageBox.h"
#include "ui/StartButton.h"
#include "unit/MessageRecorder.h"

namespace orvex {
namespace {

class ReportedMessageTest : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    previous = SetMessageSink(&sink);
  }
  void TearDown() override {
    SetMessageSink(previous);
    ViewTest::TearDown();
  }
  static int OpenBoxes() {
    int open = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (dynamic_cast<CMessageBox*>(w) && w->isVisible()) ++open;
    return open;
  }

  QtMessageSink sink;
  MessageSink* previous = nullptr;
};

TEST_F(ReportedMessageTest, AGoOntoMissingFilesFinishesBeforeTheirBoxesShowOneAfterTheOther) {
  // Each channel stops on Q1 and moves on to a file that is not there.
  doc->GetSettings().autoNext = 1;
  for (int ch : {1, 2}) {
    ASSERT_TRUE(doc->AddRecord(ch, UiCue(1, "STOP")));
    ASSERT_TRUE(doc->AddRecord(ch, UiCue(2, "gone" + std::to_string(ch) + ".wav")));
  }
  Open();

  std::vector<QString> shown;
  std::vector<int> openAtOnce;
  bool goReturned = false;
  std::vector<bool> afterGo;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
    auto* box = dynamic_cast<CMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    openAtOnce.push_back(OpenBoxes());
    afterGo.push_back(goReturned);
    shown.push_back(box->findChild<QPlainTextEdit*>(QStringLiteral("text"))->toPlainText());
    box->findChild<QPushButton*>(QStringLiteral("yes"))->click();
  });
  answer.start(5);

  view->GoButton()->click();
  goReturned = true;
  // The GO has run to its end with no box in its way.
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(OpenBoxes(), 0);
  EXPECT_EQ(console->CurrentRecord(1), 2);
  EXPECT_EQ(console->CurrentRecord(2), 2);
  EXPECT_EQ(console->NextCue(), 2);
  EXPECT_EQ(console->CurrentCueText(), "1");

  // The players' readers find the files missing; their news reaches the UI
  // thread after the GO, and the boxes after that.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        poster.RunPending();
        return shown.size() >= 2;
      },
      5000));
  EXPECT_FALSE(console->Player(1).IsLoaded());
  EXPECT_TRUE(console->LoadedMark(1));  // as when the file cannot open
  QTest::qWait(50);
  const QString cannotOpen = QString::fromUtf8(kCueFileCannotOpen);
  // Each channel's reader finds its file missing on its own, so either
  // may report first.
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, (std::vector<QString>{
                       cannotOpen + "\n" + QString::fromStdString(console->CurrentFilePath(1)),
                       cannotOpen + "\n" + QString::fromStdString(console->CurrentFilePath(2))}));
  EXPECT_EQ(openAtOnce, (std::vector<int>{1, 1}));
  EXPECT_EQ(afterGo, (std::vector<bool>{true, true}));
  EXPECT_EQ(OpenBoxes(), 0);
}

// A cue whose file never opens (a FIFO nobody writes, as a hung share would
// behave) holds up nothing: GO returns, the other channel plays, STOP ALL
// works, and the view names the late channel for the status line.
TEST_F(ReportedMessageTest, AFileThatNeverOpensHoldsUpNothingAndIsNamed) {
  const std::string hung = dir.File("hung.wav");
  ASSERT_EQ(::mkfifo(hung.c_str(), 0600), 0);
  ASSERT_TRUE(doc->AddRecord(1, UiCue(1, "hung.wav")));
  AddWav(2, 1, "b.wav");
  Open();
  std::vector<QString> notes;
  view->onNote = [&](const QString& text) { notes.push_back(text); };

  view->GoButton()->click();
  Advance(50);
  Settle();
  EXPECT_TRUE(console->Player(2).IsPlaying());
  EXPECT_FALSE(console->Player(1).IsReady());
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0],
            QStringLiteral("CH1: ファイルの準備が遅れています: ") + QString::fromStdString(hung));
  console->Execute(cmd::StopAll{});
  EXPECT_FALSE(console->Player(2).IsPlaying());

  // A writer that comes and goes lets the hung open return.
  const int fd = ::open(hung.c_str(), O_WRONLY | O_NONBLOCK);
  if (fd >= 0) ::close(fd);
}

// Standard error and the tests' recorder keep showing a report at once.
TEST_F(ReportedMessageTest, OtherSinksShowAReportAtOnce) {
  MessageRecorder recorder;
  ReportMessage("再生できません");
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"再生できません"});
}

}  // namespace
}  // namespace orvex
