#include "ui/StartButton.h"

#include <QPainter>

namespace orvex {
namespace {

void DrawEdge(QPainter& p, const QRect& r, bool raised) {
  const QColor light = raised ? QColor(255, 255, 255) : QColor(105, 105, 105);
  const QColor dark = raised ? QColor(105, 105, 105) : QColor(255, 255, 255);
  p.setPen(light);
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(dark);
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
}

}  // namespace

CStartButton::CStartButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setFocusPolicy(Qt::StrongFocus);
}

void CStartButton::SetFontSize(int tenthsOfPoint) {
  m_fontSize = tenthsOfPoint;
  m_fontCreated = false;
}

void CStartButton::SetFaceName(const QString& face) {
  m_faceName = face;
  m_fontCreated = false;
}

void CStartButton::paintEvent(QPaintEvent*) {
  if (!m_fontCreated) {
    m_font = QFont(m_faceName);
    m_font.setStyleHint(QFont::SansSerif);
    m_font.setPointSizeF(m_fontSize / 10.0);
    m_fontCreated = true;
  }
  QPainter p(this);
  const QRect r = rect();
  p.fillRect(r, m_backColour);
  p.setFont(m_font);
  p.setPen(m_textColour);
  p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, text());
  const QRect edge = r.adjusted(0, 0, -1, -1);
  DrawEdge(p, edge, true);
  if (hasFocus()) {
    if (isDown()) DrawEdge(p, edge, false);
    QPen pen(m_textColour, 1, Qt::DotLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(4, 4, -5, -5));
  }
}

}  // namespace orvex
