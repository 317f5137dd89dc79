#include "ui/DocCommands.h"

#include <algorithm>
#include <memory>
#include <utility>

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMetaObject>
#include <QWidget>

#include "engine/Console.h"
#include "session/CueSheetEdit.h"
#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "session/ShowRecovery.h"
#include "show/Messages.h"
#include "show/TextNumbers.h"
#include "ui/CreateQSheetDlg.h"
#include "ui/RecordDlg.h"

namespace orvex {

// A show read off the UI thread, with the files it names that are not there.
struct LoadedShow {
  ReadShowResult read;
  std::vector<MissingFile> missing;
  MarkerStore markers;  // of its cues' files, merged into the panel's store
};

namespace {

std::string Utf8(const QString& text) {
  return text.toUtf8().toStdString();
}
QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The folder part of a stored path: everything before its last separator.
QString FolderPart(const QString& path) {
  const qsizetype cut = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
  return cut < 0 ? QString() : path.left(cut);
}

}  // namespace

CDocCommands::CDocCommands(COrvexRuntime& runtime, COrvexDoc& doc, QWidget* window)
    : QObject(window), m_runtime(runtime), m_doc(doc), m_window(window) {
  chooseOpenFile = [this](const QString& proposed) {
    const std::unique_ptr<QFileDialog> dialog = MakeOpenDialog(m_window, proposed);
    return dialog->exec() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
  };
  chooseSaveFile = [this](const QString& proposed) {
    const std::unique_ptr<QFileDialog> dialog = MakeSaveDialog(m_window, proposed);
    return dialog->exec() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
  };
  refresh = [this](bool reset) { m_runtime.Console().RefreshAfterCueChange(reset); };
  clearPanes = [] {};
  rebuildList = [] {};
  runCueSheetEditor = [this](CueSheetEdit& edit) {
    CCreateQSheetDlg dialog(edit, m_window);
    dialog.RestoreLayout(m_doc.Store());
    const bool ok = dialog.exec() == QDialog::Accepted;
    dialog.SaveLayout(m_doc.Store());
    return ok;
  };
  runRecordEditor = [this](const RecordFields& fields) -> std::optional<RecordFields> {
    CRecordDlg dialog(fields, CRecordDlg::Use::kCueList, m_window);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Fields();
  };
  focusedChannel = [] { return 0; };
  markersModified = [] { return false; };
  clearMarkersModified = [] {};
}

std::unique_ptr<QFileDialog> CDocCommands::MakeOpenDialog(QWidget* parent,
                                                          const QString& proposed) {
  auto dialog = std::make_unique<QFileDialog>(
      parent, QString::fromUtf8(kOpenCaption), proposed,
      QStringLiteral("Ｑシート (*.csv);;WAVファイル (*.wav);;すべてのファイル (*)"));
  // Qt's own dialog, in Japanese with the rest of the program whatever the
  // desktop's language is.
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setDefaultSuffix(QStringLiteral("csv"));
  return dialog;
}

std::unique_ptr<QFileDialog> CDocCommands::MakeSaveDialog(QWidget* parent,
                                                          const QString& proposed) {
  auto dialog =
      std::make_unique<QFileDialog>(parent, QString::fromUtf8(kSaveAsCaption), proposed,
                                    QStringLiteral("Ｑシート (*.csv);;すべてのファイル (*)"));
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setDefaultSuffix(QStringLiteral("csv"));
  return dialog;
}

CDocCommands::~CDocCommands() {
  if (m_reader.joinable()) m_reader.join();
}

bool CDocCommands::ShowModified() const {
  return m_runtime.Console().ShowModified();
}
void CDocCommands::SetShowModified(bool modified) {
  m_runtime.Console().SetShowModified(modified);
}

QString CDocCommands::ProposedPath(const std::string& stored) const {
  const QString path = FromUtf8(stored);
  const QString folder = FolderPart(path);
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? path : QString();
}

void CDocCommands::SetTitleFromPath(const QString& path) {
  m_title = path.isEmpty() ? QString() : QFileInfo(path).completeBaseName();
  emit titleChanged(m_title);
}

void CDocCommands::Refresh(bool reset) {
  if (refresh) refresh(reset);
}

bool CDocCommands::MayReplaceShow() {
  if (!ShowModified() && !markersModified()) return true;
  // While a show is being read the document already bears its name: a save
  // now would write the edited show over that file.
  if (Busy()) return false;
  switch (ConfirmYesNoCancel(kSaveQuestion)) {
    case kAnswerYes:
      return SaveShow();
    case kAnswerNo:
      return true;
    default:
      return false;
  }
}

void CDocCommands::ShowReplaced() {
  // A save postponed for the old show must not write the new one.
  m_savePostponed = false;
  m_reportedMissing.clear();
  m_pendingReport.clear();
  emit note(StatusNote::kSave, {});
  emit note(StatusNote::kShowLoad, {});
  emit note(StatusNote::kShowReport, {});
}

void CDocCommands::OnFileNew() {
  if (Busy() || !MayReplaceShow()) return;
  Settings& settings = m_doc.GetSettings();
  CueSheetEdit edit(m_doc.GetSoundFolder(), settings.sortMode);
  const bool ok = runCueSheetEditor(edit);
  settings.sortMode = edit.GetSortMode();
  if (!ok) return;
  ShowReplaced();
  edit.ApplyTo(m_doc);
  m_doc.SetShowPath({});
  SetTitleFromPath({});
  Refresh(true);
  Refresh(true);
  SetShowModified(true);
  emit idle();
}

void CDocCommands::OnEditCueSheet() {
  if (Busy()) return;
  Settings& settings = m_doc.GetSettings();
  CueSheetEdit edit(m_doc.GetSoundFolder(), settings.sortMode);
  edit.AddAllOf(m_doc);
  const bool ok = runCueSheetEditor(edit);
  settings.sortMode = edit.GetSortMode();
  if (!ok || !edit.Changed()) return;
  const std::string previousFolder = m_doc.GetSoundFolder();
  edit.ApplyTo(m_doc);
  // Markers kept in memory under the old folder win over the files read now.
  m_doc.LoadMarkers();
  m_doc.RekeyMarkers(previousFolder);
  // Positions that still exist are kept: the show goes on where it was.
  Refresh(false);
  SetShowModified(true);
  emit idle();
}

void CDocCommands::OnEditRecord(int ch, int position) {
  const CRecord* record = m_doc.Find(ch, position);
  if (!record) return;
  RecordFields fields = FieldsOfRecord(*record, ch, m_doc.GetSoundFolder());
  fields.qChannelEditable = false;
  const std::optional<RecordFields> accepted = runRecordEditor(fields);
  // The record may have gone while the editor was open (a show loaded).
  if (!accepted || m_doc.Find(ch, position) == nullptr) return;
  m_runtime.Console().ModifyRecord(ch, position, ValuesOfFields(*accepted));
  rebuildList();
}

void CDocCommands::OnFileOpen() {
  if (Busy()) return;
  const QString chosen = chooseOpenFile(ProposedPath(m_doc.GetSettings().showPath));
  if (chosen.isEmpty()) return;
  // A show replaces the one in the console; a sound is added to it.
  if (QFileInfo(chosen).suffix() == QStringLiteral("csv") && !MayReplaceShow()) return;
  OpenPath(chosen);
}

void CDocCommands::OpenPath(const QString& path) {
  m_pending.push_back({QFileInfo(path).absoluteFilePath(), -1, true});
  if (!m_reader.joinable()) RunPending();
}

void CDocCommands::OnDropFiles(const QStringList& paths, int ch) {
  if (paths.isEmpty()) return;
  const bool replaces = std::any_of(paths.begin(), paths.end(), [](const QString& path) {
    return QFileInfo(path).suffix() == QStringLiteral("csv");
  });
  if (replaces && !MayReplaceShow()) return;
  for (qsizetype i = 0; i < paths.size(); ++i) {
    m_pending.push_back({QFileInfo(paths[i]).absoluteFilePath(), ch, i + 1 == paths.size()});
  }
  if (!m_reader.joinable()) RunPending();
}

void CDocCommands::RunPending() {
  while (!m_pending.empty()) {
    const Pending item = m_pending.front();
    // The extension test is exact: "CSV" in capitals is taken as a sound.
    if (QFileInfo(item.path).suffix() == QStringLiteral("csv")) {
      StartReading(item.path);
      return;  // FinishReading goes on with the queue
    }
    m_pending.pop_front();
    const int ch = item.ch < 0 ? (focusedChannel() > 0 ? focusedChannel() : 1) : item.ch;
    if (ch > 0) AddWave(item.path, ch);
    if (item.last && m_refreshDue) {
      m_refreshDue = false;
      Refresh(true);
    }
  }
  // The report of an opened show comes once that show is in the console.
  if (!m_pendingReport.isEmpty()) emit showReport(std::exchange(m_pendingReport, QString()));
  emit idle();
}

void CDocCommands::AddWave(const QString& path, int ch) {
  if (!m_doc.AddWaveCue(Utf8(QDir::toNativeSeparators(path)), ch)) {
    ConfirmYesNo(kPathTooLong);
    return;
  }
  SetShowModified(true);
  m_refreshDue = true;
}

void CDocCommands::StartReading(const QString& path) {
  m_previousPath = m_doc.GetShowPath();
  m_previousTitle = m_title;
  m_doc.SetShowPath(Utf8(path));
  SetTitleFromPath(path);
  const std::string native = Utf8(path);
  const DriveMap drives = m_runtime.Console().Drives();
  const std::string folder = Utf8(QFileInfo(path).absolutePath());
  m_reader = std::thread([this, native, path, drives, folder] {
    auto loaded = std::make_shared<LoadedShow>();
    loaded->read = ReadShow(native);
    // Here rather than on the UI thread: every file of the show is looked
    // for, and a slow file system must not hold up the console.
    if (loaded->read.ok) {
      loaded->missing = FindMissingFiles(*loaded->read.store, drives, folder);
      loaded->markers = ReadShowMarkers(*loaded->read.store, native, drives);
    }
    // Dropped, with the result, if the commands are gone by then.
    QMetaObject::invokeMethod(
        this, [this, path, loaded] { FinishReading(path, loaded); }, Qt::QueuedConnection);
  });
}

void CDocCommands::FinishReading(const QString& path, const std::shared_ptr<LoadedShow>& loaded) {
  m_reader.join();
  ReadShowResult& result = loaded->read;
  const bool last = m_pending.front().last;
  m_pending.pop_front();
  if (result.ok) {
    ShowReplaced();
    const QString report =
        ShowReport(m_title, loaded->missing, result.skippedLines, result.skippedText);
    for (const MissingFile& m : loaded->missing) m_reportedMissing.insert(m.path);
    if (!report.isEmpty()) {
      m_pendingReport = report;
      emit note(StatusNote::kShowReport,
                ShowReportNote(loaded->missing.size(), result.skippedLines.size()));
    }
    m_doc.TakeShow(*result.store, std::move(result.skippedLines));
    if (MarkerStore* markers = m_doc.GetMarkerStore()) MergeMarkerStore(*markers, loaded->markers);
    m_runtime.Console().SetShowFolder(Utf8(QFileInfo(path).absolutePath()));
    SetShowModified(false);
    m_refreshDue = true;
    m_openedDue = true;
  } else {
    // The failure has been reported; the console keeps the show it had, and
    // so do the path and title, so a save cannot write it over the file.
    m_doc.SetShowPath(m_previousPath);
    m_title = m_previousTitle;
    emit titleChanged(m_title);
    emit note(StatusNote::kShowLoad, QString::fromUtf8(kLoadFailedNote));
  }
  if (last && m_refreshDue) {
    m_refreshDue = false;
    Refresh(true);
  }
  if (last && std::exchange(m_openedDue, false)) emit showOpened();
  RunPending();
}

QString CDocCommands::ShowReport(const QString& title, const std::vector<MissingFile>& missing,
                                 const std::vector<int>& skippedLines,
                                 const std::vector<std::string>& skippedText) {
  if (missing.empty() && skippedLines.empty()) return {};
  QStringList lines;
  lines << QStringLiteral("「%1」を開きました。").arg(title);
  if (!missing.empty()) {
    lines << QStringLiteral("%1: %2件（鳴りません）")
                 .arg(QString::fromUtf8(kMissingFilesHeading))
                 .arg(missing.size());
    for (const MissingFile& m : missing) {
      lines << QStringLiteral("  CH%1  Ｑ%2  %3")
                   .arg(m.channel)
                   .arg(FromUtf8(FormatG(m.qNumber)))
                   .arg(FromUtf8(m.path));
    }
  }
  if (!skippedLines.empty()) {
    lines << QStringLiteral("%1: %2行（上書き保存するとなくなります）")
                 .arg(QString::fromUtf8(kSkippedLinesHeading))
                 .arg(skippedLines.size());
    for (size_t i = 0; i < skippedLines.size() && i < skippedText.size(); ++i) {
      lines << QStringLiteral("  %1行目: %2").arg(skippedLines[i]).arg(FromUtf8(skippedText[i]));
    }
    if (skippedLines.size() > skippedText.size()) {
      lines << QStringLiteral("  ほか%1行").arg(skippedLines.size() - skippedText.size());
    }
  }
  return lines.join(u'\n');
}

QString CDocCommands::ShowReportNote(size_t missing, size_t skippedLines) {
  QStringList parts;
  if (missing > 0) {
    parts << QStringLiteral("%1 %2件").arg(QString::fromUtf8(kMissingFilesHeading)).arg(missing);
  }
  if (skippedLines > 0) {
    parts
        << QStringLiteral("%1 %2行").arg(QString::fromUtf8(kSkippedLinesHeading)).arg(skippedLines);
  }
  return parts.join(QStringLiteral("、")) + QStringLiteral("（お知らせを見てください）");
}

void CDocCommands::OnFileSave() {
  if (Busy()) return;
  SaveShow();
}

bool CDocCommands::SaveShow() {
  if (m_runtime.Console().AnyFadeRunning()) {
    m_savePostponed = true;
    emit note(StatusNote::kSave, QString::fromUtf8(kPostponedNote));
    return false;
  }
  if (m_doc.GetShowPath().empty()) {
    const QString chosen = chooseSaveFile(ProposedPath(m_doc.GetShowPath()));
    if (chosen.isEmpty()) return false;
    m_doc.SetShowPath(Utf8(chosen));
    SetTitleFromPath(chosen);
  }
  return Save();
}

bool CDocCommands::Save() {
  // The flags go only when the show is on disk: after a failed write (which
  // reports itself) the exit still asks.
  if (!m_doc.SaveShowFile()) return false;
  SetShowModified(false);
  // A marker file that could not be written has been reported; its markers
  // stay unsaved, and the exit asks again.
  if (m_doc.SaveMarkers() && clearMarkersModified) clearMarkersModified();
  m_savePostponed = false;
  emit note(StatusNote::kSave, {});
  return true;
}

void CDocCommands::OnFileSaveAs() {
  if (Busy()) return;
  const QString chosen = chooseSaveFile(ProposedPath(m_doc.GetShowPath()));
  if (chosen.isEmpty()) return;
  m_doc.SetShowPath(Utf8(chosen));
  SetTitleFromPath(chosen);
  OnFileSave();
}

void CDocCommands::OnFileClose() {
  if (Busy() || !MayReplaceShow()) return;
  ShowReplaced();
  m_doc.SetShowPath({});
  SetTitleFromPath({});
  m_doc.ClearCueStore();
  if (clearPanes) clearPanes();
  Refresh(true);
}

void CDocCommands::OnSaveRequest() {
  if (!markersModified()) return;
  if (ConfirmYesNo(kSaveQuestion, true) == kAnswerYes) {
    OnFileSave();
  } else {
    clearMarkersModified();
  }
}

bool CDocCommands::AskAtExit() {
  // A show still being read may need the UI thread for its failure message;
  // let it finish before the questions.
  while (Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  bool settled = true;
  if (ShowModified() && ConfirmYesNo(kSaveQuestion, true) == kAnswerYes) {
    OnFileSave();
    settled = !ShowModified();
  }
  if (m_savePostponed && ConfirmYesNo(kPostponedQuestion, true) == kAnswerYes) {
    OnFileSave();
    settled = !ShowModified();
  }
  return settled;
}

void CDocCommands::RestoreShow(CueStore& show, const std::string& path) {
  ShowReplaced();
  m_doc.TakeShow(show, {});
  m_doc.SetShowPath(path);
  SetTitleFromPath(FromUtf8(path));
  if (!path.empty())
    m_runtime.Console().SetShowFolder(Utf8(QFileInfo(FromUtf8(path)).absolutePath()));
  m_doc.LoadMarkers();
  Refresh(true);
  SetShowModified(true);
  emit note(StatusNote::kShowLoad, QString::fromUtf8(kRecoveryNote));
}

}  // namespace orvex
