// What the operator is told without a box: the report of an opened show
// (files that are not there, lines that are not cues), a file that cannot
// be opened during the show, and messages that arrive by themselves. None of
// them takes the keyboard or the console; GO and STOP ALL go on working.
#include <filesystem>
#include <thread>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

#include "FrameRig.h"
#include "engine/WavBytes.h"
#include "output/OutputDevices.h"
#include "show/TextNumbers.h"
#include "ui/FrameIds.h"
#include "ui/MessageBox.h"
#include "ui/NoticeLog.h"
#include "ui/StartButton.h"

namespace orvex {
namespace {

class NoticeTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    // The program's own sink: anything that still opened a box would show.
    m_previousSink = SetMessageSink(&m_sink);
    m_frame->show();
    m_frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame.get()));
  }
  void TearDown() override {
    SetMessageSink(m_previousSink);
    FrameTest::TearDown();
  }
  void Open(const std::string& path) {
    m_openAnswers.push_back(Q(path));
    m_frame->Action(ids::kFileOpen)->trigger();
    Settle();
  }
  void Click(int id) {
    m_frame->findChild<QPushButton*>(QStringLiteral("id%1").arg(id))->click();
    Settle();
  }
  // Enter as the operator presses it, on whatever has the keyboard.
  void PressEnter() {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, Qt::Key_Return);
    Settle();
  }
  static int BoxesSeen() {
    int boxes = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (dynamic_cast<CMessageBox*>(w)) ++boxes;
    return boxes;
  }
  QStringList Notices() const { return m_frame->NoticeLog()->Entries(); }
  CConsole& Console() { return m_runtime->Console(); }
  void WriteSound(const std::string& name) {
    std::filesystem::create_directories(m_dir.File("snd"));
    m_dir.Write("snd/" + name, Wav(2, 8000, 16, std::string(32000, '\x10')));
  }

  QtMessageSink m_sink;
  MessageSink* m_previousSink = nullptr;
};

TEST_F(NoticeTest, AnOpenedShowReportsMissingFilesAndSkippedLinesOnceWithoutABox) {
  WriteSound("here.wav");
  const std::string show = WriteShow(
      "show.csv",
      {{1, 1, "gone1.wav"}, {2, 2, "gone2.wav"}, {3, 3, "gone3.wav"}, {4, 4, "here.wav"}});
  // Two lines that are not cues: no channel, and a Q number of 0.
  m_dir.Write("show.csv", m_dir.Read("show.csv") + "T9,x.wav\r\n" + "1,0,T0,y.wav\r\n");
  Open(show);
  for (int i = 0; i < 5; ++i) QTest::qWait(10);

  EXPECT_EQ(BoxesSeen(), 0);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  // One report, after the show is in the console, naming every missing file
  // by channel, cue and path, and the skipped lines by number and text.
  ASSERT_EQ(Notices().size(), 1);
  const QString report = Notices()[0];
  for (int ch = 1; ch <= 3; ++ch) {
    EXPECT_TRUE(report.contains(QStringLiteral("CH%1  Ｑ%1  ").arg(ch) +
                                Q(m_dir.File("snd/gone" + std::to_string(ch) + ".wav"))))
        << report.toStdString();
  }
  EXPECT_FALSE(report.contains(QStringLiteral("here.wav")));
  EXPECT_TRUE(report.contains(QStringLiteral("読み込めなかった行: 2行"))) << report.toStdString();
  EXPECT_TRUE(report.contains(QStringLiteral("6行目: T9,x.wav"))) << report.toStdString();
  EXPECT_TRUE(report.contains(QStringLiteral("7行目: 1,0,T0,y.wav"))) << report.toStdString();
  EXPECT_TRUE(m_frame->NoticeLog()->isVisible());
  EXPECT_EQ(m_frame->StatusText(), CDocCommands::ShowReportNote(3, 2));
  // The console keeps the keyboard: the next Enter is GO.
  EXPECT_EQ(QApplication::focusWidget(), m_frame->findChild<QWidget*>(QStringLiteral("id1076")));
  PressEnter();
  EXPECT_EQ(Console().CurrentCueText(), "1");
  EXPECT_EQ(Notices().size(), 1);

  // A show without problems reports nothing, and its note goes.
  Open(WriteShow("clean.csv", {{4, 1, "here.wav"}}));
  EXPECT_EQ(Notices().size(), 1);
  EXPECT_EQ(m_frame->StatusText(), QStringLiteral("レディ"));
}

TEST_F(NoticeTest, AFileThatCannotBeOpenedDuringTheShowIsNamedOnTheStatusLine) {
  WriteSound("a.wav");
  WriteSound("b.wav");
  Open(WriteShow("show.csv", {{1, 1, "a.wav"}, {1, 2, "b.wav"}, {2, 3, "a.wav"}}));
  ASSERT_TRUE(Notices().isEmpty());
  // b.wav goes during the show; "次" moves CH1 onto it.
  std::filesystem::remove(m_dir.File("snd/b.wav"));
  Click(1201);
  const QString expected = QStringLiteral("CH1: ファイルが開けない: ") + Q(m_dir.File("snd/b.wav"));
  EXPECT_EQ(m_frame->StatusText(), expected);
  EXPECT_EQ(BoxesSeen(), 0);
  ASSERT_EQ(Notices().size(), 1);
  EXPECT_EQ(Notices()[0], expected);
  EXPECT_FALSE(m_frame->NoticeLog()->isVisible());
  // The next Enter is GO, not an answer to a box: the cue with a file plays.
  PressEnter();
  EXPECT_EQ(Console().CurrentCueText(), "2");
  // "前" takes CH1 back to a file that is there: the note has ended.
  Click(1194);
  Click(1194);
  EXPECT_TRUE(Console().MissingFile(1).empty());
  EXPECT_EQ(m_frame->StatusText(), QStringLiteral("レディ"));
}

TEST_F(NoticeTest, AMessageThatArrivesByItselfLeavesTheConsoleWorking) {
  WriteSound("a.wav");
  Open(WriteShow("show.csv", {{1, 1, "a.wav"}, {2, 2, "a.wav"}}));
  QWidget* go = m_frame->findChild<QWidget*>(QStringLiteral("id1076"));
  ASSERT_EQ(QApplication::focusWidget(), go);
  // As the sound server's loss reaches the program, from another thread.
  std::thread([] { ReportMessage(kServerLost); }).join();
  Settle();
  EXPECT_EQ(BoxesSeen(), 0);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(QApplication::focusWidget(), go);
  EXPECT_EQ(m_frame->StatusText(), QString::fromUtf8(kServerLost));
  ASSERT_EQ(Notices().size(), 1);
  EXPECT_EQ(Notices()[0], QString::fromUtf8(kServerLost));
  auto* button = m_frame->findChild<QToolButton*>(QStringLiteral("noticeButton"));
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->text(), QStringLiteral("お知らせ (1)"));

  // GO and STOP ALL answer at once.
  PressEnter();
  EXPECT_EQ(Console().CurrentCueText(), "1");
  EXPECT_TRUE(Console().Buttons(1).play);
  Click(1179);
  EXPECT_FALSE(Console().Buttons(1).play);

  // Opening the log is reading it: the note ends, "レディ" is back.
  button->click();
  EXPECT_TRUE(m_frame->NoticeLog()->isVisible());
  EXPECT_EQ(button->text(), QStringLiteral("お知らせ"));
  EXPECT_EQ(m_frame->StatusText(), QStringLiteral("レディ"));
  EXPECT_TRUE(m_frame->NoticeLog()
                  ->findChild<QPlainTextEdit*>(QStringLiteral("noticeText"))
                  ->toPlainText()
                  .contains(QString::fromUtf8(kServerLost)));
}

}  // namespace
}  // namespace orvex
