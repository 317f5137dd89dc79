// The console: six channel strips, the groups and the master, the
// cross-fader, the cue panel with GO, the level meter and the six channel
// data rows, laid out in dialog units of the dialog font. The view shows the
// console model and hands every operator action to it; the model holds all
// state and all cue logic.
#pragma once

#include <array>
#include <functional>

#include <QPalette>
#include <QPointer>
#include <QScrollArea>
#include <QTimer>
#include <QUrl>

#include "engine/Console.h"
#include "output/PeakSource.h"
#include "session/OrvexDoc.h"
#include "ui/FileWatch.h"
#include "ui/StatusNotes.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace orvex {

class CFaderCtrl;
class CLevelMeter;
class CListDlgBar;
class CProgressDlgBar;
class CSliderDlg;
class CStartButton;
class COrvexRuntime;

class COrvexView : public QScrollArea, private ConsoleListener {
 public:
  // Where the view's notes for the status line go (the frame sets it); an
  // empty text clears the note.
  std::function<void(StatusNote, const QString&)> onNote;
  // A channel's file could not be opened (the console's MissingFile says
  // where it was looked for), as it happens during the show.
  std::function<void(int ch)> onMissingFile;
  // A channel's list page changed (its content, or only its marked item).
  std::function<void(int ch, bool contentChanged)> onListPage;
  // A channel's pan changed (from any source): the tone page follows.
  std::function<void(int ch, int pan)> onPan;
  // Files dropped on a box of the console, at a point of its window; true
  // when they were taken (the frame sets it).
  std::function<bool(const QList<QUrl>&, const QPoint&)> onDropFiles;

  // Form size in dialog units.
  static constexpr int kFormWidth = 379;
  static constexpr int kFormHeight = 347;
  static constexpr int kProgressPeriodMs = 100;
  // How often the files the channels stand at are looked for again.
  static constexpr int kFileCheckPeriodMs = 1000;

  // The desktop program's console, with the meter reading the runtime's
  // peak source.
  COrvexView(COrvexRuntime& runtime, COrvexDoc& doc, QWidget* parent = nullptr);
  // peaks is asked on every meter tick: null while no output gives peaks.
  COrvexView(CConsole& console, COrvexDoc& doc, std::function<PeakSource*()> peaks,
             QWidget* parent = nullptr);
  ~COrvexView() override;

  // The panes the frame docks. The view fills and follows them; they may be
  // destroyed before the view.
  void AttachCueList(CListDlgBar* list);
  void AttachProgress(CProgressDlgBar* progress);
  // The slider panel follows the players with the progress pane.
  void AttachSliderPanel(CSliderDlg* panel) { m_sliders = panel; }
  // Fills the cue list from the cue store and shows the current position.
  void RebuildCueList();
  // Shows every control from the model (after the model was set up).
  void RefreshAll();
  // The progress pane from the players (every kProgressPeriodMs).
  void RefreshProgress();
  // Looks again, off the UI thread, whether the channels' files are there
  // (every kFileCheckPeriodMs); the rows turn red or back when the answer
  // comes.
  void CheckFiles();
  // Waits for the checks asked so far and shows their answers (tests).
  bool WaitForFileChecks();

  // Changes and events of the console go on to this listener too.
  void SetChainedListener(ConsoleListener* listener) { m_chained = listener; }
  // "レコード修正" of the cue list: channel and position of the record.
  void SetRecordEditHandler(std::function<void(int ch, int position)> handler) {
    m_editRecord = std::move(handler);
  }

  // --- operator input, as the controls and keys reach it ---
  // A wheel notch from fader (1..8; 0 = master, -1 = cross-fader).
  void FaderWheel(int fader, int delta);
  // A wheel notch over the console outside the faders.
  void ConsoleWheel(int delta);
  // A right click on the form at pos (form coordinates).
  void RightClick(const QPoint& pos);
  // Seek command 315..320.
  void SeekChannel(int ch, uint32_t offset);
  // The cue list's commands.
  void OnCueListCommand(int id);

  bool WheelLink(int ch) const { return m_link[Index(ch)]; }
  void SetWheelLink(int ch, bool on);
  // The channel fader (1..6) that has the keyboard focus, 0 when none.
  int FocusedChannelFader() const;
  // One wheel step on the 0..10 scale at the stored wheel speed.
  double WheelDelta() const;

  CConsole& Console() { return m_console; }
  QWidget* Form() const { return m_form; }
  CLevelMeter* Meter() const { return m_meter; }
  CStartButton* GoButton() const { return m_go; }

 protected:
  // Keys of the whole window, before any control gets them.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  struct Strip {
    QPushButton* link = nullptr;
    QPushButton* m = nullptr;
    QPushButton* g1 = nullptr;
    QPushButton* g2 = nullptr;
    QPushButton* x = nullptr;
    QPushButton* y = nullptr;
    CFaderCtrl* fader = nullptr;
    QLineEdit* level = nullptr;
    QPushButton* play = nullptr;
    QPushButton* pause = nullptr;
    QPushButton* stop = nullptr;
    QPushButton* fadeOut = nullptr;
    QPushButton* next = nullptr;
    QWidget* area = nullptr;
  };
  struct DataRow {
    QLineEdit* q = nullptr;
    QComboBox* title = nullptr;
    QLineEdit* file = nullptr;
    QLineEdit* description = nullptr;
    QLineEdit* pre = nullptr;
    QLineEdit* fadeIn = nullptr;
    QLineEdit* fadeOut = nullptr;
    QPushButton* store = nullptr;
  };
  struct Group {
    QPushButton* m = nullptr;
    QPushButton* on = nullptr;
    QPushButton* x = nullptr;
    QPushButton* y = nullptr;
    CFaderCtrl* fader = nullptr;
    QWidget* area = nullptr;
  };
  static size_t Index(int n) { return static_cast<size_t>(n); }

  void Build();
  void BuildStrip(int ch);
  void BuildGroups();
  void BuildCuePanel();
  void BuildDataRow(int ch);
  QPushButton* Toggle(const QString& caption, int id, int x, int y, int w, int h);
  QPushButton* Button(const QString& caption, int id, int x, int y, int w, int h);
  QLineEdit* Edit(int id, int x, int y, int w, int h, bool readOnly);
  QLabel* Label(const QString& text, int x, int y, int w, int h);
  QWidget* Area(int id, int x, int y, int w, int h);

  // ConsoleListener
  void OnConsoleEvent(const ConsoleEvent& event) override;
  void OnConsoleChanged(ConsoleChange what, int index) override;

  void RefreshFader(int fader);
  void RefreshMasterAndCross();
  void RefreshRouting(int index);
  void RefreshTransport(int ch);
  void RefreshRow(int ch);
  void RefreshTitles(int ch);
  void RefreshCues();
  void RefreshRowColours(int ch);
  double NextCueValue() const;
  void StepLinked(double delta);
  void StepChannel(int ch, double delta);
  bool HandleKey(QKeyEvent* key, bool press);
  // GO and "STOP ALL" stay in sight when the window shows only part of
  // the form: they leave their place for the nearest edge of the visible
  // part, and come back to it when it is in sight again.
  void KeepGoInSight();
  // Enter on the console: GO, the form's default button.
  bool PressDefaultButton(QWidget* target, const QKeyEvent* key);
  // Mouse and wheel on the form and its title lists; files dragged over
  // its boxes.
  bool FormEvent(QObject* watched, QEvent* event);
  bool ForwardFileDrag(QWidget* box, QEvent* event);

  CConsole& m_console;
  COrvexDoc& m_doc;
  std::function<PeakSource*()> m_peaks;
  ConsoleListener* m_chained = nullptr;
  std::function<void(int, int)> m_editRecord;
  QPointer<CListDlgBar> m_list;
  QPointer<CProgressDlgBar> m_progress;
  QTimer m_progressTimer;
  CSliderDlg* m_sliders = nullptr;
  QTimer m_fileTimer;
  CFileWatch m_fileWatch;
  int m_lateChannel = 0;

  QWidget* m_form = nullptr;
  QObject* m_formHook = nullptr;
  QFont m_font;
  std::array<Strip, kChannels + 1> m_strips{};
  std::array<DataRow, kChannels + 1> m_rows{};
  std::array<Group, 3> m_groups{};
  QPushButton* m_masterOn = nullptr;
  CFaderCtrl* m_master = nullptr;
  CFaderCtrl* m_cross = nullptr;
  QWidget* m_masterArea = nullptr;
  CLevelMeter* m_meter = nullptr;
  QLineEdit* m_currentCue = nullptr;
  QLineEdit* m_nextCue = nullptr;
  CStartButton* m_go = nullptr;
  CStartButton* m_stopAll = nullptr;
  QRect m_goHome;  // form coordinates
  QRect m_stopAllHome;
  QPalette m_editPalette;

  std::array<bool, kChannels + 1> m_link{};
  bool m_ctrlHeld = false;
  std::array<bool, kChannels + 1> m_digitDown{};
};

}  // namespace orvex
