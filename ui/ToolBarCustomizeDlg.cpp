#include "ui/ToolBarCustomizeDlg.h"

#include <QAction>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolBar>

#include "ui/ToolBarSet.h"

namespace orvex {

namespace {

constexpr int kBarRole = Qt::UserRole;
constexpr int kIdRole = Qt::UserRole + 1;

QToolBar* BarOf(const QListWidgetItem* item) {
  return item ? static_cast<QToolBar*>(item->data(kBarRole).value<QObject*>()) : nullptr;
}

}  // namespace

CToolBarCustomizeDlg::CToolBarCustomizeDlg(CToolBarSet& set, QToolBar* initial, QWidget* parent)
    : QDialog(parent), m_set(set) {
  setWindowTitle(QStringLiteral("カスタマイズ"));
  setObjectName(QStringLiteral("CToolBarCustomizeDlg"));
  askTitle = [this](const QString& proposed) {
    return QInputDialog::getText(this, QStringLiteral("ツール バー名"),
                                 QStringLiteral("ツール バー名(&T):"), QLineEdit::Normal, proposed);
  };

  auto* grid = new QGridLayout(this);
  auto* barsLabel = new QLabel(QStringLiteral("ツール バー(&A):"), this);
  m_bars = new QListWidget(this);
  m_bars->setObjectName(QStringLiteral("toolbars"));
  barsLabel->setBuddy(m_bars);
  auto* buttonsLabel = new QLabel(QStringLiteral("ボタン(&B):"), this);
  m_buttons = new QListWidget(this);
  m_buttons->setObjectName(QStringLiteral("buttons"));
  m_buttons->setIconSize(QSize(16, 16));
  buttonsLabel->setBuddy(m_buttons);
  m_new = new QPushButton(QStringLiteral("新規作成(&N)..."), this);
  m_new->setObjectName(QStringLiteral("newToolBar"));
  m_delete = new QPushButton(QStringLiteral("削除(&D)"), this);
  m_delete->setObjectName(QStringLiteral("deleteToolBar"));
  m_reset = new QPushButton(QStringLiteral("リセット(&R)"), this);
  m_reset->setObjectName(QStringLiteral("resetToolBar"));
  auto* close = new QPushButton(QStringLiteral("閉じる"), this);
  close->setObjectName(QStringLiteral("close"));
  close->setDefault(true);

  grid->addWidget(barsLabel, 0, 0);
  grid->addWidget(buttonsLabel, 0, 1);
  grid->addWidget(m_bars, 1, 0, 4, 1);
  grid->addWidget(m_buttons, 1, 1, 4, 1);
  grid->addWidget(m_new, 1, 2);
  grid->addWidget(m_delete, 2, 2);
  grid->addWidget(m_reset, 3, 2);
  grid->setRowStretch(4, 1);
  grid->addWidget(close, 5, 2);

  connect(m_bars, &QListWidget::currentItemChanged, this, [this] { FillButtons(); });
  connect(m_bars, &QListWidget::itemChanged, this, [](QListWidgetItem* item) {
    if (QToolBar* bar = BarOf(item)) bar->setVisible(item->checkState() == Qt::Checked);
  });
  connect(m_buttons, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    m_set.SetShown(Selected(), item->data(kIdRole).toInt(), item->checkState() == Qt::Checked);
  });
  connect(m_new, &QPushButton::clicked, this, &CToolBarCustomizeDlg::OnNew);
  connect(m_delete, &QPushButton::clicked, this, &CToolBarCustomizeDlg::OnDelete);
  connect(m_reset, &QPushButton::clicked, this, &CToolBarCustomizeDlg::OnReset);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  FillToolBars(initial);
  resize(sizeHint().expandedTo(QSize(480, 320)));
}

QToolBar* CToolBarCustomizeDlg::Selected() const {
  return BarOf(m_bars->currentItem());
}

void CToolBarCustomizeDlg::Select(QToolBar* bar) {
  for (int i = 0; i < m_bars->count(); ++i) {
    if (BarOf(m_bars->item(i)) == bar) m_bars->setCurrentRow(i);
  }
}

void CToolBarCustomizeDlg::FillToolBars(QToolBar* select) {
  {
    // Filling the list is not the operator switching toolbars on and off.
    const QSignalBlocker quiet(m_bars);
    m_bars->clear();
    for (QToolBar* bar : m_set.ToolBars()) {
      auto* item = new QListWidgetItem(bar->windowTitle(), m_bars);
      item->setData(kBarRole, QVariant::fromValue<QObject*>(bar));
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
      item->setCheckState(bar->toggleViewAction()->isChecked() ? Qt::Checked : Qt::Unchecked);
    }
    m_bars->setCurrentRow(0);
    if (select) Select(select);
  }
  FillButtons();
}

void CToolBarCustomizeDlg::FillButtons() {
  QToolBar* bar = Selected();
  {
    const QSignalBlocker quiet(m_buttons);
    m_buttons->clear();
    for (int id : m_set.Choices(bar)) {
      auto* item = new QListWidgetItem(m_set.ButtonText(id), m_buttons);
      if (const QAction* action = m_set.ButtonAction(id)) item->setIcon(action->icon());
      item->setData(kIdRole, id);
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
      item->setCheckState(m_set.Shows(bar, id) ? Qt::Checked : Qt::Unchecked);
    }
  }
  const bool user = m_set.IsUserToolBar(bar);
  m_delete->setEnabled(user);
  m_reset->setEnabled(bar && !user);
}

void CToolBarCustomizeDlg::OnNew() {
  int n = 1;
  for (QToolBar* bar : m_set.ToolBars()) n += m_set.IsUserToolBar(bar) ? 1 : 0;
  const QString title = askTitle(QStringLiteral("ユーザー定義 %1").arg(n)).trimmed();
  if (title.isEmpty()) return;
  FillToolBars(m_set.NewToolBar(title));
}

void CToolBarCustomizeDlg::OnDelete() {
  QToolBar* bar = Selected();
  if (!m_set.IsUserToolBar(bar)) return;
  m_set.Remove(bar);
  FillToolBars(nullptr);
}

void CToolBarCustomizeDlg::OnReset() {
  m_set.Reset(Selected());
  FillButtons();
}

}  // namespace orvex
