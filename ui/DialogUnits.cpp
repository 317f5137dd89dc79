#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QLabel>
#include <QWidget>

namespace orvex {

DluBase DialogBaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return DialogBaseUnits(width, metrics.height());
}

DluBase DialogBaseUnits(int alphabetWidth, int fontHeight) {
  // Integer steps on purpose: rounding the average instead moves controls by
  // a pixel for some fonts.
  return DluBase{(alphabetWidth / 26 + 1) / 2, fontHeight};
}

int DluToPixelsX(const DluBase& base, int x) {
  return x * base.x / 4;
}
int DluToPixelsY(const DluBase& base, int y) {
  return y * base.y / 8;
}
int DluToPixelsX(const QFont& font, int x) {
  return DluToPixelsX(DialogBaseUnits(font), x);
}
int DluToPixelsY(const QFont& font, int y) {
  return DluToPixelsY(DialogBaseUnits(font), y);
}

QSize DluSize(const QFont& font, int w, int h) {
  const DluBase base = DialogBaseUnits(font);
  return QSize(DluToPixelsX(base, w), DluToPixelsY(base, h));
}

QRect DluRect(const QFont& font, int x, int y, int w, int h) {
  const DluBase base = DialogBaseUnits(font);
  return QRect(DluToPixelsX(base, x), DluToPixelsY(base, y), DluToPixelsX(base, w),
               DluToPixelsY(base, h));
}

}  // namespace orvex

namespace orvex {

DluPlacer::DluPlacer(QWidget* dialog) : m_dialog(dialog) {}

QRect DluPlacer::Rect(int x, int y, int w, int h) const {
  return DluRect(m_dialog->font(), x, y, w, h);
}

QSize DluPlacer::Size(int w, int h) const {
  return DluSize(m_dialog->font(), w, h);
}

void DluPlacer::Place(QWidget* control, int id, int x, int y, int w, int h) {
  if (control->parentWidget() != m_dialog) control->setParent(m_dialog);
  if (id != 0) control->setObjectName(QStringLiteral("id%1").arg(id));
  control->setGeometry(Rect(x, y, w, h));
}

QLabel* DluPlacer::Label(const QString& text, int x, int y, int w, int h) {
  return Put(new QLabel(text, m_dialog), 0, x, y, w, h);
}

}  // namespace orvex
