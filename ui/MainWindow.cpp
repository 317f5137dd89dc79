#include "ui/MainWindow.h"

#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "engine/MarkerPanel.h"
#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "session/ShowCheck.h"
#include "session/ShowRecovery.h"
#include "show/IniFile.h"
#include "ui/AboutDlg.h"
#include "ui/BgmDlg.h"
#include "ui/BgmPlayDlg.h"
#include "ui/DocCommands.h"
#include "ui/FrameIds.h"
#include "ui/ListDlgBar.h"
#include "ui/Looks.h"
#include "ui/MessageBox.h"
#include "ui/MidiSetDlg.h"
#include "ui/NoticeLog.h"
#include "ui/OptionDlg.h"
#include "ui/OrvexView.h"
#include "ui/ProgressDlgBar.h"
#include "ui/ShowCheckDlg.h"
#include "ui/SliderDlg.h"
#include "ui/SoundDeviceMenu.h"
#include "ui/StartButton.h"
#include "ui/ToneCtrlPane.h"
#include "ui/ToolBarSet.h"

namespace orvex {

namespace {

constexpr const char* kStateEntry = "MainWindowState";
constexpr const char* kGeometryEntry = "MainWindowGeometry";
constexpr int kStateVersion = 1;  // bump when panes or toolbars change
constexpr const char* kReady = "レディ";
constexpr QSize kFirstSize(1280, 860);

QByteArray ToBytes(const std::vector<uint8_t>& v) {
  return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}
std::vector<uint8_t> FromBytes(const QByteArray& b) {
  return std::vector<uint8_t>(b.begin(), b.end());
}

// Beside the program in a build; in share/orvex when installed.
QString HelpFolder() {
  const QString here = QCoreApplication::applicationDirPath();
  if (QFileInfo::exists(here + QStringLiteral("/OrvexHelp.pdf"))) return here;
  return QDir::cleanPath(here + QStringLiteral("/../share/orvex"));
}

}  // namespace

CMainFrame::CMainFrame(COrvexRuntime& runtime, COrvexDoc& doc, QWidget* parent)
    : QMainWindow(parent),
      m_runtime(runtime),
      m_doc(doc),
      m_helpFolder(HelpFolder()),
      m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
  setObjectName(QStringLiteral("CMainFrame"));
  setWindowTitle(QStringLiteral("Orvex"));
  setAcceptDrops(true);
  m_look = doc.Store().GetInt(kWorkspace, kLookEntry).value_or(kLook2005);

  BuildMenus();
  BuildToolBars();
  BuildStatusBar();
  m_view = new COrvexView(m_runtime, m_doc, this);
  m_view->onNote = [this](StatusNote kind, const QString& text) { SetNote(kind, text); };
  m_view->onMissingFile = [this](int ch) { OnMissingFile(ch); };
  m_view->onPan = [this](int ch, int pan) {
    if (CToneCtrlPage* page = m_tone ? m_tone->Page(ch) : nullptr) page->SetPan(pan);
  };
  m_view->onDropFiles = [this](const QList<QUrl>& urls, const QPoint& windowPos) {
    return DropUrls(urls, windowPos);
  };
  setCentralWidget(m_view);
  m_cueList = new CListDlgBar(m_doc.Store().GetBinary("FACE", "QLIST_ORDER"));
  // The pane also reports its order as it is destroyed, after this frame is
  // gone: the saver must not reach the frame. The document outlives both.
  m_cueList->SetOrderSaver([doc = &m_doc](const std::vector<uint8_t>& order) {
    doc->Store().SetBinary("FACE", "QLIST_ORDER", order);
  });
  m_progress = new CProgressDlgBar;
  m_tone = new CToneCtrlPane;
  m_view->AttachCueList(m_cueList);
  m_view->AttachProgress(m_progress);
  CMarkerPanel& markers = m_runtime.Markers();
  m_sliders = new CSliderDlgBar(markers);
  markers.SetChangeListener([this](int ch) { m_sliders->Panel()->RefreshRow(ch); });
  m_view->AttachSliderPanel(m_sliders->Panel());
  BuildPanes();
  m_commands = new CDocCommands(m_runtime, m_doc, this);
  m_recovery = std::make_unique<ShowRecovery>(m_doc.GetSettingsPath());
  auto* recoveryTimer = new QTimer(this);
  connect(recoveryTimer, &QTimer::timeout, this, [this] { TickRecovery(); });
  recoveryTimer->start(1000);
  m_commands->focusedChannel = [this] { return FocusedChannel(); };
  m_commands->markersModified = [&markers] { return markers.Modified(); };
  m_commands->clearMarkersModified = [&markers] { markers.SetModified(false); };
  m_commands->clearPanes = [&markers] { markers.ResetRows(); };
  // A show that was loaded or created routes its first cues as their records
  // say; an edit without a reset keeps what the operator set by hand.
  m_commands->refresh = [this](bool reset) {
    CConsole& console = m_runtime.Console();
    console.RefreshAfterCueChange(reset);
    if (reset) console.ApplyFirstCueRouting();
    m_view->RebuildCueList();
    m_view->RefreshAll();
  };
  m_commands->rebuildList = [this] {
    m_view->RebuildCueList();
    m_view->RefreshAll();
  };
  m_view->SetRecordEditHandler(
      [this](int ch, int position) { m_commands->OnEditRecord(ch, position); });
  m_cueList->SetDropHandler(
      [this](const QStringList& paths) { m_commands->OnDropFiles(paths, 0); });
  ConnectCommands();

  // The first size fits the screen the window opens on, whatever its
  // scaling; the window's frame is taken off once it is known (showEvent).
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  resize(screen ? kFirstSize.boundedTo(screen->availableGeometry().size()) : kFirstSize);
  ApplyLook(m_look);
  RestoreLayout();
  m_runtime.StartUp();
  m_view->RefreshAll();
  // The console has the keyboard when the window comes up: Enter and Space
  // fire GO, and the toolbar's time box goes on showing the clock.
  m_view->GoButton()->setFocus(Qt::OtherFocusReason);
  // Pan and tone changes from the effect pane reach the channel, and the
  // stored values are what the channels start with.
  const ConsoleCommandSink send = [this](const ConsoleCommand& c) {
    m_runtime.Console().Execute(c);
  };
  ApplyStoredTone(*m_tone, m_doc.GetSettings(), send);
  connect(m_tone, &CToneCtrlPane::command, this,
          [this, send](int id) { HandleToneCommand(id, *m_tone, send); });

  // The auto-run clock text follows the console's clock.
  auto* clock = new QTimer(this);
  connect(clock, &QTimer::timeout, this, [this] {
    const QString text = QString::fromStdString(m_runtime.Console().ClockText());
    if (m_timeBox && !m_timeBox->hasFocus() && m_timeBox->text() != text) m_timeBox->setText(text);
  });
  clock->start(100);
  qApp->installEventFilter(this);
  // Messages that arrive by themselves go to the notice log, not into boxes.
  SetNoticeHandler([this](const QString& text) { AddNotice(text); });
}

CMainFrame::~CMainFrame() {
  // A check still running posts to a window that is gone: its answer is dropped.
  if (m_checker.joinable()) m_checker.join();
  // The runtime and its marker panel may outlive this window.
  m_runtime.Markers().SetChangeListener({});
  SetNoticeHandler({});
  qApp->removeEventFilter(this);
}

QAction* CMainFrame::Action(int id) const {
  auto it = m_actions.find(id);
  return it == m_actions.end() ? nullptr : it->second;
}

QDockWidget* CMainFrame::Pane(int id) const {
  auto it = m_panes.find(id);
  return it == m_panes.end() ? nullptr : it->second;
}

QToolBar* CMainFrame::ToolBar(int id) const {
  auto it = m_toolBars.find(id);
  return it == m_toolBars.end() ? nullptr : it->second;
}

QLineEdit* CMainFrame::FindAutoRunTimeBox() const {
  return m_toolBarSet->TimeBoxShown() ? m_timeBox : nullptr;
}

void CMainFrame::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("id59393"));
  // A normal widget: menu prompts cover it while shown, then it is back.
  m_message = new QLabel(QString::fromUtf8(kReady), bar);
  m_message->setObjectName(QStringLiteral("message"));
  // A long note is cut at the right, never pushing the notice button and
  // the indicators out of sight.
  m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  m_message->setMinimumWidth(1);
  bar->addWidget(m_message, 1);
  m_notices = new CNoticeLog(this);
  m_noticeButton = new QToolButton(bar);
  m_noticeButton->setObjectName(QStringLiteral("noticeButton"));
  m_noticeButton->setAutoRaise(true);
  // A click opens the log; the keyboard stays with the console.
  m_noticeButton->setFocusPolicy(Qt::NoFocus);
  connect(m_noticeButton, &QToolButton::clicked, this, &CMainFrame::OpenNoticeLog);
  bar->addPermanentWidget(m_noticeButton);
  UpdateNoticeButton();
  const char* names[] = {"CAP", "NUM", "SCRL"};
  for (int i = 0; i < 3; ++i) {
    m_indicators[i] = new QLabel(QString::fromLatin1(names[i]), bar);
    m_indicators[i]->setObjectName(QStringLiteral("indicator%1").arg(QLatin1String(names[i])));
    m_indicators[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_indicators[i]->setAlignment(Qt::AlignCenter);
    m_indicators[i]->setMinimumWidth(40);
    m_indicators[i]->setEnabled(false);
    bar->addPermanentWidget(m_indicators[i]);
  }
}

void CMainFrame::SetNote(StatusNote kind, const QString& text, bool behind) {
  std::erase_if(m_notes, [kind](const auto& note) { return note.first == kind; });
  if (!text.isEmpty()) m_notes.emplace(behind ? m_notes.begin() : m_notes.end(), kind, text);
  if (m_notes.empty()) {
    m_message->setText(QString::fromUtf8(kReady));
    m_message->setStyleSheet({});
    return;
  }
  const auto& [latest, latestText] = m_notes.back();
  m_message->setText(latestText);
  // What went wrong during the show stands out from the other notes.
  const bool alarm = latest == StatusNote::kMissingFile || latest == StatusNote::kNotice;
  m_message->setStyleSheet(alarm ? QStringLiteral("color: rgb(255, 0, 0);") : QString());
}

QString CMainFrame::StatusText() const {
  const QString temporary = statusBar()->currentMessage();
  return temporary.isEmpty() ? m_message->text() : temporary;
}

void CMainFrame::AddNotice(const QString& text, bool popUp) {
  m_notices->Add(text);
  if (popUp) {
    m_notices->PopUp();
  } else {
    ++m_unreadNotices;
    SetNote(StatusNote::kNotice,
            text.section(u'\n', 0, 0) + (text.contains(u'\n') ? QStringLiteral(" …") : QString()));
  }
  UpdateNoticeButton();
}

void CMainFrame::OpenNoticeLog() {
  m_unreadNotices = 0;
  SetNote(StatusNote::kNotice, {});
  UpdateNoticeButton();
  m_notices->PopUp(false);
}

void CMainFrame::UpdateNoticeButton() {
  m_noticeButton->setText(m_unreadNotices > 0 ? QStringLiteral("お知らせ (%1)").arg(m_unreadNotices)
                                              : QStringLiteral("お知らせ"));
  QPalette palette = m_noticeButton->parentWidget()->palette();
  if (m_unreadNotices > 0) {
    palette.setColor(QPalette::ButtonText, QColor(255, 0, 0));
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
  }
  m_noticeButton->setPalette(palette);
  // The count widens the button: the status bar makes room for it.
  m_noticeButton->setMinimumWidth(m_noticeButton->sizeHint().width() + 16);
}

void CMainFrame::OnMissingFile(int ch) {
  const CConsole& console = m_runtime.Console();
  const auto text = [&console](int channel) {
    return QStringLiteral("CH%1: %2: %3")
        .arg(channel)
        .arg(QString::fromUtf8(kCueFileCannotOpen))
        .arg(QString::fromStdString(console.MissingFile(channel)));
  };
  const std::string& path = console.MissingFile(ch);
  if (!path.empty()) {
    // Once per Open: the show's report has named the files missing then,
    // and its note stays on top.
    const bool reported = m_commands && m_commands->ReportedMissing(path);
    if (!reported) m_notices->Add(text(ch));
    SetNote(StatusNote::kMissingFile, text(ch), reported);
    return;
  }
  // That channel has moved on: the note names another channel still
  // without its file, or goes.
  for (int other = kChannels; other >= 1; --other) {
    if (!console.MissingFile(other).empty()) {
      SetNote(StatusNote::kMissingFile, text(other));
      return;
    }
  }
  SetNote(StatusNote::kMissingFile, {});
}

QDockWidget* CMainFrame::MakePane(int id, const QString& title, QWidget* contents) {
  auto* pane = new QDockWidget(title, this);
  pane->setObjectName(QStringLiteral("id%1").arg(id));
  pane->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                    QDockWidget::DockWidgetFloatable);
  pane->setAllowedAreas(Qt::AllDockWidgetAreas);
  contents->setParent(pane);
  // The panes' contents are drawn on their own light ground, as the
  // console is, whatever colour the look gives the window around them:
  // their texts are dark.
  contents->setAutoFillBackground(true);
  pane->setWidget(contents);
  pane->toggleViewAction()->setObjectName(QStringLiteral("pane%1").arg(id));
  m_panes[id] = pane;
  return pane;
}

void CMainFrame::BuildPanes() {
  setDockNestingEnabled(true);
  setDockOptions(AnimatedDocks | AllowNestedDocks | AllowTabbedDocks);
  // The right-hand panes take the full height; the bottom ones sit under
  // the console.
  setCorner(Qt::TopRightCorner, Qt::RightDockWidgetArea);
  setCorner(Qt::BottomRightCorner, Qt::RightDockWidgetArea);

  QDockWidget* cues = MakePane(ids::kCueListPane, QStringLiteral("Ｑシート"), m_cueList);
  QDockWidget* slider = MakePane(ids::kSliderPane, QStringLiteral("スライダーパネル"), m_sliders);
  QDockWidget* effect = MakePane(ids::kEffectPane, QStringLiteral("エフェクト"), m_tone);
  QDockWidget* progress = MakePane(ids::kProgressPane, QStringLiteral("進行"), m_progress);
  cues->setWindowIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
  addDockWidget(Qt::RightDockWidgetArea, cues);
  tabifyDockWidget(cues, slider);
  addDockWidget(Qt::BottomDockWidgetArea, effect);
  tabifyDockWidget(effect, progress);
  cues->raise();
  effect->raise();
}

void CMainFrame::ConnectCommands() {
  CConsole& console = m_runtime.Console();
  CDocCommands* c = m_commands;
  connect(Action(ids::kFileNew), &QAction::triggered, c, &CDocCommands::OnFileNew);
  connect(Action(ids::kFileOpen), &QAction::triggered, c, &CDocCommands::OnFileOpen);
  connect(Action(ids::kFileSave), &QAction::triggered, c, &CDocCommands::OnFileSave);
  connect(Action(ids::kFileSaveAs), &QAction::triggered, c, &CDocCommands::OnFileSaveAs);
  connect(Action(ids::kFileClose), &QAction::triggered, c, &CDocCommands::OnFileClose);
  connect(Action(ids::kAppExit), &QAction::triggered, this, &QWidget::close);
  connect(c, &CDocCommands::titleChanged, this, &CMainFrame::UpdateTitle);
  connect(c, &CDocCommands::note, this,
          [this](StatusNote kind, const QString& text) { SetNote(kind, text); });
  connect(c, &CDocCommands::showReport, this,
          [this](const QString& text) { AddNotice(text, true); });

  connect(Action(ids::kStoreFaders), &QAction::triggered, this, [this, &console] {
    if (const int ch = FocusedChannel()) console.StoreChannelRecord(ch, true, false);
  });
  connect(Action(ids::kUpdateChannelData), &QAction::triggered, this,
          [&console] { console.StoreAllRows(); });
  connect(Action(ids::kStopAll), &QAction::triggered, this,
          [&console] { console.Execute(cmd::StopAll{}); });
  const std::pair<int, cmd::AutoRunAction> autoRun[] = {
      {ids::kAutoRunRun, cmd::AutoRunAction::kRun},
      {ids::kAutoRunStop, cmd::AutoRunAction::kStop},
      {ids::kAutoRunZero, cmd::AutoRunAction::kZero},
      {ids::kAutoRunSetTiming, cmd::AutoRunAction::kTiming}};
  for (const auto& [id, action] : autoRun) {
    const cmd::AutoRunAction a = action;
    connect(Action(id), &QAction::triggered, this,
            [&console, a] { console.Execute(cmd::AutoRun{a}); });
  }

  connect(Action(ids::kHelp), &QAction::triggered, this, [this] { OpenHelpFile("OrvexHelp.pdf"); });
  connect(Action(ids::kTutorial), &QAction::triggered, this,
          [this] { OpenHelpFile("tutorial.pdf"); });
  connect(Action(ids::kAbout), &QAction::triggered, this, &CMainFrame::ShowAbout);
  connect(Action(ids::kNextPane), &QAction::triggered, this, [this] { FocusPane(1); });
  connect(Action(ids::kPrevPane), &QAction::triggered, this, [this] { FocusPane(-1); });

  connect(Action(ids::kSoundDevice), &QAction::triggered, this,
          [this] { RunSoundDeviceSelection(*this, m_runtime); });
  connect(Action(ids::kWasapiSettings), &QAction::triggered, this,
          [this] { RunWasapiSettings(*this, m_runtime); });

  connect(Action(ids::kEditCueSheet), &QAction::triggered, c, &CDocCommands::OnEditCueSheet);
  connect(Action(ids::kPreShowCheck), &QAction::triggered, this, [this] { RunShowCheck(false); });
  connect(c, &CDocCommands::showOpened, this, [this] { RunShowCheck(true); });
  QAction* sliderPanel = Action(ids::kShowSliderPanel);
  connect(sliderPanel, &QAction::toggled, this,
          [this](bool on) { m_sliders->Panel()->setVisible(on); });
  m_sliders->Panel()->onClosed = [sliderPanel] { sliderPanel->setChecked(false); };
  m_sliders->onShownAgain = [sliderPanel] { sliderPanel->setChecked(true); };
  connect(Action(ids::kOperationSettings), &QAction::triggered, this,
          [this] { RunOperationSettings(*this, m_runtime); });
  connect(Action(ids::kListOptions), &QAction::triggered, this,
          [this] { RunDisplayOptions(*this, m_doc.GetSettings(), m_cueList); });

  // The list windows: shown and hidden by their commands, which are checked
  // while they show; their close boxes only hide them.
  m_bgmDlg = new CBGMDlg(m_runtime.Console().Background(), this);
  m_bgmPlayDlg = new CBGMPlayDlg(m_runtime.Console(), this);
  QAction* bgm = Action(ids::kEditBgmList);
  QAction* lists = Action(ids::kShowBgmPlayer);
  connect(bgm, &QAction::toggled, this, [this](bool on) { m_bgmDlg->setVisible(on); });
  connect(lists, &QAction::toggled, this, [this](bool on) {
    m_bgmPlayDlg->RefreshSelected();
    m_bgmPlayDlg->setVisible(on);
  });
  m_bgmDlg->onClosed = [bgm] { bgm->setChecked(false); };
  m_bgmPlayDlg->onClosed = [lists] { lists->setChecked(false); };
  m_view->onListPage = [this](int ch, bool content) {
    content ? m_bgmPlayDlg->PageChanged(ch) : m_bgmPlayDlg->MarkedChanged(ch);
  };

  // Their dialogs come later; until then the commands are shown but cannot
  // be chosen.
  Action(ids::kAsioSettings)->setEnabled(false);
  connect(Action(ids::kMidiSettings), &QAction::triggered, this,
          [this] { RunMidiSettings(this, m_runtime); });
}

void CMainFrame::ApplyLook(int id) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  m_look = NormalizeLook(id);
  ApplyLookTo(*this, m_look);
  for (QAction* item : m_lookGroup->actions()) {
    item->setChecked(item->objectName() == QStringLiteral("id%1").arg(m_look));
  }
  m_doc.Store().SetInt(kWorkspace, kLookEntry, m_look);
  QApplication::restoreOverrideCursor();
}

void CMainFrame::RestoreLayout() {
  const IniFile& store = m_doc.Store();
  // The operator's toolbars exist before the layout places them.
  m_toolBarSet->Load(store);
  if (auto geometry = store.GetBinary(kWorkspace, kGeometryEntry)) {
    restoreGeometry(ToBytes(*geometry));
  }
  if (auto state = store.GetBinary(kWorkspace, kStateEntry)) {
    m_firstPaneSizes = !restoreState(ToBytes(*state), kStateVersion);
  }
}

void CMainFrame::SaveLayout() {
  IniFile& store = m_doc.Store();
  store.SetBinary(kWorkspace, kGeometryEntry, FromBytes(saveGeometry()));
  store.SetBinary(kWorkspace, kStateEntry, FromBytes(saveState(kStateVersion)));
  store.SetInt(kWorkspace, kLookEntry, m_look);
  m_toolBarSet->Save(store);
  // Before the settings are written at exit, not when the pane is destroyed.
  if (m_cueList) store.SetBinary("FACE", "QLIST_ORDER", m_cueList->StoredOrder());
}

void CMainFrame::OpenHelpFile(const char* name) {
  // A missing file or viewer is not reported.
  const QString path = m_helpFolder + u'/' + QString::fromLatin1(name);
  m_openUrl(QUrl::fromLocalFile(path));
}

void CMainFrame::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CMainFrame::FocusPane(int step) {
  // The console and the visible panes, in a fixed order.
  std::vector<QWidget*> stops;
  if (centralWidget()) stops.push_back(centralWidget());
  for (int id : {ids::kCueListPane, ids::kSliderPane, ids::kEffectPane, ids::kProgressPane}) {
    QDockWidget* pane = Pane(id);
    if (pane && pane->isVisible() && !pane->visibleRegion().isEmpty()) stops.push_back(pane);
  }
  if (stops.empty()) return;
  QWidget* focus = QApplication::focusWidget();
  int current = -1;
  for (size_t i = 0; i < stops.size(); ++i) {
    if (focus && (focus == stops[i] || stops[i]->isAncestorOf(focus))) current = int(i);
  }
  const int n = int(stops.size());
  const int next = current < 0 ? 0 : ((current + step) % n + n) % n;
  QWidget* target = stops[size_t(next)];
  if (auto* pane = qobject_cast<QDockWidget*>(target)) {
    pane->raise();
    target = pane->widget();
  }
  if (target) {
    QWidget* first = target->focusPolicy() != Qt::NoFocus ? target : target->nextInFocusChain();
    (first && target->isAncestorOf(first) ? first : target)->setFocus(Qt::OtherFocusReason);
  }
}

void CMainFrame::UpdateTitle(const QString& docTitle) {
  setWindowTitle(docTitle.isEmpty() ? QStringLiteral("Orvex")
                                    : docTitle + QStringLiteral(" - Orvex"));
}

int CMainFrame::FocusedChannel() const {
  return m_view ? m_view->FocusedChannelFader() : 0;
}

int CMainFrame::DropChannel(const QPoint& windowPos) const {
  // The row areas first, then the strip areas, CH1 first in each.
  for (int base : {1299, 1305}) {
    for (int ch = 1; ch <= 6; ++ch) {
      const auto* area = findChild<QWidget*>(QStringLiteral("id%1").arg(base + ch - 1));
      if (!area || !area->isVisible()) continue;
      const QPoint local = area->mapFrom(this, windowPos);
      if (area->rect().contains(local)) return ch;
    }
  }
  return 0;
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
  if (DropUrls(event->mimeData()->urls(), event->position().toPoint())) {
    event->acceptProposedAction();
  }
}

bool CMainFrame::DropUrls(const QList<QUrl>& urls, const QPoint& windowPos) {
  QStringList paths;
  for (const QUrl& url : urls) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  if (paths.isEmpty()) return false;
  m_commands->OnDropFiles(paths, DropChannel(windowPos));
  return true;
}

void CMainFrame::UpdateIndicators(int key) {
  const int index = key == Qt::Key_CapsLock ? 0 : key == Qt::Key_NumLock ? 1 : 2;
  m_lockState[index] = !m_lockState[index];
  m_indicators[index]->setEnabled(m_lockState[index]);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    // One press reaches several objects on its way; count it once.
    if ((key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_ScrollLock) &&
        watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()) {
      UpdateIndicators(key);
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  FitScreen();
  // The panes' first sizes need the window's own: given before it is shown
  // they are lost to the first layout. A restored layout keeps its sizes.
  if (!m_firstPaneSizes) return;
  m_firstPaneSizes = false;
  resizeDocks({Pane(ids::kCueListPane)}, {300}, Qt::Horizontal);
  resizeDocks({Pane(ids::kEffectPane)}, {105}, Qt::Vertical);
}

void CMainFrame::FitScreen() {
  // Only at the first showing: later the operator's size stands.
  if (m_fitted) return;
  m_fitted = true;
  const QScreen* shown = screen();
  if (!shown) return;
  const QRect available = shown->availableGeometry();
  const QRect outer = frameGeometry();
  if (available.contains(outer)) return;
  const QSize frame = outer.size() - size();
  resize(size().boundedTo(available.size() - frame).expandedTo(minimumSizeHint()));
  const QRect now = frameGeometry();
  move(pos() + QPoint(std::clamp(now.left(), available.left(),
                                 std::max(available.left(), available.right() - now.width() + 1)) -
                          now.left(),
                      std::clamp(now.top(), available.top(),
                                 std::max(available.top(), available.bottom() - now.height() + 1)) -
                          now.top()));
}

void CMainFrame::TickRecovery(bool force) {
  // A show being read already bears its new name over the old cues.
  if (m_commands->Busy()) return;
  const CConsole& console = m_runtime.Console();
  m_recovery->Tick(m_runtime.Timers().timeGetTime(), console.ShowModified(),
                   console.ShowGeneration(), m_doc, m_doc.GetShowPath(), force);
}

void CMainFrame::RunShowCheck(bool afterOpen) {
  if (m_checker.joinable()) return;  // one at a time; the running one answers
  auto show = std::make_shared<CueStore>(static_cast<const CueStore&>(m_doc));
  auto settings = std::make_shared<Settings>(m_doc.GetSettings());
  std::vector<int> skipped = m_doc.SkippedLines();
  m_checker = std::thread([this, show, settings, skipped = std::move(skipped), afterOpen] {
    auto result = std::make_shared<ShowCheckResult>(CheckCues(*show, skipped, *settings, true));
    QMetaObject::invokeMethod(
        this,
        [this, result, afterOpen] {
          m_checker.join();
          if (!afterOpen) {
            CShowCheckDlg dialog(result->findings, this);
            dialog.setObjectName(QStringLiteral("ShowCheck"));
            if (showCheckDone) QTimer::singleShot(0, &dialog, [this] { showCheckDone(); });
            dialog.exec();
          } else {
            // The open's own report has named the missing files and the
            // lines that are not cues already.
            std::vector<CheckFinding> more;
            for (const CheckFinding& f : result->findings)
              if (f.kind != "missing-file" && f.kind != "not-a-cue") more.push_back(f);
            if (!more.empty()) AddNotice(FindingsReport(more), true);
            if (showCheckDone) showCheckDone();
          }
        },
        Qt::QueuedConnection);
  });
}

bool CMainFrame::OfferRecovery() {
  if (!m_recovery->Exists()) return false;
  if (ConfirmYesNo(kRecoveryQuestion, true) != kAnswerYes) {
    m_recovery->Discard();
    return false;
  }
  std::optional<ShowRecovery::Recovered> recovered = m_recovery->Read();
  if (!recovered) return false;  // the copy's read failure has been reported
  m_commands->RestoreShow(*recovered->show, recovered->showPath);
  return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (m_closing) {
    event->accept();
    return;
  }
  m_closing = true;
  // Shortcut keys stop first, then the layout is kept for the next run.
  for (auto& [id, action] : m_actions) action->setShortcut({});
  SaveLayout();
  // The marker panel asks about its markers, then the console stops and
  // the show questions follow; the program ends after either answer.
  m_commands->OnSaveRequest();
  // Before the runtime keeps the list's path in the settings: a save may
  // give it a new one.
  m_bgmDlg->AskAtExit();
  m_runtime.Shutdown();
  // A normal end leaves no copy, unless the changes the operator wanted kept
  // could not be saved: then the copy is all there is of them.
  if (m_commands->AskAtExit()) {
    m_recovery->Discard();
  } else {
    TickRecovery(true);
  }
  m_recovery->Flush();
  event->accept();
}

}  // namespace orvex
