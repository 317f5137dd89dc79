// Dialog 100: the program's version and the sound interfaces it offers.
#pragma once

#include <QDialog>

namespace orvex {

class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace orvex
