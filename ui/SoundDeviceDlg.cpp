#include "ui/SoundDeviceDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "show/Messages.h"

namespace orvex {
namespace {

constexpr const char* kLabels[3] = {"Masterのサウンドデバイス", "Group1のサウンドデバイス",
                                    "Group2のサウンドデバイス"};
constexpr const char* kComboIds[3] = {"id1328", "id1329", "id1314"};
constexpr const char* kCheckIds[3] = {"id1275", "id1281", "id1283"};

}  // namespace

CSoundDeviceDlg::CSoundDeviceDlg(const std::array<CSoundDevice*, 3>& devices, QWidget* parent)
    : QDialog(parent), m_devices(devices) {
  setObjectName(QStringLiteral("id273"));
  setWindowTitle(QStringLiteral("サウンドデバイス選択"));
  auto* grid = new QGridLayout(this);
  for (int n = 0; n < 3; ++n) {
    const CSoundDevice& d = *m_devices[static_cast<size_t>(n)];
    grid->addWidget(new QLabel(QString::fromUtf8(kLabels[n]), this), n * 2, 0);
    auto* check = new QCheckBox(QStringLiteral("排他モード"), this);
    check->setObjectName(QString::fromLatin1(kCheckIds[n]));
    grid->addWidget(check, n * 2, 1);
    auto* combo = new QComboBox(this);
    combo->setObjectName(QString::fromLatin1(kComboIds[n]));
    combo->addItem(QStringLiteral("なし"));
    for (int i = 0; i < d.Count(); ++i) combo->addItem(QString::fromStdString(d.DisplayName(i)));
    combo->setCurrentIndex(d.m_selected + 1);
    grid->addWidget(combo, n * 2 + 1, 0, 1, 2);
    m_combos[static_cast<size_t>(n)] = combo;
    m_checks[static_cast<size_t>(n)] = check;
    check->setChecked(false);
    check->setEnabled(false);
    if (d.KindOf(d.m_selected) == DeviceKind::kWasapi) {
      check->setEnabled(true);
      check->setChecked(d.SelectedExclusive());
    }
  }
  for (int n = 0; n < 3; ++n) {
    connect(m_combos[static_cast<size_t>(n)], &QComboBox::currentIndexChanged, this,
            [this, n](int) { OnSelectionChanged(n); });
    connect(m_checks[static_cast<size_t>(n)], &QCheckBox::toggled, this,
            [this, n](bool checked) { OnExclusiveToggled(n, checked); });
  }
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("id1"));
  QPushButton* cancel =
      buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("id2"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  grid->addWidget(buttons, 6, 0, 1, 2);
}

void CSoundDeviceDlg::OnSelectionChanged(int output) {
  const CSoundDevice& d = *m_devices[static_cast<size_t>(output)];
  QCheckBox* check = m_checks[static_cast<size_t>(output)];
  if (d.KindOf(m_combos[static_cast<size_t>(output)]->currentIndex() - 1) == DeviceKind::kWasapi) {
    check->setEnabled(true);
  } else {
    check->setChecked(false);
    check->setEnabled(false);
  }
}

void CSoundDeviceDlg::OnExclusiveToggled(int output, bool checked) {
  if (!checked) return;
  // At most one output is exclusive.
  for (int n = 0; n < 3; ++n)
    if (n != output) m_checks[static_cast<size_t>(n)]->setChecked(false);
}

void CSoundDeviceDlg::accept() {
  std::array<int, 3> selected{};
  std::array<bool, 3> exclusive{};
  std::array<const CSoundDevice*, 3> lists{};
  for (size_t n = 0; n < 3; ++n) {
    selected[n] = m_combos[n]->currentIndex() - 1;
    exclusive[n] = m_checks[n]->isChecked();
    lists[n] = m_devices[n];
  }
  if (auto message = CheckDeviceSelection(lists, selected, exclusive)) {
    ConfirmYesNo(*message);
    return;  // the dialog stays open and nothing is stored
  }
  for (size_t n = 0; n < 3; ++n) {
    m_devices[n]->m_selected = selected[n];
    m_devices[n]->SetExclusive(exclusive[n]);
  }
  QDialog::accept();
}

}  // namespace orvex
