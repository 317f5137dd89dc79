// The desktop runtime: work posted from other threads lands on the UI thread,
// and the console starts and stops on it.
#include <atomic>
#include <memory>
#include <thread>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include "QtTestApp.h"
#include "engine/ManualTimerService.h"
#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "ui/QtUiPoster.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

class RuntimeTest : public QtAppTest {};

TEST_F(RuntimeTest, PostedTasksRunOnTheUiThreadAndDieWithThePoster) {
  auto poster = std::make_unique<QtUiPoster>();
  const std::thread::id ui = std::this_thread::get_id();
  std::atomic<int> ran{0};
  std::atomic<bool> onUi{true};
  std::thread other([&] {
    for (int i = 0; i < 100; ++i) {
      poster->Post([&] {
        if (std::this_thread::get_id() != ui) onUi = false;
        ++ran;
      });
    }
  });
  other.join();
  const QDeadlineTimer deadline(5000);
  while (ran < 100 && !deadline.hasExpired()) QCoreApplication::processEvents();
  EXPECT_EQ(ran, 100);
  EXPECT_TRUE(onUi);

  // A task still queued when the poster goes must not run on a dead owner.
  bool late = false;
  poster->Post([&] { late = true; });
  poster.reset();
  QCoreApplication::processEvents();
  EXPECT_FALSE(late);
}

TEST_F(RuntimeTest, StartsAndStopsTheConsoleWithoutOutputs) {
  TempDir dir;
  COrvexDoc doc(dir.File("Orvex.ini"));
  doc.LoadSettings();
  ManualTimerService timers;
  {
    QtUiPoster poster;
    COrvexRuntime runtime(doc, poster, timers);
    runtime.StartUp();
    EXPECT_EQ(runtime.Peaks(), nullptr);
    runtime.Console().RefreshAfterCueChange(true);
    runtime.Shutdown();
    runtime.Shutdown();  // the exit path and the destructor both run it
  }
}

}  // namespace
}  // namespace orvex
