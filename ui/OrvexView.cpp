// Construction and layout of the console form.
#include "ui/OrvexView.h"

#include <algorithm>
#include <functional>

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "session/OrvexRuntime.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"
#include "ui/FaderCtrl.h"
#include "ui/LevelMeter.h"
#include "ui/ListDlgBar.h"
#include "ui/ProgressDlgBar.h"
#include "ui/StartButton.h"

namespace orvex {
namespace {

// Control ids by channel, [1..6].
constexpr int kLinkIds[] = {0, 1344, 1347, 1349, 1352, 1355, 1358};
constexpr int kMIds[] = {0, 1102, 1399, 1400, 1401, 1402, 1403};
constexpr int kG1Ids[] = {0, 1049, 1051, 1053, 1055, 1057, 1113};
constexpr int kG2Ids[] = {0, 1050, 1052, 1054, 1056, 1058, 1114};
constexpr int kXIds[] = {0, 1059, 1062, 1064, 1066, 1068, 1115};
constexpr int kYIds[] = {0, 1061, 1063, 1065, 1067, 1069, 1116};
constexpr int kFaderIds[] = {0, 1000, 1001, 1002, 1003, 1004, 1008};
constexpr int kLevelIds[] = {0, 1317, 1318, 1319, 1320, 1321, 1322};
constexpr int kPlayIds[] = {0, 1009, 1012, 1020, 1025, 1029, 1106};
constexpr int kPauseIds[] = {0, 1011, 1014, 1022, 1027, 1031, 1107};
constexpr int kStopIds[] = {0, 1010, 1013, 1021, 1026, 1030, 1109};
constexpr int kFadeOutIds[] = {0, 1077, 1088, 1089, 1090, 1091, 1110};
constexpr int kNextIds[] = {0, 1015, 1023, 1024, 1028, 1032, 1112};
constexpr int kStripAreaIds[] = {0, 1305, 1306, 1307, 1308, 1309, 1310};
constexpr int kFaderX[] = {0, 19, 52, 84, 116, 147, 178};
// Strip areas split the columns 8..209.
constexpr int kStripSplit[] = {8, 47, 80, 111, 143, 174, 209};

constexpr int kRowQIds[] = {0, 1018, 1035, 1039, 1043, 1047, 1118};
constexpr int kRowTitleIds[] = {0, 1017, 1034, 1038, 1042, 1046, 1120};
constexpr int kRowFileIds[] = {0, 1016, 1033, 1037, 1041, 1045, 1121};
constexpr int kRowDescIds[] = {0, 1019, 1036, 1040, 1044, 1048, 1124};
constexpr int kRowPreIds[] = {0, 1092, 1093, 1094, 1095, 1096, 1132};
constexpr int kRowFadeInIds[] = {0, 1078, 1079, 1080, 1081, 1082, 1126};
constexpr int kRowFadeOutIds[] = {0, 1083, 1084, 1085, 1086, 1087, 1129};
constexpr int kRowStoreIds[] = {0, 1097, 1098, 1099, 1100, 1101, 1135};
constexpr int kRowAreaIds[] = {0, 1299, 1300, 1301, 1302, 1303, 1304};

QString Id(int id) {
  return QStringLiteral("id%1").arg(id);
}

// Hands the events of the objects it is installed on to a function.
class EventHook : public QObject {
 public:
  EventHook(QObject* parent, std::function<bool(QObject*, QEvent*)> filter)
      : QObject(parent), m_filter(std::move(filter)) {}
  bool eventFilter(QObject* watched, QEvent* event) override { return m_filter(watched, event); }

 private:
  std::function<bool(QObject*, QEvent*)> m_filter;
};

}  // namespace

COrvexView::COrvexView(COrvexRuntime& runtime, COrvexDoc& doc, QWidget* parent)
    : COrvexView(
          runtime.Console(), doc, [&runtime] { return runtime.Peaks(); }, parent) {}

COrvexView::COrvexView(CConsole& console, COrvexDoc& doc, std::function<PeakSource*()> peaks,
                       QWidget* parent)
    : QScrollArea(parent),
      m_console(console),
      m_doc(doc),
      m_peaks(std::move(peaks)),
      m_fileWatch([this] {
        for (int ch = 1; ch <= kChannels; ++ch) RefreshRowColours(ch);
      }) {
  setObjectName(QStringLiteral("COrvexView"));
  Build();
  m_console.SetListener(this);
  // Keys are looked at before any control of the window gets them.
  qApp->installEventFilter(this);
  m_meter->Start();
  m_progressTimer.setInterval(kProgressPeriodMs);
  connect(&m_progressTimer, &QTimer::timeout, this, [this] { RefreshProgress(); });
  // The view shows a file that cannot be opened itself: in the row and on
  // the status line, never as a box that would take the next GO.
  m_console.SetReportsMissingFiles(false);
  m_fileTimer.setInterval(kFileCheckPeriodMs);
  connect(&m_fileTimer, &QTimer::timeout, this, [this] { CheckFiles(); });
  m_fileTimer.start();
  RefreshAll();
}

COrvexView::~COrvexView() {
  // The hooks call back into this view: they must go before the base class
  // destroys the form and its controls, whose events they would still see.
  qApp->removeEventFilter(this);
  delete m_formHook;
  m_formHook = nullptr;
  m_console.SetListener(m_chained);
  m_console.SetReportsMissingFiles(true);
}

void COrvexView::Build() {
  m_form = new QWidget;
  m_form->setObjectName(QStringLiteral("console"));
  m_font = DialogFont();
  m_form->setFont(m_font);
  m_form->setFixedSize(DluSize(m_font, kFormWidth, kFormHeight));
  m_formHook = new EventHook(this, [this](QObject* w, QEvent* e) { return FormEvent(w, e); });
  m_form->installEventFilter(m_formHook);
  setWidget(m_form);
  setWidgetResizable(false);
  setFrameShape(QFrame::NoFrame);

  // Areas first, so that they lie under the controls they surround.
  for (int ch = 1; ch <= kChannels; ++ch) {
    m_strips[Index(ch)].area =
        Area(kStripAreaIds[ch], kStripSplit[ch - 1], 0, kStripSplit[ch] - kStripSplit[ch - 1], 232);
  }
  m_groups[1].area = Area(1311, 219, 0, 34, 130);
  m_groups[2].area = Area(1312, 253, 0, 43, 130);
  m_masterArea = Area(1313, 296, 0, 40, 130);
  for (int ch = 1; ch <= kChannels; ++ch) Area(kRowAreaIds[ch], 0, 246 + 16 * (ch - 1), 371, 14);

  for (int ch = 1; ch <= kChannels; ++ch) BuildStrip(ch);
  const char* scale[] = {"10", "5", "0"};
  const int scaleY[] = {50, 85, 119};
  for (int i = 0; i < 3; ++i) {
    Label(QString::fromUtf8(scale[i]), 9, scaleY[i], 9, 8)->setAlignment(Qt::AlignRight);
    Label(QString::fromUtf8(scale[i]), 327, scaleY[i], 9, 8);
  }
  BuildGroups();
  BuildCuePanel();
  const char* headings[] = {"Ｑ", "タイトル", "ファイル/コマンド", "説明", "PRE", "F. I", "F. O"};
  const int headingX[] = {26, 43, 120, 179, 281, 301, 321};
  const int headingW[] = {16, 73, 55, 102, 18, 18, 18};
  // A heading wider than its column ("ファイル/コマンド") stands further
  // left, over the gap after the heading before it, rather than being cut.
  const QFontMetrics metrics(m_font);
  int previousEnd = 0;  // pixels
  for (int i = 0; i < 7; ++i) {
    const QString text = QString::fromUtf8(headings[i]);
    QLabel* label = Label(text, headingX[i], 235, headingW[i], 9);
    const int textWidth = metrics.horizontalAdvance(text) + 2;
    if (textWidth > label->width()) {
      const int right =
          i + 1 < 7 ? DluToPixelsX(m_font, headingX[i + 1]) - 3 : label->x() + textWidth;
      const int left = std::max(std::min(label->x(), right - textWidth), previousEnd + 4);
      label->setGeometry(left, label->y(), right - left, label->height());
    }
    previousEnd = label->x() + std::min(textWidth, label->width());
  }
  for (int ch = 1; ch <= kChannels; ++ch) BuildDataRow(ch);
  // The window never gets so small that GO and "STOP ALL" cannot be shown
  // beside the scroll bars.
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
  setMinimumSize((m_goHome | m_stopAllHome).size() + QSize(bar, bar));
  // Every box of the form, the title lists' included, hands dropped files
  // on (FormEvent).
  for (QLineEdit* box : m_form->findChildren<QLineEdit*>()) box->installEventFilter(m_formHook);
  m_editPalette = m_rows[1].file->palette();
}

QPushButton* COrvexView::Button(const QString& caption, int id, int x, int y, int w, int h) {
  auto* b = new QPushButton(caption, m_form);
  b->setObjectName(Id(id));
  b->setGeometry(DluRect(m_font, x, y, w, h));
  b->setAutoDefault(false);
  return b;
}

QPushButton* COrvexView::Toggle(const QString& caption, int id, int x, int y, int w, int h) {
  QPushButton* b = Button(caption, id, x, y, w, h);
  b->setCheckable(true);
  return b;
}

QLineEdit* COrvexView::Edit(int id, int x, int y, int w, int h, bool readOnly) {
  auto* e = new QLineEdit(m_form);
  e->setObjectName(Id(id));
  e->setGeometry(DluRect(m_font, x, y, w, h));
  e->setReadOnly(readOnly);
  e->setTextMargins(0, 0, 0, 0);
  return e;
}

QLabel* COrvexView::Label(const QString& text, int x, int y, int w, int h) {
  auto* l = new QLabel(text, m_form);
  l->setGeometry(DluRect(m_font, x, y, w, h));
  return l;
}

QWidget* COrvexView::Area(int id, int x, int y, int w, int h) {
  auto* a = new QWidget(m_form);
  a->setObjectName(Id(id));
  a->setGeometry(DluRect(m_font, x, y, w, h));
  // Only a hit-test target: clicks go through to the form.
  a->setAttribute(Qt::WA_TransparentForMouseEvents);
  return a;
}

void COrvexView::BuildStrip(int ch) {
  Strip& s = m_strips[Index(ch)];
  const int fx = kFaderX[ch];
  s.link = Toggle(QStringLiteral("CH%1").arg(ch), kLinkIds[ch], fx + 4, 3, 20, 12);
  s.m = Toggle(QStringLiteral("M"), kMIds[ch], fx, 15, 26, 10);
  s.g1 = Toggle(QStringLiteral("G1"), kG1Ids[ch], fx, 25, 13, 10);
  s.g2 = Toggle(QStringLiteral("G2"), kG2Ids[ch], fx + 13, 25, 13, 10);
  s.x = Toggle(QStringLiteral("X"), kXIds[ch], fx, 35, 13, 10);
  s.y = Toggle(QStringLiteral("Y"), kYIds[ch], fx + 13, 35, 13, 10);
  s.fader = new CFaderCtrl(Qt::Vertical, m_form);
  s.fader->setObjectName(Id(kFaderIds[ch]));
  s.fader->setGeometry(DluRect(m_font, fx, 45, 27, 86));
  s.fader->SetShowsFocus(true);
  s.level = Edit(kLevelIds[ch], fx + 4, 130, 18, 12, true);
  s.level->setAlignment(Qt::AlignCenter);
  s.level->setFocusPolicy(Qt::NoFocus);
  s.play = Toggle(QStringLiteral("Play"), kPlayIds[ch], fx + 2, 144, 23, 16);
  s.pause = Toggle(QStringLiteral("Pause"), kPauseIds[ch], fx + 2, 162, 23, 16);
  s.stop = Toggle(QStringLiteral("Stop"), kStopIds[ch], fx + 2, 180, 23, 16);
  s.fadeOut = Toggle(QStringLiteral("F. O"), kFadeOutIds[ch], fx + 2, 198, 23, 16);
  s.next = Button(QStringLiteral("NEXT"), kNextIds[ch], fx + 2, 216, 23, 16);
  // The transport buttons carry symbols; their captions stay as tooltips
  // and accessible names.
  const std::pair<QPushButton*, QStyle::StandardPixmap> icons[] = {{s.play, QStyle::SP_MediaPlay},
                                                                   {s.pause, QStyle::SP_MediaPause},
                                                                   {s.stop, QStyle::SP_MediaStop}};
  for (const auto& [button, pixmap] : icons) {
    button->setIcon(style()->standardIcon(pixmap));
    button->setIconSize(QSize(14, 14));
    button->setToolTip(button->text());
    button->setAccessibleName(button->text());
    button->setText(QString());
  }

  connect(s.link, &QPushButton::clicked, this, [this, ch](bool on) { SetWheelLink(ch, on); });
  const std::pair<QPushButton*, Route> routes[] = {
      {s.m, Route::kM}, {s.g1, Route::kG1}, {s.g2, Route::kG2}, {s.x, Route::kX}, {s.y, Route::kY}};
  for (const auto& [button, route] : routes) {
    const Route r = route;
    connect(button, &QPushButton::clicked, this, [this, ch, r](bool on) {
      m_console.Execute(cmd::Toggle{ch, r, on});
      RefreshRouting(ch);
    });
  }
  connect(s.fader, &QSlider::valueChanged, this, [this, ch](int pos) {
    m_console.Execute(cmd::MoveFader{ch, pos});
  });
  connect(s.fader, &CFaderCtrl::WheelStep, this, [this, ch](int delta) { FaderWheel(ch, delta); });
  const std::pair<QPushButton*, cmd::Transport> transport[] = {
      {s.play, cmd::Transport::kPlay},
      {s.pause, cmd::Transport::kPause},
      {s.stop, cmd::Transport::kStop},
      {s.fadeOut, cmd::Transport::kFadeOut}};
  for (const auto& [button, action] : transport) {
    const cmd::Transport a = action;
    connect(button, &QPushButton::clicked, this, [this, ch, a] {
      m_console.Execute(cmd::Channel{a, ch});
      RefreshTransport(ch);
    });
  }
  connect(s.next, &QPushButton::clicked, this, [this, ch] {
    m_console.Execute(cmd::Channel{cmd::Transport::kNext, ch});
  });
}

void COrvexView::BuildGroups() {
  const int labelX[] = {0, 227, 257};
  const int toggleX[] = {0, 224, 255};
  const int faderX[] = {0, 226, 257};
  const int mIds[] = {0, 1103, 1104}, onIds[] = {0, 1105, 1108};
  const int xIds[] = {0, 1070, 1072}, yIds[] = {0, 1071, 1073};
  const int faderIds[] = {0, 1005, 1006};
  for (int g = 1; g <= 2; ++g) {
    Group& gr = m_groups[Index(g)];
    Label(QStringLiteral("Group%1").arg(g), labelX[g], 9, 28, 8);
    gr.m = Toggle(QStringLiteral("M"), mIds[g], toggleX[g], 21, 13, 12);
    gr.on = Toggle(QStringLiteral("ON"), onIds[g], toggleX[g] + 13, 21, 13, 12);
    gr.x = Toggle(QStringLiteral("X"), xIds[g], toggleX[g], 33, 13, 12);
    gr.y = Toggle(QStringLiteral("Y"), yIds[g], toggleX[g] + 13, 33, 13, 12);
    gr.fader = new CFaderCtrl(Qt::Vertical, m_form);
    gr.fader->setObjectName(Id(faderIds[g]));
    gr.fader->setGeometry(DluRect(m_font, faderX[g], 45, 27, 86));
    const std::pair<QPushButton*, Route> routes[] = {
        {gr.m, Route::kM}, {gr.on, Route::kOn}, {gr.x, Route::kX}, {gr.y, Route::kY}};
    for (const auto& [button, route] : routes) {
      const Route r = route;
      connect(button, &QPushButton::clicked, this, [this, g, r](bool on) {
        m_console.Execute(cmd::Toggle{kChannels + g, r, on});
        RefreshRouting(kChannels + g);
      });
    }
    const int fader = kChannels + g;
    connect(gr.fader, &QSlider::valueChanged, this, [this, fader](int pos) {
      m_console.Execute(cmd::MoveFader{fader, pos});
    });
    connect(gr.fader, &CFaderCtrl::WheelStep, this,
            [this, fader](int delta) { FaderWheel(fader, delta); });
  }
  Label(QStringLiteral("Master"), 301, 9, 28, 8);
  m_masterOn = Toggle(QStringLiteral("ON"), 1111, 305, 33, 18, 12);
  connect(m_masterOn, &QPushButton::clicked, this, [this](bool on) {
    m_console.Execute(cmd::MasterOn{on});
    RefreshRouting(0);
  });
  m_master = new CFaderCtrl(Qt::Vertical, m_form);
  m_master->setObjectName(Id(1007));
  m_master->setGeometry(DluRect(m_font, 299, 45, 27, 86));
  connect(m_master, &QSlider::valueChanged, this,
          [this](int pos) { m_console.Execute(cmd::MoveMaster{pos}); });
  connect(m_master, &CFaderCtrl::WheelStep, this, [this](int delta) { FaderWheel(0, delta); });

  m_cross = new CFaderCtrl(Qt::Horizontal, m_form);
  m_cross->setObjectName(Id(1060));
  m_cross->setGeometry(DluRect(m_font, 240, 146, 91, 23));
  m_cross->SetOwnThumb(false);
  connect(m_cross, &QSlider::valueChanged, this,
          [this](int pos) { m_console.Execute(cmd::MoveCross{pos}); });
  connect(m_cross, &CFaderCtrl::WheelStep, this, [this](int delta) { FaderWheel(-1, delta); });
  Label(QStringLiteral("Cross"), 274, 137, 24, 8);
  Label(QStringLiteral("X"), 233, 153, 6, 8);
  Label(QStringLiteral("Y"), 333, 153, 6, 8);

  Label(QStringLiteral("Level"), 340, 36, 24, 8);
  Label(QStringLiteral("Meter"), 340, 44, 24, 8);
  m_meter = new CLevelMeter(m_peaks, m_form);
  m_meter->setObjectName(Id(1377));
  m_meter->setGeometry(DluRect(m_font, 340, 54, 21, 71));
  Label(QStringLiteral("L  R"), 342, 127, 20, 8);
}

void COrvexView::BuildCuePanel() {
  Label(QStringLiteral("現在のＱ"), 233, 180, 36, 8);
  m_currentCue = Edit(1074, 269, 178, 20, 14, true);
  Label(QStringLiteral("次のＱ"), 233, 195, 36, 8);
  m_nextCue = Edit(1075, 269, 193, 20, 14, false);
  connect(m_nextCue, &QLineEdit::textEdited, this, [this](const QString& text) {
    m_console.Execute(cmd::NextCueText{text.toStdString()});
    for (int ch = 1; ch <= kChannels; ++ch) RefreshRowColours(ch);
  });
  connect(Button(QStringLiteral("呼出"), 1185, 239, 209, 22, 14), &QPushButton::clicked, this,
          [this] { m_console.Execute(cmd::CallUp{}); });
  connect(Button(QStringLiteral("前"), 1194, 263, 209, 13, 14), &QPushButton::clicked, this,
          [this] { m_console.Execute(cmd::PreviousCue{}); });
  connect(Button(QStringLiteral("次"), 1201, 276, 209, 13, 14), &QPushButton::clicked, this,
          [this] { m_console.Execute(cmd::NextCue{}); });

  m_go = new CStartButton(QStringLiteral("Q"), m_form);
  m_go->setObjectName(Id(1076));
  m_go->setGeometry(DluRect(m_font, 295, 178, 51, 30));
  m_go->SetFontSize(240);
  m_go->SetTextColour(QColor(255, 255, 0));
  m_go->SetBackColour(QColor(255, 0, 0));
  // The form's default button: Enter fires it (PressDefaultButton).
  m_go->setDefault(true);
  connect(m_go, &QPushButton::clicked, this, [this] { m_console.Execute(cmd::Go{}); });
  m_stopAll = new CStartButton(QStringLiteral("STOP ALL"), m_form);
  m_stopAll->setObjectName(Id(1179));
  m_stopAll->setGeometry(DluRect(m_font, 295, 209, 50, 14));
  m_stopAll->SetFontSize(100);
  m_stopAll->SetFaceName(QStringLiteral("Arial"));
  m_stopAll->SetTextColour(QColor(255, 255, 0));
  m_stopAll->SetBackColour(QColor(0, 0, 255));
  connect(m_stopAll, &QPushButton::clicked, this, [this] { m_console.Execute(cmd::StopAll{}); });
  m_goHome = m_go->geometry();
  m_stopAllHome = m_stopAll->geometry();
}

void COrvexView::resizeEvent(QResizeEvent* event) {
  QScrollArea::resizeEvent(event);
  KeepGoInSight();
}

void COrvexView::scrollContentsBy(int dx, int dy) {
  QScrollArea::scrollContentsBy(dx, dy);
  KeepGoInSight();
}

void COrvexView::KeepGoInSight() {
  if (!m_go || !m_stopAll) return;
  const QRect visible(-m_form->pos(), viewport()->size());
  const QRect block = m_goHome | m_stopAllHome;
  // One shift for both, so they keep their places to each other; when the
  // visible part is smaller than the pair, their top left corner stays in it.
  const auto shift = [](int low, int high, int from, int to) {
    int d = 0;
    if (high > to) d = to - high;
    if (low + d < from) d = from - low;
    return d;
  };
  const QPoint d(shift(block.left(), block.right(), visible.left(), visible.right()),
                 shift(block.top(), block.bottom(), visible.top(), visible.bottom()));
  m_go->setGeometry(m_goHome.translated(d));
  m_stopAll->setGeometry(m_stopAllHome.translated(d));
  if (!d.isNull()) {
    m_go->raise();
    m_stopAll->raise();
  }
}

void COrvexView::BuildDataRow(int ch) {
  DataRow& r = m_rows[Index(ch)];
  const int y = 246 + 16 * (ch - 1);
  Label(QStringLiteral("CH%1").arg(ch), 9, y + 3, 16, 8);
  r.q = Edit(kRowQIds[ch], 26, y, 16, 14, false);
  r.title = new QComboBox(m_form);
  r.title->setObjectName(Id(kRowTitleIds[ch]));
  r.title->setEditable(true);
  r.title->setInsertPolicy(QComboBox::NoInsert);
  r.title->setGeometry(DluRect(m_font, 43, y, 73, 14));
  r.title->installEventFilter(m_formHook);
  r.file = Edit(kRowFileIds[ch], 120, y, 55, 14, false);
  r.description = Edit(kRowDescIds[ch], 179, y, 102, 14, false);
  r.pre = Edit(kRowPreIds[ch], 281, y, 18, 14, false);
  r.fadeIn = Edit(kRowFadeInIds[ch], 301, y, 18, 14, false);
  r.fadeOut = Edit(kRowFadeOutIds[ch], 321, y, 18, 14, false);
  r.store = Button(QStringLiteral("更新"), kRowStoreIds[ch], 343, y, 19, 14);

  // What the operator types goes into the model's row at once, as the
  // model reads the row when it stores it.
  const auto bind = [this, ch](QLineEdit* edit, std::string ChannelRow::*field) {
    connect(edit, &QLineEdit::textEdited, this, [this, ch, field](const QString& text) {
      m_console.Row(ch).*field = text.toStdString();
    });
  };
  bind(r.q, &ChannelRow::q);
  bind(r.file, &ChannelRow::file);
  bind(r.description, &ChannelRow::description);
  bind(r.pre, &ChannelRow::pre);
  bind(r.fadeIn, &ChannelRow::fadeIn);
  bind(r.fadeOut, &ChannelRow::fadeOut);
  connect(r.title->lineEdit(), &QLineEdit::textEdited, this,
          [this, ch](const QString& text) { m_console.Row(ch).title = text.toStdString(); });
  connect(r.title, &QComboBox::activated, this, [this, ch](int index) {
    m_console.ChooseTitle(ch, index);
    RefreshRow(ch);
    // The chosen title reads from its start, even in the box that has the
    // focus: the operator picked it, and is not typing in it.
    m_rows[Index(ch)].title->lineEdit()->setCursorPosition(0);
  });
  connect(r.store, &QPushButton::clicked, this, [this, ch] {
    m_console.StoreChannelRecord(ch, false, true);
    RebuildCueList();
  });
}

void COrvexView::AttachCueList(CListDlgBar* list) {
  m_list = list;
  if (!list) return;
  Settings& s = m_doc.GetSettings();
  list->SetBackDisplay(s.cueListBackDisp);
  list->SetCursorFix(s.cueListCurFix != 0);
  s.cueListFontSize = list->SetListFontSize(s.cueListFontSize);
  connect(list, &CListDlgBar::CallUpRequested, this,
          [this] { m_console.Execute(cmd::CallUpCue{m_list->DoubleClickedCue()}); });
  connect(list, &CListDlgBar::ContextCommand, this, [this](int id) { OnCueListCommand(id); });
  RebuildCueList();
  RefreshCues();
}

void COrvexView::AttachProgress(CProgressDlgBar* progress) {
  m_progress = progress;
  if (!progress) {
    m_progressTimer.stop();
    return;
  }
  progress->SetSeekHandler([this](int ch, uint32_t offset) { SeekChannel(ch, offset); });
  RefreshProgress();
  m_progressTimer.start();
}

}  // namespace orvex
