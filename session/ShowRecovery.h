// A copy of the edited show beside the settings, so that a crash, a kill or
// a power cut loses at most the last few seconds of edits. The copy is taken
// on the UI thread (a copy of the cue store in memory) and written on a
// thread of its own, atomically; a save or a normal exit removes it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "show/CueStore.h"

namespace orvex {

class ShowRecovery {
 public:
  // At most one write per interval, and only after an edit.
  static constexpr uint32_t kIntervalMs = 10000;

  // settingsPath: the settings file; the copy lies in its folder.
  explicit ShowRecovery(const std::string& settingsPath);
  ~ShowRecovery();
  ShowRecovery(const ShowRecovery&) = delete;
  ShowRecovery& operator=(const ShowRecovery&) = delete;

  // Called now and then on the UI thread with the show as it stands:
  // generation counts its edits. Copies the show when an edit is newer than
  // the last copy and the interval has passed; an unmodified show (saved,
  // or its changes let go) removes the copy.
  // force: now, whatever the interval (the program is about to end).
  void Tick(uint32_t nowMs, bool modified, uint64_t generation, const CueStore& show,
            const std::string& showPath, bool force = false);
  // The show was saved or closed without its changes: no copy is kept.
  void Discard();

  // What a crashed run left: the show and the path it had (empty when it was
  // untitled). Nullopt when there is none or it cannot be read.
  struct Recovered {
    std::unique_ptr<CueStore> show;
    std::string showPath;
  };
  std::optional<Recovered> Read() const;
  bool Exists() const;

  // The copy's files (tests).
  const std::string& ShowCopyPath() const { return m_showCopy; }
  const std::string& InfoPath() const { return m_info; }
  // Until every write asked for so far is on disk (tests, exit).
  void Flush();

 private:
  struct Job {
    bool remove = false;
    CueStore show;
    std::string showPath;
  };
  void Run();
  void Write(const Job& job);
  void Post(std::unique_ptr<Job> job);

  std::string m_showCopy;
  std::string m_info;
  // UI thread.
  uint64_t m_writtenGeneration = 0;
  std::optional<uint32_t> m_lastWriteMs;
  bool m_kept = false;  // a copy is on disk or on its way
  // Shared with the writer.
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::unique_ptr<Job> m_pending;
  bool m_busy = false;
  bool m_stop = false;
  std::thread m_writer;
};

inline constexpr const char* kRecoveryQuestion =
    "前回、保存されていない変更が残ったまま終了しました。\n変更を復元しますか？";
inline constexpr const char* kRecoveryNote = "保存されていなかった変更を復元しました";

}  // namespace orvex
