#include "ui/MainWindow.h"

namespace orvex {

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Orvex"));
  setCentralWidget(new QWidget(this));
  resize(1024, 700);
}

}  // namespace orvex
