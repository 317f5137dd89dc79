#include "ui/SoundDeviceMenu.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "session/OrvexRuntime.h"
#include "ui/AsioSettingsDlg.h"
#include "ui/SoundDeviceDlg.h"
#include "ui/WasapiSetDlg.h"

namespace orvex {
namespace {

// The wait cursor while every output is rebuilt.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

QMenu* ViewMenu(QMainWindow& window) {
  for (QAction* a : window.menuBar()->actions()) {
    if (a->menu() && a->menu()->objectName() == QStringLiteral("viewMenu")) return a->menu();
  }
  QMenu* menu = window.menuBar()->addMenu(QStringLiteral("表示(&V)"));
  menu->setObjectName(QStringLiteral("viewMenu"));
  return menu;
}

}  // namespace

QMenu* AddSoundDeviceMenu(QMainWindow& window, COrvexRuntime& runtime) {
  QMenu* view = ViewMenu(window);
  QAction* select = view->addAction(QStringLiteral("サウンドデバイス選択..."));
  select->setObjectName(QStringLiteral("id32792"));
  QObject::connect(select, &QAction::triggered, &window,
                   [&window, &runtime] { RunSoundDeviceSelection(window, runtime); });
  QMenu* settings = view->addMenu(QStringLiteral("サウンドデバイス設定"));
  settings->setObjectName(QStringLiteral("soundDeviceSettingsMenu"));
  QAction* wasapi = settings->addAction(QStringLiteral("WASAPI設定..."));
  wasapi->setObjectName(QStringLiteral("id32823"));
  QObject::connect(wasapi, &QAction::triggered, &window,
                   [&window, &runtime] { RunWasapiSettings(window, runtime); });
  QAction* asio = settings->addAction(QStringLiteral("ASIO設定..."));
  asio->setObjectName(QStringLiteral("id32821"));
  QObject::connect(asio, &QAction::triggered, &window, [&window, &runtime] {
    std::array<std::optional<WaveFormat>, 6> formats;
    for (int ch = 1; ch <= kChannels; ++ch) {
      const CWaveWnd& p = runtime.Console().Player(ch);
      if (p.IsLoaded()) formats[static_cast<size_t>(ch - 1)] = p.Format();
    }
    COutputSetup& outputs = runtime.Outputs();
    RunAsioSettings(&window, runtime.Doc().GetSettings(), outputs.Devices().Asio(), formats, [&] {
      WaitCursor wait;
      outputs.ReopenAsio();
    });
  });
  return settings;
}

void RunSoundDeviceSelection(QMainWindow& window, COrvexRuntime& runtime) {
  COutputDevices& devices = runtime.Outputs().Devices();
  CSoundDeviceDlg dlg({&devices.Device(0), &devices.Device(1), &devices.Device(2)}, &window);
  if (dlg.exec() != QDialog::Accepted) return;
  WaitCursor wait;
  runtime.Outputs().ReconfigureOutputs();
}

void RunWasapiSettings(QMainWindow& window, COrvexRuntime& runtime) {
  std::array<WasapiChannelInfo, 7> channels{};
  for (int ch = 1; ch <= kChannels; ++ch) {
    CWaveWnd& p = runtime.Console().Player(ch);
    WasapiChannelInfo& c = channels[static_cast<size_t>(ch)];
    c.driverOk = p.Wasapi().AnyStream();
    c.loaded = p.IsLoaded();
    c.format = p.Format();
  }
  CWaveExWASAPI& mixer = runtime.Outputs().Devices().Exclusive();
  Settings& settings = runtime.Doc().GetSettings();
  std::optional<StoredWaveFormat> exclusive;
  if (mixer.HasClient()) exclusive = settings.wasapiFormat;
  CWASAPISetDlg dlg(
      channels, exclusive, settings,
      [&mixer](const StoredWaveFormat& f) { return mixer.IsFormatSupported(ToWaveFormat(f)); },
      &window);
  if (dlg.exec() != QDialog::Accepted) return;
  WaitCursor wait;
  runtime.Outputs().ReopenExclusive(dlg.NewFormat());
}

}  // namespace orvex
