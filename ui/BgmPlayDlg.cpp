#include "ui/BgmPlayDlg.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTreeWidget>

#include "engine/Console.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"

namespace orvex {
namespace {

constexpr int kMarkedRole = Qt::UserRole + 1;

// The marked row red, the others white; a selected row keeps the selection
// colours with white text.
class MarkedRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem o = option;
    if (o.state & QStyle::State_Selected) {
      o.palette.setColor(QPalette::HighlightedText, Qt::white);
    } else {
      const bool marked = index.data(kMarkedRole).toBool();
      painter->fillRect(o.rect, marked ? QColor(255, 0, 0) : QColor(255, 255, 255));
    }
    QStyledItemDelegate::paint(painter, o, index);
  }
};

}  // namespace

CBGMPlayPage::CBGMPlayPage(CConsole& console, int ch, QWidget* parent)
    : QWidget(parent), m_console(console), m_ch(ch) {
  setObjectName(QStringLiteral("id254"));
  DluPlacer at(this);
  at.Label(QStringLiteral("連続再生リストファイル"), 7, 7, 100);
  m_name = at.Put(new QLineEdit, 1290, 7, 17, 171, 12);
  at.Label(QStringLiteral("連続再生フォルダ"), 7, 34, 100);
  m_folder = at.Put(new QLineEdit, 1293, 7, 44, 171, 12);
  at.Label(QStringLiteral("連続再生リスト"), 7, 61, 100);
  m_list = at.Put(new QTreeWidget, 1316, 7, 71, 171, 83);
  m_name->setReadOnly(true);
  m_folder->setReadOnly(true);
  m_list->setHeaderLabels({QStringLiteral("file")});
  m_list->setColumnWidth(0, 300);
  m_list->setRootIsDecorated(false);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setItemDelegate(new MarkedRowDelegate(m_list));
  m_list->setStyleSheet(QStringLiteral("QTreeView::item { border-bottom: 1px solid #c0c0c0; }"));
  setFixedSize(at.Size(185, 161));

  connect(m_list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
    if (!m_ready) return;
    const int row = m_list->indexOfTopLevelItem(item);
    const ListPage& page = m_console.Page(m_ch);
    if (row < 0 || row >= static_cast<int>(page.items.size())) return;
    const bool checked = item->checkState(0) == Qt::Checked;
    if (checked == page.items[static_cast<size_t>(row)].checked) return;
    // The command may rebuild this list, which must not happen while the
    // item is still inside its own change signal; it goes after it returns.
    QMetaObject::invokeMethod(
        this, [this, row, checked] { m_console.Execute(cmd::ListCheck{m_ch, row, checked}); },
        Qt::QueuedConnection);
  });
}

void CBGMPlayPage::ShowPage() {
  const ListPage& page = m_console.Page(m_ch);
  m_name->setText(QString::fromStdString(page.name));
  m_folder->setText(QString::fromStdString(page.folder));
  m_name->setToolTip(m_name->text());
  m_folder->setToolTip(m_folder->text());
  m_ready = false;
  // The same list with a changed check keeps its rows, so the operator's
  // scroll position and selection stay where they were.
  if (m_list->topLevelItemCount() != static_cast<int>(page.items.size())) m_list->clear();
  for (size_t i = 0; i < page.items.size(); ++i) {
    const ListItem& item = page.items[i];
    QTreeWidgetItem* row = m_list->topLevelItem(static_cast<int>(i));
    if (!row) {
      row = new QTreeWidgetItem(m_list);
      row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    }
    row->setText(0, QString::fromStdString(item.text));
    row->setCheckState(0, item.checked ? Qt::Checked : Qt::Unchecked);
  }
  m_ready = true;
  ShowMarked();
}

void CBGMPlayPage::ShowMarked() {
  const ListPage& page = m_console.Page(m_ch);
  const bool ready = std::exchange(m_ready, false);
  for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = m_list->topLevelItem(i);
    row->setData(0, kMarkedRole, i == page.marked);
    // Checks changed elsewhere (a command) show here too.
    if (i < static_cast<int>(page.items.size()))
      row->setCheckState(0,
                         page.items[static_cast<size_t>(i)].checked ? Qt::Checked : Qt::Unchecked);
  }
  m_ready = ready;
  if (QTreeWidgetItem* marked = m_list->topLevelItem(page.marked)) m_list->scrollToItem(marked);
  m_list->viewport()->update();
}

CBGMPlayDlg::CBGMPlayDlg(CConsole& console, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("id253"));
  setWindowTitle(QStringLiteral("連続再生リスト"));
  setWindowFlag(Qt::Tool);
  setFont(DialogFont());
  DluPlacer at(this);
  m_tabs = at.Put(new QTabWidget, 1331, 5, 5, 197, 185);
  for (int ch = 1; ch <= 6; ++ch) {
    auto* page = new CBGMPlayPage(console, ch);
    m_pages[static_cast<size_t>(ch)] = page;
    m_tabs->addTab(page, QStringLiteral("CH%1").arg(ch));
    page->ShowPage();
  }
  m_tabs->setCurrentIndex(0);
  setFixedSize(at.Size(207, 195));
}

void CBGMPlayDlg::PageChanged(int ch) {
  if (ch >= 1 && ch <= 6) Page(ch)->ShowPage();
}

void CBGMPlayDlg::MarkedChanged(int ch) {
  if (ch >= 1 && ch <= 6) Page(ch)->ShowMarked();
}

void CBGMPlayDlg::RefreshSelected() {
  if (auto* page = static_cast<CBGMPlayPage*>(m_tabs->currentWidget())) page->ShowPage();
}

void CBGMPlayDlg::closeEvent(QCloseEvent* event) {
  hide();
  event->ignore();
  if (onClosed) onClosed();
}

void CBGMPlayDlg::reject() {
  hide();
  if (onClosed) onClosed();
}

}  // namespace orvex
