// Dialog units: control positions are given in quarters of the font's average
// character width and eighths of its height, so a dialog keeps its proportions
// when the font changes.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace orvex {

struct DluBase {
  int x = 0;  // pixels per 4 horizontal units
  int y = 0;  // pixels per 8 vertical units
};

DluBase DialogBaseUnits(const QFont& font);
// alphabetWidth: the advance of "A".."Z" followed by "a".."z" in pixels.
DluBase DialogBaseUnits(int alphabetWidth, int fontHeight);

// Each value is converted on its own and truncated, as the desktop does it.
int DluToPixelsX(const DluBase& base, int x);
int DluToPixelsY(const DluBase& base, int y);
int DluToPixelsX(const QFont& font, int x);
int DluToPixelsY(const QFont& font, int y);

QSize DluSize(const QFont& font, int w, int h);
QRect DluRect(const QFont& font, int x, int y, int w, int h);

}  // namespace orvex

class QLabel;
class QWidget;

namespace orvex {

// Puts a dialog's controls at dialog-unit rectangles of the dialog's font,
// each named by its id ("id1148") when it has one.
class DluPlacer {
 public:
  explicit DluPlacer(QWidget* dialog);
  template <class W>
  W* Put(W* control, int id, int x, int y, int w, int h) {
    Place(control, id, x, y, w, h);
    return control;
  }
  QLabel* Label(const QString& text, int x, int y, int w, int h = 8);
  QRect Rect(int x, int y, int w, int h) const;
  QSize Size(int w, int h) const;

 private:
  void Place(QWidget* control, int id, int x, int y, int w, int h);
  QWidget* m_dialog;
};

}  // namespace orvex
