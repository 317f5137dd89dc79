#include "ui/ListDlgBar.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

namespace orvex {
namespace {

constexpr int kWidths[CListDlgBar::kColumns] = {30, 35, 140, 120, 200, 40, 40, 40, 70, 80, 80};

int RowHeightFor(const QFont& font) {
  return QFontMetrics(font).height() + 4;
}

}  // namespace

CListDlgBar::ColumnOrder CListDlgBar::OrderFromStored(
    const std::optional<std::vector<uint8_t>>& stored) {
  ColumnOrder order{};
  order.fill(0);
  if (!stored) {
    order[0] = -1;
    return order;
  }
  const std::vector<uint8_t>& bytes = *stored;
  const size_t count = bytes.size() / 4;
  // Fewer than eight entries is no order at all.
  if (bytes.size() % 4 != 0 || count < 8) {
    order[0] = -1;
    return order;
  }
  auto entry = [&bytes](size_t i) {
    uint32_t v = 0;
    for (int b = 3; b >= 0; --b) v = v << 8 | bytes[i * 4 + static_cast<size_t>(b)];
    return static_cast<int32_t>(v);
  };
  for (size_t k = 0; k < 8; ++k) order[k] = entry(k);
  if (count == 11) {
    order[8] = entry(8);
    order[9] = entry(9);
    order[10] = entry(10);
  } else if (count == 10) {
    order[8] = entry(8);
    order[9] = entry(9);
    order[10] = 10;
  } else if (count == 9) {
    // Older layouts had no timing column: it comes in before the last one.
    order[9] = entry(8);
    order[8] = 9;
    order[10] = 10;
  } else {
    order[8] = 8;
    order[9] = 9;
    order[10] = 10;
  }
  return order;
}

CListDlgBar::ColumnOrder CListDlgBar::UsableOrder(const ColumnOrder& loaded) {
  std::array<bool, kColumns> seen{};
  for (int column : loaded) {
    if (column < 0 || column >= kColumns || seen[static_cast<size_t>(column)]) return kDefaultOrder;
    seen[static_cast<size_t>(column)] = true;
  }
  return loaded;
}

CListDlgBar::CListDlgBar(const std::optional<std::vector<uint8_t>>& storedOrder, QWidget* parent)
    : QWidget(parent) {
  setAcceptDrops(true);
  m_list = new QTableView(this);
  m_list->setObjectName(QStringLiteral("id1330"));
  m_list->setModel(&m_model);
  m_list->setShowGrid(true);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setWordWrap(false);
  m_list->setAcceptDrops(false);
  m_list->viewport()->setAcceptDrops(false);
  m_list->verticalHeader()->hide();
  // Fixed row heights keep a long show cheap: nothing measures the rows.
  m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_list->verticalHeader()->setDefaultSectionSize(RowHeightFor(m_list->font()));
  m_list->horizontalHeader()->setSectionsMovable(true);
  m_list->horizontalHeader()->setHighlightSections(false);
  m_list->horizontalHeader()->setStretchLastSection(false);
  for (int c = 0; c < kColumns; ++c) m_list->setColumnWidth(c, kWidths[c]);
  m_list->resize(400, 200);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_list);

  ApplyOrder(UsableOrder(OrderFromStored(storedOrder)));

  m_menu = new QMenu(QStringLiteral("Ｑリストメニュー"), this);
  m_menu->setObjectName(QStringLiteral("id282"));
  struct Item {
    int id;
    const char* caption;
    const char* prompt;
  };
  const Item items[] = {{kSetNext, "次のＱに設定", "次のQに設定"},
                        {kOutOfSequence, "Ｑシーケンスからはずす", "Qシーケンスからはずします"},
                        {kIntoSequence, "Ｑシーケンスに入れる", "Qシーケンスにいれます"},
                        {0, nullptr, nullptr},
                        {kEditRecord, "レコード修正", ""}};
  for (const Item& item : items) {
    if (!item.caption) {
      m_menu->addSeparator();
      continue;
    }
    QAction* action = m_menu->addAction(QString::fromUtf8(item.caption));
    action->setObjectName(QStringLiteral("id%1").arg(item.id));
    action->setStatusTip(QString::fromUtf8(item.prompt));
    const int id = item.id;
    connect(action, &QAction::triggered, this, [this, id] { emit ContextCommand(id); });
  }

  m_list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_list, &QWidget::customContextMenuRequested, this, &CListDlgBar::OnRightClick);
  connect(m_list, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    const CueRowCopy* row = Copy(index.row());
    if (!row) return;
    m_doubleClicked = row->qNumber;
    emit CallUpRequested();
  });
}

CListDlgBar::~CListDlgBar() {
  if (m_orderSaver) m_orderSaver(StoredOrder());
}

void CListDlgBar::ApplyOrder(const ColumnOrder& order) {
  QHeaderView* header = m_list->horizontalHeader();
  for (int k = 0; k < kColumns; ++k) header->moveSection(header->visualIndex(order[k]), k);
}

CListDlgBar::ColumnOrder CListDlgBar::CurrentOrder() const {
  ColumnOrder order{};
  const QHeaderView* header = m_list->horizontalHeader();
  for (int k = 0; k < kColumns; ++k) order[static_cast<size_t>(k)] = header->logicalIndex(k);
  return order;
}

std::vector<uint8_t> CListDlgBar::StoredOrder() const {
  std::vector<uint8_t> bytes;
  for (int column : CurrentOrder()) {
    const uint32_t v = static_cast<uint32_t>(column);
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<uint8_t>(v >> (8 * b)));
  }
  return bytes;
}

void CListDlgBar::ClearRows() {
  m_model.Pending().clear();
}

void CListDlgBar::AddRowCopy(const CRecord& r, int channel, int position, bool inSequence) {
  CueRowCopy c;
  c.qNumber = r.qNumber;
  c.title = r.title;
  c.fileOrCommand = r.fileOrCommand;
  c.description = r.description;
  c.preLevel = r.preLevel;
  c.fadeIn = r.fadeIn;
  c.fadeOut = r.fadeOut;
  c.delay = r.delay;
  c.timing = r.timing;
  c.outputSpecified = r.outputSpecified;
  c.outputFlags = r.outputFlags;
  c.inSequence = inSequence;
  c.channel = channel;
  c.position = position;
  m_model.Pending().push_back(std::move(c));
}

void CListDlgBar::SortRows() {
  CCueListModel::SortRows(m_model.Pending());
}

void CListDlgBar::FillRows() {
  m_model.Publish();
}

const CueRowCopy* CListDlgBar::Copy(int row) const {
  const auto& rows = m_model.Rows();
  if (row < 0 || row >= static_cast<int>(rows.size())) return nullptr;
  return &rows[static_cast<size_t>(row)];
}

int CListDlgBar::FirstSelectedRow() const {
  const QModelIndexList rows = m_list->selectionModel()->selectedRows();
  int first = -1;
  for (const QModelIndex& index : rows)
    if (first < 0 || index.row() < first) first = index.row();
  return first;
}

int CListDlgBar::RowsPerPage() const {
  const int height = m_list->verticalHeader()->defaultSectionSize();
  return height > 0 ? std::max(m_list->viewport()->height() / height, 1) : 1;
}

void CListDlgBar::SetCurrentCue(double q) {
  m_model.SetMarks(q, m_model.Next());
}

void CListDlgBar::SetNextCue(double q) {
  m_model.SetMarks(m_model.Current(), q);
}

void CListDlgBar::ShowCuePosition(double current, double next) {
  const auto& rows = m_model.Rows();
  const int count = static_cast<int>(rows.size());
  if (count == 0) return;
  int nextRow = 0;
  int currentRow = -1;
  for (int i = 0; i < count; ++i) {
    const double q = rows[static_cast<size_t>(i)].qNumber;
    if (q == next) nextRow = i;
    if (currentRow < 0 && q == current) currentRow = i;
  }
  const int a = (currentRow < 0 ? 0 : currentRow) - m_backDisplay - 1;
  int target = nextRow;
  if (m_cursorFix && a >= 0) target = std::min(a + RowsPerPage(), count - 1);
  m_list->scrollTo(m_model.index(target, 0), QAbstractItemView::EnsureVisible);
}

int CListDlgBar::SetListFontSize(int size) {
  const int pixels = QFontInfo(m_list->font()).pixelSize();
  if (size < 0) return 10 * pixels;
  if (size == 0) return -pixels;
  QFont font = m_list->font();
  font.setPointSizeF(size / 10.0);
  m_list->setFont(font);
  m_list->verticalHeader()->setDefaultSectionSize(RowHeightFor(font));
  return size;
}

void CListDlgBar::OnRightClick(const QPoint& pos) {
  // The row under the pointer becomes the selection, as a right click on a
  // list does, unless it is already part of it.
  const QModelIndex index = m_list->indexAt(pos);
  if (index.isValid() && !m_list->selectionModel()->isRowSelected(index.row(), {})) {
    m_list->selectionModel()->select(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  }
  m_menu->popup(m_list->viewport()->mapToGlobal(pos));
}

void CListDlgBar::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CListDlgBar::dropEvent(QDropEvent* event) {
  QStringList files;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  if (m_dropHandler) m_dropHandler(files);
}

}  // namespace orvex
