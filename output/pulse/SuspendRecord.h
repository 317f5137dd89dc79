// Which sinks a run of the program asked the sound server to suspend for
// exclusive use, kept in a small file: a run that is killed never gives its
// sinks back, and the server keeps them suspended (silent for everyone) until
// someone does. The next start gives back those whose run has gone.
//
// One line per suspension: the process id and its start time (so a reused
// id is not taken for the run that wrote it), the server, the sink. The file
// is locked for each read-modify-write, so runs side by side keep their
// lines. Not for audio threads.
#pragma once

#include <string>
#include <vector>

namespace orvex::pulse {

class SuspendRecord {
 public:
  // The file in $XDG_RUNTIME_DIR (cleared with the session, as the servers
  // are), or beside the settings when there is none.
  static std::string DefaultPath();

  explicit SuspendRecord(std::string path = DefaultPath()) : path_(std::move(path)) {}

  // This process suspends (or has suspended) `sink` on `server`.
  void Add(const std::string& server, const std::string& sink);
  // This process gave `sink` back.
  void Remove(const std::string& server, const std::string& sink);
  // The sinks on `server` that runs no longer alive suspended; their lines
  // go, since the caller gives them back.
  std::vector<std::string> TakeOrphans(const std::string& server);

  // The start time of a process (clock ticks after boot), 0 when it is gone.
  static unsigned long long StartTimeOf(long pid);

 private:
  struct Entry {
    long pid = 0;
    unsigned long long start = 0;
    std::string server;
    std::string sink;
  };
  // Reads the entries under the file's lock, lets `edit` change them and
  // writes them back. False when the file cannot be used.
  template <typename Edit>
  bool Update(Edit edit);

  std::string path_;
};

}  // namespace orvex::pulse
