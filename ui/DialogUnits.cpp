#include "ui/DialogUnits.h"

#include <QFontMetrics>

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
