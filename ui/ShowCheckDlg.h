// The pre-show check in the window: the findings of a check, one line each,
// and the text the notice log shows when a check after Open finds something.
#pragma once

#include <vector>

#include <QDialog>
#include <QString>

#include "session/ShowCheck.h"

namespace orvex {

inline constexpr const char* kShowCheckCaption = "上演前チェック";
inline constexpr const char* kShowCheckClean = "問題は見つかりませんでした。";

// "CH2 Ｑ3  item: what" for the operator.
QString FindingLine(const CheckFinding& finding);
// Heading and every finding, for the notice log.
QString FindingsReport(const std::vector<CheckFinding>& findings);

class CShowCheckDlg : public QDialog {
 public:
  CShowCheckDlg(const std::vector<CheckFinding>& findings, QWidget* parent = nullptr);
};

}  // namespace orvex
