// The boxes of the channel data rows in the whole window: files dropped on
// them become cues of their channel, and long titles read from their start.
#include <QAction>
#include <QComboBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "FrameRig.h"
#include "ui/FrameIds.h"

namespace orvex {
namespace {

class ConsoleBoxesTest : public FrameTest {
 protected:
  void Open(const std::string& path) {
    m_openAnswers.push_back(Q(path));
    m_frame->Action(ids::kFileOpen)->trigger();
    Settle();
  }
  template <typename W = QWidget>
  W* Find(int id) {
    W* w = m_frame->findChild<W*>(QStringLiteral("id%1").arg(id));
    EXPECT_NE(w, nullptr) << "no control id" << id;
    return w;
  }
  // Drags the files over a box and lets them go in its middle, as a file
  // manager does: it offers the files' addresses as text too.
  bool DropOn(QWidget* box, const std::vector<std::string>& files) {
    QMimeData data;
    QList<QUrl> urls;
    QString text;
    for (const std::string& f : files) {
      urls << QUrl::fromLocalFile(Q(f));
      text += urls.back().toString() + u'\n';
    }
    data.setUrls(urls);
    data.setText(text);
    const QPointF at = QRectF(box->rect()).center();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box, &drop);
    Settle();
    return drop.isAccepted();
  }
};

TEST_F(ConsoleBoxesTest, FilesDroppedOnARowsBoxesBecomeCuesOfThatChannel) {
  m_frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(m_frame.get()));
  Open(WriteShow("show.csv", {{1, 3, "a.wav"}, {2, 4, "b.wav"}}));
  auto* file2 = Find<QLineEdit>(1033);
  auto* title3 = Find<QComboBox>(1038);
  auto* description4 = Find<QLineEdit>(1044);
  auto* fadeIn5 = Find<QLineEdit>(1082);
  ASSERT_TRUE(file2 && title3 && description4 && fadeIn5);
  const QString fileBefore = file2->text();

  EXPECT_TRUE(DropOn(file2, {m_dir.File("snd/1.wav"), m_dir.File("snd/2.wav")}));
  EXPECT_EQ(m_doc->GetCount(2), 3);
  EXPECT_DOUBLE_EQ(m_doc->GetQNumber(2, 3), 6);
  EXPECT_TRUE(DropOn(title3->lineEdit(), {m_dir.File("snd/3.wav")}));
  EXPECT_EQ(m_doc->GetCount(3), 1);
  EXPECT_TRUE(DropOn(description4, {m_dir.File("snd/4.wav")}));
  EXPECT_EQ(m_doc->GetCount(4), 1);
  EXPECT_TRUE(DropOn(fadeIn5, {m_dir.File("snd/5.wav")}));
  EXPECT_EQ(m_doc->GetCount(5), 1);
  // No address was typed into any box.
  for (auto* box : m_frame->findChildren<QLineEdit*>()) {
    EXPECT_FALSE(box->text().contains(QStringLiteral("file:"))) << box->objectName().toStdString();
  }
  EXPECT_EQ(file2->text(), fileBefore);

  // A show dropped on a box opens, as on the rest of the console.
  const std::string other = WriteShow("other.csv", {{6, 1, "x.wav"}});
  EXPECT_TRUE(DropOn(file2, {other}));
  EXPECT_EQ(m_doc->GetShowPath(), other);
  EXPECT_EQ(m_doc->GetCount(6), 1);

  // Text that is no file still goes into the box it is dropped on.
  QMimeData words;
  words.setText(QStringLiteral("メモ"));
  const QPoint at = description4->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &words, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(description4, &enter);
  EXPECT_TRUE(enter.isAccepted());
}

TEST_F(ConsoleBoxesTest, LongTitlesReadFromTheirStart) {
  m_frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(m_frame.get()));
  CueStore store;
  store.SetSoundFolder(m_dir.File("snd"));
  const std::string longTitles[] = {"キュー1番 タイトル、開演前の客入れ音楽",
                                    "キュー2番 タイトル、暗転の後の雷鳴"};
  for (int i = 0; i < 2; ++i) {
    RecordValues v;
    v.qNumber = i + 1;
    v.title = longTitles[i];
    v.fileOrCommand = "a.wav";
    store.AddRecord(1, v);
  }
  const std::string path = m_dir.File("titles.csv");
  ASSERT_TRUE(SaveShowFile(path, store));
  Open(path);

  auto* title = Find<QComboBox>(1017);
  ASSERT_NE(title, nullptr);
  QLineEdit* edit = title->lineEdit();
  ASSERT_EQ(edit->text(), Q(longTitles[0]));
  ASSERT_GT(edit->fontMetrics().horizontalAdvance(edit->text()), edit->width());
  const auto readsFromStart = [&] {
    return edit->cursorPosition() == 0 &&
           edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().left() < edit->width() / 4;
  };
  EXPECT_TRUE(readsFromStart());

  // The next title chosen with the keyboard in the list that has the focus.
  title->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(title, Qt::Key_Down);
  Settle();
  ASSERT_EQ(edit->text(), Q(longTitles[1]));
  EXPECT_TRUE(readsFromStart());

  // The console moving the channel on, with the focus elsewhere.
  Find(1015)->setFocus(Qt::OtherFocusReason);
  m_runtime->Console().ChooseTitle(1, 0);
  Settle();
  ASSERT_EQ(edit->text(), Q(longTitles[0]));
  EXPECT_TRUE(readsFromStart());
}

}  // namespace
}  // namespace orvex
