#include "ui/MidiSetDlg.h"

#include <cstdlib>

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "midi/MidiControl.h"
#include "midi/MidiSettingsFile.h"
#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "show/Messages.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"

namespace orvex {
namespace {

constexpr std::array<int, midi::kMidiTargets> kChannelIds = {1220, 1223, 1226, 1230,
                                                             1232, 1234, 1236};
constexpr const char* kMidiSaveFailed = "MIDI設定ファイルの保存に失敗しました";
constexpr const char* kFilter = "MIDI設定ファイル (*.cnf);;すべてのファイル (*)";

}  // namespace

CMidiSetDlg::CMidiSetDlg(midi::CMidiDeviceList devices, const std::string& confFile,
                         bool connectAtStart,
                         std::function<std::vector<midi::MidiPortInfo>()> listPorts,
                         std::function<void()> disconnect, QWidget* parent)
    : QDialog(parent),
      m_devices(std::move(devices)),
      m_listPorts(std::move(listPorts)),
      m_disconnect(std::move(disconnect)),
      m_path(confFile) {
  setObjectName(QStringLiteral("id303"));
  setWindowTitle(QStringLiteral("MIDI設定"));
  setFont(DialogFont());
  DluPlacer at(this);

  at.Label(QStringLiteral("MIDIドライバ"), 7, 7, 100);
  m_ports = at.Put(new QListWidget, 1371, 7, 17, 262, 52);
  at.Label(QStringLiteral("設定ファイル"), 7, 75, 60);
  m_file = at.Put(new QLineEdit(QString::fromStdString(confFile)), 1343, 7, 85, 186, 12);
  auto* open = at.Put(new QPushButton(QStringLiteral("開く")), 1180, 197, 84, 34, 14);
  auto* save = at.Put(new QPushButton(QStringLiteral("保存")), 1143, 235, 84, 34, 14);
  at.Label(QStringLiteral("（開くとMIDIは切断されます）"), 7, 99, 180);

  at.Put(new QGroupBox(QStringLiteral("チャンネル割り当て")), 0, 7, 111, 262, 40);
  static const char* const kLabels[] = {"Qボタン", "CH1", "CH2", "CH3", "CH4", "CH5", "CH6"};
  for (int i = 0; i < midi::kMidiTargets; ++i) {
    const int x = 13 + i * 36;
    at.Label(QString::fromUtf8(kLabels[i]), x, 123, 32);
    m_channels[static_cast<size_t>(i)] =
        at.Put(new QLineEdit, kChannelIds[static_cast<size_t>(i)], x, 133, 28, 12);
  }
  at.Label(QStringLiteral("MIDIシステムリアルタイムメッセージのスタート(FAH)とストップ(FCH)を"), 7,
           157, 266);
  m_go = at.Put(new QCheckBox(QStringLiteral("QボタンとSTOP ALLに割り当てる")), 1374, 13, 168, 200,
                10);
  m_autoRun = at.Put(new QCheckBox(QStringLiteral("オートランのランとストップに割り当てる")), 1376,
                     13, 180, 200, 10);
  m_atStart =
      at.Put(new QCheckBox(QStringLiteral("Orvexの起動時にMIDIを接続する")), 1278, 7, 196, 200, 10);
  m_atStart->setChecked(connectAtStart);
  auto* connectButton =
      at.Put(new QPushButton(QStringLiteral("接続して終了")), 1, 137, 212, 64, 14);
  auto* disconnectButton =
      at.Put(new QPushButton(QStringLiteral("切断して終了")), 0, 205, 212, 64, 14);
  disconnectButton->setObjectName(QStringLiteral("disconnect"));
  auto* cancel = at.Put(new QPushButton(QStringLiteral("キャンセル")), 2, 0, 0, 1, 1);
  cancel->hide();  // there, as the dialog's Escape, but never shown
  connectButton->setDefault(true);
  setFixedSize(at.Size(276, 233));

  connect(connectButton, &QPushButton::clicked, this, [this] { Finish(true); });
  connect(disconnectButton, &QPushButton::clicked, this, [this] { Finish(false); });
  connect(cancel, &QPushButton::clicked, this, &CMidiSetDlg::reject);
  connect(open, &QPushButton::clicked, this, &CMidiSetDlg::OnOpen);
  connect(save, &QPushButton::clicked, this, &CMidiSetDlg::OnSave);
  connect(m_go, &QCheckBox::clicked, this, [this] { SetMode(m_mode == 1 ? 0 : 1); });
  connect(m_autoRun, &QCheckBox::clicked, this, [this] { SetMode(m_mode == 2 ? 0 : 2); });
  connect(m_ports, &QListWidget::currentRowChanged, this, [this](int row) {
    // The edits belong to the record shown until now.
    StoreRecord(m_shown);
    ShowRecord(row < 0 ? -1 : m_ports->item(row)->data(Qt::UserRole).toInt());
  });

  chooseOpen = [this](const QString& start) {
    return QFileDialog::getOpenFileName(this, QStringLiteral("開く"), start,
                                        QString::fromUtf8(kFilter));
  };
  chooseSave = [this](const QString& start) {
    QFileDialog dialog(this, QStringLiteral("保存"), start, QString::fromUtf8(kFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("cnf"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
  };
  Fill();
}

void CMidiSetDlg::Fill() {
  m_shown = -1;
  const QSignalBlocker block(m_ports);
  m_ports->clear();
  // Stored ports that are not on this machine keep their records, unlisted.
  for (size_t i = 0; i < m_devices.size(); ++i) {
    const midi::CMidiDevice& d = *m_devices[i];
    if (!d.m_present) continue;
    auto* item = new QListWidgetItem(QString::fromStdString(d.PortName()), m_ports);
    item->setData(Qt::UserRole, static_cast<int>(i));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(d.m_enabled ? Qt::Checked : Qt::Unchecked);
  }
  if (m_ports->count() > 0) {
    m_ports->setCurrentRow(0);
    ShowRecord(m_ports->item(0)->data(Qt::UserRole).toInt());
  } else {
    ShowRecord(-1);
  }
}

void CMidiSetDlg::ShowRecord(int index) {
  m_shown = index;
  if (index < 0 || index >= static_cast<int>(m_devices.size())) {
    for (QLineEdit* edit : m_channels) edit->clear();
    SetMode(0);
    return;
  }
  const midi::CMidiDevice& d = *m_devices[static_cast<size_t>(index)];
  for (int i = 0; i < midi::kMidiTargets; ++i) {
    const int channel = d.m_channels[static_cast<size_t>(i)];
    m_channels[static_cast<size_t>(i)]->setText(channel < 0 ? QString()
                                                            : QString::number(channel + 1));
  }
  SetMode(d.m_mode);
}

void CMidiSetDlg::StoreRecord(int index) {
  if (index < 0 || index >= static_cast<int>(m_devices.size())) return;
  midi::CMidiDevice& d = *m_devices[static_cast<size_t>(index)];
  // An empty edit or "0" leaves the target unassigned.
  for (int i = 0; i < midi::kMidiTargets; ++i) {
    const std::string text = m_channels[static_cast<size_t>(i)]->text().toStdString();
    d.m_channels[static_cast<size_t>(i)] = std::atoi(text.c_str()) - 1;
  }
  d.m_mode = m_mode;
}

void CMidiSetDlg::StoreChecks() {
  for (int row = 0; row < m_ports->count(); ++row) {
    const QListWidgetItem* item = m_ports->item(row);
    const auto index = static_cast<size_t>(item->data(Qt::UserRole).toInt());
    if (index < m_devices.size())
      m_devices[index]->m_enabled = item->checkState() == Qt::Checked ? 1 : 0;
  }
}

void CMidiSetDlg::SetMode(int mode) {
  // Two boxes, one choice: GO and STOP ALL, the auto-run, or neither.
  m_mode = mode;
  m_go->setChecked(mode == 1);
  m_autoRun->setChecked(mode == 2);
}

int CMidiSetDlg::SelectedIndex() const {
  const QListWidgetItem* item = m_ports->currentItem();
  return item ? item->data(Qt::UserRole).toInt() : -1;
}

QString CMidiSetDlg::StartPath() const {
  const QString path = m_file->text();
  return QFileInfo(path).dir().exists() ? path : QString();
}

void CMidiSetDlg::OnOpen() {
  const QString chosen = chooseOpen(StartPath());
  if (chosen.isEmpty()) return;
  // No port may hear the old table while the new one comes in.
  if (m_disconnect) m_disconnect();
  m_path = chosen.toStdString();
  m_file->setText(chosen);
  // A file that cannot be read leaves the list as it was.
  midi::LoadMidiSettings(m_path, m_devices);
  midi::ReconcileMidiDevices(m_devices,
                             m_listPorts ? m_listPorts() : std::vector<midi::MidiPortInfo>{});
  Fill();
}

void CMidiSetDlg::OnSave() {
  const QString chosen = chooseSave(StartPath());
  if (chosen.isEmpty()) return;
  StoreRecord(SelectedIndex());
  StoreChecks();
  m_path = chosen.toStdString();
  m_file->setText(chosen);
  if (!midi::SaveMidiSettings(m_path, m_devices)) ReportMessage(kMidiSaveFailed);
}

void CMidiSetDlg::Finish(bool connect) {
  StoreRecord(SelectedIndex());
  m_path = m_file->text().toStdString();
  StoreChecks();
  m_connect = connect;
  accept();
}

void CMidiSetDlg::reject() {
  // Escape and the close box disconnect, as "切断して終了" does, but keep
  // what was typed into the edits out of the records.
  m_connect = false;
  QDialog::reject();
}

bool CMidiSetDlg::ConnectAtStart() const {
  return m_atStart->isChecked();
}

void RunMidiSettings(QWidget* parent, COrvexRuntime& runtime) {
  midi::CMidiControl& control = runtime.Midi();
  midi::CMidiDeviceList copy;
  for (const auto& d : control.Devices()) copy.push_back(std::make_unique<midi::CMidiDevice>(*d));
  Settings& settings = runtime.Doc().GetSettings();
  CMidiSetDlg dialog(
      std::move(copy), settings.midiConfFile, settings.midiConnect != 0,
      [&control] { return control.ListPorts(); }, [&control] { control.DisconnectMidi(); }, parent);
  dialog.exec();
  settings.midiConfFile = dialog.ConfFile();
  settings.midiConnect = dialog.ConnectAtStart() ? 1 : 0;
  control.ReplaceDevices(dialog.TakeDevices());
  control.DisconnectMidi();
  if (dialog.Connect()) control.ConnectMidi();
}

}  // namespace orvex
