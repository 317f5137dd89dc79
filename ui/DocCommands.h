// The operator's file commands: new, open, save, save as, close, dropped
// files, the marker save request and the questions at exit. Show files are
// read on a thread of their own and put in place whole, so a long show never
// stalls the console and a show that fails to load leaves the previous one.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <QObject>
#include <QString>
#include <QStringList>

#include "session/RecordEdit.h"
#include "ui/StatusNotes.h"

class QFileDialog;

namespace orvex {

class COrvexDoc;
class CueStore;
class CueSheetEdit;
class COrvexRuntime;
struct LoadedShow;
struct MissingFile;

class CDocCommands : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kSaveQuestion = "データが変更されています。保存しますか？";
  static constexpr const char* kPostponedQuestion =
      "保存時にフェード中だったため保存を中止しました。保存しますか？";
  static constexpr const char* kPostponedNote =
      "フェード中のため保存を保留しました。フェードが終わってから上書き保存してください";
  static constexpr const char* kLoadFailedNote =
      "Ｑシートを読み込めなかったため、前のＱシートのままです";
  static constexpr const char* kMissingFilesHeading = "見つからないファイル";
  static constexpr const char* kSkippedLinesHeading = "読み込めなかった行";
  static constexpr const char* kOpenCaption = "開く";
  static constexpr const char* kSaveAsCaption = "名前を付けて保存";

  CDocCommands(COrvexRuntime& runtime, COrvexDoc& doc, QWidget* window);
  ~CDocCommands() override;

  // --- what the window supplies; each has a default ---
  // File dialogs: the chosen native path, empty for cancel.
  std::function<QString(const QString& proposed)> chooseOpenFile;
  std::function<QString(const QString& proposed)> chooseSaveFile;
  // The console refresh after the cue store was replaced.
  std::function<void(bool resetPositions)> refresh;
  // The cue list shows the cue store afresh after one record changed.
  std::function<void()> rebuildList;
  // Close: the cue list and the marker panel forget the show.
  std::function<void()> clearPanes;
  // The channel fader (1..6) with the keyboard focus, 0 for none.
  std::function<int()> focusedChannel;
  // The cue sheet editor run on a working list: true for OK.
  std::function<bool(CueSheetEdit& edit)> runCueSheetEditor;
  // The record editor run from the cue list: the accepted fields.
  std::function<std::optional<RecordFields>(const RecordFields& fields)> runRecordEditor;
  // Markers edited since the last save (the marker panel's flag).
  std::function<bool()> markersModified;
  std::function<void()> clearMarkersModified;

  // The file dialogs the default choosers run.
  static std::unique_ptr<QFileDialog> MakeOpenDialog(QWidget* parent, const QString& proposed);
  static std::unique_ptr<QFileDialog> MakeSaveDialog(QWidget* parent, const QString& proposed);

  void OnFileNew();
  void OnFileOpen();
  void OnFileSave();
  void OnFileSaveAs();
  void OnFileClose();
  // "Ｑシート編集...": the whole show in the cue sheet editor.
  void OnEditCueSheet();
  // "レコード修正": one record of the cue store in the record editor.
  void OnEditRecord(int ch, int position);
  // A chosen file: a show when its extension is exactly "csv", else a WAV
  // added as a cue on the focused channel.
  void OpenPath(const QString& path);
  // Files dropped on channel ch (0: on no channel), in the order given.
  void OnDropFiles(const QStringList& paths, int ch);
  void OnSaveRequest();
  // The questions of the closing window; the program ends after either
  // answer. False when the show still has changes the operator wanted kept
  // (the save failed or was put off).
  bool AskAtExit();
  // Puts a show recovered after a crash in place: it bears its old path and
  // stays modified, so the operator saves it deliberately.
  void RestoreShow(CueStore& show, const std::string& path);

  // What an opened show lacks, for the notice log: every cue whose file is
  // not there, and the lines that were not cues (the first few, by number),
  // which the next save leaves out. Empty when it lacks nothing.
  static QString ShowReport(const QString& title, const std::vector<MissingFile>& missing,
                            const std::vector<int>& skippedLines,
                            const std::vector<std::string>& skippedText);
  // The same in one line for the status line.
  static QString ShowReportNote(size_t missing, size_t skippedLines);
  // True when the last opened show's report named this file (as looked for).
  bool ReportedMissing(const std::string& path) const { return m_reportedMissing.count(path) > 0; }

  bool ShowModified() const;
  void SetShowModified(bool modified);
  bool SavePostponed() const { return m_savePostponed; }
  // True while a show is being read.
  bool Busy() const { return m_reader.joinable() || !m_pending.empty(); }
  QString Title() const { return m_title; }

 signals:
  void titleChanged(const QString& title);
  // A note for the status line, or its end (empty text).
  void note(orvex::StatusNote kind, const QString& text);
  // What the opened show lacks (ShowReport), once it is in the console.
  void showReport(const QString& text);
  // Every command that was started has finished (loads included).
  void idle();
  // A show was opened and is in the console.
  void showOpened();

 private:
  struct Pending {
    QString path;
    int ch = 0;         // drops: the target channel; opens: -1
    bool last = false;  // refresh after this one
  };
  void SetTitleFromPath(const QString& path);
  // Runs the queued files one by one; a show is read off the UI thread and
  // the queue goes on when it is in place.
  void RunPending();
  void StartReading(const QString& path);
  void FinishReading(const QString& path, const std::shared_ptr<LoadedShow>& loaded);
  // Asks before the show in the console is replaced while it has unsaved
  // changes: yes saves it (false if that did not happen), no lets them go,
  // cancel keeps the show. True when the replacement may go on.
  bool MayReplaceShow();
  // The show in the console gives way to another (or to none).
  void ShowReplaced();
  void AddWave(const QString& path, int ch);
  void Refresh(bool reset);
  // Save, Save as for an untitled show: true once the show is on disk.
  bool SaveShow();
  bool Save();
  QString ProposedPath(const std::string& stored) const;

  COrvexRuntime& m_runtime;
  COrvexDoc& m_doc;
  QWidget* m_window;
  QString m_title;
  bool m_savePostponed = false;
  std::deque<Pending> m_pending;
  bool m_refreshDue = false;
  bool m_openedDue = false;  // a show came in: say so once the queue is done
  std::thread m_reader;
  // Path and title of the show in the console, restored when a load fails.
  std::string m_previousPath;
  QString m_previousTitle;
  // The files the last opened show's report named, and the report waiting
  // for that show to be in the console.
  std::set<std::string> m_reportedMissing;
  QString m_pendingReport;
};

}  // namespace orvex
