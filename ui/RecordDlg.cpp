#include "ui/RecordDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "show/Messages.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"

namespace orvex {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QString& text) {
  return text.toStdString();
}

constexpr int kOutputIds[6] = {1369, 1370, 1372, 1373, 1375, 1378};
constexpr const char* kOutputLabels[6] = {"M", "G1", "G2", "X", "Y", "ON"};
constexpr int kX = 3, kY = 4;  // the toggles that exclude each other

}  // namespace

CRecordDlg::CRecordDlg(RecordFields fields, Use use, QWidget* parent)
    : QDialog(parent), m_fields(std::move(fields)), m_use(use) {
  setObjectName(QStringLiteral("id246"));
  setWindowTitle(QStringLiteral("データレコード"));
  setFont(DialogFont());
  DluPlacer at(this);
  auto edit = [&](int id, int x, int y, int w) { return at.Put(new QLineEdit, id, x, y, w, 12); };

  at.Label(QStringLiteral("Q番号"), 7, 9, 70);
  m_q = edit(1148, 80, 7, 45);
  at.Label(QStringLiteral("Ch"), 135, 9, 15);
  m_channel = at.Put(new QComboBox, 1171, 152, 7, 45, 12);
  m_channel->setEditable(true);
  m_channel->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                       QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                       QStringLiteral("G1"), QStringLiteral("G2")});
  m_channel->setInsertPolicy(QComboBox::NoInsert);
  m_inSequence =
      at.Put(new QCheckBox(QStringLiteral("Qシーケンスに入れる")), 1274, 210, 8, 110, 10);

  at.Label(QStringLiteral("タイトル"), 7, 27, 70);
  m_title = edit(1158, 80, 25, 240);
  at.Label(QStringLiteral("ファイル/コマンド"), 7, 45, 70);
  m_file = at.Put(new QComboBox, 1166, 80, 43, 195, 12);
  m_file->setEditable(true);
  m_file->setInsertPolicy(QComboBox::NoInsert);
  m_browse = at.Put(new QPushButton(QStringLiteral("参照")), 1167, 280, 42, 40, 14);

  at.Label(QStringLiteral("プリセットレベル(PRE)"), 7, 66, 95);
  m_pre = edit(1164, 105, 64, 40);
  at.Label(QStringLiteral("( 0.0～10.0 )"), 150, 66, 55);
  at.Label(QStringLiteral("フェードイン時間(F.I)"), 7, 84, 95);
  m_fadeIn = edit(1168, 105, 82, 40);
  at.Label(QStringLiteral("秒"), 150, 84, 20);
  at.Label(QStringLiteral("フェードアウト時間(F.O)"), 7, 102, 95);
  m_fadeOut = edit(1169, 105, 100, 40);
  at.Label(QStringLiteral("秒"), 150, 102, 20);
  at.Label(QStringLiteral("オートラン タイミング"), 7, 120, 95);
  m_timing = edit(1173, 105, 118, 55);
  at.Label(QStringLiteral("(時:分:秒)"), 165, 120, 45);
  at.Label(QStringLiteral("ディレー"), 7, 138, 95);
  m_delay = edit(1178, 105, 136, 40);
  at.Label(QStringLiteral("ﾐﾘ秒"), 150, 138, 30);

  m_specified = at.Put(new QCheckBox(QStringLiteral("出力先を指定する")), 1368, 222, 66, 98, 10);
  for (int b = 0; b < 6; ++b) {
    auto* toggle = new QPushButton(QString::fromLatin1(kOutputLabels[b]));
    toggle->setCheckable(true);
    at.Put(toggle, kOutputIds[b], 222 + (b % 3) * 33, 82 + (b / 3) * 18, 30, 14);
    m_outputs[static_cast<size_t>(b)] = toggle;
  }

  at.Label(QStringLiteral("説明"), 7, 157, 70);
  m_description = edit(1170, 80, 155, 240);

  auto* ok = at.Put(new QPushButton(QStringLiteral("OK")), 1, 216, 176, 50, 14);
  auto* cancel = at.Put(new QPushButton(QStringLiteral("キャンセル")), 2, 270, 176, 50, 14);
  ok->setDefault(true);
  setFixedSize(at.Size(327, 197));

  // Opening: the members into the controls.
  m_q->setText(Q(m_fields.qNumber));
  m_title->setText(Q(m_fields.title));
  m_pre->setText(Q(m_fields.pre));
  m_fadeIn->setText(Q(m_fields.fadeIn));
  m_fadeOut->setText(Q(m_fields.fadeOut));
  m_delay->setText(Q(m_fields.delay));
  m_description->setText(Q(m_fields.description));
  m_inSequence->setChecked(m_fields.inSequence);
  m_channel->setCurrentText(Q(m_fields.channel));
  SetCommandList(CommandListOnOpening(m_fields.channel));
  m_browse->setEnabled(!IsGroupText(m_fields.channel));
  m_timing->setText(Q(TimingText(m_fields.timing)));
  m_q->setEnabled(m_fields.qChannelEditable);
  m_channel->setEnabled(m_fields.qChannelEditable);
  m_specified->setChecked(m_fields.outputSpecified);
  for (size_t b = 0; b < 6; ++b)
    m_outputs[b]->setChecked((m_fields.outputFlags & kOutputBits[b]) != 0);
  UpdateOutputs();

  connect(m_channel, &QComboBox::activated, this, &CRecordDlg::OnChannelChosen);
  connect(m_specified, &QCheckBox::clicked, this, &CRecordDlg::UpdateOutputs);
  connect(m_outputs[kX], &QPushButton::clicked, this, [this] { m_outputs[kY]->setChecked(false); });
  connect(m_outputs[kY], &QPushButton::clicked, this, [this] { m_outputs[kX]->setChecked(false); });
  connect(m_browse, &QPushButton::clicked, this, &CRecordDlg::Browse);
  connect(ok, &QPushButton::clicked, this, &CRecordDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CRecordDlg::reject);
  chooseFile = [this](const QString& proposed, bool listFile) {
    return RunFileDialog(proposed, listFile);
  };
  m_q->setFocus();
}

void CRecordDlg::ReadControls() {
  m_fields.qNumber = S(m_q->text());
  m_fields.channel = S(m_channel->currentText());
  m_fields.title = S(m_title->text());
  m_fields.file = S(m_file->currentText());
  m_fields.pre = S(m_pre->text());
  m_fields.fadeIn = S(m_fadeIn->text());
  m_fields.fadeOut = S(m_fadeOut->text());
  m_fields.timingText = S(m_timing->text());
  m_fields.delay = S(m_delay->text());
  m_fields.description = S(m_description->text());
  m_fields.inSequence = m_inSequence->isChecked();
  m_fields.outputSpecified = m_specified->isChecked();
}

void CRecordDlg::SetCommandList(const std::vector<std::string>& words) {
  const QString text = Q(m_fields.file);
  m_file->clear();
  for (const std::string& word : words) m_file->addItem(Q(word));
  // The file text stays whether or not the list holds it.
  const int found = m_file->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (found >= 0) {
    m_file->setCurrentIndex(found);
  } else {
    m_file->setCurrentIndex(-1);
    m_file->setEditText(text);
  }
}

void CRecordDlg::OnChannelChosen(int index) {
  m_fields.file = S(m_file->currentText());
  m_fields.channel = S(m_channel->itemText(index));
  m_channel->setCurrentIndex(index);
  SetCommandList(CommandListAfterChange(m_fields.channel));
  m_browse->setEnabled(!IsGroupText(m_fields.channel));
  UpdateOutputs();
}

void CRecordDlg::UpdateOutputs() {
  ReadControls();
  const std::array<bool, 6> enabled =
      OutputEnables(m_specified->isChecked(), S(m_channel->currentText()));
  for (size_t b = 0; b < 6; ++b) m_outputs[b]->setEnabled(enabled[b]);
}

void CRecordDlg::Browse() {
  ReadControls();
  const BrowseProposal proposal = ProposeBrowse(m_fields);
  // Stored names may use '\'; the dialog starts where the folder is.
  QString proposed = Q(proposal.proposed).replace(u'\\', u'/');
  if (!QFileInfo(QFileInfo(proposed).path()).isDir()) proposed.clear();
  const QString chosen = chooseFile(proposed, proposal.listFile);
  if (chosen.isEmpty()) return;
  m_fields.file = BrowsedFile(m_fields.folder, S(QDir::toNativeSeparators(chosen)));
  m_file->setEditText(Q(m_fields.file));
}

QString CRecordDlg::RunFileDialog(const QString& proposed, bool listFile) {
  const QString filter =
      listFile ? QStringLiteral("連続再生リストファイル (*.lst);;すべてのファイル (*)")
               : QStringLiteral("WAVファイル (*.wav);;すべてのファイル (*)");
  QFileDialog dialog(this, QStringLiteral("参照"), QFileInfo(proposed).path(), filter);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(listFile ? QStringLiteral("lst") : QStringLiteral("wav"));
  if (!proposed.isEmpty() && !proposed.contains(u'*')) dialog.selectFile(proposed);
  return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

void CRecordDlg::accept() {
  ReadControls();
  RecordFields checked = m_fields;
  const bool typedChannel = m_use != Use::kCueList;
  if (auto refusal = AcceptRecord(checked, typedChannel, m_use == Use::kAdd)) {
    ConfirmYesNo(*refusal);
    return;  // every field stays as typed
  }
  checked.outputFlags = 0;
  for (size_t b = 0; b < 6; ++b) {
    if (m_outputs[b]->isChecked()) checked.outputFlags |= kOutputBits[b];
  }
  m_fields = checked;
  // The normalised texts, as the caller reads them back.
  m_title->setText(Q(m_fields.title));
  m_pre->setText(Q(m_fields.pre));
  m_fadeIn->setText(Q(m_fields.fadeIn));
  m_fadeOut->setText(Q(m_fields.fadeOut));
  m_delay->setText(Q(m_fields.delay));
  QDialog::accept();
}

}  // namespace orvex
