// The two list windows in the main window: the background list's window
// driven by its buttons, and the channel pages following a list cue.
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTreeWidget>

#include "DialogIds.h"
#include "FrameRig.h"
#include "engine/Console.h"
#include "engine/WavBytes.h"
#include "ui/BgmDlg.h"
#include "ui/BgmPlayDlg.h"
#include "ui/FrameIds.h"

namespace orvex {
namespace {

class ListWindowsTest : public FrameTest {
 protected:
  void WriteSounds(int count) {
    for (int i = 0; i < count; ++i)
      m_dir.Write("snd/" + std::to_string(i) + ".wav",
                  Wav(1, 48000, 16, std::string(48000 * 2, '\x01')));  // a second each
  }
  std::string WriteList(const std::string& name, const std::vector<bool>& checks) {
    std::string text = "# a list\r\n" + m_dir.File("snd") + "\r\n";
    for (size_t i = 0; i < checks.size(); ++i)
      text += std::to_string(i) + ".wav," + (checks[i] ? "1" : "0") + "\r\n";
    m_dir.Write(name, text);
    return m_dir.File(name);
  }
  void Open(const std::string& path) {
    m_openAnswers.push_back(Q(path));
    m_frame->Action(ids::kFileOpen)->trigger();
    Settle();
  }
  void Advance(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
      m_timers.Advance(10);
      QCoreApplication::processEvents();
    }
  }
};

TEST_F(ListWindowsTest, TheBackgroundWindowReadsPlaysAndHidesByItsCommand) {
  WriteSounds(3);
  const std::string list = WriteList("bgm.lst", {true, false, true});
  QAction* command = m_frame->Action(ids::kEditBgmList);
  ASSERT_TRUE(command->isEnabled());
  CBGMDlg* window = m_frame->BgmWindow();
  EXPECT_FALSE(window->isVisible()) << "created hidden";
  command->trigger();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(command->isChecked());

  window->chooseListToRead = [&](const QString&) { return Q(list); };
  Id<QPushButton>(window, 1325)->click();  // 読込
  auto* items = Id<QListWidget>(window, 1326);
  ASSERT_EQ(items->count(), 3);
  EXPECT_EQ(items->item(0)->text(), QStringLiteral(" 0.wav"));
  EXPECT_EQ(items->item(1)->checkState(), Qt::Unchecked);
  EXPECT_EQ(Id<QLineEdit>(window, 1119)->text(), Q(m_dir.File("snd")));
  EXPECT_FALSE(Id<QPushButton>(window, 1183)->isEnabled());  // ▲ on the first item
  EXPECT_TRUE(Id<QPushButton>(window, 1191)->isEnabled());

  // Play from item 1, which is unchecked: item 2 plays.
  items->setCurrentRow(1);
  auto* play = Id<QPushButton>(window, 1117);
  play->click();
  CBgmList& bgm = m_runtime->Console().Background();
  EXPECT_TRUE(play->isChecked());
  EXPECT_TRUE(bgm.Playing());
  EXPECT_EQ(bgm.Current(), 2);
  EXPECT_EQ(items->currentRow(), 2);
  EXPECT_FALSE(Id<QPushButton>(window, 1191)->isEnabled());  // ▼ on the last

  // The slider sets the level; F.O with 0 s ends the play at once.
  Id<QSlider>(window, 1323)->setValue(50);
  EXPECT_EQ(bgm.Level(), 32767u);
  Id<QLineEdit>(window, 1216)->setText(QStringLiteral("0"));
  Id<QPushButton>(window, 1215)->click();
  Advance(100);
  EXPECT_FALSE(bgm.Playing());
  EXPECT_FALSE(play->isChecked());
  EXPECT_EQ(Id<QSlider>(window, 1323)->value(), 100);

  // 新規 with changes asks first; "いいえ" keeps the list.
  Id<QPushButton>(window, 1150)->click();  // 削除: the list has changed
  ASSERT_EQ(items->count(), 2);
  m_messages.answers = {kAnswerNo};
  Id<QPushButton>(window, 1210)->click();
  EXPECT_EQ(m_messages.messages.back(), CBGMDlg::kNewQuestion);
  EXPECT_EQ(items->count(), 2);

  // The close box hides it and clears the check; the list stays.
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(command->isChecked());
  EXPECT_EQ(bgm.Items().size(), 2u);

  // At exit the unsaved list is asked about too.
  m_messages.answers = {kAnswerNo};
  CloseFrame();
  EXPECT_NE(
      std::find(m_messages.messages.begin(), m_messages.messages.end(), CBGMDlg::kExitQuestion),
      m_messages.messages.end());
}

TEST_F(ListWindowsTest, AChannelPageFollowsItsListCueAndItsChecks) {
  WriteSounds(3);
  WriteList("snd/set1.lst", {false, true, true});
  Open(WriteShow("lists.csv", {{4, 1, "set1.lst"}}));
  QAction* command = m_frame->Action(ids::kShowBgmPlayer);
  command->trigger();
  CBGMPlayDlg* window = m_frame->ListWindow();
  ASSERT_TRUE(window->isVisible());
  EXPECT_EQ(Id<QTabWidget>(window, 1331)->tabText(3), QStringLiteral("CH4"));

  CBGMPlayPage* page = window->Page(4);
  EXPECT_EQ(Id<QLineEdit>(page, 1290)->text(), QStringLiteral("set1.lst"));
  QTreeWidget* list = page->List();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(m_runtime->Console().Page(4).marked, 1) << "the first checked item is loaded";

  // Unchecking the loaded item of a channel never started: it loads the next.
  // The rows stay the same rows (the operator's scroll and selection stay).
  list->setCurrentItem(list->topLevelItem(2));
  QTreeWidgetItem* const third = list->topLevelItem(2);
  list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
  QCoreApplication::processEvents();
  EXPECT_EQ(list->topLevelItem(2), third);
  EXPECT_EQ(list->currentItem(), third);
  EXPECT_FALSE(m_runtime->Console().Page(4).items[1].checked);
  EXPECT_EQ(m_runtime->Console().Page(4).marked, 2);
  EXPECT_EQ(list->topLevelItem(1)->checkState(0), Qt::Unchecked);

  window->close();
  EXPECT_FALSE(command->isChecked());
}

}  // namespace
}  // namespace orvex
