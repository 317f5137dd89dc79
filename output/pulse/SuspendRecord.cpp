#include "output/pulse/SuspendRecord.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvex::pulse {
namespace {

// Names with a tab or a line end would break the line format; the server
// never gives such names, and they are not recorded.
bool Storable(const std::string& s) {
  return !s.empty() && s.find_first_of("\t\n\r") == std::string::npos;
}

// Closes the descriptor (and so drops its lock) on every way out.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::string SuspendRecord::DefaultPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::string(runtime) + "/orvex-suspended-sinks";
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    config = std::string(home) + "/.config";
  } else {
    return {};
  }
  return config + "/Tesselby/suspended-sinks";
}

unsigned long long SuspendRecord::StartTimeOf(long pid) {
  if (pid <= 0) return 0;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  // The name in parentheses may hold spaces; the fields after it do not.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  // Field 22 of the line; the first after the name is field 3.
  for (int i = 3; i <= 22 && fields >> field; ++i)
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  return 0;
}

template <typename Edit>
bool SuspendRecord::Update(Edit edit) {
  if (path_.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
  Fd f{::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
  if (f.fd < 0 || ::flock(f.fd, LOCK_EX) != 0) return false;
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(f.fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  std::vector<Entry> entries;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    Entry e;
    std::istringstream parts(line);
    std::string who;
    if (!std::getline(parts, who, '\t') || !std::getline(parts, e.server, '\t') ||
        !std::getline(parts, e.sink))
      continue;  // not a line of ours: dropped
    std::istringstream(who) >> e.pid >> e.start;
    if (e.pid > 0) entries.push_back(std::move(e));
  }
  if (!edit(entries)) return true;
  std::string out;
  for (const Entry& e : entries)
    out += std::to_string(e.pid) + " " + std::to_string(e.start) + "\t" + e.server + "\t" + e.sink +
           "\n";
  if (::ftruncate(f.fd, 0) != 0 || ::lseek(f.fd, 0, SEEK_SET) != 0) return false;
  for (size_t done = 0; done < out.size();) {
    const ssize_t n = ::write(f.fd, out.data() + done, out.size() - done);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

void SuspendRecord::Add(const std::string& server, const std::string& sink) {
  if (!Storable(server) || !Storable(sink)) return;
  const long pid = ::getpid();
  const unsigned long long start = StartTimeOf(pid);
  Update([&](std::vector<Entry>& entries) {
    for (const Entry& e : entries)
      if (e.pid == pid && e.server == server && e.sink == sink) return false;
    entries.push_back({pid, start, server, sink});
    return true;
  });
}

void SuspendRecord::Remove(const std::string& server, const std::string& sink) {
  const long pid = ::getpid();
  Update([&](std::vector<Entry>& entries) {
    return std::erase_if(entries, [&](const Entry& e) {
             return e.pid == pid && e.server == server && e.sink == sink;
           }) > 0;
  });
}

std::vector<std::string> SuspendRecord::TakeOrphans(const std::string& server) {
  std::vector<std::string> sinks;
  if (!std::filesystem::exists(path_)) return sinks;
  std::vector<std::string> held;  // by runs still alive: not given back
  Update([&](std::vector<Entry>& entries) {
    const size_t gone = std::erase_if(entries, [&](const Entry& e) {
      if (e.server != server) return false;
      if (StartTimeOf(e.pid) == e.start) {
        held.push_back(e.sink);
        return false;
      }
      if (std::find(sinks.begin(), sinks.end(), e.sink) == sinks.end()) sinks.push_back(e.sink);
      return true;
    });
    return gone > 0;
  });
  std::erase_if(sinks, [&](const std::string& s) {
    return std::find(held.begin(), held.end(), s) != held.end();
  });
  return sinks;
}

}  // namespace orvex::pulse
