// A console fader: a trackbar whose wheel goes to the console instead of
// moving the thumb, which takes the focus on a right click, and whose thumb
// is drawn in the console's own look.
#pragma once

#include <QRgb>
#include <QSlider>

namespace orvex {

class CFaderCtrl : public QSlider {
  Q_OBJECT

 public:
  explicit CFaderCtrl(Qt::Orientation orientation, QWidget* parent = nullptr);

  // Channel faders show their focus by the thumb's colour.
  void SetShowsFocus(bool shows) { m_showsFocus = shows; }
  // The cross-fader keeps the standard thumb.
  void SetOwnThumb(bool own) { m_ownThumb = own; }
  QRect ThumbRect() const;

  static constexpr QRgb kFocusColour = 0xFFA8EFAF;  // 168,239,175
  static constexpr QRgb kThumbColour = 0xFFF9F9F9;  // 249,249,249

 signals:
  // One wheel notch over the fader; only the sign of delta counts.
  void WheelStep(int delta);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  bool m_showsFocus = false;
  bool m_ownThumb = true;
};

}  // namespace orvex
