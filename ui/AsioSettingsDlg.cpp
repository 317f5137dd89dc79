#include "ui/AsioSettingsDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "output/jack/AsioBufferRule.h"
#include "output/jack/AsioKernel.h"

namespace orvex {
namespace {

QLineEdit* NumberBox(int id, QWidget* parent, bool readOnly) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QStringLiteral("id%1").arg(id));
  e->setReadOnly(readOnly);
  return e;
}

QLabel* IdLabel(int id, const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QStringLiteral("id%1").arg(id));
  return l;
}

void SelectNumber(QComboBox* box, long value) {
  int i = box->findData(QVariant::fromValue<qlonglong>(value));
  if (i < 0) {
    // A stored value the list does not offer is kept, not replaced.
    box->addItem(QString::number(value), QVariant::fromValue<qlonglong>(value));
    i = box->count() - 1;
  }
  box->setCurrentIndex(i);
}

QComboBox* NumberCombo(int id, std::initializer_list<long> values, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QStringLiteral("id%1").arg(id));
  for (long v : values) box->addItem(QString::number(v), QVariant::fromValue<qlonglong>(v));
  return box;
}

}  // namespace

CAsioSettingsDlg::CAsioSettingsDlg(const AsioSettingsValues& v, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("id294"));
  setWindowTitle(QStringLiteral("ASIO設定"));
  auto* layout = new QVBoxLayout(this);

  auto* formatBox = new QGroupBox(QStringLiteral("ASIOドライバフォーマット"), this);
  auto* form = new QFormLayout(formatBox);
  channelText_ = NumberBox(1361, formatBox, true);
  rate_ = NumberCombo(1356, {44100, 22050, 11025, 8000}, formatBox);
  bitsText_ = NumberBox(1360, formatBox, true);
  blockAlign_ = NumberBox(1350, formatBox, true);
  average_ = NumberBox(1353, formatBox, true);
  average_->hide();
  channels_ = NumberCombo(1341, {1, 2}, formatBox);
  channels_->hide();
  bits_ = NumberCombo(1359, {32, 16, 8}, formatBox);
  bits_->hide();
  form->addRow(QStringLiteral("チャンネル"), channelText_);
  form->addRow(QStringLiteral("サンプリングレート"), rate_);
  form->addRow(QStringLiteral("ビット数"), bitsText_);
  form->addRow(QStringLiteral("ブロックアライメント"), blockAlign_);
  QLabel* note = IdLabel(
      1367, QStringLiteral("(ASIOドライバが選択されていないか、デバイスが接続されていません）"),
      formatBox);
  note->setVisible(!v.driverOpen);
  form->addRow(note);
  layout->addWidget(formatBox);

  auto* bufferBox = new QGroupBox(QStringLiteral("バッファサイズ"), this);
  auto* grid = new QGridLayout(bufferBox);
  bufferSize_ = NumberBox(1219, bufferBox, false);
  bufferSize_->setText(QString::asprintf("%ld", v.bufferSize));
  grid->addWidget(bufferSize_, 0, 0);
  grid->addWidget(new QLabel(QStringLiteral("（最少の整数倍）"), bufferBox), 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("最少"), bufferBox), 1, 0);
  grid->addWidget(IdLabel(1222, QString::number(v.minimum), bufferBox), 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("最大"), bufferBox), 2, 0);
  grid->addWidget(IdLabel(1225, QString::number(v.maximum), bufferBox), 2, 1);
  QLabel* preferred = IdLabel(1229, QString::number(v.preferred), bufferBox);
  preferred->hide();
  grid->addWidget(preferred, 3, 1);
  layout->addWidget(bufferBox);

  layout->addWidget(new QLabel(QStringLiteral("開いているWAVファイルのフォーマット"), this));
  files_ = new QTableWidget(5, 6, this);
  files_->setObjectName(QStringLiteral("id1362"));
  files_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  files_->setVerticalHeaderLabels({QStringLiteral("チャンネル"),
                                   QStringLiteral("サンプリングレート"), QStringLiteral("ビット数"),
                                   QStringLiteral("ブロックアライメント"),
                                   QStringLiteral("平均データ転送速度")});
  QStringList heads;
  for (int ch = 1; ch <= 6; ++ch) heads << QStringLiteral("CH%1").arg(ch);
  files_->setHorizontalHeaderLabels(heads);
  for (int ch = 0; ch < 6; ++ch) {
    if (!v.formats[ch]) continue;
    const WaveFormat& f = *v.formats[ch];
    const unsigned long values[5] = {f.channels, f.samplesPerSec, f.bitsPerSample, f.blockAlign,
                                     f.avgBytesPerSec};
    for (int row = 0; row < 5; ++row)
      files_->setItem(row, ch, new QTableWidgetItem(QString::number(values[row])));
  }
  layout->addWidget(files_);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  SelectNumber(channels_, v.channels);
  SelectNumber(rate_, v.rate);
  SelectNumber(bits_, v.bits);
  for (QComboBox* box : {channels_, rate_, bits_})
    connect(box, &QComboBox::currentIndexChanged, this, &CAsioSettingsDlg::Recompute);
  Recompute();
}

uint16_t CAsioSettingsDlg::Channels() const {
  return static_cast<uint16_t>(channels_->currentData().toLongLong());
}
int CAsioSettingsDlg::Rate() const {
  return static_cast<int>(rate_->currentData().toLongLong());
}
uint16_t CAsioSettingsDlg::Bits() const {
  return static_cast<uint16_t>(bits_->currentData().toLongLong());
}
long CAsioSettingsDlg::EnteredBufferSize() const {
  return static_cast<long>(bufferSize_->text().trimmed().toLongLong());
}

void CAsioSettingsDlg::Recompute() {
  const long align = long{Channels()} * Bits() / 8;
  channelText_->setText(QString::number(Channels()));
  bitsText_->setText(QString::number(Bits()));
  blockAlign_->setText(QString::number(align));
  average_->setText(QString::number(align * Rate()));
}

bool RunAsioSettings(QWidget* parent, Settings& settings, CAsioKernel& host,
                     const std::array<std::optional<WaveFormat>, 6>& formats,
                     const std::function<void()>& reopen) {
  AsioSettingsValues v;
  v.channels = settings.asioChannels;
  v.rate = settings.asioRate;
  v.bits = settings.asioBits;
  v.bufferSize = host.BufferSize();
  const CAsioKernel::BufferSizes sizes = host.DriverBufferSizes();
  v.minimum = sizes.minimum;
  v.maximum = sizes.maximum;
  v.preferred = sizes.preferred;
  v.driverOpen = host.IsDriverOpen();
  v.formats = formats;
  CAsioSettingsDlg dialog(v, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  settings.asioChannels = dialog.Channels();
  settings.asioRate = dialog.Rate();
  settings.asioBits = dialog.Bits();
  const jack::BufferChoice choice =
      jack::ChooseBufferSize(dialog.EnteredBufferSize(), v.minimum, settings.asioBufferFactor);
  settings.asioBufferFactor = choice.factor;
  host.SetBufferFactor(choice.factor);
  host.SetRate(settings.asioRate);
  host.SetBufferSize(choice.size);
  if (reopen) reopen();
  return true;
}

}  // namespace orvex
