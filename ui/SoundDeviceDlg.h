// The sound device selection dialog (273): binds each output to a device
// and enforces the rules that keep the back-ends workable; it writes the
// selections and exclusive flags into the three CSoundDevice objects only
// when every rule passes.
#pragma once

#include <array>

#include <QDialog>

#include "output/DeviceModel.h"

class QCheckBox;
class QComboBox;

namespace orvex {

class CSoundDeviceDlg : public QDialog {
 public:
  CSoundDeviceDlg(const std::array<CSoundDevice*, 3>& devices, QWidget* parent = nullptr);

  QComboBox* Combo(int output) const { return m_combos[static_cast<size_t>(output)]; }
  QCheckBox* Exclusive(int output) const { return m_checks[static_cast<size_t>(output)]; }
  void accept() override;

 private:
  void OnSelectionChanged(int output);
  void OnExclusiveToggled(int output, bool checked);

  std::array<CSoundDevice*, 3> m_devices;
  std::array<QComboBox*, 3> m_combos{};
  std::array<QCheckBox*, 3> m_checks{};
};

}  // namespace orvex
