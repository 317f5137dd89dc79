// Command and pane ids of the main window: menus, toolbars and tests find
// actions and panes by them ("id57601").
#pragma once

namespace orvex::ids {

// File
inline constexpr int kFileNew = 57600;
inline constexpr int kFileOpen = 57601;
inline constexpr int kFileClose = 57602;
inline constexpr int kFileSave = 57603;
inline constexpr int kFileSaveAs = 57604;
inline constexpr int kPreShowCheck = 32900;
inline constexpr int kAppExit = 57665;
// Edit
inline constexpr int kStoreFaders = 32776;
inline constexpr int kUpdateChannelData = 32775;
inline constexpr int kEditCueSheet = 245;
inline constexpr int kEditBgmList = 32786;
inline constexpr int kStopAll = 32828;
// View
inline constexpr int kShowBgmPlayer = 32778;
inline constexpr int kOperationSettings = 32777;
inline constexpr int kSoundDevice = 32792;
inline constexpr int kAsioSettings = 32821;
inline constexpr int kWasapiSettings = 32823;
inline constexpr int kMidiSettings = 32832;
inline constexpr int kListOptions = 32815;
inline constexpr int kShowSliderPanel = 32784;
inline constexpr int kToolbarsPlaceholder = 59392;
inline constexpr int kStatusBar = 59393;
// Help
inline constexpr int kHelp = 57670;
inline constexpr int kTutorial = 32825;
inline constexpr int kAbout = 57664;
// Panes
inline constexpr int kNextPane = 57680;
inline constexpr int kPrevPane = 57681;
// Auto-run toolbar
inline constexpr int kAutoRunTimeButton = 32810;
inline constexpr int kAutoRunTimeBox = 310;
inline constexpr int kAutoRunRun = 32808;
inline constexpr int kAutoRunStop = 32809;
inline constexpr int kAutoRunZero = 32812;
inline constexpr int kAutoRunSetTiming = 32814;

inline constexpr int kMenuBar = 59398;
inline constexpr int kMainToolBar = 128;
inline constexpr int kAutoRunToolBar = 287;
inline constexpr int kDeviceToolBar = 305;
inline constexpr int kCueListPane = 274;
inline constexpr int kSliderPane = 315;
inline constexpr int kEffectPane = 283;
inline constexpr int kProgressPane = 314;

inline constexpr int kAboutBox = 100;

}  // namespace orvex::ids
