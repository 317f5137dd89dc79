// "MIDI設定": which MIDI input ports drive the console, each port's channel
// table and use of Start/Stop, the settings file, and connecting at start.
// The dialog edits a list of its own; the window hands it to MIDI after it
// closes, with every port disconnected first.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include <QDialog>

#include "midi/MidiDevice.h"

class QCheckBox;
class QLineEdit;
class QListWidget;

namespace orvex {

class COrvexRuntime;

class CMidiSetDlg : public QDialog {
 public:
  // listPorts: the machine's input ports now; disconnect: stops and closes
  // the open ports (before "開く" reads a file).
  CMidiSetDlg(midi::CMidiDeviceList devices, const std::string& confFile, bool connectAtStart,
              std::function<std::vector<midi::MidiPortInfo>()> listPorts,
              std::function<void()> disconnect, QWidget* parent = nullptr);

  // File dialogs; the defaults open Qt's, tests replace them. Empty: cancel.
  std::function<QString(const QString& start)> chooseOpen;
  std::function<QString(const QString& start)> chooseSave;

  midi::CMidiDeviceList TakeDevices() { return std::move(m_devices); }
  const std::string& ConfFile() const { return m_path; }
  bool ConnectAtStart() const;
  // "接続して終了": true; "切断して終了", Escape and the close box: false.
  bool Connect() const { return m_connect; }
  int Mode() const { return m_mode; }

  // Escape and the close box: disconnect, the typing left out.
  void reject() override;

 private:
  void Fill();
  void ShowRecord(int index);
  void StoreRecord(int index);
  void StoreChecks();
  void SetMode(int mode);
  void OnOpen();
  void OnSave();
  void Finish(bool connect);
  QString StartPath() const;
  int SelectedIndex() const;

  midi::CMidiDeviceList m_devices;
  std::function<std::vector<midi::MidiPortInfo>()> m_listPorts;
  std::function<void()> m_disconnect;
  std::string m_path;
  int m_mode = 0;
  int m_shown = -1;  // the record whose table the edits hold
  bool m_connect = false;
  QListWidget* m_ports = nullptr;
  QLineEdit* m_file = nullptr;
  std::array<QLineEdit*, midi::kMidiTargets> m_channels{};
  QCheckBox* m_go = nullptr;
  QCheckBox* m_autoRun = nullptr;
  QCheckBox* m_atStart = nullptr;
};

// The command "MIDIデバイス設定": the dialog, then MIDI set up as it says.
void RunMidiSettings(QWidget* parent, COrvexRuntime& runtime);

}  // namespace orvex
