#include "ui/MainWindow.h"

#include "app/OrvexDoc.h"
#include "app/OrvexRuntime.h"
#include "ui/SoundDeviceMenu.h"

namespace orvex {

CMainFrame::CMainFrame(COrvexRuntime& runtime, COrvexDoc& doc, QWidget* parent)
    : QMainWindow(parent), m_runtime(runtime), m_doc(doc) {
  setWindowTitle(QStringLiteral("Orvex"));
  setCentralWidget(new QWidget(this));
  resize(1024, 700);
  m_runtime.StartUp();
  AddSoundDeviceMenu(*this, m_runtime);
}

}  // namespace orvex
