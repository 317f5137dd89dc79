// The ASIO settings dialog (294 "ASIO設定"): the stored ASIO format, the
// buffer size as a multiple of the driver's minimum, and the formats of the
// files the channels have open.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <optional>

#include "output/WaveFormat.h"
#include "show/Settings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace orvex {

class CAsioKernel;

struct AsioSettingsValues {
  uint16_t channels = 2;
  int rate = 44100;
  uint16_t bits = 16;
  long bufferSize = 0;
  long minimum = 0, maximum = 0, preferred = 0;  // 0 without a driver
  bool driverOpen = false;
  std::array<std::optional<WaveFormat>, 6> formats;  // CH1..CH6, empty when nothing is open
};

class CAsioSettingsDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAsioSettingsDlg(const AsioSettingsValues& values, QWidget* parent = nullptr);

  uint16_t Channels() const;
  int Rate() const;
  uint16_t Bits() const;
  long EnteredBufferSize() const;

 private:
  void Recompute();

  QComboBox* channels_ = nullptr;  // hidden
  QComboBox* rate_ = nullptr;
  QComboBox* bits_ = nullptr;  // hidden
  QLineEdit* channelText_ = nullptr;
  QLineEdit* bitsText_ = nullptr;
  QLineEdit* blockAlign_ = nullptr;
  QLineEdit* average_ = nullptr;  // hidden
  QLineEdit* bufferSize_ = nullptr;
  QTableWidget* files_ = nullptr;
};

// Command 32821: shows the dialog with the host's and the settings' values;
// on OK stores the format and the buffer size (BUFFER_FACTOR as the rule
// gives it) and calls reopen, which closes the ASIO output, lists the drivers
// again and opens it. False when the operator cancelled.
bool RunAsioSettings(QWidget* parent, Settings& settings, CAsioKernel& host,
                     const std::array<std::optional<WaveFormat>, 6>& formats,
                     const std::function<void()>& reopen);

}  // namespace orvex
