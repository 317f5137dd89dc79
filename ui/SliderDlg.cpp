#include "ui/SliderDlg.h"

#include <algorithm>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>

#include "engine/MarkerPanel.h"
#include "show/Messages.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"
#include "ui/ProgressDlgBar.h"

namespace orvex {
namespace {

struct RowIds {
  int slider, elapsed, strip, top, jump, list, add, remove, mark, clear;
};
constexpr RowIds kIds[7] = {{},
                            {1221, 1241, 1261, 1149, 1147, 1246, 1251, 1256, 1188, 1267},
                            {1224, 1242, 1262, 1151, 1154, 1247, 1252, 1257, 1196, 1268},
                            {1227, 1243, 1263, 1153, 1155, 1248, 1253, 1258, 1202, 1271},
                            {1231, 1244, 1264, 1157, 1160, 1249, 1254, 1259, 1204, 1282},
                            {1233, 1245, 1265, 1159, 1163, 1250, 1255, 1260, 1206, 1285},
                            {1270, 1280, 1292, 1162, 1165, 1284, 1287, 1289, 1208, 1294}};
constexpr int kSliderY[7] = {0, 54, 95, 134, 174, 212, 251};
constexpr int kWidth = 359, kHeight = 284;

}  // namespace

CMarkerStrip::CMarkerStrip(CMarkerPanel& panel, int ch, QWidget* parent)
    : QWidget(parent), m_panel(panel), m_ch(ch) {}

void CMarkerStrip::SetPlayed(uint32_t position) {
  if (position == m_played) return;
  m_played = position;
  update();
}

void CMarkerStrip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const uint32_t range = m_panel.Row(m_ch).range;
  if (range > 0 && m_played > 0) {
    // The played part along the foot, under the markers.
    const auto x = static_cast<int>(uint64_t{static_cast<uint32_t>(width())} *
                                    std::min(m_played, range) / range);
    p.fillRect(QRect(0, height() - 2, x, 2), QColor(120, 170, 230));
  }
  p.setRenderHint(QPainter::Antialiasing, false);
  for (const StripMark& m : m_panel.StripMarks(m_ch, width(), height())) {
    const QColor colour = m.selected ? QColor(255, 0, 0) : QColor(0, 0, 0);
    QPainterPath triangle;
    triangle.moveTo(m.x, m.tipY);
    triangle.lineTo(m.x - m.halfWidth, m.topY);
    triangle.lineTo(m.x + m.halfWidth, m.topY);
    triangle.closeSubpath();
    p.setPen(colour);
    p.setBrush(colour);
    p.drawPath(triangle);
  }
}

void CMarkerStrip::mouseDoubleClickEvent(QMouseEvent* event) {
  const int x = event->position().toPoint().x();
  if (x >= 0 && x < width()) m_panel.AddAtStrip(m_ch, x, width());
}

CSliderDlg::CSliderDlg(CMarkerPanel& panel, QWidget* parent) : QWidget(parent), m_panel(panel) {
  setObjectName(QStringLiteral("id251"));
  setFont(DialogFont());
  DluPlacer at(this);
  auto* clearAll =
      at.Put(new QPushButton(QStringLiteral("全マーク クリア")), 1266, 231, 11, 70, 14);
  connect(clearAll, &QPushButton::clicked, this, [this] {
    if (ConfirmYesNo(kClearAllMarkersQuestion, true) == kAnswerYes) m_panel.ClearAll();
  });
  for (int ch = 1; ch <= 6; ++ch) BuildRow(ch, kSliderY[ch]);
  // The panel's default button: never seen, it only closes the panel.
  auto* close = at.Put(new QPushButton(QStringLiteral("閉じる")), 1, 0, 0, 1, 1);
  close->hide();
  connect(close, &QPushButton::clicked, this, &CSliderDlg::Close);
  setFixedSize(at.Size(kWidth, kHeight));
  RefreshRow(0);
}

void CSliderDlg::Close() {
  hide();
  if (onClosed) onClosed();
}

void CSliderDlg::BuildRow(int ch, int y) {
  DluPlacer at(this);
  const RowIds& id = kIds[ch];
  Row& row = m_rows[Index(ch)];
  at.Label(QStringLiteral("CH%1").arg(ch), 8, y + 2, 22);
  row.slider = at.Put(new CProgressSlider, id.slider, 32, y, 278, 14);
  row.strip = at.Put(new CMarkerStrip(m_panel, ch), id.strip, 40, y - 7, 261, 7);
  auto* top = at.Put(new QPushButton(QStringLiteral("Top")), id.top, 32, y - 21, 24, 12);
  auto* jump = at.Put(new QPushButton(QStringLiteral("Jump to")), id.jump, 58, y - 21, 34, 12);
  row.markers = at.Put(new QComboBox, id.list, 94, y - 21, 70, 12);
  row.markers->setEditable(true);
  row.markers->setInsertPolicy(QComboBox::NoInsert);
  auto* add = at.Put(new QPushButton(QStringLiteral("追加")), id.add, 166, y - 21, 26, 12);
  auto* remove = at.Put(new QPushButton(QStringLiteral("削除")), id.remove, 194, y - 21, 26, 12);
  row.elapsed = at.Put(new QLabel(QStringLiteral("0.00.000")), id.elapsed, 258, y - 19, 48, 8);
  row.elapsed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* mark = at.Put(new QPushButton(QStringLiteral("マーク")), id.mark, 312, y - 21, 40, 12);
  auto* clear = at.Put(new QPushButton(QStringLiteral("クリア")), id.clear, 312, y, 40, 12);

  CProgressSlider* slider = row.slider;
  connect(slider, &QAbstractSlider::actionTriggered, this, [this, ch, slider](int action) {
    if (action == QAbstractSlider::SliderMove) {
      m_panel.SetDragging(ch, true);
    } else if (action == QAbstractSlider::SliderPageStepAdd ||
               action == QAbstractSlider::SliderPageStepSub) {
      m_panel.SeekTo(ch, static_cast<uint32_t>(slider->sliderPosition())
                             << m_rows[Index(ch)].shift);
    }
  });
  connect(slider, &QAbstractSlider::sliderPressed, this,
          [this, ch] { m_panel.SetDragging(ch, true); });
  connect(slider, &QAbstractSlider::sliderReleased, this,
          [this, ch] { m_panel.SeekTo(ch, SliderBytes(ch)); });
  connect(top, &QPushButton::clicked, this, [this, ch] { m_panel.Top(ch); });
  connect(jump, &QPushButton::clicked, this, [this, ch] { m_panel.JumpTo(ch); });
  connect(row.markers, &QComboBox::activated, this,
          [this, ch](int index) { m_panel.SelectEntry(ch, index); });
  connect(add, &QPushButton::clicked, this, [this, ch] {
    m_panel.AddTyped(ch, m_rows[Index(ch)].markers->currentText().toStdString());
  });
  connect(remove, &QPushButton::clicked, this, [this, ch] { m_panel.DeleteSelected(ch); });
  connect(mark, &QPushButton::clicked, this, [this, ch] { m_panel.Mark(ch, SliderBytes(ch)); });
  connect(clear, &QPushButton::clicked, this, [this, ch] { m_panel.ClearChannel(ch); });
}

uint32_t CSliderDlg::SliderBytes(int ch) const {
  const Row& row = m_rows[Index(ch)];
  return static_cast<uint32_t>(row.slider->sliderPosition()) << row.shift;
}

void CSliderDlg::UpdateChannel(int ch, const PositionDisplay& d) {
  if (ch < 1 || ch > 6) return;
  Row& row = m_rows[Index(ch)];
  row.shift = CProgressSlider::ShiftFor(d.range);
  const QString elapsed =
      QString::fromStdString(d.longElapsed.empty() ? "0:00.000" : d.longElapsed);
  if (row.elapsed->text() != elapsed) row.elapsed->setText(elapsed);
  row.strip->SetPlayed(d.position);
  if (m_panel.Row(ch).dragging) return;
  row.slider->ShowPosition(d.position, d.range);
}

void CSliderDlg::RefreshRow(int ch) {
  if (ch == 0) {
    for (int c = 1; c <= 6; ++c) RefreshRow(c);
    return;
  }
  if (ch < 1 || ch > 6) return;
  Row& row = m_rows[Index(ch)];
  // What the operator is typing stays in the edit field.
  const QString typed = row.markers->currentText();
  const QSignalBlocker block(row.markers);
  row.markers->clear();
  for (const std::string& text : m_panel.EntryTexts(ch))
    row.markers->addItem(QString::fromStdString(text));
  const int entry = m_panel.Row(ch).entry;
  row.markers->setCurrentIndex(entry);
  if (entry < 0) row.markers->setEditText(typed);
  row.strip->update();
}

CSliderDlgBar::CSliderDlgBar(CMarkerPanel& panel, QWidget* parent) : QScrollArea(parent) {
  m_dialog = new CSliderDlg(panel);
  setWidget(m_dialog);
  setWidgetResizable(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFrameShape(QFrame::NoFrame);
}

void CSliderDlgBar::resizeEvent(QResizeEvent* event) {
  QScrollArea::resizeEvent(event);
  // Sizing the pane brings a closed panel back, as the pane shows it whole.
  if (m_dialog->isHidden() && m_dialog->testAttribute(Qt::WA_WState_ExplicitShowHide)) {
    m_dialog->show();
    if (onShownAgain) onShownAgain();
  }
  // A tenth of what is hidden per page, a thirtieth per step.
  QScrollBar* bar = horizontalScrollBar();
  const int range = bar->maximum() - bar->minimum();
  bar->setPageStep(std::max(1, range / 10));
  bar->setSingleStep(std::max(1, range / 30));
}

}  // namespace orvex
