#include "ui/AppFont.h"

#include <QApplication>

namespace orvex {

QFont DialogFont() {
  QFont font(QStringLiteral("IPAGothic"));
  font.setPixelSize(12);
  // If the family is missing, fall back to some sans font with Japanese glyphs
  // rather than whatever the locale prefers.
  font.setStyleHint(QFont::SansSerif);
  return font;
}

void ApplyAppFont(QApplication& app) {
  app.setFont(DialogFont());
}

}  // namespace orvex
