// The console's two-bar meter of the master output: every 50 ms it reads the
// peaks from whatever source the output set-up attached, and draws each bar
// as segments, green to half height, yellow to 0.7, red above.
#pragma once

#include <functional>

#include <QFrame>
#include <QTimer>

#include "output/PeakSource.h"

namespace orvex {

class CLevelMeter : public QFrame {
 public:
  static constexpr int kPeriodMs = 50;  // timer 307

  // source is asked on every tick, so a source attached later is picked up.
  explicit CLevelMeter(std::function<PeakSource*()> source, QWidget* parent = nullptr);

  void Start() { m_timer.start(kPeriodMs); }
  void Stop() { m_timer.stop(); }
  bool Running() const { return m_timer.isActive(); }

  // One tick: reads the peaks and redraws the bars.
  void Tick();
  float Left() const { return m_left; }
  float Right() const { return m_right; }

  // The colour of the segment at row y of a meter spanning top..bottom at
  // this level (black when unlit).
  static QRgb SegmentColour(int y, int top, int bottom, float level);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<PeakSource*()> m_source;
  QTimer m_timer;
  float m_left = 0;
  float m_right = 0;
};

}  // namespace orvex
