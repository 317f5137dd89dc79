// "動作設定" (read buffers, fader knee, auto-next, read blocking during
// fades, wheel speed) and "オプション" (the cue list's font size, cursor
// limit and back display). Both fill from the settings and hand back
// values only once every entry passed.
#pragma once

#include <array>
#include <optional>

#include <QDialog>

#include "session/OptionEdit.h"

class QCheckBox;
class QLineEdit;

namespace orvex {

class OptionDlg : public QDialog {
 public:
  explicit OptionDlg(const Settings& settings, QWidget* parent = nullptr);
  // What OK accepted; nothing before that.
  const std::optional<OperationValues>& Values() const { return m_values; }
  void accept() override;

 private:
  OperationFields Read() const;

  QCheckBox* m_block = nullptr;
  QCheckBox* m_autoNext = nullptr;
  std::array<QLineEdit*, 6> m_first{};
  std::array<QLineEdit*, 6> m_second{};
  QLineEdit* m_kneePoint = nullptr;
  QLineEdit* m_kneeLevel = nullptr;
  QLineEdit* m_wheel = nullptr;
  std::optional<OperationValues> m_values;
};

class CDispOption : public QDialog {
 public:
  explicit CDispOption(const Settings& settings, QWidget* parent = nullptr);
  DisplayFields Fields() const;

 private:
  QLineEdit* m_font = nullptr;
  QCheckBox* m_cursorFix = nullptr;
  QLineEdit* m_backDisplay = nullptr;
};

class COrvexRuntime;
class CListDlgBar;

// The two commands: the dialog on the settings and, after OK, its effects.
void RunOperationSettings(QWidget& parent, COrvexRuntime& runtime);
void RunDisplayOptions(QWidget& parent, Settings& settings, CListDlgBar* cueList);

}  // namespace orvex
