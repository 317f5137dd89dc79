#include "ui/WasapiSetDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "show/Messages.h"

namespace orvex {
namespace {

constexpr const char* kFormatRefused = "指定されたフォーマットはサポートされていません";
const char* const kRates[] = {"11025", "22050", "44100", "88200", "6000", "8000",
                              "16000", "32000", "48000", "64000", "96000"};

QLineEdit* Edit(QWidget* parent, const char* id, const QString& text) {
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(QString::fromLatin1(id));
  return e;
}

}  // namespace

QString ContainerText(int bits) {
  if (bits == 24) return QStringLiteral("(Int32V24)");
  if (bits == 32) return QStringLiteral("(Int32V32)");
  return QStringLiteral("(Int16V16)");
}

CWASAPISetDlg::CWASAPISetDlg(const std::array<WasapiChannelInfo, 7>& channels,
                             std::optional<StoredWaveFormat> exclusiveFormat, Settings& settings,
                             std::function<bool(const StoredWaveFormat&)> supported,
                             QWidget* parent)
    : QDialog(parent),
      m_exclusive(exclusiveFormat),
      m_settings(settings),
      m_supported(std::move(supported)) {
  setObjectName(QStringLiteral("id296"));
  setWindowTitle(QStringLiteral("WASAPI設定"));
  auto* top = new QVBoxLayout(this);

  auto* shared = new QGroupBox(QStringLiteral("共有モード情報"), this);
  auto* sharedLayout = new QVBoxLayout(shared);
  const QStringList rows = {QStringLiteral("ドライバ状態"), QStringLiteral("チャンネル"),
                            QStringLiteral("サンプリングレート"), QStringLiteral("ビット数"),
                            QStringLiteral("ブロックアライメント")};
  m_table = new QTableWidget(rows.size(), 7, shared);
  m_table->setObjectName(QStringLiteral("id1363"));
  QStringList headers = {QString()};
  for (int ch = 1; ch <= 6; ++ch) headers << QStringLiteral("CH%1").arg(ch);
  m_table->setHorizontalHeaderLabels(headers);
  m_table->verticalHeader()->hide();
  for (int r = 0; r < rows.size(); ++r) m_table->setItem(r, 0, new QTableWidgetItem(rows[r]));
  for (int ch = 1; ch <= 6; ++ch) {
    const WasapiChannelInfo& c = channels[static_cast<size_t>(ch)];
    m_table->setItem(
        0, ch, new QTableWidgetItem(c.driverOk ? QStringLiteral("可") : QStringLiteral("不能")));
    if (!c.loaded) continue;
    const uint32_t values[4] = {c.format.channels, c.format.samplesPerSec, c.format.bitsPerSample,
                                c.format.blockAlign};
    for (int r = 0; r < 4; ++r)
      m_table->setItem(r + 1, ch, new QTableWidgetItem(QString::number(values[r])));
  }
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // The whole table is in sight, CH1 to CH6 and every row, at any scaling:
  // the columns fit their texts and the box fits its columns.
  for (QHeaderView* header : {m_table->horizontalHeader(), m_table->verticalHeader()})
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
  m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
  m_table->setMinimumSize(m_table->sizeHint());
  sharedLayout->addWidget(m_table);
  top->addWidget(shared);

  auto* excl = new QGroupBox(QStringLiteral("排他モード設定"), this);
  auto* grid = new QGridLayout(excl);
  m_note = new QLabel(QStringLiteral("(排他モードは選択されていません）"), excl);
  m_note->setObjectName(QStringLiteral("id1366"));
  grid->addWidget(m_note, 0, 0, 1, 3);
  QString ch = QStringLiteral("2"), rate = QStringLiteral("44100"), bits = QStringLiteral("16"),
          align = QStringLiteral("4");
  if (m_exclusive) {
    const StoredWaveFormat& f = *m_exclusive;
    ch = QString::number(f.channels);
    rate = QString::number(f.samplesPerSec);
    bits = QString::number(f.formatTag == kFormatExtensible ? f.validBits : f.bitsPerSample);
    align = QString::number(f.blockAlign);
  }
  m_channels = Edit(excl, "id1345", ch);
  m_channels->setReadOnly(true);
  m_rate = new QComboBox(excl);
  m_rate->setObjectName(QStringLiteral("id1364"));
  for (const char* r : kRates) m_rate->addItem(QString::fromLatin1(r));
  m_rate->setCurrentText(rate);
  m_bits = new QComboBox(excl);
  m_bits->setObjectName(QStringLiteral("id1365"));
  m_bits->addItems({QStringLiteral("16"), QStringLiteral("24"), QStringLiteral("32")});
  m_bits->setCurrentText(bits);
  m_container = Edit(excl, "id1357", ContainerText(bits.toInt()));
  m_container->setReadOnly(true);
  // Wide enough for the longest container text, "(Int32V24)".
  m_container->setMinimumWidth(m_container->fontMetrics().horizontalAdvance(ContainerText(24)) +
                               m_container->fontMetrics().averageCharWidth() * 2);
  m_blockAlign = Edit(excl, "id1354", align);
  m_blockAlign->setReadOnly(true);
  m_buffer = Edit(excl, "id1342", QString::number(m_settings.wasapiBufSize));
  grid->addWidget(new QLabel(QStringLiteral("チャンネル"), excl), 1, 0);
  grid->addWidget(m_channels, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("サンプリングレート"), excl), 2, 0);
  grid->addWidget(m_rate, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("ビット数"), excl), 3, 0);
  grid->addWidget(m_bits, 3, 1);
  grid->addWidget(m_container, 3, 2);
  grid->addWidget(new QLabel(QStringLiteral("ブロックアライメント"), excl), 4, 0);
  grid->addWidget(m_blockAlign, 4, 1);
  grid->addWidget(new QLabel(QStringLiteral("バッファサイズ"), excl), 5, 0);
  grid->addWidget(m_buffer, 5, 1);
  grid->addWidget(new QLabel(QStringLiteral("ミリ秒長"), excl), 5, 2);
  auto* defaults = new QPushButton(QStringLiteral("既定値にもどす"), excl);
  defaults->setObjectName(QStringLiteral("id1177"));
  grid->addWidget(defaults, 6, 0);
  top->addWidget(excl);
  m_note->setVisible(!m_exclusive);
  m_rate->setEnabled(m_exclusive.has_value());
  m_bits->setEnabled(m_exclusive.has_value());

  connect(m_bits, &QComboBox::currentIndexChanged, this, [this](int) { OnBitsChanged(); });
  connect(defaults, &QPushButton::clicked, this, [this] { RestoreDefaults(); });
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)
      ->setObjectName(QStringLiteral("id1"));
  buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole)
      ->setObjectName(QStringLiteral("id2"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  top->addWidget(buttons);
}

int CWASAPISetDlg::Bits() const {
  return m_bits->currentText().toInt();
}

void CWASAPISetDlg::OnBitsChanged() {
  const int bits = Bits();
  const int container = bits == 24 ? 32 : bits;
  m_blockAlign->setText(QString::number(container * m_channels->text().toInt() / 8));
  m_container->setText(ContainerText(bits));
}

void CWASAPISetDlg::RestoreDefaults() {
  m_rate->setCurrentText(QStringLiteral("44100"));
  m_bits->setCurrentText(QStringLiteral("16"));
  m_blockAlign->setText(QStringLiteral("4"));
  m_container->setText(ContainerText(16));
}

void CWASAPISetDlg::accept() {
  bool ok = false;
  const int buffer = m_buffer->text().toInt(&ok);
  if (ok && buffer >= 0) m_settings.wasapiBufSize = buffer;
  m_newFormat.reset();
  if (m_exclusive) {
    StoredWaveFormat f;
    const int bits = Bits();
    f.channels = 2;
    f.channelMask = 3;
    f.validBits = static_cast<uint16_t>(bits);
    f.samplesPerSec = m_rate->currentText().toUInt();
    if (bits > 16) {
      f.formatTag = kFormatExtensible;
      f.bitsPerSample = 32;
      f.blockAlign = 8;
      f.extraSize = 22;
    } else {
      f.formatTag = kFormatPcm;
      f.bitsPerSample = static_cast<uint16_t>(bits);
      f.blockAlign = static_cast<uint16_t>(bits * 2 / 8);
      f.extraSize = 0;
    }
    f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
    if (m_supported && !m_supported(f)) {
      ConfirmYesNo(kFormatRefused);
      return;  // only the buffer length changed
    }
    m_newFormat = f;
  }
  QDialog::accept();
}

}  // namespace orvex
