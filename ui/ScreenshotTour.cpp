#include "ui/ScreenshotTour.h"

#include <cstdio>
#include <cstring>

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>

#include "engine/Console.h"
#include "engine/MarkerPanel.h"
#include "session/CueSheetEdit.h"
#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "show/ListFile.h"
#include "ui/AboutDlg.h"
#include "ui/BgmDlg.h"
#include "ui/BgmPlayDlg.h"
#include "ui/CreateQSheetDlg.h"
#include "ui/DocCommands.h"
#include "ui/FrameIds.h"
#include "ui/Looks.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/MidiSetDlg.h"
#include "ui/OptionDlg.h"
#include "ui/OrvexView.h"
#include "ui/RecordDlg.h"
#include "ui/SliderDlg.h"
#include "ui/StartButton.h"
#include "ui/ToolBarCustomizeDlg.h"

namespace orvex {

namespace {

constexpr int kSettle = 250;  // ms for layouts and repaints between steps

std::vector<QMenu*> OpenMenus() {
  std::vector<QMenu*> menus;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* menu = qobject_cast<QMenu*>(w); menu && menu->isVisible()) menus.push_back(menu);
  }
  return menus;
}

}  // namespace

QString TakeScreenshotOption(int& argc, char** argv) {
  QString folder;
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
      folder = QString::fromLocal8Bit(argv[++i]);
    } else {
      argv[out++] = argv[i];
    }
  }
  argc = out;
  argv[argc] = nullptr;
  return folder;
}

CScreenshotTour::CScreenshotTour(CMainFrame& frame, const QString& folder)
    : QObject(&frame), m_frame(frame), m_folder(folder) {}

CScreenshotTour::~CScreenshotTour() {
  // The editor works on the list this tour owns.
  delete m_dialog.data();
}

void CScreenshotTour::Start() {
  QDir().mkpath(m_folder);
  const qreal ratio = m_frame.devicePixelRatioF();
  if (ratio > 1.01) m_suffix = QStringLiteral("-%1").arg(qRound(ratio * 100));
  Build();
  QTimer::singleShot(kSettle, this, [this] { RunNext(); });
}

void CScreenshotTour::RunNext() {
  if (m_next >= m_steps.size()) {
    m_frame.close();
    return;
  }
  // A copy: a step may add steps, and the vector may move under it.
  const Step step = m_steps[m_next++];
  const int wait = step();
  QTimer::singleShot(wait, this, [this] { RunNext(); });
}

void CScreenshotTour::Save(const QImage& image, const QString& name) {
  const QString path = m_folder + u'/' + name + m_suffix + QStringLiteral(".png");
  if (image.save(path, "PNG")) {
    std::printf("screenshot: %s (%dx%d)\n", qPrintable(path), image.width(), image.height());
  } else {
    std::fprintf(stderr, "screenshot: cannot write %s\n", qPrintable(path));
  }
  std::fflush(stdout);
}

void CScreenshotTour::Grab(QWidget* widget, const QString& name) {
  if (widget) Save(widget->grab().toImage(), name);
}

QImage CScreenshotTour::WindowWithMenus() const {
  const QPixmap window = m_frame.grab();
  const QPoint origin = m_frame.mapToGlobal(QPoint(0, 0));
  QRect area(origin, m_frame.size());
  const std::vector<QMenu*> menus = OpenMenus();
  for (QMenu* menu : menus) area |= menu->geometry();
  const qreal ratio = window.devicePixelRatio();
  QImage image((area.size() * ratio), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(QColor(128, 128, 128));
  QPainter p(&image);
  p.drawPixmap(origin - area.topLeft(), window);
  for (QMenu* menu : menus) p.drawPixmap(menu->geometry().topLeft() - area.topLeft(), menu->grab());
  return image;
}

void CScreenshotTour::OpenMenu(int index, int submenu) {
  QMenuBar* bar = m_frame.menuBar();
  QAction* top = bar->actions().value(index);
  if (!top || !top->menu()) return;
  QMenu* menu = top->menu();
  menu->popup(bar->mapToGlobal(bar->actionGeometry(top).bottomLeft()));
  bar->setActiveAction(top);
  if (submenu < 0) return;
  int seen = 0;
  for (QAction* item : menu->actions()) {
    if (!item->menu()) continue;
    if (seen++ != submenu) continue;
    menu->setActiveAction(item);
    item->menu()->popup(menu->mapToGlobal(menu->actionGeometry(item).topRight()));
  }
}

void CScreenshotTour::CloseMenus() {
  for (QMenu* menu : OpenMenus()) menu->hide();
}

void CScreenshotTour::Build() {
  COrvexView* view = static_cast<COrvexView*>(m_frame.centralWidget());
  // The show named on the command line is read first.
  Add([this] {
    if (m_frame.Commands().Busy() && m_waited < 100) {
      ++m_waited;
      --m_next;  // this step again
      return 100;
    }
    return kSettle;
  });
  Add([this, view] {
    Grab(view, QStringLiteral("console"));
    return 0;
  });

  const std::pair<int, const char*> looks[] = {{kLook2005, "standard"},
                                               {kLookBlue, "blue"},
                                               {kLookBlack, "black"},
                                               {kLookSilver, "silver"},
                                               {kLookAqua, "aqua"}};
  const int initialLook = m_frame.CurrentLook();
  for (const auto& [id, name] : looks) {
    Add([this, id = id] {
      m_frame.ApplyLook(id);
      return kSettle;
    });
    Add([this, id = id, name = name] {
      Grab(&m_frame, QStringLiteral("window-look-%1-%2").arg(id).arg(QLatin1String(name)));
      return 0;
    });
  }
  Add([this, initialLook] {
    m_frame.ApplyLook(initialLook);
    return kSettle;
  });

  // Each menu, and each submenu of "表示".
  const std::pair<int, const char*> menus[] = {{0, "file"}, {1, "edit"}, {2, "view"}, {3, "help"}};
  for (const auto& [index, name] : menus) {
    Add([this, index = index] {
      OpenMenu(index, -1);
      return kSettle;
    });
    Add([this, name = name] {
      Save(WindowWithMenus(), QStringLiteral("menu-%1").arg(QLatin1String(name)));
      CloseMenus();
      return kSettle;
    });
  }
  const char* viewSubmenus[] = {"view-devices", "view-toolbars", "view-looks"};
  for (int sub = 0; sub < 3; ++sub) {
    Add([this, sub] {
      OpenMenu(2, sub);
      return kSettle;
    });
    Add([this, name = viewSubmenus[sub]] {
      Save(WindowWithMenus(), QStringLiteral("menu-%1").arg(QLatin1String(name)));
      CloseMenus();
      return kSettle;
    });
  }
  // The right-click menu of the toolbars.
  Add([this] {
    QMenu* popup = m_frame.createPopupMenu();
    popup->setAttribute(Qt::WA_DeleteOnClose);
    QToolBar* bar = m_frame.ToolBar(ids::kAutoRunToolBar);
    popup->popup(bar->mapToGlobal(QPoint(bar->width() / 2, bar->height() / 2)));
    return kSettle;
  });
  Add([this] {
    Save(WindowWithMenus(), QStringLiteral("menu-toolbar-context"));
    for (QMenu* menu : OpenMenus()) menu->close();
    return kSettle;
  });

  // Each pane on its own, at the front of its tab group.
  const std::pair<int, const char*> panes[] = {{ids::kCueListPane, "cuelist"},
                                               {ids::kSliderPane, "slider"},
                                               {ids::kEffectPane, "effect"},
                                               {ids::kProgressPane, "progress"}};
  for (const auto& [id, name] : panes) {
    Add([this, id = id] {
      if (QDockWidget* pane = m_frame.Pane(id)) {
        pane->show();
        pane->raise();
      }
      return kSettle;
    });
    Add([this, id = id, name = name] {
      Grab(m_frame.Pane(id), QStringLiteral("pane-%1").arg(QLatin1String(name)));
      return 0;
    });
  }
  Add([this] {
    m_frame.Pane(ids::kCueListPane)->raise();
    m_frame.Pane(ids::kProgressPane)->raise();
    return kSettle;
  });

  // The show running: two cues fired, a moment later.
  Add([view] {
    view->GoButton()->click();
    return 400;
  });
  Add([view] {
    view->GoButton()->click();
    return 1500;
  });
  Add([this, view] {
    Grab(&m_frame, QStringLiteral("window-running"));
    Grab(m_frame.Pane(ids::kCueListPane), QStringLiteral("cuelist-running"));
    Grab(m_frame.Pane(ids::kProgressPane), QStringLiteral("progress-running"));
    Grab(view, QStringLiteral("console-running"));
    return 0;
  });

  // Dialogs: toolbar customisation, a refused save, the about box.
  Add([this] {
    auto* dialog = new CToolBarCustomizeDlg(m_frame.ToolBars(),
                                            m_frame.ToolBar(ids::kAutoRunToolBar), &m_frame);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("tourCustomize"));
    dialog->show();
    return kSettle;
  });
  Add([this] {
    auto* dialog = m_frame.findChild<QDialog*>(QStringLiteral("tourCustomize"));
    Grab(dialog, QStringLiteral("dialog-toolbar-customize"));
    if (dialog) dialog->close();
    ShowSaveProblem problem;
    problem.field = "file";
    problem.channel = 2;
    problem.qNumber = 12.5;
    problem.character = "〜";
    auto* box =
        new CMessageBox(QString::fromStdString(SaveFailureMessage(problem)), false, &m_frame);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("tourMessage"));
    box->show();
    return kSettle;
  });
  Add([this] {
    auto* box = m_frame.findChild<QDialog*>(QStringLiteral("tourMessage"));
    Grab(box, QStringLiteral("dialog-save-failed"));
    if (box) box->close();
    auto* about = new CAboutDlg(&m_frame);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setObjectName(QStringLiteral("tourAbout"));
    about->show();
    return kSettle;
  });
  Add([this] {
    auto* about = m_frame.findChild<QDialog*>(QStringLiteral("tourAbout"));
    Grab(about, QStringLiteral("dialog-about"));
    if (about) about->close();
    m_frame.Action(ids::kStopAll)->trigger();
    return kSettle;
  });
  AddEditorSteps();
}

void CScreenshotTour::ShowDialog(QDialog* dialog) {
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->show();
  m_dialog = dialog;
}

void CScreenshotTour::GrabDialog(const QString& name) {
  if (!m_dialog) return;
  Grab(m_dialog, name);
  m_dialog->close();
}

void CScreenshotTour::AddEditorSteps() {
  // The editors on the show in the console, then the settings dialogs.
  Add([this] {
    COrvexDoc& doc = m_frame.Doc();
    m_edit = std::make_unique<CueSheetEdit>(doc.GetSoundFolder(), doc.GetSettings().sortMode);
    m_edit->AddAllOf(doc);
    auto* editor = new CCreateQSheetDlg(*m_edit, &m_frame);
    ShowDialog(editor);
    editor->SelectRow(1);
    return kSettle;
  });
  Add([this] {
    GrabDialog(QStringLiteral("dialog-cue-sheet-editor"));
    const int row = m_edit->Count() > 1 ? 1 : -1;
    RecordFields fields = row < 0 ? m_edit->ProposeAdd() : m_edit->FieldsOf(row);
    fields.outputSpecified = true;
    ShowDialog(new CRecordDlg(fields, CRecordDlg::Use::kChange, &m_frame));
    return kSettle;
  });
  Add([this] {
    GrabDialog(QStringLiteral("dialog-record-editor"));
    ShowDialog(new OptionDlg(m_frame.Doc().GetSettings(), &m_frame));
    return kSettle;
  });
  Add([this] {
    GrabDialog(QStringLiteral("dialog-operation-settings"));
    ShowDialog(new CDispOption(m_frame.Doc().GetSettings(), &m_frame));
    return kSettle;
  });
  Add([this] {
    GrabDialog(QStringLiteral("dialog-display-options"));
    // Two controllers on JACK MIDI, the first one checked.
    midi::CMidiDeviceList ports;
    for (const char* name : {"lighting-desk:midi_out", "keyboard:capture_1"}) {
      midi::MidiPortInfo port{midi::MidiApi::kJack, name,
                              midi::CapsOfPort(midi::MidiApi::kJack, name)};
      ports.push_back(midi::NewMidiDevice(port));
    }
    ports[0]->m_enabled = 1;
    ShowDialog(new CMidiSetDlg(std::move(ports), "/home/show/midi.cnf", true, {}, {}, &m_frame));
    return kSettle;
  });
  Add([this] {
    GrabDialog(QStringLiteral("dialog-midi-settings"));
    // Markers on three channels, the second of each selected.
    CMarkerPanel& markers = m_frame.Runtime().Markers();
    for (int ch = 1; ch <= 3; ++ch) {
      const uint32_t range = markers.Row(ch).range;
      for (int k = 1; k <= 3; ++k)
        markers.AddMarker(ch, static_cast<uint32_t>(uint64_t{range} * k / 4));
      markers.SelectEntry(ch, 1);
    }
    QDockWidget* pane = m_frame.Pane(ids::kSliderPane);
    pane->show();
    pane->raise();
    return kSettle;
  });
  Add([this] {
    Grab(m_frame.Pane(ids::kSliderPane), QStringLiteral("pane-slider-markers"));
    auto* narrow = new CSliderDlgBar(m_frame.Runtime().Markers(), &m_frame);
    narrow->setWindowFlag(Qt::Window);
    narrow->setAttribute(Qt::WA_DeleteOnClose);
    narrow->resize(narrow->Panel()->width() * 2 / 3, narrow->Panel()->height() / 2);
    narrow->horizontalScrollBar()->setValue(narrow->horizontalScrollBar()->maximum() / 2);
    narrow->show();
    m_narrow = narrow;
    return kSettle;
  });
  Add([this] {
    if (m_narrow) {
      Grab(m_narrow, QStringLiteral("pane-slider-narrow"));
      Grab(m_frame.findChild<CSliderDlg*>(QStringLiteral("id251")), QStringLiteral("slider-panel"));
      m_narrow->close();
    }
    return AddListSteps();
  });
}

int CScreenshotTour::AddListSteps() {
  // A list of the show's own sounds, playing in the background window and
  // on CH4, with the second item unchecked.
  const QString folder = QString::fromStdString(m_frame.Doc().GetSoundFolder());
  const QStringList sounds = QDir(folder).entryList({QStringLiteral("*.wav")}, QDir::Files);
  if (sounds.isEmpty()) return 0;
  std::vector<ListItem> items;
  for (const QString& name : sounds.mid(0, 6))
    items.push_back({" " + name.toStdString(), items.size() != 1});
  const std::string list = QDir::temp().filePath(QStringLiteral("orvex-tour.lst")).toStdString();
  if (!WriteListFile(list, folder.toStdString(), items)) return 0;
  CConsole& console = m_frame.Runtime().Console();
  CBgmList& bgm = console.Background();
  bgm.Load(list);
  bgm.Select(0);
  bgm.Play();
  bgm.MoveSlider(30);
  m_frame.Action(ids::kEditBgmList)->setChecked(true);
  console.LoadChannelList(4, list);
  console.Execute(cmd::Channel{cmd::Transport::kPlay, 4});
  Add([this] {
    Grab(m_frame.BgmWindow(), QStringLiteral("window-background-list"));
    m_frame.Action(ids::kEditBgmList)->setChecked(false);
    m_frame.Action(ids::kShowBgmPlayer)->setChecked(true);
    m_frame.findChild<QTabWidget*>(QStringLiteral("id1331"))->setCurrentIndex(3);
    return kSettle;
  });
  Add([this] {
    Grab(m_frame.ListWindow(), QStringLiteral("window-channel-lists"));
    m_frame.Action(ids::kShowBgmPlayer)->setChecked(false);
    m_frame.Runtime().Console().Background().Stop();
    return 0;
  });
  return kSettle;
}

}  // namespace orvex
