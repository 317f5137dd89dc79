// The program's main window: menu bar, the three toolbars, the status bar,
// the console view in the middle and four dockable panes around it. It
// carries the look, keeps its layout between runs and routes the menu and
// toolbar commands. Closing it ends the program.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <QMainWindow>
#include <QUrl>

#include "ui/StatusNotes.h"

class QAction;
class QActionGroup;
class QDockWidget;
class QLabel;
class QLineEdit;
class QMenu;
class QToolButton;
class QToolBar;
class QWidgetAction;

namespace orvex {

class CDocCommands;
class CListDlgBar;
class CNoticeLog;
class COrvexDoc;
class COrvexView;
class CProgressDlgBar;
class CSliderDlgBar;
class CBGMDlg;
class CBGMPlayDlg;
class CToneCtrlPane;
class CToolBarSet;
class COrvexRuntime;
class ShowRecovery;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr const char* kWorkspace = "Workspace";
  static constexpr const char* kLookEntry = "ApplicationLook";

  CMainFrame(COrvexRuntime& runtime, COrvexDoc& doc, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // The menu or toolbar command with this id (toolbar buttons share it).
  QAction* Action(int id) const;
  // Pane 274, 315, 283 or 314.
  QDockWidget* Pane(int id) const;
  QToolBar* ToolBar(int id) const;
  // The auto-run time box (id 310) in the toolbars, or null while the
  // operator has taken it off.
  QLineEdit* FindAutoRunTimeBox() const;
  // The toolbars' buttons as the operator arranged them.
  CToolBarSet& ToolBars() const { return *m_toolBarSet; }
  // The toolbar customisation, opened on bar (null: the first toolbar).
  void CustomizeToolBars(QToolBar* bar);
  // Right-click on a toolbar or pane caption: the toolbar and pane
  // switches and "カスタマイズ...".
  QMenu* createPopupMenu() override;
  CDocCommands& Commands() const { return *m_commands; }
  COrvexDoc& Doc() const { return m_doc; }
  COrvexRuntime& Runtime() const { return m_runtime; }

  int CurrentLook() const { return m_look; }
  void ApplyLook(int id);

  // Help and tutorial open through this; the desktop's viewer by default.
  void SetUrlOpener(std::function<void(const QUrl&)> opener) { m_openUrl = std::move(opener); }
  // The folder OrvexHelp.pdf and tutorial.pdf are looked for in.
  void SetHelpFolder(const QString& folder) { m_helpFolder = folder; }

  // Files dropped at a point of the window (window coordinates).
  bool DropUrls(const QList<QUrl>& urls, const QPoint& windowPos);

  // The message pane shows the latest note whose cause lasts, "レディ"
  // when none does; an empty text ends that note.
  // behind: the note waits under the others instead of covering them.
  void SetNote(StatusNote kind, const QString& text, bool behind = false);
  QString StatusText() const;
  // A message for the notice log, which takes neither the keyboard nor the
  // console: the status line names it until the log is opened. popUp: the
  // log comes up too (beside the console, without the keyboard).
  void AddNotice(const QString& text, bool popUp = false);
  CNoticeLog* NoticeLog() const { return m_notices; }
  // The notice log as the operator opens it from the status line.
  void OpenNoticeLog();

  // At start: a show a crashed or killed run left unsaved is offered back.
  // True when it was restored.
  bool OfferRecovery();
  // The pre-show check over the show as it stands, off the UI thread. From
  // the menu its findings come in a dialog; after Open only when there are
  // any, in the notice log. done (tests) runs when the findings are shown.
  void RunShowCheck(bool afterOpen);
  std::function<void()> showCheckDone;
  ShowRecovery& Recovery() const { return *m_recovery; }
  // The two list windows, created hidden with the window.
  CBGMDlg* BgmWindow() const { return m_bgmDlg; }
  CBGMPlayDlg* ListWindow() const { return m_bgmPlayDlg; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBars();
  void BuildStatusBar();
  void BuildPanes();
  void ConnectCommands();
  QAction* MakeAction(int id, const QString& text, const char* prompt = nullptr);
  QDockWidget* MakePane(int id, const QString& title, QWidget* contents);
  std::vector<QAction*> PaneToggles() const;
  void RestoreLayout();
  void SaveLayout();
  void OpenHelpFile(const char* name);
  void ShowAbout();
  void FocusPane(int step);
  void UpdateTitle(const QString& docTitle);
  void UpdateIndicators(int key);
  // Brings the window, frame and all, onto the available part of its screen.
  void FitScreen();
  void UpdateNoticeButton();
  // A channel's file that could not be opened during the show, or that
  // has passed.
  void OnMissingFile(int ch);
  // The channel 1..6 under a point of the window, 0 for none.
  int DropChannel(const QPoint& windowPos) const;
  int FocusedChannel() const;
  COrvexView* View() const { return m_view; }
  // Keeps the recovery copy of an edited show up to date.
  void TickRecovery(bool force = false);

  COrvexRuntime& m_runtime;
  COrvexDoc& m_doc;
  CDocCommands* m_commands = nullptr;
  COrvexView* m_view = nullptr;
  CListDlgBar* m_cueList = nullptr;
  CProgressDlgBar* m_progress = nullptr;
  CSliderDlgBar* m_sliders = nullptr;
  CBGMDlg* m_bgmDlg = nullptr;
  CBGMPlayDlg* m_bgmPlayDlg = nullptr;
  std::unique_ptr<ShowRecovery> m_recovery;
  std::thread m_checker;
  CToneCtrlPane* m_tone = nullptr;
  std::map<int, QAction*> m_actions;
  std::map<int, QDockWidget*> m_panes;
  std::map<int, QToolBar*> m_toolBars;
  QActionGroup* m_lookGroup = nullptr;
  QLineEdit* m_timeBox = nullptr;
  QWidgetAction* m_timeAction = nullptr;
  CToolBarSet* m_toolBarSet = nullptr;
  QLabel* m_message = nullptr;
  // Notes whose cause lasts, the latest last.
  std::vector<std::pair<StatusNote, QString>> m_notes;
  CNoticeLog* m_notices = nullptr;
  QToolButton* m_noticeButton = nullptr;
  int m_unreadNotices = 0;
  QLabel* m_indicators[3] = {};
  bool m_lockState[3] = {};
  int m_look = 0;
  QString m_helpFolder;
  std::function<void(const QUrl&)> m_openUrl;
  bool m_closing = false;
  bool m_firstPaneSizes = true;
  bool m_fitted = false;
};

}  // namespace orvex
