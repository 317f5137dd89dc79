// The "Ｑシート" pane: every cue of the show in one list, ordered by cue number
// then channel, the current cue red, the next one yellow, records outside the
// Q sequence grey. The console view fills it and follows the show with it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QStringList>
#include <QWidget>

#include "ui/CueListModel.h"

class QMenu;
class QTableView;

namespace orvex {

class CListDlgBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kColumns = CCueListModel::kColumns;
  using ColumnOrder = std::array<int, kColumns>;
  static constexpr ColumnOrder kDefaultOrder = {0, 1, 2, 6, 7, 3, 4, 5, 8, 9, 10};

  // Commands the pane sends to the console view.
  static constexpr int kCallUp = 247;
  static constexpr int kDropFiles = 32806;
  static constexpr int kSetNext = 32801;
  static constexpr int kOutOfSequence = 32803;
  static constexpr int kIntoSequence = 32805;
  static constexpr int kEditRecord = 32818;

  // storedOrder: the "FACE"/"QLIST_ORDER" value, absent when not stored.
  explicit CListDlgBar(const std::optional<std::vector<uint8_t>>& storedOrder = std::nullopt,
                       QWidget* parent = nullptr);
  ~CListDlgBar() override;

  // The column order a stored value gives; entry 0 is -1 when there is none.
  static ColumnOrder OrderFromStored(const std::optional<std::vector<uint8_t>>& stored);
  // The order columns are shown in: a loaded order that is not a full
  // arrangement of the eleven columns gives the default.
  static ColumnOrder UsableOrder(const ColumnOrder& loaded);
  // Left to right, as the operator has arranged the headers.
  ColumnOrder CurrentOrder() const;
  // CurrentOrder as the 44 bytes "QLIST_ORDER" holds.
  std::vector<uint8_t> StoredOrder() const;
  // Called with StoredOrder() when the pane closes.
  void SetOrderSaver(std::function<void(const std::vector<uint8_t>&)> saver) {
    m_orderSaver = std::move(saver);
  }

  void ClearRows();
  void AddRowCopy(const CRecord& record, int channel, int position, bool inSequence);
  void SortRows();
  void FillRows();
  void ShowCuePosition(double current, double next);
  // Tenths of a point; see the settings "QLIST_FONT_SIZE". Returns the
  // effective size.
  int SetListFontSize(int size);

  void SetCurrentCue(double q);
  void SetNextCue(double q);
  void SetMarks(double current, double next) { m_model.SetMarks(current, next); }
  double CurrentCue() const { return m_model.Current(); }
  double NextCue() const { return m_model.Next(); }
  void SetBackDisplay(int rows) { m_backDisplay = rows; }
  void SetCursorFix(bool on) { m_cursorFix = on; }
  int BackDisplay() const { return m_backDisplay; }
  bool CursorFix() const { return m_cursorFix; }

  int RowCount() const { return static_cast<int>(m_model.Rows().size()); }
  const CueRowCopy* Copy(int row) const;
  void SetCopyInSequence(int row, bool inSequence) { m_model.SetInSequence(row, inSequence); }
  // The first selected row, -1 when none.
  int FirstSelectedRow() const;
  double DoubleClickedCue() const { return m_doubleClicked; }
  // Number of rows that fit the visible page wholly.
  int RowsPerPage() const;

  // Files dropped on the pane go to the console's drop handling.
  void SetDropHandler(std::function<void(const QStringList&)> handler) {
    m_dropHandler = std::move(handler);
  }

  QTableView* List() const { return m_list; }
  QMenu* ContextMenu() const { return m_menu; }
  CCueListModel& Model() { return m_model; }

 signals:
  // Command 247: call up DoubleClickedCue().
  void CallUpRequested();
  // 32801, 32803, 32805, 32818 from the context menu.
  void ContextCommand(int id);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ApplyOrder(const ColumnOrder& order);
  void OnRightClick(const QPoint& pos);

  CCueListModel m_model;
  QTableView* m_list = nullptr;
  QMenu* m_menu = nullptr;
  int m_backDisplay = 0;
  bool m_cursorFix = false;
  double m_doubleClicked = 0;
  std::function<void(const QStringList&)> m_dropHandler;
  std::function<void(const std::vector<uint8_t>&)> m_orderSaver;
};

}  // namespace orvex
