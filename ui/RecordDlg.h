// The record editor "データレコード": one cue record as texts and toggles,
// checked and normalised by OK before the caller takes it back.
#pragma once

#include <array>
#include <functional>

#include <QDialog>
#include <QString>

#include "session/RecordEdit.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace orvex {

class CRecordDlg : public QDialog {
 public:
  // Where the editor is opened from, which decides what OK checks of the
  // channel: Add and Insert take "BGM" as CH6, Change takes only a channel,
  // the cue list keeps the record's channel (and shows it disabled).
  enum class Use { kAdd, kChange, kCueList };

  CRecordDlg(RecordFields fields, Use use, QWidget* parent = nullptr);

  // The fields as OK left them.
  const RecordFields& Fields() const { return m_fields; }

  // Browse's file dialog: the chosen native path, empty for cancel.
  std::function<QString(const QString& proposed, bool listFile)> chooseFile;

  void accept() override;

 private:
  void ReadControls();
  void SetCommandList(const std::vector<std::string>& words);
  void OnChannelChosen(int index);
  void UpdateOutputs();
  void Browse();
  QString RunFileDialog(const QString& proposed, bool listFile);

  RecordFields m_fields;
  Use m_use;
  QLineEdit* m_q = nullptr;
  QLineEdit* m_title = nullptr;
  QComboBox* m_file = nullptr;
  QPushButton* m_browse = nullptr;
  QLineEdit* m_pre = nullptr;
  QLineEdit* m_fadeIn = nullptr;
  QLineEdit* m_fadeOut = nullptr;
  QLineEdit* m_timing = nullptr;
  QLineEdit* m_delay = nullptr;
  QLineEdit* m_description = nullptr;
  QComboBox* m_channel = nullptr;
  QCheckBox* m_inSequence = nullptr;
  QCheckBox* m_specified = nullptr;
  std::array<QPushButton*, 6> m_outputs{};
};

}  // namespace orvex
