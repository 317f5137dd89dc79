// The slider panel in the window: markers set on a playing channel by
// "マーク", "追加" and a double click on the strip, a jump to one, and the
// markers found again after a save and a restart.
#include <filesystem>

#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "DialogIds.h"
#include "FrameRig.h"
#include "engine/MarkerPanel.h"
#include "engine/WavBytes.h"
#include "ui/FrameIds.h"
#include "ui/OrvexView.h"
#include "ui/ProgressDlgBar.h"
#include "ui/SliderDlg.h"

namespace orvex {
namespace {

class SliderPanelTest : public FrameTest {
 protected:
  void Advance(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
      m_timers.Advance(10);
      QCoreApplication::processEvents();
    }
    // The view shows the players on its own display timer.
    QTest::qWait(COrvexView::kProgressPeriodMs + 50);
  }
  CSliderDlgBar* Bar() {
    return static_cast<CSliderDlgBar*>(m_frame->Pane(ids::kSliderPane)->widget());
  }
  CSliderDlg* Panel() { return Bar()->Panel(); }
  QStringList Entries(int listId) {
    auto* box = Id<QComboBox>(Panel(), listId);
    QStringList texts;
    for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
    return texts;
  }
};

TEST_F(SliderPanelTest, MarkersSetWhilePlayingAreJumpedToSavedAndFoundAgain) {
  // 10 s at 32 000 bytes a second.
  std::filesystem::create_directories(m_dir.File("snd"));
  m_dir.Write("snd/a.wav", Wav(2, 8000, 16, std::string(320000, '\x10')));
  const std::string show = WriteShow("show.csv", {{1, 1, "a.wav"}});
  m_openAnswers.push_back(Q(show));
  m_frame->Action(ids::kFileOpen)->trigger();
  Settle();
  CMarkerPanel& markers = m_runtime->Markers();
  ASSERT_EQ(markers.Row(1).bytesPerSecond, 32000u);
  EXPECT_EQ(markers.Row(1).range, 320000u);
  ASSERT_NE(Panel(), nullptr);
  EXPECT_EQ(Panel()->objectName(), "id251");

  m_runtime->Console().Execute(cmd::Channel{cmd::Transport::kPlay, 1});
  Advance(2000);
  CProgressSlider* slider = Panel()->Slider(1);
  EXPECT_EQ(slider->maximum(), 320000);
  const auto played = static_cast<uint32_t>(slider->value());
  EXPECT_GT(played, 50000u);
  EXPECT_EQ(Id<QLabel>(Panel(), 1241)->text().toStdString(),
            m_runtime->Console().Player(1).GetPositionDisplay().longElapsed);

  Click(Panel(), 1188);  // マーク
  Type(Panel(), 1246, QStringLiteral("0.05.000"));
  Click(Panel(), 1251);  // 追加
  CMarkerStrip* strip = Panel()->Strip(1);
  QTest::mouseDClick(strip, Qt::LeftButton, {}, QPoint(strip->width() / 2, 3));
  ASSERT_EQ(markers.Row(1).list->size(), 3u);
  EXPECT_EQ((*markers.Row(1).list)[0], played);
  EXPECT_EQ((*markers.Row(1).list)[1], 160000u);
  EXPECT_NEAR((*markers.Row(1).list)[2], 160000.0, 320000.0 / strip->width());
  EXPECT_EQ(Entries(1246).value(1), QStringLiteral("0.05.000"));
  EXPECT_EQ(Id<QComboBox>(Panel(), 1246)->currentIndex(), 2);
  EXPECT_TRUE(markers.Modified());

  // Pick the first marker and jump back to it while the channel plays.
  auto* box = Id<QComboBox>(Panel(), 1246);
  box->setCurrentIndex(0);
  emit box->activated(0);
  Advance(500);
  Click(Panel(), 1147);  // Jump to
  EXPECT_EQ(m_runtime->Console().Player(1).Position(), played);
  EXPECT_TRUE(m_runtime->Console().Player(1).IsPlaying());

  // Saved with the show, beside the sound, as the home platform writes it.
  m_frame->Action(ids::kFileSave)->trigger();
  Settle();
  EXPECT_FALSE(markers.Modified());
  const std::string file = m_dir.Read("snd/a.mrk");
  EXPECT_EQ(file.substr(0, 3), "3\r\n");

  // The next start finds them again when the show opens.
  CloseFrame();
  OpenFrame();
  m_openAnswers.push_back(Q(show));
  m_frame->Action(ids::kFileOpen)->trigger();
  Settle();
  QCoreApplication::processEvents();
  ASSERT_NE(m_runtime->Markers().Row(1).list, nullptr);
  EXPECT_EQ(m_runtime->Markers().Row(1).list->size(), 3u);
  EXPECT_EQ(Entries(1246).size(), 3);

  // "全マーク クリア" asks first: no keeps the rows, yes empties them.
  m_messages.answers = {kAnswerNo};
  Click(Panel(), 1266);
  EXPECT_EQ(m_messages.messages.back(), "すべてのマーカーをクリアしますか？");
  EXPECT_EQ(Entries(1246).size(), 3);
  m_messages.answers = {kAnswerYes};
  Click(Panel(), 1266);
  EXPECT_EQ(Entries(1246).size(), 0);
  EXPECT_TRUE(m_runtime->Markers().Modified());
  m_runtime->Markers().SetModified(false);

  // Close empties the rows; the store keeps the lists.
  m_frame->Action(ids::kFileClose)->trigger();
  Settle();
  EXPECT_EQ(Entries(1246).size(), 0);
  EXPECT_EQ(m_runtime->Markers().Store().Size(), 1u);
}

// The panel switch has no menu entry: the operator's own toolbars offer it.
// Closing the panel clears it, and sizing the pane brings the panel back.
TEST_F(SliderPanelTest, ThePanelSwitchFollowsCloseAndResize) {
  m_frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(m_frame.get()));
  QAction* toggle = m_frame->Action(ids::kShowSliderPanel);
  ASSERT_NE(toggle, nullptr);
  EXPECT_TRUE(toggle->isChecked());
  EXPECT_EQ(toggle->toolTip(), QStringLiteral("スライダーパネル"));
  toggle->trigger();
  EXPECT_FALSE(Panel()->isVisible());
  toggle->trigger();
  EXPECT_TRUE(Panel()->isVisible());

  Id<QPushButton>(Panel(), 1)->click();  // the hidden "閉じる"
  EXPECT_FALSE(Panel()->isVisible());
  EXPECT_FALSE(toggle->isChecked());
  Bar()->resize(Bar()->size() + QSize(10, 10));
  QCoreApplication::processEvents();
  EXPECT_TRUE(Panel()->isVisible());
  EXPECT_TRUE(toggle->isChecked());
}

TEST_F(SliderPanelTest, ANarrowPaneScrollsThePanelSideways) {
  CSliderDlgBar bar(m_runtime->Markers());
  const QSize full = bar.Panel()->size();
  bar.resize(full.width() / 2, full.height());
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  QScrollBar* scroll = bar.horizontalScrollBar();
  EXPECT_TRUE(scroll->isVisible());
  EXPECT_GT(scroll->maximum(), 0);
  EXPECT_EQ(scroll->pageStep(), std::max(1, scroll->maximum() / 10));
  EXPECT_EQ(scroll->singleStep(), std::max(1, scroll->maximum() / 30));
  bar.resize(full + QSize(40, 40));
  QCoreApplication::processEvents();
  EXPECT_FALSE(scroll->isVisible());
}

}  // namespace
}  // namespace orvex
