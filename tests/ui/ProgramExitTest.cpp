// Runs the desktop program and stops it the way a desktop logout, a closed
// terminal or Ctrl+C would; the settings must still be written.
#include <signal.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include "QtTestApp.h"
#include "engine/WavBytes.h"

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
  const QString wav = m_dir.filePath(QStringLiteral("tone.wav"));
  {
    QFile file(wav);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // A tenth of a second of mono 16-bit silence.
    const std::string wavBytes = orvex::Wav(1, 48000, 16, std::string(4800 * 2, '\0'));
    file.write(wavBytes.data(), qint64(wavBytes.size()));
  }
  ASSERT_TRUE(StartAndWaitReady({wav}));
  const auto pid = static_cast<pid_t>(m_process.processId());
  const QDeadlineTimer deadline(20000);
  while (m_process.state() == QProcess::Running && !deadline.hasExpired()) {
    ::kill(pid, GetParam());
    m_process.waitForFinished(300);
  }
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

}  // namespace
