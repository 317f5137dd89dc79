// The tone window: one page per channel CH1..CH6 with its pan and its three
// tone bands (Low, Mid, High), on tabs. The main window docks it as the pane
// "エフェクト". A page reports a change as a command to the main view after
// storing its channel in the window: 187 pan, 188 Mid, 189 Low, 190 High.
#pragma once

#include <QWidget>
#include <array>
#include <functional>

#include "engine/ConsoleCommand.h"
#include "show/Settings.h"

class QLineEdit;
class QSlider;
class QTabWidget;

namespace orvex {

inline constexpr int kPanCommand = 187;
inline constexpr int kToneMidCommand = 188;
inline constexpr int kToneLowCommand = 189;
inline constexpr int kToneHighCommand = 190;

// The band (0 Low, 1 Mid, 2 High) of a tone command, -1 for others.
int ToneCommandBand(int command);

class CToneCtrlPage : public QWidget {
  Q_OBJECT
 public:
  CToneCtrlPage(int channel, QWidget* parent = nullptr);
  int Channel() const { return channel_; }

  // Set from outside: no command is sent.
  void SetPan(int position);
  void SetTone(int band, float x);
  int PanPosition() const;
  // Slider position (-150..150) of a band.
  int TonePosition(int band) const;

 signals:
  void commandSent(int channel, int command);

 private:
  void ShowPanText(int position);

  int channel_;
  QSlider* pan_ = nullptr;
  QLineEdit* panText_ = nullptr;
  std::array<QSlider*, 3> tone_{};  // by band
};

// Dialog 283: the tab control 1332 with the six pages.
class CToneCtrlDlgPage : public QWidget {
  Q_OBJECT
 public:
  explicit CToneCtrlDlgPage(QWidget* parent = nullptr);
  CToneCtrlPage* Page(int channel) const;
  QTabWidget* Tabs() const { return tabs_; }

 signals:
  void commandSent(int channel, int command);

 private:
  QTabWidget* tabs_ = nullptr;
  std::array<CToneCtrlPage*, 6> pages_{};
};

class CToneCtrlPane : public QWidget {
  Q_OBJECT
 public:
  explicit CToneCtrlPane(QWidget* parent = nullptr);
  CToneCtrlDlgPage* Dialog() const { return dialog_; }
  CToneCtrlPage* Page(int channel) const { return dialog_->Page(channel); }

  // The channel of the page that last sent a pan or a tone command.
  int PanChannel() const { return panChannel_; }
  int ToneChannel() const { return toneChannel_; }

 signals:
  // Sent after PanChannel or ToneChannel was set.
  void command(int id);

 private:
  CToneCtrlDlgPage* dialog_ = nullptr;
  int panChannel_ = 0;
  int toneChannel_ = 0;
};

// Where the pane's pan and tone changes go: the console.
using ConsoleCommandSink = std::function<void(const ConsoleCommand&)>;

// The main view's action for commands 187..190 from the pane: the pan, or
// the band's gain x = slider / 10, of the page's channel as a console command.
void HandleToneCommand(int id, const CToneCtrlPane& pane, const ConsoleCommandSink& send);
// At start, after the outputs are set up: the stored pan and tone values of
// CH1..CH6 reach the channels and the pages.
void ApplyStoredTone(CToneCtrlPane& pane, const Settings& settings, const ConsoleCommandSink& send);

}  // namespace orvex
