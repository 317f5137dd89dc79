#include "ui/LevelMeter.h"

#include <algorithm>
#include <cmath>

#include <QPainter>

namespace orvex {
namespace {

float Clamped(float level) {
  // A level past full lights the whole bar; garbage lights nothing.
  if (!std::isfinite(level) || level < 0) return 0;
  return std::min(level, 1.0f);
}

}  // namespace

CLevelMeter::CLevelMeter(std::function<PeakSource*()> source, QWidget* parent)
    : QFrame(parent), m_source(std::move(source)) {
  setFrameShape(QFrame::Box);
  setAutoFillBackground(false);
  m_timer.setTimerType(Qt::PreciseTimer);
  connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
}

void CLevelMeter::Tick() {
  float left = 0, right = 0;
  PeakSource* source = m_source ? m_source() : nullptr;
  if (!source || !source->ReadPeaks(left, right)) left = right = 0;
  m_left = Clamped(left);
  m_right = Clamped(right);
  update();
}

QRgb CLevelMeter::SegmentColour(int y, int top, int bottom, float level) {
  const int h = bottom - top;
  if (y < bottom - static_cast<int>(h * static_cast<double>(level))) return qRgb(0, 0, 0);
  if (y >= bottom - static_cast<int>(h * 0.5)) return qRgb(0, 255, 0);
  if (y >= bottom - static_cast<int>(h * 0.7)) return qRgb(255, 255, 0);
  return qRgb(255, 0, 0);
}

void CLevelMeter::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  p.fillRect(r, Qt::black);
  // Edges as the desktop gives them: right and bottom lie just outside.
  const int left = r.left(), top = r.top();
  const int right = r.left() + r.width(), bottom = r.top() + r.height();
  const int w = static_cast<int>(((right - left) / 2) * 0.8);
  for (int y = bottom; y >= top; y -= 2) {
    p.setPen(QColor(SegmentColour(y, top, bottom, m_left)));
    p.drawLine(left + 2, y, left + 2 + w, y);
    p.setPen(QColor(SegmentColour(y, top, bottom, m_right)));
    p.drawLine(right - 3, y, right - 3 - w, y);
  }
}

}  // namespace orvex
