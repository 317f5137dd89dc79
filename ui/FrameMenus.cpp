// The main window's menu 128 and its three toolbars.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDockWidget>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QWidgetAction>

#include "ui/FrameIds.h"
#include "ui/Looks.h"
#include "ui/MainWindow.h"
#include "ui/ToolBarCustomizeDlg.h"
#include "ui/ToolBarSet.h"

namespace orvex {

namespace {

// Toolbar symbols: a letter on a tinted square where the desktop has no
// standard picture.
QIcon GlyphIcon(const QString& glyph, const QColor& colour) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(colour.darker(150));
  p.setBrush(colour);
  p.drawRoundedRect(QRectF(2, 2, 28, 28), 5, 5);
  QFont font = QApplication::font();
  font.setPixelSize(18);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, glyph);
  return QIcon(pixmap);
}

// Prompt and tooltip of each toolbar command: "prompt\ntooltip".
const char* CommandString(int id) {
  switch (id) {
    case ids::kFileNew:
      return "新規にファイルを作成\n新規ファイル";
    case ids::kFileOpen:
      return "既存のファイルを開く\n開く";
    case ids::kFileSave:
      return "Qシートを上書きして保存\n上書保存";
    case ids::kStoreFaders:
      return "現在のフェーダーレベルを記憶する\nフェーダー記憶";
    case ids::kUpdateChannelData:
      return "現在のCHデータの設定を更新する\nCHデータ更新";
    case ids::kEditCueSheet:
      return "Ｑシートを編集します\nＱシート編集";
    case ids::kEditBgmList:
      return "連続再生リストの編集\n連続再生リスト編集";
    case ids::kPreShowCheck:
      return "上演前に、Ｑシートのファイルとデバイスがそろっているか調べます\n上演前チェック";
    case ids::kShowSliderPanel:
      return "演奏の進行を示すスライダーパネルを表示します\nスライダーパネル";
    case ids::kShowBgmPlayer:
      return "連続して演奏するリストを表示します\n連続再生リスト";
    case ids::kHelp:
      return "ヘルプファイルを表示します\nヘルプ";
    case ids::kAutoRunTimeButton:
      return "オートラン時間\n時間表示";
    case ids::kAutoRunRun:
      return "オートランスタート\nラン";
    case ids::kAutoRunStop:
      return "オートランストップ\nストップ";
    case ids::kAutoRunZero:
      return "オートラン時間をゼロにセット\nゼロリセット";
    case ids::kAutoRunSetTiming:
      return "次のＱのタイミングにセット\nタイミングセット";
    case ids::kWasapiSettings:
      return "WASAPIデバイス設定します\nWASAPI設定";
    case ids::kAsioSettings:
      return "ASIOデバイスを設定します\nASIO設定";
    case ids::kMidiSettings:
      return "MIDIデバイスを設定します\nMIDI設定";
    default:
      return nullptr;
  }
}

QString IdName(int id) {
  return QStringLiteral("id%1").arg(id);
}

}  // namespace

QAction* CMainFrame::MakeAction(int id, const QString& text, const char* prompt) {
  auto* action = new QAction(text, this);
  action->setObjectName(IdName(id));
  const char* strings = prompt ? prompt : CommandString(id);
  if (strings) {
    const QStringList parts = QString::fromUtf8(strings).split(u'\n');
    action->setStatusTip(parts.value(0));
    action->setToolTip(parts.value(1, parts.value(0)));
  }
  m_actions[id] = action;
  return action;
}

void CMainFrame::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(IdName(ids::kMenuBar));

  QMenu* file = bar->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
  file->addAction(MakeAction(ids::kFileNew, QStringLiteral("新規作成(&N)...")));
  file->addAction(MakeAction(ids::kFileOpen, QStringLiteral("開く(&O)...")));
  file->addAction(MakeAction(ids::kFileSave, QStringLiteral("上書き保存(&S)")));
  file->addAction(MakeAction(ids::kFileSaveAs, QStringLiteral("名前をつけて保存(&A)...")));
  file->addAction(MakeAction(ids::kFileClose, QStringLiteral("閉じる(&C)")));
  file->addSeparator();
  file->addAction(MakeAction(ids::kPreShowCheck, QStringLiteral("上演前チェック(&K)...")));
  file->addSeparator();
  file->addAction(MakeAction(ids::kAppExit, QStringLiteral("Orvexの終了(&X)")));
  m_actions[ids::kFileNew]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  m_actions[ids::kFileOpen]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  m_actions[ids::kFileSave]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));

  QMenu* edit = bar->addMenu(QStringLiteral("編集(&E)"));
  edit->addAction(MakeAction(ids::kStoreFaders, QStringLiteral("フェーダー記憶")));
  edit->addAction(MakeAction(ids::kUpdateChannelData, QStringLiteral("CHデータ更新")));
  edit->addAction(MakeAction(ids::kEditCueSheet, QStringLiteral("Ｑシート編集...")));
  edit->addAction(MakeAction(ids::kEditBgmList, QStringLiteral("連続再生リスト編集...")));
  m_actions[ids::kEditBgmList]->setCheckable(true);
  edit->addSeparator();
  edit->addAction(MakeAction(ids::kStopAll, QStringLiteral("全チャネル一斉停止")));

  QMenu* view = bar->addMenu(QStringLiteral("表示(&V)"));
  view->addAction(MakeAction(ids::kShowBgmPlayer, QStringLiteral("連続再生リスト...")));
  m_actions[ids::kShowBgmPlayer]->setCheckable(true);
  view->addAction(MakeAction(ids::kOperationSettings, QStringLiteral("動作設定...")));
  view->addAction(MakeAction(ids::kSoundDevice, QStringLiteral("サウンドデバイス選択...")));
  QMenu* devices = view->addMenu(QStringLiteral("サウンドデバイス設定"));
  devices->addAction(MakeAction(ids::kAsioSettings, QStringLiteral("ASIO設定...")));
  devices->addAction(MakeAction(ids::kWasapiSettings, QStringLiteral("WASAPI設定...")));
  devices->addAction(MakeAction(ids::kMidiSettings, QStringLiteral("MIDIデバイス設定")));
  devices->addAction(MakeAction(ids::kListOptions, QStringLiteral("オプション")));
  // Filled with one entry per toolbar and pane once they exist.
  QMenu* bars = view->addMenu(QStringLiteral("ツール バーとドッキング ウィンドウ(&T)"));
  bars->setObjectName(IdName(ids::kToolbarsPlaceholder));
  QAction* statusBarItem = MakeAction(ids::kStatusBar, QStringLiteral("ステータス バー(&S)"));
  statusBarItem->setCheckable(true);
  statusBarItem->setChecked(true);
  connect(bars, &QMenu::aboutToShow, this, [this, bars, statusBarItem] {
    bars->clear();
    m_toolBarSet->FillMenu(*bars, PaneToggles());
    statusBarItem->setChecked(statusBar()->isVisible());
    bars->addAction(statusBarItem);
  });
  connect(statusBarItem, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });

  QMenu* looks = view->addMenu(QStringLiteral("Orvexの外観(&A)"));
  m_lookGroup = new QActionGroup(this);
  const std::pair<int, const char*> lookItems[] = {{kLook2005, "標準スタイル(&N)"},
                                                   {kLookBlue, "ブルー スタイル(&B)"},
                                                   {kLookBlack, "ブラック スタイル(&L)"},
                                                   {kLookSilver, "シルバー スタイル(&S)"},
                                                   {kLookAqua, "アクア スタイル(&A)"}};
  for (const auto& [id, text] : lookItems) {
    QAction* item = MakeAction(id, QString::fromUtf8(text));
    item->setCheckable(true);
    m_lookGroup->addAction(item);
    looks->addAction(item);
    connect(item, &QAction::triggered, this, [this, lookId = id] { ApplyLook(lookId); });
  }
  // The older looks have no menu item; a stored one leaves no item checked.
  m_lookGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);

  QMenu* help = bar->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
  help->addAction(MakeAction(ids::kHelp, QStringLiteral("ヘルプ(&H)")));
  help->addAction(MakeAction(ids::kTutorial, QStringLiteral("Orvex の使い方(&T)")));
  help->addAction(MakeAction(ids::kAbout, QStringLiteral("Orvex のﾊﾞｰｼﾞｮﾝ情報(&A)...")));

  // Pane switching; the edit keys stay with the focused control.
  MakeAction(ids::kNextPane, QStringLiteral("次のペイン"))->setShortcut(Qt::Key_F6);
  MakeAction(ids::kPrevPane, QStringLiteral("前のペイン"))
      ->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
  addAction(m_actions[ids::kNextPane]);
  addAction(m_actions[ids::kPrevPane]);
}

void CMainFrame::BuildToolBars() {
  QStyle* style = QApplication::style();
  auto makeBar = [this](int id, const QString& title) {
    auto* bar = new QToolBar(title, this);
    bar->setObjectName(IdName(id));
    bar->setIconSize(QSize(20, 20));
    bar->setAllowedAreas(Qt::AllToolBarAreas);
    addToolBar(Qt::TopToolBarArea, bar);
    m_toolBars[id] = bar;
    return bar;
  };

  m_actions[ids::kFileNew]->setIcon(style->standardIcon(QStyle::SP_FileIcon));
  m_actions[ids::kFileOpen]->setIcon(style->standardIcon(QStyle::SP_DialogOpenButton));
  m_actions[ids::kFileSave]->setIcon(style->standardIcon(QStyle::SP_DialogSaveButton));
  m_actions[ids::kStoreFaders]->setIcon(GlyphIcon(QStringLiteral("記"), QColor(70, 120, 180)));
  m_actions[ids::kUpdateChannelData]->setIcon(GlyphIcon(QStringLiteral("更"), QColor(70, 140, 90)));
  m_actions[ids::kEditCueSheet]->setIcon(GlyphIcon(QStringLiteral("Ｑ"), QColor(170, 90, 60)));
  m_actions[ids::kEditBgmList]->setIcon(GlyphIcon(QStringLiteral("編"), QColor(120, 90, 160)));
  m_actions[ids::kShowBgmPlayer]->setIcon(GlyphIcon(QStringLiteral("♪"), QColor(120, 90, 160)));
  m_actions[ids::kHelp]->setIcon(style->standardIcon(QStyle::SP_DialogHelpButton));

  // The auto-run time box stands in the place of button 32810.
  m_timeBox = new QLineEdit(QStringLiteral("00:00:00.0"));
  m_timeBox->setObjectName(IdName(ids::kAutoRunTimeBox));
  m_timeBox->setFixedWidth(72);
  m_timeBox->setAlignment(Qt::AlignRight);
  const QStringList timeStrings =
      QString::fromUtf8(CommandString(ids::kAutoRunTimeButton)).split(u'\n');
  m_timeBox->setStatusTip(QStringLiteral("オートラン時間表示"));
  m_timeBox->setToolTip(timeStrings.value(1));
  m_timeAction = new QWidgetAction(this);
  m_timeAction->setObjectName(IdName(ids::kAutoRunTimeBox));
  m_timeAction->setDefaultWidget(m_timeBox);
  for (int id : {ids::kAutoRunRun, ids::kAutoRunStop, ids::kAutoRunZero, ids::kAutoRunSetTiming}) {
    MakeAction(id, QString::fromUtf8(CommandString(id)).split(u'\n').value(1));
  }
  m_actions[ids::kAutoRunRun]->setIcon(style->standardIcon(QStyle::SP_MediaPlay));
  m_actions[ids::kAutoRunStop]->setIcon(style->standardIcon(QStyle::SP_MediaStop));
  m_actions[ids::kAutoRunZero]->setIcon(GlyphIcon(QStringLiteral("0"), QColor(90, 90, 90)));
  m_actions[ids::kAutoRunSetTiming]->setIcon(GlyphIcon(QStringLiteral("T"), QColor(180, 130, 40)));
  m_actions[ids::kWasapiSettings]->setIcon(GlyphIcon(QStringLiteral("W"), QColor(60, 110, 160)));
  m_actions[ids::kAsioSettings]->setIcon(GlyphIcon(QStringLiteral("A"), QColor(160, 60, 60)));
  m_actions[ids::kMidiSettings]->setIcon(GlyphIcon(QStringLiteral("M"), QColor(60, 140, 120)));

  // The buttons each toolbar comes with (0: separator); the set places them
  // and keeps what the operator changes.
  m_toolBarSet = new CToolBarSet(
      *this, [this](int id) { return Action(id); }, m_timeAction);
  m_toolBarSet->customize = [this](QToolBar* bar) { CustomizeToolBars(bar); };
  m_toolBarSet->AddBuiltIn(
      makeBar(ids::kMainToolBar, QStringLiteral("標準")),
      {ids::kFileNew, ids::kFileOpen, ids::kFileSave, 0, ids::kStoreFaders, ids::kUpdateChannelData,
       ids::kEditCueSheet, ids::kEditBgmList, 0, ids::kShowBgmPlayer, 0, ids::kHelp});
  m_toolBarSet->AddBuiltIn(makeBar(ids::kAutoRunToolBar, QStringLiteral("オートラン")),
                           {ids::kAutoRunTimeButton, ids::kAutoRunRun, ids::kAutoRunStop, 0,
                            ids::kAutoRunZero, ids::kAutoRunSetTiming});
  m_toolBarSet->AddBuiltIn(makeBar(ids::kDeviceToolBar, QStringLiteral("デバイス")),
                           {ids::kWasapiSettings, ids::kAsioSettings, ids::kMidiSettings});
  // No menu or standard toolbar carries the panel switch: the operator's
  // own toolbars can.
  MakeAction(ids::kShowSliderPanel, QStringLiteral("スライダーパネル"));
  m_actions[ids::kShowSliderPanel]->setCheckable(true);
  m_actions[ids::kShowSliderPanel]->setChecked(true);
  m_actions[ids::kShowSliderPanel]->setIcon(GlyphIcon(QStringLiteral("S"), QColor(60, 110, 170)));
  m_toolBarSet->AddChoice(ids::kShowSliderPanel);
}

std::vector<QAction*> CMainFrame::PaneToggles() const {
  std::vector<QAction*> toggles;
  for (int id : {ids::kCueListPane, ids::kSliderPane, ids::kEffectPane, ids::kProgressPane}) {
    if (QDockWidget* d = Pane(id)) toggles.push_back(d->toggleViewAction());
  }
  return toggles;
}

QMenu* CMainFrame::createPopupMenu() {
  // Right-click on a toolbar or a pane caption.
  auto* menu = new QMenu(this);
  m_toolBarSet->FillMenu(*menu, PaneToggles());
  return menu;
}

void CMainFrame::CustomizeToolBars(QToolBar* bar) {
  CToolBarCustomizeDlg dialog(*m_toolBarSet, bar, this);
  dialog.exec();
}

}  // namespace orvex
