#include "ui/ShowCheckDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "session/RecordEdit.h"
#include "show/TextNumbers.h"

namespace orvex {

QString FindingLine(const CheckFinding& f) {
  QString where;
  if (f.channel > 0) {
    where = QStringLiteral("%1 Ｑ%2  ")
                .arg(QString::fromStdString(ChannelLabel(f.channel)),
                     QString::fromStdString(FormatG(f.q)));
  } else if (f.line > 0) {
    where = QStringLiteral("%1行目  ").arg(f.line);
  }
  if (!f.item.empty()) where += QString::fromStdString(f.item) + QStringLiteral(": ");
  const QString mark = f.severity == "warning" ? QStringLiteral("注意  ") : QString();
  return mark + where + QString::fromStdString(f.what);
}

QString FindingsReport(const std::vector<CheckFinding>& findings) {
  QStringList lines;
  lines << QStringLiteral("%1: %2件の問題が見つかりました")
               .arg(QString::fromUtf8(kShowCheckCaption))
               .arg(findings.size());
  for (const CheckFinding& f : findings) lines << QStringLiteral("  ") + FindingLine(f);
  return lines.join(u'\n');
}

CShowCheckDlg::CShowCheckDlg(const std::vector<CheckFinding>& findings, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(kShowCheckCaption));
  auto* layout = new QVBoxLayout(this);
  if (findings.empty()) {
    layout->addWidget(new QLabel(QString::fromUtf8(kShowCheckClean)));
  } else {
    layout->addWidget(
        new QLabel(QStringLiteral("%1件の問題が見つかりました。").arg(findings.size())));
    auto* list = new QListWidget;
    list->setObjectName(QStringLiteral("findings"));
    for (const CheckFinding& f : findings) list->addItem(FindingLine(f));
    list->setMinimumWidth(640);
    layout->addWidget(list);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
  buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("id2"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

}  // namespace orvex
