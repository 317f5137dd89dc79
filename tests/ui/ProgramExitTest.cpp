// Runs the desktop program and stops it the way a desktop logout, a closed
// terminal or Ctrl+C would; the settings must still be written. Killed, it
// leaves the edits of its show for the next start.
#include <signal.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include "QtTestApp.h"
#include "engine/Console.h"
#include "engine/ManualTimerService.h"
#include "engine/WavBytes.h"
#include "session/OrvexDoc.h"
#include "session/OrvexRuntime.h"
#include "session/ShowRecovery.h"
#include "ui/MainWindow.h"
#include "ui/QtUiPoster.h"
#include "unit/MessageRecorder.h"

namespace {

class ProgramExitTest : public QtAppTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_settings = m_dir.filePath(QStringLiteral("Orvex.ini"));
  }
  void TearDown() override {
    if (m_process.state() != QProcess::NotRunning) {
      m_process.kill();
      m_process.waitForFinished(5000);
    }
  }

  bool Start(const QStringList& extra = {}) {
    const QString program = QStringLiteral(ORVEX_BIN_DIR "/orvex");
    if (!QFileInfo(program).isExecutable()) {
      ADD_FAILURE() << "no program at " << program.toStdString();
      return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Keep the user's own files out of reach.
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(program, QStringList{QStringLiteral("--settings"), m_settings} + extra);
    if (!m_process.waitForStarted(10000)) {
      ADD_FAILURE() << "orvex did not start: " << m_process.errorString().toStdString();
      return false;
    }
    return true;
  }

  // Starts orvex and waits until it says its window is up.
  bool StartAndWaitReady(const QStringList& extra = {}) {
    if (!Start(extra)) return false;
    QByteArray out;
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
      m_process.waitForReadyRead(100);
      out += m_process.readAllStandardOutput();
      if (out.contains("orvex: ready\n")) return true;
    }
    ADD_FAILURE() << "orvex never got ready; stdout: " << out.toStdString()
                  << " stderr: " << m_process.readAllStandardError().toStdString();
    return false;
  }

  // The values of the keys under [section], in file order.
  QStringList Section(const QString& section) {
    QFile file(m_settings);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList lines;
    bool inside = false;
    for (QByteArray line : file.readAll().split('\n')) {
      line = line.trimmed();
      if (line.startsWith('[')) {
        inside = line == ("[" + section + "]").toLatin1();
      } else if (inside && !line.isEmpty()) {
        lines << QString::fromLatin1(line);
      }
    }
    return lines;
  }

  // A tenth of a second of mono 16-bit silence; named on the command line it
  // joins the show as a cue, which then has changes.
  QString WriteTone() {
    const QString wav = m_dir.filePath(QStringLiteral("tone.wav"));
    QFile file(wav);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    const std::string wavBytes = orvex::Wav(1, 48000, 16, std::string(4800 * 2, '\0'));
    file.write(wavBytes.data(), qint64(wavBytes.size()));
    return wav;
  }

  // Sends the signal until the program has ended (the first may only raise
  // the save question, which the next answers as Esc would).
  void SignalUntilEnded(int signal) {
    const auto pid = static_cast<pid_t>(m_process.processId());
    const QDeadlineTimer deadline(20000);
    while (m_process.state() == QProcess::Running && !deadline.hasExpired()) {
      ::kill(pid, signal);
      m_process.waitForFinished(300);
    }
  }

  QTemporaryDir m_dir;
  QString m_settings;
  QProcess m_process;
};

TEST_P(ProgramExitTest, SignalClosesLikeTheCloseBoxAndSavesSettings) {
  // An entry the program knows nothing about: it survives only if the file
  // named on the command line was read at start-up.
  {
    QFile file(m_settings);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[ZZTEST]\nKEEP=1\n");
  }
  ASSERT_TRUE(StartAndWaitReady());
  ASSERT_EQ(::kill(static_cast<pid_t>(m_process.processId()), GetParam()), 0);
  ASSERT_TRUE(m_process.waitForFinished(20000)) << "orvex ignored the signal";
  EXPECT_EQ(m_process.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(m_process.exitCode(), 0) << m_process.readAllStandardError().toStdString();

  ASSERT_TRUE(QFileInfo::exists(m_settings));
  EXPECT_TRUE(Section(QStringLiteral("VERSION")).contains(QStringLiteral("VERSION=710")))
      << Section(QStringLiteral("VERSION")).join(' ').toStdString();
  EXPECT_TRUE(Section(QStringLiteral("ZZTEST")).contains(QStringLiteral("KEEP=1")));
}

// Whether the process has its handler for the signal in place yet.
bool Catches(qint64 pid, int signal) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("SigCgt:"))
      return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
  }
  return false;
}

TEST_P(ProgramExitTest, SignalAnswersTheStartUpMessageAndEnds) {
  // A folder where the settings file should be cannot be read: the program
  // says so in a box at start-up, before its window is up, and must still
  // end on the signal instead of waiting for a click no one will give.
  ASSERT_TRUE(QDir().mkpath(m_settings));
  ASSERT_TRUE(Start());
  const QDeadlineTimer deadline(20000);
  while (!Catches(m_process.processId(), GetParam()) && !deadline.hasExpired())
    m_process.waitForFinished(20);
  ASSERT_EQ(::kill(static_cast<pid_t>(m_process.processId()), GetParam()), 0);
  ASSERT_TRUE(m_process.waitForFinished(20000)) << "orvex ignored the signal";
  EXPECT_EQ(m_process.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(m_process.exitCode(), 0) << m_process.readAllStandardError().toStdString();
  EXPECT_TRUE(QFileInfo(m_settings).isDir());
}

TEST_P(ProgramExitTest, ASignalAnswersTheSaveQuestionWithNo) {
  // A sound named on the command line joins the show, which then has
  // changes: closing asks whether to save them. The first signal raises that
  // question; the next answers it as Esc would, and the program ends with
  // its settings written and the show left unsaved.
  ASSERT_TRUE(StartAndWaitReady({WriteTone()}));
  SignalUntilEnded(GetParam());
  ASSERT_EQ(m_process.state(), QProcess::NotRunning) << "orvex waits on a question";
  EXPECT_EQ(m_process.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(m_process.exitCode(), 0) << m_process.readAllStandardError().toStdString();
  EXPECT_TRUE(Section(QStringLiteral("VERSION")).contains(QStringLiteral("VERSION=710")));
  const QStringList shows = QDir(m_dir.path()).entryList({QStringLiteral("*.csv")}, QDir::Files);
  EXPECT_TRUE(shows.isEmpty()) << shows.join(' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramExitTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) {
                           return std::string(info.param == SIGTERM  ? "SIGTERM"
                                              : info.param == SIGINT ? "SIGINT"
                                                                     : "SIGHUP");
                         });

// The recovery copy: the program keeps one while its show has unsaved
// edits. A kill leaves it for the next start, which offers the edits back;
// an ordinary end (the save question answered "いいえ") removes it.
class RecoveryTest : public ProgramExitTest {
 protected:
  bool WaitForCopy(const orvex::ShowRecovery& paths) {
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
      if (paths.Exists()) return true;
      m_process.waitForFinished(100);
    }
    return paths.Exists();
  }
};

TEST_F(RecoveryTest, EditsSurviveAKillAndAnOrdinaryEndLeavesNoCopy) {
  const orvex::ShowRecovery paths(m_settings.toStdString());
  const QString wav = WriteTone();

  ASSERT_TRUE(StartAndWaitReady({wav}));
  ASSERT_TRUE(WaitForCopy(paths)) << "no recovery copy of the edited show";
  SignalUntilEnded(SIGTERM);
  ASSERT_EQ(m_process.state(), QProcess::NotRunning);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(paths.ShowCopyPath())));
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(paths.InfoPath())));

  ASSERT_TRUE(StartAndWaitReady({wav}));
  ASSERT_TRUE(WaitForCopy(paths));
  m_process.kill();  // SIGKILL: nothing of the program runs after it
  ASSERT_TRUE(m_process.waitForFinished(10000));
  ASSERT_TRUE(paths.Exists());

  // The next start, in this process: the copy is offered and taken.
  orvex::MessageRecorder messages;
  messages.answers = {orvex::kAnswerYes};
  orvex::COrvexDoc doc(m_settings.toStdString());
  doc.LoadSettings();
  orvex::ManualTimerService timers;
  orvex::QtUiPoster poster;
  {
    orvex::COrvexRuntime runtime(doc, poster, timers);
    orvex::CMainFrame frame(runtime, doc);
    ASSERT_TRUE(frame.OfferRecovery()) << ::testing::PrintToString(messages.messages);
    ASSERT_FALSE(messages.messages.empty());
    EXPECT_EQ(messages.messages.front(), orvex::kRecoveryQuestion);
    int cues = 0;
    for (int ch = 1; ch <= 6; ++ch) cues += doc.GetCount(ch);
    EXPECT_EQ(cues, 1);
    EXPECT_EQ(doc.GetSoundFolder(), m_dir.path().toStdString());
    EXPECT_TRUE(runtime.Console().ShowModified()) << "a restored show must still be saved";
    EXPECT_TRUE(paths.Exists()) << "the edits are still unsaved";
    // Closing without saving ("いいえ") lets the edits go for good.
    frame.close();
  }
  EXPECT_FALSE(paths.Exists());
}

}  // namespace
