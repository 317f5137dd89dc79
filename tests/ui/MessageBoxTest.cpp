#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "MessageFits.h"
#include "QtTestApp.h"
#include "output/DeviceModel.h"
#include "show/Messages.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"
#include "ui/MessageBox.h"

namespace orvex {
namespace {

// Waits for the next modal box and lets act drive it. A box that does not
// come, or that act leaves open, fails the test after a few seconds.
class BoxDriver {
 public:
  explicit BoxDriver(std::function<void(QDialog&)> act) : m_act(std::move(act)) {
    QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] {
      auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!box) return;
      m_poll.stop();
      m_act(*box);
    });
    QObject::connect(&m_watchdog, &QTimer::timeout, &m_watchdog, [] {
      ADD_FAILURE() << "message box not answered";
      if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) box->done(-1);
    });
    m_watchdog.setSingleShot(true);
    m_poll.start(5);
    m_watchdog.start(5000);
  }

 private:
  std::function<void(QDialog&)> m_act;
  QTimer m_poll;
  QTimer m_watchdog;
};

class MessageBoxTest : public QtAppTest {
 protected:
  static int Answer(const QString& text, bool question, std::function<void(QDialog&)> act) {
    BoxDriver driver(std::move(act));
    return ShowMessageBox(nullptr, text, question);
  }

  static QPushButton* Button(QDialog& box, const char* name) {
    return box.findChild<QPushButton*>(QString::fromLatin1(name));
  }
  static QPlainTextEdit* Text(QDialog& box) {
    return box.findChild<QPlainTextEdit*>(QStringLiteral("text"));
  }
  // Keys go where the keyboard focus is, as a user's would.
  static void Press(QDialog& box, Qt::Key key) {
    QWidget* target = box.focusWidget() ? box.focusWidget() : &box;
    QTest::keyClick(target, key);
  }
};

TEST_F(MessageBoxTest, PlainMessageOffersOnlyYesAndEscAnswersNo) {
  const int answer = Answer(QStringLiteral("ファイルがありません"), false, [](QDialog& box) {
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Orvex"));
    ASSERT_NE(Button(box, "yes"), nullptr);
    ASSERT_NE(Button(box, "no"), nullptr);
    ASSERT_NE(Text(box), nullptr);
    EXPECT_TRUE(Button(box, "yes")->isVisible());
    EXPECT_EQ(Button(box, "yes")->text(), QStringLiteral("はい"));
    EXPECT_TRUE(Button(box, "yes")->isDefault());
    EXPECT_FALSE(Button(box, "no")->isVisible());
    EXPECT_EQ(Text(box)->toPlainText(), QStringLiteral("ファイルがありません"));
    EXPECT_TRUE(Text(box)->isReadOnly());
    Press(box, Qt::Key_Escape);
  });
  EXPECT_EQ(answer, kAnswerNo);
}

TEST_F(MessageBoxTest, PlainMessageEnterAnswersYes) {
  EXPECT_EQ(Answer(QStringLiteral("x"), false, [](QDialog& box) { Press(box, Qt::Key_Return); }),
            kAnswerYes);
}

TEST_F(MessageBoxTest, QuestionShowsBothButtonsAndEnterAnswersYes) {
  const int answer = Answer(QStringLiteral("保存しますか？"), true, [](QDialog& box) {
    EXPECT_TRUE(Button(box, "yes")->isVisible());
    EXPECT_TRUE(Button(box, "no")->isVisible());
    EXPECT_EQ(Button(box, "no")->text(), QStringLiteral("いいえ"));
    Press(box, Qt::Key_Return);
  });
  EXPECT_EQ(answer, kAnswerYes);
}

// The question before a show is replaced can be declined altogether: Esc
// and the close box keep things as they are, the safe way out.
TEST_F(MessageBoxTest, QuestionWithCancelOffersThreeAnswers) {
  const auto ask = [](std::function<void(QDialog&)> act) {
    BoxDriver driver(std::move(act));
    return ConfirmYesNoCancel("データが変更されています。保存しますか？");
  };
  QtMessageSink sink;
  MessageSink* previous = SetMessageSink(&sink);
  EXPECT_EQ(ask([](QDialog& box) {
              for (const char* name : {"yes", "no", "cancel"}) {
                ASSERT_NE(Button(box, name), nullptr) << name;
                EXPECT_TRUE(Button(box, name)->isVisible()) << name;
              }
              EXPECT_EQ(Button(box, "cancel")->text(), QStringLiteral("キャンセル"));
              EXPECT_LT(Button(box, "no")->x(), Button(box, "cancel")->x());
              Press(box, Qt::Key_Escape);
            }),
            kAnswerCancel);
  EXPECT_EQ(ask([](QDialog& box) { box.close(); }), kAnswerCancel);
  EXPECT_EQ(ask([](QDialog& box) { Button(box, "no")->click(); }), kAnswerNo);
  EXPECT_EQ(ask([](QDialog& box) { Press(box, Qt::Key_Return); }), kAnswerYes);
  SetMessageSink(previous);
}

TEST_F(MessageBoxTest, EnterInTheTextBoxStillAnswersYes) {
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
    const int answer = Answer(QStringLiteral("保存しますか？"), true, [key](QDialog& box) {
      Text(box)->setFocus();
      ASSERT_EQ(box.focusWidget(), Text(box));
      EXPECT_TRUE(Button(box, "yes")->isDefault());
      Press(box, key);
    });
    EXPECT_EQ(answer, kAnswerYes) << key;
  }
}

TEST_F(MessageBoxTest, NoButtonEscAndCloseBoxAnswerNo) {
  EXPECT_EQ(Answer(QStringLiteral("q"), true,
                   [](QDialog& box) { QTest::mouseClick(Button(box, "no"), Qt::LeftButton); }),
            kAnswerNo);
  EXPECT_EQ(Answer(QStringLiteral("q"), true, [](QDialog& box) { Press(box, Qt::Key_Escape); }),
            kAnswerNo);
  EXPECT_EQ(Answer(QStringLiteral("q"), true, [](QDialog& box) { box.close(); }), kAnswerNo);
  EXPECT_EQ(Answer(QStringLiteral("q"), false, [](QDialog& box) { box.close(); }), kAnswerNo);
  EXPECT_EQ(Answer(QStringLiteral("q"), true,
                   [](QDialog& box) { QTest::mouseClick(Button(box, "yes"), Qt::LeftButton); }),
            kAnswerYes);
}

TEST_F(MessageBoxTest, DialogEndsWithOneForYesAndTwoOtherwise) {
  const std::pair<std::function<void(QDialog&)>, int> cases[] = {
      {[](QDialog& box) { Press(box, Qt::Key_Return); }, 1},
      {[](QDialog& box) { QTest::mouseClick(Button(box, "no"), Qt::LeftButton); }, 2},
      {[](QDialog& box) { Press(box, Qt::Key_Escape); }, 2},
      {[](QDialog& box) { box.close(); }, 2},
  };
  for (const auto& [act, code] : cases) {
    CMessageBox box(QStringLiteral("q"), true);
    BoxDriver driver(act);
    EXPECT_EQ(box.exec(), code);
  }
}

TEST_F(MessageBoxTest, ControlsSitAtTheirDialogUnitPlaces) {
  Answer(QStringLiteral("q"), true, [](QDialog& box) {
    const QFont font = DialogFont();
    EXPECT_EQ(box.size(), DluSize(font, 236, 81));
    EXPECT_EQ(Text(box)->geometry(), DluRect(font, 58, 23, 170, 28));
    EXPECT_EQ(Button(box, "yes")->geometry(), DluRect(font, 122, 60, 50, 14));
    EXPECT_EQ(Button(box, "no")->geometry(), DluRect(font, 176, 60, 50, 14));
    EXPECT_FALSE(Button(box, "yes")->geometry().intersects(Button(box, "no")->geometry()));
    for (QWidget* child : box.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      EXPECT_TRUE(box.rect().contains(child->geometry())) << child->objectName().toStdString();
    }
    Press(box, Qt::Key_Escape);
  });
}

// A message longer than the dialog-unit text box makes the box taller, the
// buttons staying below the text; one longer than the screen stops at the
// screen and scrolls.
TEST_F(MessageBoxTest, TheBoxGrowsToItsTextAsFarAsTheScreen) {
  for (const char* text :
       {kExclusiveTwice, kExclusiveSameLine, "一行目\n二行目\n三行目\n四行目\n五行目\n六行目"}) {
    CMessageBox box(QString::fromUtf8(text), true);
    ExpectWholeTextVisible(box, [](QWidget&) {});
  }
  CMessageBox six(QStringLiteral("一行目\n二行目\n三行目\n四行目\n五行目\n六行目"), false);
  EXPECT_GT(six.height(), DluSize(DialogFont(), 236, 81).height());
  EXPECT_EQ(six.width(), DluSize(DialogFont(), 236, 81).width());

  QString text;
  for (int i = 0; i < 200; ++i) text += QStringLiteral("行 %1 とても長いメッセージの本文\n").arg(i);
  Answer(text, false, [](QDialog& box) {
    const int screen = QGuiApplication::primaryScreen()->availableGeometry().height();
    EXPECT_LE(box.height(), screen);
    EXPECT_GT(box.height(), screen / 2);
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
    EXPECT_GT(Text(box)->verticalScrollBar()->maximum(), 0);
    EXPECT_GE(Button(box, "yes")->y(), Text(box)->geometry().bottom());
    EXPECT_TRUE(box.rect().contains(Button(box, "yes")->geometry()));
    Press(box, Qt::Key_Escape);
  });
}

TEST_F(MessageBoxTest, SinkShowsTheBoxFromTheUiThread) {
  QtMessageSink sink;
  MessageSink* previous = SetMessageSink(&sink);
  BoxDriver driver([](QDialog& box) {
    EXPECT_EQ(Text(box)->toPlainText(), QStringLiteral("上書きしますか？"));
    EXPECT_TRUE(Button(box, "no")->isVisible());
    Press(box, Qt::Key_Return);
  });
  EXPECT_EQ(ConfirmYesNo("上書きしますか？", true), kAnswerYes);
  SetMessageSink(previous);
}

TEST_F(MessageBoxTest, SinkCalledFromAWorkerWaitsForTheUiThread) {
  QtMessageSink sink;
  MessageSink* previous = SetMessageSink(&sink);
  std::atomic<int> answer{-1};
  bool waitedForUser = false;
  BoxDriver driver([&](QDialog& box) {
    waitedForUser = answer.load() == -1;
    EXPECT_EQ(box.thread(), QApplication::instance()->thread());
    EXPECT_EQ(Text(box)->toPlainText(), QStringLiteral("続けますか？"));
    QTest::mouseClick(Button(box, "no"), Qt::LeftButton);
  });
  std::thread worker([&] { answer = ConfirmYesNo("続けますか？", true); });
  const bool answered = QTest::qWaitFor([&] { return answer.load() != -1; }, 10000);
  worker.join();
  SetMessageSink(previous);
  EXPECT_TRUE(answered);
  EXPECT_TRUE(waitedForUser);
  EXPECT_EQ(answer.load(), kAnswerNo);
}

}  // namespace
}  // namespace orvex
