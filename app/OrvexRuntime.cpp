#include "app/OrvexRuntime.h"

#include <QMetaObject>

#include "engine/RealTimerService.h"

namespace orvex {

void QtUiPoster::Post(std::function<void()> task) {
  // A functor with a context object is queued on the context's thread; Qt
  // drops it if the context is destroyed first.
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

COrvexRuntime::COrvexRuntime(COrvexDoc& doc)
    : m_doc(doc), m_ownTimers(std::make_unique<RealTimerService>()), m_timers(m_ownTimers.get()) {
  m_console = std::make_unique<CConsole>(m_doc, m_doc.GetSettings(), *m_timers, m_poster);
}

COrvexRuntime::COrvexRuntime(COrvexDoc& doc, TimerService& timers) : m_doc(doc), m_timers(&timers) {
  m_console = std::make_unique<CConsole>(m_doc, m_doc.GetSettings(), *m_timers, m_poster);
}

COrvexRuntime::~COrvexRuntime() {
  Shutdown();
  m_console.reset();
}

void COrvexRuntime::StartUp() {
  m_shutDown = false;
  m_console->SetDrives(m_doc.GetSettings().drives);
  m_console->LoadFromSettings();
  SetupOutputs();
}

void COrvexRuntime::SetupOutputs() {
  ReleaseOutputs();
  // The device back-ends bind the outputs here; until then every output is
  // without a device and the players run silent.
  m_console->SetEngines(m_outputs.Engines());
}

void COrvexRuntime::ReleaseOutputs() {
  m_peaks = nullptr;
  m_console->SetEngines({});
  m_outputs.ReleaseAll();
}

void COrvexRuntime::Shutdown() {
  if (m_shutDown) return;
  m_shutDown = true;
  m_console->Shutdown();
  ReleaseOutputs();
}

}  // namespace orvex
