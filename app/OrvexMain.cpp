// The desktop program: loads the settings, shows the main window and writes
// the settings back when the window closes.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "show/Messages.h"
#include "ui/AppFont.h"
#include "ui/DocCommands.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/QtUiPoster.h"
#include "ui/ScreenshotTour.h"
#include "ui/Translations.h"

namespace {

// [0] is written by the signal handler, [1] is read on the UI thread.
int g_signalFds[2] = {-1, -1};

void OnQuitSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  // A full socket already holds a pending close; losing this byte is fine.
  [[maybe_unused]] ssize_t n = write(g_signalFds[0], &byte, 1);
  errno = savedErrno;
}

bool InstallQuitSignals() {
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) != 0) return false;
  for (int fd : g_signalFds) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, O_NONBLOCK);
  }
  struct sigaction action = {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0 &&
         sigaction(SIGHUP, &action, nullptr) == 0;
}

// Answers every open dialog as its Esc key would, innermost first.
void DismissModalDialogs() {
  for (int guard = 0; guard < 16; ++guard) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
    if (QApplication::activeModalWidget() == modal) return;  // it refused to go
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string settingsPath = orvex::TakeSettingsOption(argc, argv);
  // A developer aid (README): pictures of the window, then the program ends.
  const QString screenshotFolder = orvex::TakeScreenshotOption(argc, argv);
  // A desktop logout sends SIGTERM, a closed terminal SIGHUP: treat them, and
  // Ctrl+C, as the close box so the settings are still written. A signal that comes before the
  // event loop runs waits in the socket.
  const bool signalsOk = InstallQuitSignals();
  if (!signalsOk) std::perror("orvex: cannot catch SIGINT/SIGTERM/SIGHUP");

  QApplication app(argc, argv);
  orvex::ApplyAppFont(app);
  // Without them (the package is not installed) Qt's dialogs speak English.
  if (!orvex::InstallQtTranslations(app))
    std::fprintf(stderr, "orvex: Qt's Japanese translations were not found\n");
  orvex::QtMessageSink sink;
  orvex::StderrMessageSink unattended;
  // The screenshot tour runs unattended: a message must not wait for a click.
  orvex::SetMessageSink(screenshotFolder.isEmpty() ? static_cast<orvex::MessageSink*>(&sink)
                                                   : &unattended);

  // Created before anything can ask a question: a signal that comes while a
  // box waits for an answer (the settings message at start-up, say) answers
  // it as Esc would, then closes the window once there is one.
  orvex::CMainFrame* window = nullptr;
  bool quitRequested = false;
  std::unique_ptr<QSocketNotifier> notifier;
  if (signalsOk) {
    notifier = std::make_unique<QSocketNotifier>(g_signalFds[1], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, [&] {
      char buffer[16];
      while (read(g_signalFds[1], buffer, sizeof buffer) > 0) {
      }
      quitRequested = true;
      DismissModalDialogs();
      if (window) QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
    });
  }

  int result = 0;
  {
    orvex::COrvexDoc doc(settingsPath);
    doc.LoadSettings();

    orvex::QtUiPoster poster;
    orvex::COrvexRuntime runtime(doc, poster);
    orvex::CMainFrame mainWindow(runtime, doc);
    window = &mainWindow;
    if (quitRequested) QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);

    mainWindow.show();
    // The screenshot tour must not stop at a question.
    if (screenshotFolder.isEmpty()) mainWindow.OfferRecovery();
    // Files named on the command line open as if chosen with Open (a show)
    // or dropped (sounds), in order, once the window is up.
    const QStringList arguments = app.arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
      mainWindow.Commands().OpenPath(arguments.at(i));
    if (!screenshotFolder.isEmpty())
      (new orvex::CScreenshotTour(mainWindow, screenshotFolder))->Start();
    std::printf("orvex: ready\n");
    std::fflush(stdout);
    result = app.exec();
    runtime.Shutdown();
    window = nullptr;

    if (!doc.SaveSettings()) {
      std::fprintf(stderr, "orvex: cannot write settings to %s\n", doc.GetSettingsPath().c_str());
    }
  }
  // No message box may be asked for once the application is gone.
  orvex::SetMessageSink(nullptr);
  return result;
}
