// The rows of the cue list: copies of the cue records, taken when the list is
// rebuilt, shown through a table model so that only the visible cells are
// ever formatted, however long the show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QRgb>

#include "show/Record.h"

namespace orvex {

// A cue record as the list shows it, with where it sits in the cue store.
struct CueRowCopy {
  double qNumber = 0;
  std::string title;
  std::string fileOrCommand;
  std::string description;
  double preLevel = 0;
  double fadeIn = 0;
  double fadeOut = 0;
  int32_t delay = 0;
  int32_t timing = 0;
  bool outputSpecified = false;
  int32_t outputFlags = 0;
  bool inSequence = true;
  int channel = 0;   // 1..6 CH1..CH6, 7 G1, 8 G2
  int position = 0;  // 1-based within the channel's records
};

// "hh:mm:ss.t" of an auto-run timing in milliseconds (taken unsigned).
std::string FormatTiming(int32_t timing);

class CCueListModel : public QAbstractTableModel {
 public:
  static constexpr int kColumns = 11;
  static constexpr QRgb kGrey = 0xFF646464;  // 100,100,100
  static constexpr QRgb kRed = 0xFFFF0000;
  static constexpr QRgb kYellow = 0xFFFFFF00;

  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The copies being built; Publish shows them.
  std::vector<CueRowCopy>& Pending() { return m_pending; }
  // Ascending by cue number, then by channel; equal ones keep their order.
  static void SortRows(std::vector<CueRowCopy>& rows);
  // Replaces the shown rows by the pending copies.
  void Publish();

  const std::vector<CueRowCopy>& Rows() const { return m_rows; }
  void SetInSequence(int row, bool inSequence);
  void SetMarks(double current, double next);
  double Current() const { return m_current; }
  double Next() const { return m_next; }

  // The text of one cell, as the list shows it.
  static std::string CellText(const CueRowCopy& row, int column);

 private:
  std::vector<CueRowCopy> m_pending;
  std::vector<CueRowCopy> m_rows;
  double m_current = 0;
  double m_next = 0;
};

}  // namespace orvex
