// The WASAPI settings dialog (296): what the channels' shared streams play
// and the exclusive-mode format and buffer length. OK stores BUFSIZE and,
// with an exclusive device, the new format once the device accepts it.
#pragma once

#include <array>
#include <functional>
#include <optional>

#include <QDialog>

#include "output/WaveFormat.h"
#include "show/Settings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace orvex {

struct WasapiChannelInfo {
  bool driverOk = false;  // a working shared stream
  bool loaded = false;
  WaveFormat format;
};

class CWASAPISetDlg : public QDialog {
 public:
  // exclusiveFormat: the open exclusive device's format, nothing without one.
  // supported: asks the exclusive device about a format.
  CWASAPISetDlg(const std::array<WasapiChannelInfo, 7>& channels,
                std::optional<StoredWaveFormat> exclusiveFormat, Settings& settings,
                std::function<bool(const StoredWaveFormat&)> supported, QWidget* parent = nullptr);

  // The format OK built (with an exclusive device), to store into FORMAT.
  const std::optional<StoredWaveFormat>& NewFormat() const { return m_newFormat; }
  void accept() override;
  void RestoreDefaults();

 private:
  void OnBitsChanged();
  int Bits() const;

  std::optional<StoredWaveFormat> m_exclusive;
  Settings& m_settings;
  std::function<bool(const StoredWaveFormat&)> m_supported;
  std::optional<StoredWaveFormat> m_newFormat;
  QTableWidget* m_table = nullptr;
  QLabel* m_note = nullptr;
  QLineEdit* m_channels = nullptr;
  QComboBox* m_rate = nullptr;
  QComboBox* m_bits = nullptr;
  QLineEdit* m_container = nullptr;
  QLineEdit* m_blockAlign = nullptr;
  QLineEdit* m_buffer = nullptr;
};

// The container text the dialog shows for a bit depth.
QString ContainerText(int bits);

}  // namespace orvex
