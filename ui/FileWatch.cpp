#include "ui/FileWatch.h"

#include <sys/stat.h>

#include <thread>

#include <QMetaObject>
#include <QObject>

#include "engine/Console.h"

namespace orvex {

CFileWatch::CFileWatch(std::function<void()> changed)
    : m_state(std::make_shared<State>()), m_context(std::make_unique<QObject>()) {
  m_state->context = m_context.get();
  m_state->changed = std::move(changed);
  std::thread(&CFileWatch::Run, m_state).detach();
}

CFileWatch::~CFileWatch() {
  std::lock_guard lock(m_state->mutex);
  m_state->stop = true;
  m_state->context = nullptr;
  m_state->request.reset();
  m_state->wake.notify_all();
}

void CFileWatch::Check(std::vector<std::string> stored, DriveMap drives, std::string showFolder) {
  std::lock_guard lock(m_state->mutex);
  m_state->request = Request{std::move(stored), std::move(drives), std::move(showFolder)};
  m_state->wake.notify_all();
}

std::optional<bool> CFileWatch::Missing(const std::string& stored) const {
  std::lock_guard lock(m_state->mutex);
  auto it = m_state->missing.find(stored);
  if (it == m_state->missing.end()) return std::nullopt;
  return it->second;
}

bool CFileWatch::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_state->mutex);
  return m_state->idle.wait_for(lock, timeout, [&] { return !m_state->request && !m_state->busy; });
}

void CFileWatch::Run(std::shared_ptr<State> state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->wake.wait(lock, [&] { return state->stop || state->request; });
    if (state->stop) return;
    Request request = std::move(*state->request);
    state->request.reset();
    state->busy = true;
    lock.unlock();
    std::map<std::string, bool> answers;
    for (const std::string& stored : request.stored) {
      if (stored.empty() || answers.count(stored)) continue;
      const std::string native = ResolveSoundPath(stored, request.drives, request.showFolder);
      struct stat st {};
      answers[stored] = native.empty() || ::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode);
    }
    lock.lock();
    state->busy = false;
    bool changed = false;
    for (const auto& [stored, missing] : answers) {
      auto [it, added] = state->missing.try_emplace(stored, missing);
      if (added || it->second != missing) changed = true;
      it->second = missing;
    }
    // Posting only queues the call: safe under the lock, which keeps the
    // context alive until it is posted.
    if (changed && state->context) {
      QMetaObject::invokeMethod(
          state->context,
          [state] {
            if (state->changed) state->changed();
          },
          Qt::QueuedConnection);
    }
    state->idle.notify_all();
  }
}

}  // namespace orvex
