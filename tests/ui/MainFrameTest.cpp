// The main window: its commands and texts, looks that persist, a pane layout
// that comes back at the next start, help files, the about box and a show
// given on the command line.
#include <QAction>
#include <QActionGroup>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QScrollArea>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "FrameRig.h"
#include "engine/Console.h"
#include "ui/AboutDlg.h"
#include "ui/FrameIds.h"
#include "ui/Looks.h"
#include "ui/ToneCtrlPane.h"

namespace orvex {
namespace {

class MainFrameTest : public FrameTest {
 protected:
  QAction* Find(int id) { return m_frame->findChild<QAction*>(QStringLiteral("id%1").arg(id)); }
};

TEST_F(MainFrameTest, MenuToolbarsAndStatusBarCarryTheirIdsAndTexts) {
  const std::pair<int, const char*> items[] = {{57600, "新規作成(&N)..."},
                                               {57601, "開く(&O)..."},
                                               {57603, "上書き保存(&S)"},
                                               {57604, "名前をつけて保存(&A)..."},
                                               {57602, "閉じる(&C)"},
                                               {57665, "Orvexの終了(&X)"},
                                               {32776, "フェーダー記憶"},
                                               {32775, "CHデータ更新"},
                                               {245, "Ｑシート編集..."},
                                               {32786, "連続再生リスト編集..."},
                                               {32828, "全チャネル一斉停止"},
                                               {32778, "連続再生リスト..."},
                                               {32777, "動作設定..."},
                                               {32792, "サウンドデバイス選択..."},
                                               {32821, "ASIO設定..."},
                                               {32823, "WASAPI設定..."},
                                               {32832, "MIDIデバイス設定"},
                                               {32815, "オプション"},
                                               {59393, "ステータス バー(&S)"},
                                               {214, "標準スタイル(&N)"},
                                               {215, "ブルー スタイル(&B)"},
                                               {216, "ブラック スタイル(&L)"},
                                               {217, "シルバー スタイル(&S)"},
                                               {218, "アクア スタイル(&A)"},
                                               {57670, "ヘルプ(&H)"},
                                               {32825, "Orvex の使い方(&T)"},
                                               {57664, "Orvex のﾊﾞｰｼﾞｮﾝ情報(&A)..."}};
  for (const auto& [id, text] : items) {
    QAction* action = Find(id);
    ASSERT_NE(action, nullptr) << id;
    EXPECT_EQ(action->text(), QString::fromUtf8(text)) << id;
  }
  QStringList menus;
  for (QAction* a : m_frame->menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"ﾌｧｲﾙ(&F)", "編集(&E)", "表示(&V)", "ﾍﾙﾌﾟ(&H)"}));
  EXPECT_EQ(Find(57601)->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
  EXPECT_EQ(Find(57680)->shortcut(), QKeySequence(Qt::Key_F6));
  // The editors and settings dialogs can be chosen; the list windows' and the
  // slider panel's switches are checked while they show.
  for (int id : {245, 32786, 32778, 32832, 32900}) EXPECT_TRUE(Find(id)->isEnabled()) << id;
  EXPECT_FALSE(Find(32786)->isChecked());
  EXPECT_TRUE(Find(32786)->isCheckable());

  // Toolbars: titles, button order, prompt and tooltip.
  auto buttons = [&](int bar) {
    QStringList names;
    for (QAction* a : m_frame->ToolBar(bar)->actions()) {
      names << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
    }
    return names;
  };
  EXPECT_EQ(m_frame->ToolBar(128)->windowTitle(), QStringLiteral("標準"));
  EXPECT_EQ(buttons(128), (QStringList{"id57600", "id57601", "id57603", "|", "id32776", "id32775",
                                       "id245", "id32786", "|", "id32778", "|", "id57670"}));
  EXPECT_EQ(m_frame->ToolBar(287)->windowTitle(), QStringLiteral("オートラン"));
  EXPECT_EQ(buttons(287).mid(1), (QStringList{"id32808", "id32809", "|", "id32812", "id32814"}));
  EXPECT_EQ(buttons(305), (QStringList{"id32823", "id32821", "id32832"}));
  EXPECT_EQ(Find(57603)->toolTip(), QStringLiteral("上書保存"));
  EXPECT_EQ(Find(57603)->statusTip(), QStringLiteral("Qシートを上書きして保存"));
  QLineEdit* timeBox = m_frame->FindAutoRunTimeBox();
  ASSERT_NE(timeBox, nullptr);
  EXPECT_EQ(timeBox->objectName(), QStringLiteral("id310"));
  EXPECT_EQ(timeBox->text(), QStringLiteral("00:00:00.0"));
  EXPECT_EQ(timeBox->width(), 72);

  EXPECT_EQ(m_frame->StatusText(), QStringLiteral("レディ"));
  for (const char* name : {"CAP", "NUM", "SCRL"}) {
    EXPECT_NE(m_frame->statusBar()->findChild<QLabel*>(QStringLiteral("indicator") + name),
              nullptr);
  }
}

TEST_F(MainFrameTest, PanesStartTabbedAndAClosedTabComesBackBesideItsGroup) {
  QDockWidget* cues = m_frame->Pane(274);
  QDockWidget* slider = m_frame->Pane(315);
  QDockWidget* effect = m_frame->Pane(283);
  QDockWidget* progress = m_frame->Pane(314);
  EXPECT_EQ(cues->windowTitle(), QStringLiteral("Ｑシート"));
  EXPECT_EQ(m_frame->dockWidgetArea(cues), Qt::RightDockWidgetArea);
  EXPECT_EQ(m_frame->dockWidgetArea(effect), Qt::BottomDockWidgetArea);
  EXPECT_TRUE(m_frame->tabifiedDockWidgets(cues).contains(slider));
  EXPECT_TRUE(m_frame->tabifiedDockWidgets(effect).contains(progress));
  EXPECT_EQ(progress->windowTitle(), QStringLiteral("進行"));

  m_frame->show();
  slider->close();
  EXPECT_FALSE(slider->isVisible());
  // Reopened from "ツール バーとドッキング ウィンドウ".
  slider->toggleViewAction()->trigger();
  EXPECT_TRUE(slider->isVisible());
  EXPECT_TRUE(m_frame->tabifiedDockWidgets(cues).contains(slider));
}

TEST_F(MainFrameTest, AtTheFirstStartTheConsoleIsWholeAndHasTheKeyboard) {
  m_frame->show();
  m_frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame.get()));
  // GO has the focus, so Enter is GO and the time box shows the clock.
  EXPECT_EQ(QApplication::focusWidget(), m_frame->findChild<QWidget*>(QStringLiteral("id1076")));
  // The console form fits beside and above the panes; the panes show
  // their contents whole: all three rows of the progress pane.
  auto* view = m_frame->findChild<QScrollArea*>(QStringLiteral("COrvexView"));
  ASSERT_NE(view, nullptr);
  EXPECT_GE(view->viewport()->height(), view->widget()->height());
  EXPECT_GE(view->viewport()->width(), view->widget()->width());
  // The cue list has its 300 pixels where the screen leaves room for them;
  // on a smaller screen the window fits the screen and the console keeps
  // what it needs.
  if (m_frame->width() >= 1280) {
    EXPECT_EQ(m_frame->Pane(274)->width(), 300);
  } else {
    EXPECT_GE(m_frame->Pane(274)->width(), 100);
  }
  auto* rows = m_frame->Pane(314)->findChild<QWidget*>(QStringLiteral("id308"));
  ASSERT_NE(rows, nullptr);
  EXPECT_GE(m_frame->Pane(314)->widget()->height(), rows->height());
  EXPECT_GE(m_frame->Pane(283)->widget()->height(),
            m_frame->Pane(283)->widget()->minimumSizeHint().height());
}

TEST_F(MainFrameTest, PaneLayoutAndHiddenToolbarsComeBackAtTheNextStart) {
  m_frame->show();
  m_frame->Pane(283)->setFloating(true);
  m_frame->Pane(314)->close();
  m_frame->ToolBar(305)->hide();
  CloseFrame();
  // Through the settings file, as between two runs.
  ASSERT_TRUE(m_doc->SaveSettings());
  m_doc = std::make_unique<COrvexDoc>(m_dir.File("Orvex.ini"));
  m_doc->LoadSettings();
  OpenFrame();
  m_frame->show();
  EXPECT_TRUE(m_frame->Pane(283)->isFloating());
  EXPECT_FALSE(m_frame->Pane(314)->isVisible());
  EXPECT_TRUE(m_frame->Pane(274)->isVisible());
  EXPECT_FALSE(m_frame->ToolBar(305)->isVisible());
}

TEST_F(MainFrameTest, TheChosenLookIsDrawnCheckedAndKept) {
  EXPECT_EQ(m_frame->CurrentLook(), kLook2005);
  EXPECT_TRUE(Find(214)->isChecked());
  const QString before = m_frame->styleSheet();
  Find(217)->trigger();
  EXPECT_EQ(m_frame->CurrentLook(), 217);
  EXPECT_TRUE(Find(217)->isChecked());
  EXPECT_FALSE(Find(214)->isChecked());
  EXPECT_NE(m_frame->styleSheet(), before);
  EXPECT_EQ(m_doc->Store().GetInt("Workspace", "ApplicationLook"), 217);
  // Every look is drawn differently.
  QStringList sheets;
  for (int id = kLookPlain; id <= kLookAqua; ++id) sheets << LookStyleSheet(id);
  sheets.removeDuplicates();
  EXPECT_EQ(sheets.size(), 9);

  CloseFrame();
  ASSERT_TRUE(m_doc->SaveSettings());
  m_doc = std::make_unique<COrvexDoc>(m_dir.File("Orvex.ini"));
  m_doc->LoadSettings();
  OpenFrame();
  EXPECT_EQ(m_frame->CurrentLook(), 217);
  EXPECT_TRUE(Find(217)->isChecked());

  // An older look is honoured with no item checked; an unknown value is the
  // 2007-style look in its current colour.
  CloseFrame();
  m_doc->Store().SetInt("Workspace", "ApplicationLook", 212);
  OpenFrame();
  EXPECT_EQ(m_frame->CurrentLook(), 212);
  for (int id = 214; id <= 218; ++id) EXPECT_FALSE(Find(id)->isChecked()) << id;
  CloseFrame();
  m_doc->Store().SetInt("Workspace", "ApplicationLook", 4242);
  OpenFrame();
  EXPECT_EQ(m_frame->CurrentLook(), 217);
}

TEST_F(MainFrameTest, HelpFilesOpenFromTheProgramFolderAndAreBuiltThere) {
  m_frame->SetHelpFolder(QStringLiteral(ORVEX_BIN_DIR));
  Find(57670)->trigger();
  Find(32825)->trigger();
  ASSERT_EQ(m_opened.size(), 2u);
  EXPECT_EQ(m_opened[0].toLocalFile(), QStringLiteral(ORVEX_BIN_DIR "/OrvexHelp.pdf"));
  EXPECT_EQ(m_opened[1].toLocalFile(), QStringLiteral(ORVEX_BIN_DIR "/tutorial.pdf"));
  for (const QUrl& url : m_opened) {
    QFile pdf(url.toLocalFile());
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly)) << url.toLocalFile().toStdString();
    EXPECT_TRUE(pdf.read(5) == "%PDF-");
    EXPECT_GT(pdf.size(), 10000);
  }
}

// The effect pane keeps no tone of its own: a band moved there is the
// console's, which plays it and keeps it in the settings that are saved.
TEST_F(MainFrameTest, AToneMovedInTheEffectPaneGoesToTheConsole) {
  auto* pane = qobject_cast<CToneCtrlPane*>(m_frame->Pane(ids::kEffectPane)->widget());
  ASSERT_NE(pane, nullptr);
  auto* mid = pane->Page(3)->findChild<QSlider*>(QStringLiteral("id1335"));
  ASSERT_NE(mid, nullptr);
  mid->setValue(-35);
  EXPECT_EQ(m_runtime->Console().ToneGain(3, 1), -3.5f);
  EXPECT_EQ(m_doc->GetSettings().tone[3][1], -3.5f);
  auto* pan = pane->Page(5)->findChild<QSlider*>(QStringLiteral("id1333"));
  pan->setValue(-2550);
  EXPECT_EQ(m_runtime->Console().Pan(5), -2550);
}

TEST_F(MainFrameTest, AboutBoxShowsTheVersion) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(about, nullptr);
    seen = about->objectName() == QStringLiteral("id100") &&
           about->windowTitle() == QStringLiteral("Orvexのﾊﾞｰｼﾞｮﾝ情報");
    QStringList texts;
    for (auto* label : about->findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Orvex Version 7.7")));
    about->accept();
  });
  Find(57664)->trigger();
  EXPECT_TRUE(seen);
}

TEST_F(MainFrameTest, AShowOnTheCommandLineOpensAfterStartUp) {
  // A sound that exists: a missing one would be reported in a box that
  // waits for the operator.
  const std::string show = WriteShow("cmdline.csv", {{1, 1, "a.wav"}});
  std::string wav = "RIFF";
  auto put = [&wav](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) wav += char((v >> (8 * i)) & 0xFF);
  };
  put(36 + 400, 4);
  wav += "WAVEfmt ";
  put(16, 4), put(1, 2), put(2, 2), put(44100, 4), put(44100 * 4, 4), put(4, 2), put(16, 2);
  wav += "data";
  put(400, 4);
  wav += std::string(400, '\0');
  m_dir.Write("snd/a.wav", wav);
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("HOME"), Q(m_dir.Path().string()));
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), Q(m_dir.File("config")));
  program.setProcessEnvironment(env);
  const QString settings = Q(m_dir.File("cmd.ini"));
  program.start(QStringLiteral(ORVEX_BIN_DIR "/orvex"),
                {QStringLiteral("--settings"), settings, Q(show)});
  ASSERT_TRUE(program.waitForStarted(10000));
  QByteArray out;
  const QDeadlineTimer deadline(20000);
  while (!out.contains("orvex: ready\n") && !deadline.hasExpired()) {
    program.waitForReadyRead(100);
    out += program.readAllStandardOutput();
  }
  // The show is read off the UI thread; give it a moment, then close.
  QDeadlineTimer settle(300);
  while (!settle.hasExpired()) program.waitForReadyRead(50);
  program.terminate();
  ASSERT_TRUE(program.waitForFinished(20000));
  QFile file(settings);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readAll().contains(("QSHEET=" + show).c_str()));
}

}  // namespace
}  // namespace orvex

namespace orvex {
namespace {

// A pan set by remote control (a command, not the pane) shows on the
// channel's tone page, as one set on the page does.
TEST_F(MainFrameTest, APanSentAsACommandMovesTheTonePage) {
  auto* effect = static_cast<CToneCtrlPane*>(m_frame->Pane(ids::kEffectPane)->widget());
  ASSERT_NE(effect, nullptr);
  m_runtime->Console().Execute(cmd::Pan{3, -5079});
  EXPECT_EQ(effect->Page(3)->PanPosition(), -5079);
  EXPECT_EQ(effect->Page(2)->PanPosition(), 0);
  EXPECT_EQ(m_doc->GetSettings().panCh[3], -5079);
}

}  // namespace
}  // namespace orvex
