// The program's main window. Closing it ends the program.
#pragma once

#include <QMainWindow>

namespace orvex {

class COrvexDoc;
class COrvexRuntime;

class CMainFrame : public QMainWindow {
 public:
  CMainFrame(COrvexRuntime& runtime, COrvexDoc& doc, QWidget* parent = nullptr);

 private:
  COrvexRuntime& m_runtime;
  COrvexDoc& m_doc;
};

}  // namespace orvex
