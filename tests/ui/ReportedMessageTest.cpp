// Messages reported inside an operation wait for it, and a file that cannot
// be opened during the show is the view's to show, never a box.
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

TEST_F(ReportedMessageTest, AGoOntoMissingFilesFinishesAndTheViewNamesThemWithoutABox) {
  // Each channel stops on Q1 and moves on to a file that is not there.
  doc->GetSettings().autoNext = 1;
  for (int ch : {1, 2}) {
    ASSERT_TRUE(doc->AddRecord(ch, UiCue(1, "STOP")));
    ASSERT_TRUE(doc->AddRecord(ch, UiCue(2, "gone" + std::to_string(ch) + ".wav")));
  }
  Open();
  std::vector<int> named;
  view->onMissingFile = [&](int ch) {
    if (!console->MissingFile(ch).empty()) named.push_back(ch);
  };

  view->GoButton()->click();
  EXPECT_EQ(console->CurrentRecord(1), 2);
  EXPECT_EQ(console->CurrentRecord(2), 2);
  EXPECT_EQ(console->NextCue(), 2);
  EXPECT_EQ(console->CurrentCueText(), "1");

  // The players' readers find the files missing; their news reaches the UI
  // thread after the GO, and goes to the view, not into boxes that would
  // take the operator's next Enter.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        poster.RunPending();
        return named.size() >= 2;
      },
      5000));
  QTest::qWait(50);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(OpenBoxes(), 0);
  EXPECT_FALSE(console->Player(1).IsLoaded());
  EXPECT_TRUE(console->LoadedMark(1));  // as when the file cannot open
  std::sort(named.begin(), named.end());
  EXPECT_EQ(named, (std::vector<int>{1, 2}));
  EXPECT_EQ(console->MissingFile(1), console->CurrentFilePath(1));
  for (int id : {1016, 1033}) {
    EXPECT_EQ(view->Form()
                  ->findChild<QWidget*>(QStringLiteral("id%1").arg(id))
                  ->palette()
                  .color(QPalette::Base),
              QColor(255, 0, 0));
  }
}

// Messages reported with no notice log to take them still come as boxes,
// one after the other, once the operation has returned.
TEST_F(ReportedMessageTest, WithoutANoticeLogReportsWaitForTheOperationAndComeInTurn) {
  std::vector<QString> shown;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
    auto* box = dynamic_cast<CMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    EXPECT_EQ(OpenBoxes(), 1);
    shown.push_back(box->findChild<QPlainTextEdit*>(QStringLiteral("text"))->toPlainText());
    box->findChild<QPushButton*>(QStringLiteral("yes"))->click();
  });
  answer.start(5);
  ReportMessage("一");
  ReportMessage("二");
  EXPECT_TRUE(shown.empty());
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() >= 2; }, 5000));
  EXPECT_EQ(shown, (std::vector<QString>{QStringLiteral("一"), QStringLiteral("二")}));
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
  view->onNote = [&](StatusNote kind, const QString& text) {
    if (kind == StatusNote::kLateFile && !text.isEmpty()) notes.push_back(text);
  };

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
