// The "進行" pane: how far each channel's file has played, as a bar with the
// played part selected, the elapsed time at its left and the remaining time
// at its right. Paging a bar or letting go of its thumb seeks the channel.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include <QSlider>
#include <QWidget>

#include "engine/WaveWnd.h"

class QLabel;

namespace orvex {

// A horizontal trackbar that also shows a selected range.
class CProgressSlider : public QSlider {
 public:
  explicit CProgressSlider(QWidget* parent = nullptr);
  void SetSelection(int end);
  int SelectionEnd() const { return m_selectionEnd; }
  // How far a file has played: range, thumb and played part. Positions are
  // bytes scaled down by the returned shift so that any data size fits.
  int ShowPosition(uint32_t position, uint32_t range);
  // The shift ShowPosition uses for a data size.
  static int ShiftFor(uint32_t range);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int m_selectionEnd = 0;
};

class CProgressDlgBar : public QWidget {
 public:
  static constexpr int kSeekCommand = 315;  // + channel - 1

  explicit CProgressDlgBar(QWidget* parent = nullptr);

  // What channel ch's player shows (position, range, times). A bar that is
  // being dragged keeps its thumb.
  void UpdateChannel(int ch, const PositionDisplay& display);
  // Handed the channel and the byte offset it is to play from.
  void SetSeekHandler(std::function<void(int ch, uint32_t offset)> handler) {
    m_seek = std::move(handler);
  }

  uint32_t RequestedPosition(int ch) const { return m_rows[Index(ch)].requested; }
  bool Dragging(int ch) const { return m_rows[Index(ch)].dragging; }
  CProgressSlider* Bar(int ch) const { return m_rows[Index(ch)].bar; }
  // Bar positions are bytes scaled down so that any data size fits.
  int Shift(int ch) const { return m_rows[Index(ch)].shift; }

 private:
  struct Row {
    CProgressSlider* bar = nullptr;
    QLabel* elapsed = nullptr;
    QLabel* remaining = nullptr;
    uint32_t requested = 0;
    bool dragging = false;
    int shift = 0;
  };
  static size_t Index(int ch) { return static_cast<size_t>(ch); }
  void RequestSeek(int ch);

  std::array<Row, 7> m_rows{};  // [1..6]
  std::function<void(int, uint32_t)> m_seek;
};

}  // namespace orvex
