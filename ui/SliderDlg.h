// The "スライダーパネル" pane: for each channel a position slider that follows
// the player and seeks where the operator lets it go, the elapsed time, and
// the markers of the channel's file on a strip above the slider, with the
// buttons that set, pick, jump to and clear them. The marker panel model
// holds the markers and decides; this only draws it and forwards clicks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include <QScrollArea>
#include <QWidget>

#include "engine/WaveWnd.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace orvex {

class CMarkerPanel;
class CProgressSlider;

// The white band above a slider with the markers as triangles and the
// played part of the file along its foot.
class CMarkerStrip : public QWidget {
 public:
  CMarkerStrip(CMarkerPanel& panel, int ch, QWidget* parent = nullptr);
  void SetPlayed(uint32_t position);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  CMarkerPanel& m_panel;
  int m_ch;
  uint32_t m_played = 0;
};

class CSliderDlg : public QWidget {
 public:
  explicit CSliderDlg(CMarkerPanel& panel, QWidget* parent = nullptr);

  // What channel ch's player shows now; a slider being dragged keeps its thumb.
  void UpdateChannel(int ch, const PositionDisplay& display);
  // The row's list box and strip after the model changed (0: every row).
  void RefreshRow(int ch);

  // Hides the panel (its hidden "閉じる" button) and tells the window. Escape
  // is not taken here: anywhere in the window it sends the focus to GO.
  void Close();
  std::function<void()> onClosed;

  CProgressSlider* Slider(int ch) const { return m_rows[Index(ch)].slider; }
  CMarkerStrip* Strip(int ch) const { return m_rows[Index(ch)].strip; }

 private:
  struct Row {
    CProgressSlider* slider = nullptr;
    QLabel* elapsed = nullptr;
    CMarkerStrip* strip = nullptr;
    QComboBox* markers = nullptr;
    int shift = 0;  // slider positions are bytes scaled down to fit an int
  };
  static size_t Index(int ch) { return static_cast<size_t>(ch); }
  void BuildRow(int ch, int sliderY);
  uint32_t SliderBytes(int ch) const;

  CMarkerPanel& m_panel;
  std::array<Row, 7> m_rows{};  // [1..6]
};

// The pane: the panel at its full size, scrolled sideways when the pane is
// narrower than that.
class CSliderDlgBar : public QScrollArea {
 public:
  explicit CSliderDlgBar(CMarkerPanel& panel, QWidget* parent = nullptr);
  CSliderDlg* Panel() const { return m_dialog; }
  // The pane's size changed and the panel shows again if it was closed.
  std::function<void()> onShownAgain;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  CSliderDlg* m_dialog = nullptr;
};

}  // namespace orvex
