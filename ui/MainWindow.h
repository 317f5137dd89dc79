// The program's main window. Closing it ends the program.
#pragma once

#include <QMainWindow>

namespace orvex {

class CMainFrame : public QMainWindow {
 public:
  explicit CMainFrame(QWidget* parent = nullptr);
};

}  // namespace orvex
