// Toolbar customisation: buttons taken off and put back, the reset that
// brings the auto-run time box back, the operator's own toolbars with their
// customize button, all kept to the next start; the right-click menu.
#include <QAction>
#include <QDockWidget>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QToolBar>

#include "FrameRig.h"
#include "ui/FrameIds.h"
#include "ui/OrvexView.h"
#include "ui/ToolBarCustomizeDlg.h"
#include "ui/ToolBarSet.h"

namespace orvex {
namespace {

class ToolBarTest : public FrameTest {
 protected:
  QStringList Buttons(QToolBar* bar) {
    QStringList names;
    for (QAction* a : bar->actions())
      names << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
    return names;
  }
  std::unique_ptr<CToolBarCustomizeDlg> Customize(QToolBar* bar) {
    auto dialog = std::make_unique<CToolBarCustomizeDlg>(m_frame->ToolBars(), bar, m_frame.get());
    dialog->askTitle = [this](const QString&) { return m_newTitle; };
    dialog->show();
    return dialog;
  }
  // The dialog's switch for button id of the selected toolbar.
  static QListWidgetItem* Item(CToolBarCustomizeDlg& dialog, int id) {
    auto* list = dialog.findChild<QListWidget*>(QStringLiteral("buttons"));
    for (int i = 0; i < list->count(); ++i)
      if (list->item(i)->data(Qt::UserRole + 1).toInt() == id) return list->item(i);
    return nullptr;
  }
  static void Click(CToolBarCustomizeDlg& dialog, const char* name) {
    dialog.findChild<QPushButton*>(QString::fromLatin1(name))->click();
  }
  void Restart() {
    CloseFrame();
    ASSERT_TRUE(m_doc->SaveSettings());
    m_doc = std::make_unique<COrvexDoc>(m_dir.File("Orvex.ini"));
    m_doc->LoadSettings();
    OpenFrame();
    m_frame->show();
  }
  QToolBar* UserBar(const QString& title) {
    for (QToolBar* bar : m_frame->findChildren<QToolBar*>())
      if (bar->windowTitle() == title) return bar;
    return nullptr;
  }

  void Open(const std::string& path) {
    m_openAnswers.push_back(Q(path));
    m_frame->Action(ids::kFileOpen)->trigger();
    Settle();
  }

  QString m_newTitle = QStringLiteral("マイ ツール");
};

TEST_F(ToolBarTest, ResettingTheAutoRunToolBarBringsTheTimeBoxBack) {
  m_frame->show();
  QToolBar* autoRun = m_frame->ToolBar(ids::kAutoRunToolBar);
  const QStringList original = Buttons(autoRun);
  ASSERT_EQ(original.value(0), QStringLiteral("id310"));
  {
    auto dialog = Customize(autoRun);
    ASSERT_NE(Item(*dialog, ids::kAutoRunTimeButton), nullptr);
    Item(*dialog, ids::kAutoRunTimeButton)->setCheckState(Qt::Unchecked);
    Item(*dialog, ids::kAutoRunRun)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(m_frame->FindAutoRunTimeBox(), nullptr);
    EXPECT_EQ(Buttons(autoRun), (QStringList{"id32809", "|", "id32812", "id32814"}));

    Click(*dialog, "resetToolBar");
    EXPECT_EQ(Buttons(autoRun), original);
    QLineEdit* box = m_frame->FindAutoRunTimeBox();
    ASSERT_NE(box, nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(autoRun->widgetForAction(autoRun->actions().value(0)), box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->text(), QStringLiteral("00:00:00.0"));
    EXPECT_FALSE(Buttons(autoRun).contains(QStringLiteral("id32810")));
    EXPECT_EQ(Item(*dialog, ids::kAutoRunTimeButton)->checkState(), Qt::Checked);

    // Taken off again, it stays off at the next start until a reset.
    Item(*dialog, ids::kAutoRunTimeButton)->setCheckState(Qt::Unchecked);
    Item(*dialog, ids::kAutoRunZero)->setCheckState(Qt::Unchecked);
    dialog->Select(m_frame->ToolBar(ids::kMainToolBar));
    Item(*dialog, ids::kFileSave)->setCheckState(Qt::Unchecked);
  }
  Restart();
  autoRun = m_frame->ToolBar(ids::kAutoRunToolBar);
  EXPECT_EQ(Buttons(autoRun), (QStringList{"id32808", "id32809", "|", "id32814"}));
  EXPECT_EQ(m_frame->FindAutoRunTimeBox(), nullptr);
  EXPECT_FALSE(Buttons(m_frame->ToolBar(ids::kMainToolBar)).contains(QStringLiteral("id57603")));
  // The command itself is still in the menu.
  EXPECT_TRUE(m_frame->Action(ids::kFileSave)->isVisible());
  m_frame->ToolBars().Reset(autoRun);
  EXPECT_EQ(Buttons(autoRun), original);
  EXPECT_NE(m_frame->FindAutoRunTimeBox(), nullptr);
}

TEST_F(ToolBarTest, AToolBarOfTheOperatorsCarriesTheCustomizeButton) {
  m_frame->show();
  QToolBar* mine = nullptr;
  {
    auto dialog = Customize(nullptr);
    Click(*dialog, "newToolBar");
    mine = UserBar(m_newTitle);
    ASSERT_NE(mine, nullptr);
    QCoreApplication::processEvents();
    EXPECT_TRUE(mine->isVisible());
    ASSERT_EQ(Buttons(mine), QStringList{"id125"});
    EXPECT_EQ(mine->actions().value(0)->text(), QStringLiteral("カスタマイズ..."));
    EXPECT_EQ(dialog->Selected(), mine);
    // Any toolbar command can go on it; the time box stays where it is.
    EXPECT_EQ(Item(*dialog, ids::kAutoRunTimeButton), nullptr);
    Item(*dialog, ids::kMidiSettings)->setCheckState(Qt::Checked);
    Item(*dialog, ids::kFileOpen)->setCheckState(Qt::Checked);
    EXPECT_EQ(Buttons(mine), (QStringList{"id57601", "id32832", "|", "id125"}));
    // A cancelled name makes nothing.
    m_newTitle.clear();
    const size_t bars = m_frame->ToolBars().ToolBars().size();
    Click(*dialog, "newToolBar");
    EXPECT_EQ(m_frame->ToolBars().ToolBars().size(), bars);
  }
  QToolBar* asked = nullptr;
  m_frame->ToolBars().customize = [&asked](QToolBar* bar) { asked = bar; };
  mine->actions().back()->trigger();
  EXPECT_EQ(asked, mine);

  Restart();
  mine = UserBar(QStringLiteral("マイ ツール"));
  ASSERT_NE(mine, nullptr);
  QCoreApplication::processEvents();
  EXPECT_TRUE(mine->isVisible());
  EXPECT_EQ(Buttons(mine), (QStringList{"id57601", "id32832", "|", "id125"}));
  {
    auto dialog = Customize(mine);
    EXPECT_FALSE(dialog->findChild<QPushButton*>(QStringLiteral("resetToolBar"))->isEnabled());
    Click(*dialog, "deleteToolBar");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(UserBar(QStringLiteral("マイ ツール")), nullptr);
    // The window's own toolbars cannot be deleted.
    dialog->Select(m_frame->ToolBar(ids::kDeviceToolBar));
    EXPECT_FALSE(dialog->findChild<QPushButton*>(QStringLiteral("deleteToolBar"))->isEnabled());
  }
  EXPECT_TRUE(m_frame->Action(ids::kFileOpen)->isVisible());
  Restart();
  EXPECT_EQ(UserBar(QStringLiteral("マイ ツール")), nullptr);
}

TEST_F(ToolBarTest, TheRightClickMenuSwitchesBarsAndPanesAndOpensTheCustomisation) {
  m_frame->show();
  std::unique_ptr<QMenu> menu(m_frame->createPopupMenu());
  QStringList texts;
  for (QAction* a : menu->actions()) texts << a->text();
  EXPECT_EQ(texts, (QStringList{"標準", "オートラン", "デバイス", "Ｑシート", "スライダーパネル",
                                "エフェクト", "進行", "", "カスタマイズ..."}));
  bool opened = false;
  m_frame->ToolBars().customize = [&opened](QToolBar* bar) { opened = bar == nullptr; };
  menu->actions().back()->trigger();
  EXPECT_TRUE(opened);
  // Hiding a toolbar from it.
  menu->actions()[2]->trigger();
  EXPECT_FALSE(m_frame->ToolBar(ids::kDeviceToolBar)->isVisible());
}

TEST_F(ToolBarTest, EnterInTheTimeBoxIsNotGo) {
  Open(WriteShow("go.csv", {{1, 1, "a.wav"}, {2, 2, "b.wav"}}));
  m_frame->show();
  m_frame->activateWindow();
  QLineEdit* box = m_frame->FindAutoRunTimeBox();
  box->setFocus();
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(m_runtime->Console().CurrentCueText(), "");
  auto* next = m_frame->findChild<QLineEdit*>(QStringLiteral("id1075"));
  next->setFocus();
  QTest::keyClick(next, Qt::Key_Return);
  EXPECT_EQ(m_runtime->Console().CurrentCueText(), "1");
}

}  // namespace
}  // namespace orvex
