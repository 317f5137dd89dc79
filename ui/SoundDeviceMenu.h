// The View menu's sound device commands: the device selection (32792) and,
// under "サウンドデバイス設定", the WASAPI settings (32823) and the ASIO settings
// (32821).
#pragma once

class QMainWindow;
class QMenu;

namespace orvex {

class COrvexRuntime;

// Adds the commands to the window's "表示" menu (made when missing) and
// returns the "サウンドデバイス設定" submenu for further settings commands.
QMenu* AddSoundDeviceMenu(QMainWindow& window, COrvexRuntime& runtime);

void RunSoundDeviceSelection(QMainWindow& window, COrvexRuntime& runtime);
void RunWasapiSettings(QMainWindow& window, COrvexRuntime& runtime);

}  // namespace orvex
