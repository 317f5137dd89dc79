#include "ui/OptionDlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "session/OrvexRuntime.h"
#include "show/Messages.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"
#include "ui/ListDlgBar.h"

namespace orvex {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QLineEdit* edit) {
  return edit->text().toStdString();
}

constexpr int kFirstIds[6] = {1125, 1131, 1137, 1141, 1152, 1161};
constexpr int kSecondIds[6] = {1123, 1128, 1134, 1139, 1146, 1156};
constexpr int kRowDefaultIds[6] = {1176, 1182, 1184, 1187, 1190, 1193};

QPushButton* Buttons(DluPlacer& at, QDialog* dialog, int x, int y, const QString& cancelText) {
  auto* ok = at.Put(new QPushButton(QStringLiteral("OK")), 1, x, y, 50, 14);
  auto* cancel = at.Put(new QPushButton(cancelText), 2, x + 54, y, 50, 14);
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  return ok;
}

}  // namespace

OptionDlg::OptionDlg(const Settings& settings, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("id241"));
  setWindowTitle(QStringLiteral("動作設定"));
  setFont(DialogFont());
  DluPlacer at(this);
  const OperationFields f = OperationFieldsOf(settings);
  auto edit = [&](int id, int x, int y, int w, const std::string& text) {
    return at.Put(new QLineEdit(Q(text)), id, x, y, w, 12);
  };

  m_block = at.Put(
      new QCheckBox(QStringLiteral("フェードイン・フェードアウト時はファイル読み込みをしない")),
      1279, 7, 7, 300, 10);
  m_block->setChecked(f.block);
  m_autoNext = at.Put(new QCheckBox(QStringLiteral("Qスタートしたら各CHのQ番号を更新する")), 1398,
                      7, 20, 300, 10);
  m_autoNext->setChecked(f.autoNext);

  at.Put(new QGroupBox(QStringLiteral("WAV読み込みバッファサイズ")), 0, 7, 35, 190, 122);
  at.Label(QStringLiteral("1st"), 50, 48, 30);
  at.Label(QStringLiteral("2nd"), 100, 48, 30);
  for (size_t i = 0; i < 6; ++i) {
    const int y = 59 + static_cast<int>(i) * 16;
    at.Label(QStringLiteral("CH%1").arg(i + 1), 14, y + 2, 28);
    m_first[i] = edit(kFirstIds[i], 45, y, 30, f.first[i]);
    at.Label(QStringLiteral("秒"), 78, y + 2, 12);
    m_second[i] = edit(kSecondIds[i], 95, y, 30, f.second[i]);
    at.Label(QStringLiteral("秒"), 128, y + 2, 12);
    auto* reset =
        at.Put(new QPushButton(QStringLiteral("既定値")), kRowDefaultIds[i], 145, y, 45, 12);
    connect(reset, &QPushButton::clicked, this, [this, i] {
      m_first[i]->setText(QString::fromLatin1(kDefaultFirst));
      m_second[i]->setText(QString::fromLatin1(kDefaultSecond));
    });
  }

  at.Label(QStringLiteral("フェーダレベル変節点"), 207, 42, 95);
  m_kneePoint = edit(1213, 305, 40, 35, f.kneePoint);
  at.Label(QStringLiteral("変節点レベル"), 207, 58, 95);
  m_kneeLevel = edit(1214, 305, 56, 35, f.kneeLevel);
  auto* kneeDefault = at.Put(new QPushButton(QStringLiteral("既定値")), 1195, 295, 72, 45, 12);
  connect(kneeDefault, &QPushButton::clicked, this, [this] {
    m_kneePoint->setText(QString::fromLatin1(kDefaultKneePoint));
    m_kneeLevel->setText(QString::fromLatin1(kDefaultKneeLevel));
  });
  at.Label(QStringLiteral("マウスホイールのストロークスピード"), 207, 98, 140);
  m_wheel = edit(1340, 207, 110, 45, f.wheel);
  auto* wheelDefault = at.Put(new QPushButton(QStringLiteral("既定値")), 1198, 257, 110, 45, 12);
  connect(wheelDefault, &QPushButton::clicked, this,
          [this] { m_wheel->setText(QString::fromLatin1(kDefaultWheel)); });

  Buttons(at, this, 243, 166, QStringLiteral("ｷｬﾝｾﾙ"));
  setFixedSize(at.Size(354, 187));
}

OperationFields OptionDlg::Read() const {
  OperationFields f;
  f.block = m_block->isChecked();
  f.autoNext = m_autoNext->isChecked();
  for (size_t i = 0; i < 6; ++i) {
    f.first[i] = S(m_first[i]);
    f.second[i] = S(m_second[i]);
  }
  f.kneePoint = S(m_kneePoint);
  f.kneeLevel = S(m_kneeLevel);
  f.wheel = S(m_wheel);
  return f;
}

void OptionDlg::accept() {
  const OperationCheck check = CheckOperationFields(Read());
  if (!check.values) {
    ConfirmYesNo(check.message);
    return;  // nothing is stored
  }
  m_values = check.values;
  QDialog::accept();
}

CDispOption::CDispOption(const Settings& settings, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("id292"));
  setWindowTitle(QStringLiteral("オプション"));
  setFont(DialogFont());
  DluPlacer at(this);
  const DisplayFields f = DisplayFieldsOf(settings);
  at.Label(QStringLiteral("Qシートのフォントサイズ"), 7, 9, 100);
  m_font = at.Put(new QLineEdit(Q(f.fontPoints)), 1339, 110, 7, 30, 12);
  at.Label(QStringLiteral("ポイント"), 145, 9, 40);
  at.Label(QStringLiteral("Orvexを再起動すると反映します"), 20, 23, 200);
  m_cursorFix = at.Put(new QCheckBox(QStringLiteral("Ｑシートのカーソル移動を制限します")), 1277, 7,
                       38, 220, 10);
  m_cursorFix->setChecked(f.cursorFix);
  at.Label(QStringLiteral("赤いカーソル（現在のＱ）より"), 7, 57, 118);
  m_backDisplay = at.Put(new QLineEdit(Q(f.backDisplay)), 1346, 127, 55, 25, 12);
  at.Label(QStringLiteral("個の古いレコードを表示します"), 156, 57, 118);
  Buttons(at, this, 170, 76, QStringLiteral("キャンセル"));
  setFixedSize(at.Size(281, 97));
}

DisplayFields CDispOption::Fields() const {
  return {S(m_font), m_cursorFix->isChecked(), S(m_backDisplay)};
}

void RunOperationSettings(QWidget& parent, COrvexRuntime& runtime) {
  OptionDlg dialog(runtime.Doc().GetSettings(), &parent);
  if (dialog.exec() != QDialog::Accepted || !dialog.Values()) return;
  runtime.ApplyOperationValues(*dialog.Values());
}

void RunDisplayOptions(QWidget& parent, Settings& settings, CListDlgBar* cueList) {
  CDispOption dialog(settings, &parent);
  if (dialog.exec() != QDialog::Accepted) return;
  StoreDisplayFields(dialog.Fields(), settings);
  // The font size waits for the next start; the rest shows at once.
  if (!cueList) return;
  cueList->SetCursorFix(settings.cueListCurFix != 0);
  cueList->SetBackDisplay(settings.cueListBackDisp);
  cueList->ShowCuePosition(cueList->CurrentCue(), cueList->NextCue());
}

}  // namespace orvex
