#include "ui/FaderCtrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionSlider>
#include <QWheelEvent>

namespace orvex {

CFaderCtrl::CFaderCtrl(Qt::Orientation orientation, QWidget* parent)
    : QSlider(orientation, parent) {
  setRange(0, 100);
  setTickInterval(10);
  setSingleStep(1);
  setPageStep(10);
  setTickPosition(QSlider::TicksBothSides);
  setFocusPolicy(Qt::StrongFocus);
  if (orientation == Qt::Vertical) {
    // 0 (full level) at the top, and the arrow keys move the thumb the way
    // they point.
    setInvertedAppearance(true);
    setInvertedControls(true);
  }
}

void CFaderCtrl::wheelEvent(QWheelEvent* event) {
  const int delta =
      event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
  if (delta != 0) emit WheelStep(delta);
  event->accept();
}

void CFaderCtrl::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    setFocus(Qt::MouseFocusReason);
    event->accept();
    return;
  }
  QSlider::mousePressEvent(event);
}

void CFaderCtrl::focusInEvent(QFocusEvent* event) {
  QSlider::focusInEvent(event);
  update();
}

void CFaderCtrl::focusOutEvent(QFocusEvent* event) {
  QSlider::focusOutEvent(event);
  update();
}

QRect CFaderCtrl::ThumbRect() const {
  QStyleOptionSlider opt;
  initStyleOption(&opt);
  return style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
}

void CFaderCtrl::paintEvent(QPaintEvent* event) {
  if (!m_ownThumb) {
    QSlider::paintEvent(event);
    return;
  }
  QPainter p(this);
  QStyleOptionSlider opt;
  initStyleOption(&opt);
  // The channel line and ticks stay the style's; only the thumb is ours.
  QStyleOptionSlider groove = opt;
  groove.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderTickmarks;
  groove.state &= ~QStyle::State_HasFocus;
  if (orientation() == Qt::Vertical) {
    // Styles light the line from the minimum to the thumb. Position 0 is
    // full level at the top, so that would light what lies above the
    // thumb: a closed fader fully lit, an open one dark. Drawn the other
    // way up, with the thumb where it is, the lit part runs from the thumb
    // down to the bottom and grows with the level.
    groove.upsideDown = !groove.upsideDown;
    groove.sliderPosition = groove.maximum - (groove.sliderPosition - groove.minimum);
    groove.sliderValue = groove.maximum - (groove.sliderValue - groove.minimum);
  }
  style()->drawComplexControl(QStyle::CC_Slider, &groove, &p, this);

  const QRect t = ThumbRect();
  if (t.isEmpty()) return;
  const bool focused = m_showsFocus && hasFocus();
  p.fillRect(t, QColor::fromRgb(focused ? kFocusColour : kThumbColour));
  p.setPen(QColor(255, 0, 0));
  const int mid = t.top() + t.height() / 2;
  p.drawLine(t.left(), mid, t.right(), mid);
  // Raised edge: light top and left, dark bottom and a doubled right side.
  p.setPen(Qt::white);
  p.drawLine(t.topLeft(), t.topRight());
  p.drawLine(t.topLeft(), t.bottomLeft());
  p.setPen(QColor(150, 150, 150));
  p.drawLine(t.bottomLeft(), t.bottomRight());
  p.drawLine(t.topRight(), t.bottomRight());
  p.drawLine(t.topRight() - QPoint(1, 0), t.bottomRight() - QPoint(1, 0));
}

}  // namespace orvex
