#include "ui/ProgressDlgBar.h"

#include <climits>

#include <QLabel>
#include <QPainter>
#include <QStyleOptionSlider>

#include "ui/AppFont.h"
#include "ui/DialogUnits.h"

namespace orvex {
namespace {

constexpr int kBarIds[] = {0, 1379, 1380, 1381, 1382, 1383, 1384};
constexpr int kElapsedIds[] = {0, 1385, 1386, 1388, 1389, 1390, 1391};
constexpr int kRemainingIds[] = {0, 1392, 1393, 1394, 1395, 1396, 1397};

QString Id(int id) {
  return QStringLiteral("id%1").arg(id);
}

}  // namespace

CProgressSlider::CProgressSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  setRange(0, 0);
  setFocusPolicy(Qt::StrongFocus);
}

void CProgressSlider::SetSelection(int end) {
  if (end == m_selectionEnd) return;
  m_selectionEnd = end;
  update();
}

int CProgressSlider::ShiftFor(uint32_t range) {
  int shift = 0;
  while ((range >> shift) > static_cast<uint32_t>(INT_MAX)) ++shift;
  return shift;
}

int CProgressSlider::ShowPosition(uint32_t position, uint32_t range) {
  const int shift = ShiftFor(range);
  const QSignalBlocker block(this);
  setRange(0, static_cast<int>(range >> shift));
  setPageStep(std::max(1, static_cast<int>((range >> shift) / 10)));
  setValue(static_cast<int>(position >> shift));
  SetSelection(static_cast<int>(position >> shift));
  return shift;
}

void CProgressSlider::paintEvent(QPaintEvent* event) {
  QSlider::paintEvent(event);
  if (maximum() <= minimum() || m_selectionEnd <= minimum()) return;
  QStyleOptionSlider opt;
  initStyleOption(&opt);
  const QRect groove =
      style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
  const QRect handle =
      style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
  const int span = groove.width() - handle.width();
  const int x0 = groove.left() + handle.width() / 2;
  const int x1 = x0 + QStyle::sliderPositionFromValue(minimum(), maximum(), m_selectionEnd, span);
  QPainter p(this);
  const int mid = groove.center().y();
  p.fillRect(QRect(QPoint(x0, mid - 2), QPoint(x1, mid + 1)), palette().highlight());
}

CProgressDlgBar::CProgressDlgBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("id314"));
  auto* dialog = new QWidget(this);
  dialog->setObjectName(QStringLiteral("id308"));
  dialog->setFont(DialogFont());
  const QFont& f = dialog->font();
  dialog->setFixedSize(DluSize(f, 344, 58));
  // The pane never shrinks below its rows: a third row cut off would hide
  // CH3 and CH6.
  setMinimumSize(dialog->size());
  for (int ch = 1; ch <= 6; ++ch) {
    const int column = (ch - 1) / 3, line = (ch - 1) % 3;
    const int x = 4 + column * 170, y = 4 + line * 18;
    auto* name = new QLabel(QStringLiteral("CH%1").arg(ch), dialog);
    name->setGeometry(DluRect(f, x, y + 3, 14, 8));
    Row& row = m_rows[Index(ch)];
    row.elapsed = new QLabel(QStringLiteral("0:00.0"), dialog);
    row.elapsed->setObjectName(Id(kElapsedIds[ch]));
    row.elapsed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row.elapsed->setGeometry(DluRect(f, x + 14, y + 3, 26, 8));
    row.bar = new CProgressSlider(dialog);
    row.bar->setObjectName(Id(kBarIds[ch]));
    row.bar->setGeometry(DluRect(f, x + 42, y, 96, 15));
    row.remaining = new QLabel(QStringLiteral("0:00.0"), dialog);
    row.remaining->setObjectName(Id(kRemainingIds[ch]));
    row.remaining->setGeometry(DluRect(f, x + 140, y + 3, 26, 8));

    CProgressSlider* bar = row.bar;
    connect(bar, &QAbstractSlider::actionTriggered, this, [this, ch, bar](int action) {
      Row& r = m_rows[Index(ch)];
      if (action == QAbstractSlider::SliderMove) {
        r.dragging = true;
      } else if (action == QAbstractSlider::SliderPageStepAdd ||
                 action == QAbstractSlider::SliderPageStepSub) {
        r.requested = static_cast<uint32_t>(bar->sliderPosition()) << r.shift;
        r.dragging = false;
        RequestSeek(ch);
      }
    });
    connect(bar, &QAbstractSlider::sliderPressed, this,
            [this, ch] { m_rows[Index(ch)].dragging = true; });
    connect(bar, &QAbstractSlider::sliderReleased, this, [this, ch, bar] {
      Row& r = m_rows[Index(ch)];
      r.requested = static_cast<uint32_t>(bar->sliderPosition()) << r.shift;
      r.dragging = false;
      RequestSeek(ch);
    });
  }
}

void CProgressDlgBar::RequestSeek(int ch) {
  if (m_seek) m_seek(ch, m_rows[Index(ch)].requested);
}

void CProgressDlgBar::UpdateChannel(int ch, const PositionDisplay& d) {
  if (ch < 1 || ch > 6) return;
  Row& row = m_rows[Index(ch)];
  row.shift = CProgressSlider::ShiftFor(d.range);
  const QString elapsed =
      QString::fromStdString(d.shortElapsed.empty() ? "0:00.0" : d.shortElapsed);
  const QString remaining = QString::fromStdString(d.remaining.empty() ? "0:00.0" : d.remaining);
  if (row.elapsed->text() != elapsed) row.elapsed->setText(elapsed);
  if (row.remaining->text() != remaining) row.remaining->setText(remaining);
  if (row.dragging) return;
  row.bar->ShowPosition(d.position, d.range);
}

}  // namespace orvex
