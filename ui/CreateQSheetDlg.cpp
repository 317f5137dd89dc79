#include "ui/CreateQSheetDlg.h"

#include <algorithm>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QStringList>
#include <QTableView>

#include "show/IniFile.h"
#include "show/Messages.h"
#include "show/TextNumbers.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"

namespace orvex {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

constexpr const char* kHeaders[CueSheetEditModel::kColumns] = {
    "Q",        "CH",   "タイトル", "ファイル/コマンド", "PRE", "F.I", "F.O", "タイミング",
    "ディレー", "出力", "説明"};
constexpr bool kCentred[CueSheetEditModel::kColumns] = {false, true, false, false, true, true,
                                                        true,  true, true,  false, false};
constexpr const char* kLayoutSection = "CueSheetEditor";

// Dialog-unit layout: the list takes whatever the dialog's size leaves.
constexpr int kWidth = 440, kHeight = 262;
constexpr int kListTop = 44, kBottomBand = 24;

}  // namespace

int CueSheetEditModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_edit.Count();
}

int CueSheetEditModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant CueSheetEditModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_edit.Count()) return {};
  const WorkingRecord& r = m_edit.At(index.row());
  const RecordValues& v = r.values;
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case 0:
          return Q(FormatG(v.qNumber));
        case 1:
          return Q(ChannelText(r.channel));
        case 2:
          return Q(v.title);
        case 3:
          return Q(v.fileOrCommand);
        case 4:
          return Q(FormatG(v.preLevel));
        case 5:
          return Q(FormatG(v.fadeIn));
        case 6:
          return Q(FormatG(v.fadeOut));
        case 7:
          return Q(TimingText(v.timing));
        case 8:
          return QString::number(v.delay);
        case 9:
          return Q(OutputNotation(v.outputFlags, v.outputSpecified));
        case 10:
          return Q(v.description);
        default:
          return {};
      }
    case Qt::TextAlignmentRole:
      return int(Qt::AlignVCenter | (kCentred[index.column()] ? Qt::AlignHCenter : Qt::AlignLeft));
    case Qt::BackgroundRole:
      return v.inSequence ? QColor(Qt::white) : QColor(100, 100, 100);
    case Qt::ForegroundRole:
      // White on the grey of records outside the sequence, to stay readable.
      return v.inSequence ? QColor(Qt::black) : QColor(Qt::white);
    default:
      return {};
  }
}

QVariant CueSheetEditModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf8(kHeaders[section]);
  if (role == Qt::TextAlignmentRole) {
    return int(Qt::AlignVCenter | (kCentred[section] ? Qt::AlignHCenter : Qt::AlignLeft));
  }
  return {};
}

void CueSheetEditModel::Reload() {
  beginResetModel();
  endResetModel();
}

CCreateQSheetDlg::CCreateQSheetDlg(CueSheetEdit& edit, QWidget* parent)
    : QDialog(parent), m_edit(edit) {
  setObjectName(QStringLiteral("id243"));
  setWindowTitle(QStringLiteral("Ｑシート編集"));
  setFont(DialogFont());
  setSizeGripEnabled(true);
  DluPlacer at(this);

  at.Label(QStringLiteral("ファイルフォルダ"), 7, 9, 66);
  m_folder = at.Put(new QLineEdit(Q(m_edit.Folder())), 1138, 76, 7, 100, 12);
  // A dropped file becomes a cue, never text in the box.
  m_folder->setAcceptDrops(false);
  m_browse = at.Put(new QPushButton(QStringLiteral("参照")), 1136, 0, 6, 40, 14);
  m_byQ = at.Put(new QPushButton(QStringLiteral("Q番号でソート")), 1130, 7, 25, 70, 14);
  m_byChannel = at.Put(new QPushButton(QStringLiteral("CHでソート")), 1133, 80, 25, 70, 14);
  m_renumber = at.Put(new QPushButton(QStringLiteral("Q番号の整数化")), 1172, 160, 25, 70, 14);
  m_byQ->setCheckable(true);
  m_byChannel->setCheckable(true);
  m_byQ->setChecked(m_edit.GetSortMode() == CueSheetEdit::kByQ);
  m_byChannel->setChecked(m_edit.GetSortMode() == CueSheetEdit::kByChannel);

  m_model = new CueSheetEditModel(m_edit, this);
  m_list = at.Put(new QTableView, 1127, 7, kListTop, 100, 100);
  m_list->setModel(m_model);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setShowGrid(true);
  m_list->setSortingEnabled(false);
  m_list->setWordWrap(false);
  m_list->verticalHeader()->hide();
  m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 4);
  m_list->horizontalHeader()->setSectionsClickable(false);
  m_list->horizontalHeader()->setHighlightSections(false);
  m_list->horizontalHeader()->setStretchLastSection(false);
  for (int c = 0; c < CueSheetEditModel::kColumns; ++c) m_list->setColumnWidth(c, kColumnWidths[c]);
  QPalette palette = m_list->palette();
  palette.setColor(QPalette::HighlightedText, Qt::white);
  m_list->setPalette(palette);
  m_list->installEventFilter(this);
  m_list->viewport()->installEventFilter(this);

  m_add = at.Put(new QPushButton(QStringLiteral("追加")), 1140, 7, 0, 50, 14);
  m_insert = at.Put(new QPushButton(QStringLiteral("挿入")), 1142, 60, 0, 50, 14);
  m_change = at.Put(new QPushButton(QStringLiteral("変更")), 1144, 113, 0, 50, 14);
  m_delete = at.Put(new QPushButton(QStringLiteral("削除")), 1181, 166, 0, 50, 14);
  m_ok = at.Put(new QPushButton(QStringLiteral("OK")), 1, 0, 0, 50, 14);
  m_cancel = at.Put(new QPushButton(QStringLiteral("キャンセル")), 2, 0, 0, 50, 14);
  for (QPushButton* b : {m_browse, m_byQ, m_byChannel, m_renumber, m_add, m_insert, m_change,
                         m_delete, m_ok, m_cancel}) {
    b->setAutoDefault(false);
  }
  m_ok->setDefault(true);

  setMinimumSize(at.Size(300, 150));
  resize(at.Size(kWidth, kHeight));
  setAcceptDrops(true);

  connect(m_folder, &QLineEdit::textChanged, this, [this] { ShowFolder(); });
  connect(m_browse, &QPushButton::clicked, this, &CCreateQSheetDlg::OnChooseFolder);
  connect(m_byQ, &QPushButton::clicked, this, [this] { OnSortMode(CueSheetEdit::kByQ); });
  connect(m_byChannel, &QPushButton::clicked, this,
          [this] { OnSortMode(CueSheetEdit::kByChannel); });
  connect(m_renumber, &QPushButton::clicked, this, &CCreateQSheetDlg::OnRenumber);
  connect(m_add, &QPushButton::clicked, this, &CCreateQSheetDlg::OnAdd);
  connect(m_insert, &QPushButton::clicked, this, &CCreateQSheetDlg::OnInsert);
  connect(m_change, &QPushButton::clicked, this, &CCreateQSheetDlg::OnChange);
  connect(m_delete, &QPushButton::clicked, this, &CCreateQSheetDlg::OnDelete);
  connect(m_ok, &QPushButton::clicked, this, &CCreateQSheetDlg::accept);
  connect(m_cancel, &QPushButton::clicked, this, &CCreateQSheetDlg::reject);

  editRecord = [this](const RecordFields& fields, CRecordDlg::Use use) {
    CRecordDlg dialog(fields, use, this);
    return dialog.exec() == QDialog::Accepted ? std::optional<RecordFields>(dialog.Fields())
                                              : std::nullopt;
  };
  chooseFolder = [this](const QString& current) {
    QFileDialog dialog(this, QStringLiteral("フォルダを選択してください。"), current);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
  };

  m_edit.Sort();
  FillList(-1);
  ShowFolder();
  Relayout();
  m_list->setFocus();
}

void CCreateQSheetDlg::Relayout() {
  const QFont& f = font();
  const int w = width(), h = height();
  const int margin = DluToPixelsX(f, 7);
  const int button = DluToPixelsX(f, 50);
  const int gap = DluToPixelsX(f, 4);
  const QRect folder = m_folder->geometry();
  const int browseWidth = DluToPixelsX(f, 40);
  m_browse->move(w - margin - browseWidth, m_browse->y());
  m_folder->setGeometry(folder.x(), folder.y(),
                        std::max(10, w - margin - browseWidth - gap - folder.x()), folder.height());
  const int listTop = DluToPixelsY(f, kListTop);
  const int bottom = DluToPixelsY(f, kBottomBand);
  m_list->setGeometry(margin, listTop, std::max(10, w - 2 * margin),
                      std::max(10, h - listTop - bottom));
  const int y = h - bottom + DluToPixelsY(f, 5);
  for (QPushButton* b : {m_add, m_insert, m_change, m_delete}) b->move(b->x(), y);
  m_cancel->move(w - margin - button, y);
  m_ok->move(w - margin - 2 * button - gap, y);
}

void CCreateQSheetDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Relayout();
}

void CCreateQSheetDlg::ShowFolder() {
  m_folder->setToolTip(m_folder->text().left(1023));
}

int CCreateQSheetDlg::SelectedRow() const {
  const QModelIndexList rows = m_list->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void CCreateQSheetDlg::SelectRow(int row) {
  if (row < 0 || row >= m_edit.Count()) {
    m_list->clearSelection();
    return;
  }
  const QModelIndex index = m_model->index(row, 0);
  m_list->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  m_list->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void CCreateQSheetDlg::FillList(int select) {
  QScrollBar* bar = m_list->verticalScrollBar();
  const int top = bar->value();
  m_model->Reload();
  bar->setValue(top);
  SelectRow(select);
}

void CCreateQSheetDlg::OnAdd() {
  RecordFields fields = m_edit.ProposeAdd();
  fields.folder = m_folder->text().toStdString();
  if (auto accepted = editRecord(fields, CRecordDlg::Use::kAdd)) {
    FillList(m_edit.Append(*accepted));
  }
}

void CCreateQSheetDlg::OnInsert() {
  const int selected = SelectedRow();
  if (selected < 0) {
    OnAdd();
    return;
  }
  RecordFields fields = m_edit.ProposeInsert(selected);
  fields.folder = m_folder->text().toStdString();
  if (auto accepted = editRecord(fields, CRecordDlg::Use::kAdd)) {
    FillList(m_edit.Append(*accepted));
  }
}

void CCreateQSheetDlg::OnChange() {
  const int selected = SelectedRow();
  if (selected < 0 || m_edit.Count() == 0) return;
  RecordFields fields = m_edit.FieldsOf(selected);
  fields.folder = m_folder->text().toStdString();
  if (auto accepted = editRecord(fields, CRecordDlg::Use::kChange)) {
    FillList(m_edit.Change(selected, *accepted));
  }
}

void CCreateQSheetDlg::OnDelete() {
  const int selected = SelectedRow();
  if (selected < 0) return;
  m_edit.Delete(selected);
  FillList(std::min(selected, m_edit.Count() - 1));
}

void CCreateQSheetDlg::OnRenumber() {
  const int selected = SelectedRow();
  m_edit.Renumber();
  FillList(selected);
}

void CCreateQSheetDlg::OnSortMode(int mode) {
  const bool changed = m_edit.SetSortMode(mode);
  // Exactly the pressed button stays down, also when it already was.
  m_byQ->setChecked(m_edit.GetSortMode() == CueSheetEdit::kByQ);
  m_byChannel->setChecked(m_edit.GetSortMode() == CueSheetEdit::kByChannel);
  if (!changed) return;
  m_model->Reload();
  m_list->scrollToTop();
}

void CCreateQSheetDlg::OnChooseFolder() {
  const QString current = m_folder->text();
  const QString chosen = chooseFolder(QString(current).replace(u'\\', u'/'));
  if (chosen.isEmpty()) return;
  m_folder->setText(QDir::toNativeSeparators(chosen));
  m_edit.SetFolder(m_folder->text().toStdString());
}

void CCreateQSheetDlg::DropFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  std::vector<std::string> files;
  files.reserve(static_cast<size_t>(paths.size()));
  for (const QString& path : paths) files.push_back(QDir::toNativeSeparators(path).toStdString());
  // Dropped files are placed against the folder as typed now.
  m_edit.SetFolder(m_folder->text().toStdString());
  m_edit.Drop(files);
  FillList(SelectedRow());
  m_folder->setText(Q(m_edit.Folder()));
}

void CCreateQSheetDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CCreateQSheetDlg::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  event->acceptProposedAction();
  DropFiles(paths);
}

bool CCreateQSheetDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_list && event->type() == QEvent::KeyPress) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        OnChange();
        return true;
      case Qt::Key_Insert:
        OnInsert();
        return true;
      case Qt::Key_Delete:
        OnDelete();
        return true;
      default:
        break;
    }
  }
  if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    const QModelIndex hit = m_list->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    if (hit.isValid()) {
      SelectRow(hit.row());
      OnChange();
    } else if (m_edit.Count() > 0) {
      OnAdd();
    }
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CCreateQSheetDlg::accept() {
  if (auto duplicate = m_edit.DuplicateMessage()) {
    ConfirmYesNo(*duplicate);
    return;
  }
  m_edit.SetFolder(m_folder->text().toStdString());
  m_edit.TrimFolder();
  QDialog::accept();
}

void CCreateQSheetDlg::RestoreLayout(const IniFile& store) {
  const auto w = store.GetInt(kLayoutSection, "Width");
  const auto h = store.GetInt(kLayoutSection, "Height");
  if (w && h && *w > 0 && *h > 0)
    resize(std::max(*w, minimumWidth()), std::max(*h, minimumHeight()));
  if (const auto widths = store.GetString(kLayoutSection, "Columns")) {
    const QStringList parts = Q(*widths).split(u',');
    for (int c = 0; c < parts.size() && c < CueSheetEditModel::kColumns; ++c) {
      bool ok = false;
      const int width = parts[c].toInt(&ok);
      if (ok && width > 0 && width < 4000) m_list->setColumnWidth(c, width);
    }
  }
}

void CCreateQSheetDlg::SaveLayout(IniFile& store) const {
  store.SetInt(kLayoutSection, "Width", width());
  store.SetInt(kLayoutSection, "Height", height());
  QStringList widths;
  for (int c = 0; c < CueSheetEditModel::kColumns; ++c)
    widths << QString::number(m_list->columnWidth(c));
  store.SetString(kLayoutSection, "Columns", widths.join(u',').toStdString());
}

}  // namespace orvex
