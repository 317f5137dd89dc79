// The cue sheet editor "Ｑシート編集": every record of the show in one list,
// the sound folder, and the buttons that add, insert, change, delete, sort
// and renumber records. It edits copies; the caller puts the result in place
// of the cue store after OK.
#pragma once

#include <functional>
#include <optional>

#include <QAbstractTableModel>
#include <QDialog>

#include "session/CueSheetEdit.h"
#include "ui/RecordDlg.h"

class QLineEdit;
class QPushButton;
class QTableView;

namespace orvex {

class IniFile;

// The working list as the editor's table shows it.
class CueSheetEditModel : public QAbstractTableModel {
 public:
  static constexpr int kColumns = 11;
  explicit CueSheetEditModel(const CueSheetEdit& edit, QObject* parent = nullptr)
      : QAbstractTableModel(parent), m_edit(edit) {}
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // The list was changed underneath: every row is read afresh.
  void Reload();

 private:
  const CueSheetEdit& m_edit;
};

class CCreateQSheetDlg : public QDialog {
 public:
  // Column widths as the list starts with them.
  static constexpr int kColumnWidths[CueSheetEditModel::kColumns] = {30, 35, 100, 150, 40, 40,
                                                                     40, 70, 70,  70,  300};

  // edit: the working list to show and change, with its folder and sort mode.
  explicit CCreateQSheetDlg(CueSheetEdit& edit, QWidget* parent = nullptr);

  // The record editor: the accepted fields, nothing when cancelled.
  std::function<std::optional<RecordFields>(const RecordFields&, CRecordDlg::Use)> editRecord;
  // The folder chooser: the chosen folder, empty for cancel.
  std::function<QString(const QString& current)> chooseFolder;

  // Size and column widths between runs.
  void RestoreLayout(const IniFile& store);
  void SaveLayout(IniFile& store) const;

  QTableView* List() const { return m_list; }
  // The selected row, -1 when none.
  int SelectedRow() const;
  void SelectRow(int row);

  void OnAdd();
  void OnInsert();
  void OnChange();
  void OnDelete();
  void OnRenumber();
  void OnSortMode(int mode);
  void OnChooseFolder();
  void DropFiles(const QStringList& paths);
  void accept() override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // The list sorted and shown again, the scroll position kept, the row
  // `select` selected when it is one.
  void FillList(int select);
  void Relayout();
  void ShowFolder();

  CueSheetEdit& m_edit;
  CueSheetEditModel* m_model = nullptr;
  QLineEdit* m_folder = nullptr;
  QTableView* m_list = nullptr;
  QPushButton* m_byQ = nullptr;
  QPushButton* m_byChannel = nullptr;
  QPushButton* m_browse = nullptr;
  QPushButton* m_renumber = nullptr;
  QPushButton* m_add = nullptr;
  QPushButton* m_insert = nullptr;
  QPushButton* m_change = nullptr;
  QPushButton* m_delete = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace orvex
