// A main window over a document in a scratch folder, on virtual time, with
// file dialogs and messages answered by the test.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>

#include "QtTestApp.h"
#include "engine/ManualTimerService.h"
#include "session/CueSheetEdit.h"
#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "show/ShowFile.h"
#include "ui/DocCommands.h"
#include "ui/MainWindow.h"
#include "ui/QtUiPoster.h"
#include "unit/MessageRecorder.h"
#include "unit/TempDir.h"

namespace orvex {

class FrameTest : public QtAppTest {
 protected:
  void SetUp() override {
    m_doc = std::make_unique<COrvexDoc>(m_dir.File("Orvex.ini"));
    m_doc->LoadSettings();
    OpenFrame();
  }
  void TearDown() override { CloseFrame(); }

  // A new runtime and window over the same document, as at the next start.
  void OpenFrame() {
    m_runtime = std::make_unique<COrvexRuntime>(*m_doc, m_poster, m_timers);
    m_frame = std::make_unique<CMainFrame>(*m_runtime, *m_doc);
    CDocCommands& c = m_frame->Commands();
    c.chooseOpenFile = [this](const QString& proposed) {
      m_proposed.push_back(proposed);
      return Next(m_openAnswers);
    };
    c.chooseSaveFile = [this](const QString& proposed) {
      m_proposed.push_back(proposed);
      ++m_saveDialogs;
      return Next(m_saveAnswers);
    };
    // The editors answer as the test says; by default OK with no change.
    c.runCueSheetEditor = [this](CueSheetEdit& edit) {
      return m_cueSheetEditor ? m_cueSheetEditor(edit) : true;
    };
    c.runRecordEditor = [this](const RecordFields& fields) -> std::optional<RecordFields> {
      return m_recordEditor ? m_recordEditor(fields) : std::optional<RecordFields>(fields);
    };
    m_frame->SetUrlOpener([this](const QUrl& url) { m_opened.push_back(url); });
  }
  void CloseFrame() {
    if (!m_frame) return;
    m_frame->close();
    m_frame.reset();
    m_runtime.reset();
  }

  // Waits (events running) until no command is still reading a show.
  void Settle() {
    const QDeadlineTimer deadline(10000);
    while (m_frame->Commands().Busy() && !deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // The channels' readers answer the loads the show started; what they
    // report comes now, not in the middle of the next step.
    for (int ch = 1; ch <= kChannels; ++ch)
      EXPECT_TRUE(m_runtime->Console().Player(ch).WaitForReader(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    ASSERT_FALSE(m_frame->Commands().Busy());
  }

  // A show file with the given records (channel, Q, file, fade-out).
  struct Cue {
    int ch;
    double q;
    std::string file;
    double fadeOut = 0;
  };
  std::string WriteShow(const std::string& name, const std::vector<Cue>& cues,
                        const std::string& folder = "snd") {
    CueStore store;
    store.SetSoundFolder(m_dir.File(folder));
    for (const Cue& c : cues) {
      RecordValues v;
      v.qNumber = c.q;
      v.title = "T" + std::to_string(c.q);
      v.fileOrCommand = c.file;
      v.preLevel = 8;
      v.fadeOut = c.fadeOut;
      store.AddRecord(c.ch, v);
    }
    const std::string path = m_dir.File(name);
    EXPECT_TRUE(SaveShowFile(path, store));
    return path;
  }

  static QString Q(const std::string& s) { return QString::fromStdString(s); }
  static QString Next(std::deque<QString>& answers) {
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.pop_front();
    return a;
  }

  TempDir m_dir;
  MessageRecorder m_messages;
  ManualTimerService m_timers;
  QtUiPoster m_poster;  // outlives the runtime
  std::unique_ptr<COrvexDoc> m_doc;
  std::unique_ptr<COrvexRuntime> m_runtime;
  std::unique_ptr<CMainFrame> m_frame;
  std::deque<QString> m_openAnswers;
  std::deque<QString> m_saveAnswers;
  std::vector<QString> m_proposed;
  std::vector<QUrl> m_opened;
  int m_saveDialogs = 0;
  std::function<bool(CueSheetEdit&)> m_cueSheetEditor;
  std::function<std::optional<RecordFields>(const RecordFields&)> m_recordEditor;
};

}  // namespace orvex
