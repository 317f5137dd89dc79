// GO and "STOP ALL": a button drawn in its own colours with a large caption.
#pragma once

#include <QColor>
#include <QPushButton>

namespace orvex {

class CStartButton : public QPushButton {
 public:
  explicit CStartButton(const QString& text, QWidget* parent = nullptr);

  void SetFontSize(int tenthsOfPoint);
  void SetFaceName(const QString& face);
  void SetTextColour(QColor colour) { m_textColour = colour; }
  void SetBackColour(QColor colour) { m_backColour = colour; }

  int FontSize() const { return m_fontSize; }
  QColor TextColour() const { return m_textColour; }
  QColor BackColour() const { return m_backColour; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int m_fontSize = 240;
  QString m_faceName = QStringLiteral("Arial");
  bool m_fontCreated = false;
  QFont m_font;
  QColor m_textColour = Qt::black;
  QColor m_backColour = Qt::lightGray;
};

}  // namespace orvex
