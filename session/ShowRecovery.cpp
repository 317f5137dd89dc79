#include "session/ShowRecovery.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "session/OrvexDoc.h"
#include "show/AtomicFile.h"
#include "show/ShowFile.h"

namespace orvex {
namespace {

constexpr const char* kShowKey = "SHOW=";

std::string Beside(const std::string& settingsPath, const char* name) {
  const std::filesystem::path folder = std::filesystem::path(settingsPath).parent_path();
  return (folder / name).string();
}

}  // namespace

ShowRecovery::ShowRecovery(const std::string& settingsPath)
    : m_showCopy(Beside(settingsPath, "Orvex.recovery.csv")),
      m_info(Beside(settingsPath, "Orvex.recovery.ini")) {
  m_writer = std::thread([this] { Run(); });
}

ShowRecovery::~ShowRecovery() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_writer.join();
}

void ShowRecovery::Tick(uint32_t nowMs, bool modified, uint64_t generation, const CueStore& show,
                        const std::string& showPath, bool force) {
  if (!modified) {
    if (m_kept) Discard();
    m_writtenGeneration = generation;
    return;
  }
  if (generation == m_writtenGeneration && m_kept) return;
  if (!force && m_lastWriteMs && nowMs - *m_lastWriteMs < kIntervalMs) return;
  auto job = std::make_unique<Job>();
  job->show = show;  // a copy: the editor may change the show while it is written
  job->showPath = showPath;
  Post(std::move(job));
  m_writtenGeneration = generation;
  m_lastWriteMs = nowMs;
  m_kept = true;
}

void ShowRecovery::Discard() {
  auto job = std::make_unique<Job>();
  job->remove = true;
  Post(std::move(job));
  m_kept = false;
  m_lastWriteMs.reset();
}

void ShowRecovery::Post(std::unique_ptr<Job> job) {
  {
    std::lock_guard lock(m_mutex);
    // Only the newest state matters: a write not begun yet gives way.
    m_pending = std::move(job);
  }
  m_wake.notify_all();
}

void ShowRecovery::Flush() {
  std::unique_lock lock(m_mutex);
  m_wake.wait(lock, [this] { return !m_pending && !m_busy; });
}

void ShowRecovery::Run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_stop || m_pending; });
    if (!m_pending) return;  // stopping with nothing left to write
    std::unique_ptr<Job> job = std::move(m_pending);
    m_busy = true;
    lock.unlock();
    Write(*job);
    lock.lock();
    m_busy = false;
    m_wake.notify_all();
  }
}

void ShowRecovery::Write(const Job& job) {
  std::error_code ignored;
  if (job.remove) {
    // The info first: a copy without it is never offered.
    std::filesystem::remove(m_info, ignored);
    std::filesystem::remove(m_showCopy, ignored);
    return;
  }
  // On a first run the settings folder is made only when the settings are
  // written at exit: the copy must not wait for that.
  std::filesystem::create_directories(std::filesystem::path(m_showCopy).parent_path(), ignored);
  if (!WriteShowFile(m_showCopy, job.show)) {
    std::fprintf(stderr, "orvex: cannot write the recovery copy %s\n", m_showCopy.c_str());
    return;
  }
  if (!WriteFileAtomically(m_info, kShowKey + job.showPath + "\n"))
    std::fprintf(stderr, "orvex: cannot write %s\n", m_info.c_str());
}

bool ShowRecovery::Exists() const {
  std::error_code ignored;
  return std::filesystem::is_regular_file(m_info, ignored) &&
         std::filesystem::is_regular_file(m_showCopy, ignored);
}

std::optional<ShowRecovery::Recovered> ShowRecovery::Read() const {
  const std::optional<std::string> info = ReadWholeFile(m_info);
  if (!info || info->rfind(kShowKey, 0) != 0) return std::nullopt;
  std::string path = info->substr(std::char_traits<char>::length(kShowKey));
  while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
  ReadShowResult read = ReadShow(m_showCopy);
  if (!read.ok || !read.store) return std::nullopt;
  return Recovered{std::move(read.store), std::move(path)};
}

}  // namespace orvex
