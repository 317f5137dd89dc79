#include "ui/DocCommands.h"

#include <memory>

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMetaObject>
#include <QWidget>

#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "show/Messages.h"

namespace orvex {

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

void CDocCommands::OnFileNew() {
  if (Busy()) return;
  // Until the cue sheet editor exists, New is the editor returning an empty
  // list: the sound folder stays, the show is empty and untitled.
  m_doc.ClearCueStore();
  m_doc.SetShowPath({});
  SetTitleFromPath({});
  Refresh(true);
  Refresh(true);
  SetShowModified(true);
  emit idle();
}

void CDocCommands::OnFileOpen() {
  if (Busy()) return;
  const QString chosen = chooseOpenFile(ProposedPath(m_doc.GetSettings().showPath));
  if (chosen.isEmpty()) return;
  OpenPath(chosen);
}

void CDocCommands::OpenPath(const QString& path) {
  m_pending.push_back({QFileInfo(path).absoluteFilePath(), -1, true});
  if (!m_reader.joinable()) RunPending();
}

void CDocCommands::OnDropFiles(const QStringList& paths, int ch) {
  if (paths.isEmpty()) return;
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
  m_reader = std::thread([this, native, path] {
    auto result = std::make_shared<ReadShowResult>(ReadShow(native));
    // Dropped, with the result, if the commands are gone by then.
    QMetaObject::invokeMethod(
        this, [this, path, result] { FinishReading(path, result->ok, result.get()); },
        Qt::QueuedConnection);
  });
}

void CDocCommands::FinishReading(const QString& path, bool ok, void* resultPtr) {
  m_reader.join();
  auto& result = *static_cast<ReadShowResult*>(resultPtr);
  const bool last = m_pending.front().last;
  m_pending.pop_front();
  if (ok) {
    m_doc.TakeShow(*result.store, std::move(result.skippedLines));
    m_runtime.Console().SetShowFolder(Utf8(QFileInfo(path).absolutePath()));
    SetShowModified(false);
    m_refreshDue = true;
  } else {
    // The failure has been reported; the console keeps the show it had, and
    // so do the path and title, so a save cannot write it over the file.
    m_doc.SetShowPath(m_previousPath);
    m_title = m_previousTitle;
    emit titleChanged(m_title);
    emit note(QString::fromUtf8(kLoadFailedNote));
  }
  if (last && m_refreshDue) {
    m_refreshDue = false;
    Refresh(true);
  }
  RunPending();
}

void CDocCommands::OnFileSave() {
  if (Busy()) return;
  if (m_runtime.Console().AnyFadeRunning()) {
    m_savePostponed = true;
    emit note(QString::fromUtf8(kPostponedNote));
    return;
  }
  if (m_doc.GetShowPath().empty()) {
    OnFileSaveAs();
    return;
  }
  Save();
}

void CDocCommands::Save() {
  // The flags go only when the show is on disk: after a failed write (which
  // reports itself) the exit still asks.
  if (!m_doc.SaveShowFile()) return;
  SetShowModified(false);
  if (clearMarkersModified) clearMarkersModified();
  m_savePostponed = false;
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
  if (Busy()) return;
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

void CDocCommands::AskAtExit() {
  // A show still being read may need the UI thread for its failure message;
  // let it finish before the questions.
  while (Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  if (ShowModified() && ConfirmYesNo(kSaveQuestion, true) == kAnswerYes) OnFileSave();
  if (m_savePostponed && ConfirmYesNo(kPostponedQuestion, true) == kAnswerYes) OnFileSave();
}

}  // namespace orvex
