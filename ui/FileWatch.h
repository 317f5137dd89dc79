// Whether the sound files the console stands at are there, checked on a
// thread of its own: a slow or hung file system never holds up the UI
// thread, which only reads the answers kept here.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "show/PathMap.h"

class QObject;

namespace orvex {

class CFileWatch {
 public:
  // changed runs on the UI thread after a check found an answer different
  // from the one kept.
  explicit CFileWatch(std::function<void()> changed);
  // Returns at once, even while a check waits on the file system.
  ~CFileWatch();
  CFileWatch(const CFileWatch&) = delete;
  CFileWatch& operator=(const CFileWatch&) = delete;

  // Checks these stored paths (resolved with drives and the show's folder),
  // replacing any check not yet begun. Returns at once.
  void Check(std::vector<std::string> stored, DriveMap drives, std::string showFolder);
  // The answer of the last check of stored: missing or not; none yet.
  std::optional<bool> Missing(const std::string& stored) const;
  // Waits until no check is waiting or running (tests).
  bool WaitIdle(std::chrono::milliseconds timeout);

 private:
  struct Request {
    std::vector<std::string> stored;
    DriveMap drives;
    std::string showFolder;
  };
  // Shared with the thread, which may outlive this object while it waits
  // on a file system.
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::optional<Request> request;
    bool busy = false;
    bool stop = false;
    std::map<std::string, bool> missing;
    QObject* context = nullptr;  // UI thread object; null once this is gone
    std::function<void()> changed;
  };
  static void Run(std::shared_ptr<State> state);

  std::shared_ptr<State> m_state;
  std::unique_ptr<QObject> m_context;
};

}  // namespace orvex
