#include "ui/CueListModel.h"

#include <algorithm>
#include <cstdio>

#include <QBrush>
#include <QColor>

#include "show/TextNumbers.h"

namespace orvex {
namespace {

const char* const kHeadings[CCueListModel::kColumns] = {
    "Q",   "CH",  "タイトル", "ファイル/コマンド", "説明", "PRE",
    "F.I", "F.O", "ディレー", "タイミング",        "出力"};

bool Centred(int column) {
  return column <= 1 || (column >= 5 && column <= 8);
}

}  // namespace

std::string FormatTiming(int32_t timing) {
  const uint32_t t = static_cast<uint32_t>(timing);
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u.%1u", t / 3600000, t / 60000 % 60, t / 1000 % 60,
                t % 1000 / 100);
  return text;
}

std::string CCueListModel::CellText(const CueRowCopy& r, int column) {
  switch (column) {
    case 0:
      return FormatG(r.qNumber);
    case 1:
      return r.channel == 7 ? "G1" : r.channel == 8 ? "G2" : std::to_string(r.channel);
    case 2:
      return r.title;
    case 3:
      return r.fileOrCommand;
    case 4:
      return r.description;
    case 5:
      return FormatG(r.preLevel);
    case 6:
      return FormatG(r.fadeIn);
    case 7:
      return FormatG(r.fadeOut);
    case 8:
      return std::to_string(r.delay);
    case 9:
      return FormatTiming(r.timing);
    case 10:
      return OutputNotation(r.outputFlags, r.outputSpecified);
    default:
      return {};
  }
}

int CCueListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CCueListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant CCueListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())) return {};
  const CueRowCopy& r = m_rows[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(CellText(r, index.column()));
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(
          Centred(index.column()) ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter));
    case Qt::BackgroundRole:
      if (!r.inSequence) return QBrush(QColor::fromRgb(kGrey));
      if (r.qNumber == m_current) return QBrush(QColor::fromRgb(kRed));
      if (r.qNumber == m_next) return QBrush(QColor::fromRgb(kYellow));
      return QBrush(Qt::white);
    case Qt::ForegroundRole:
      return QBrush(Qt::black);
    default:
      return {};
  }
}

QVariant CCueListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf8(kHeadings[section]);
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(Centred(section) ? Qt::AlignCenter : Qt::AlignLeft));
  return {};
}

void CCueListModel::SortRows(std::vector<CueRowCopy>& rows) {
  // The same order as inserting each copy before the first placed one that
  // is greater, without its quadratic cost on a long show.
  std::stable_sort(rows.begin(), rows.end(), [](const CueRowCopy& a, const CueRowCopy& b) {
    if (a.qNumber != b.qNumber) return a.qNumber < b.qNumber;
    return a.channel < b.channel;
  });
}

void CCueListModel::Publish() {
  SortRows(m_pending);
  beginResetModel();
  m_rows.swap(m_pending);
  m_pending.clear();
  endResetModel();
}

void CCueListModel::SetInSequence(int row, bool inSequence) {
  if (row < 0 || row >= static_cast<int>(m_rows.size())) return;
  m_rows[static_cast<size_t>(row)].inSequence = inSequence;
  emit dataChanged(index(row, 0), index(row, kColumns - 1), {Qt::BackgroundRole});
}

void CCueListModel::SetMarks(double current, double next) {
  m_current = current;
  m_next = next;
  if (!m_rows.empty())
    emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1), {Qt::BackgroundRole});
}

}  // namespace orvex
